// Regex: the pattern record, compilation on first search, the forward and backward
// searches with the UTF-8 correction of a match's start, and the predefined patterns.
#include "string/Regex.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "string/internal/regexp_internal.h"
#include "string/internal/string_internal.h"
#include "string/regexp.h"

namespace {

char* copy_text(const char* text) {
  if (!text) return nullptr;
  const std::size_t n = std::strlen(text) + 1;
  char* copy = new char[n];
  std::memcpy(copy, text, n);
  return copy;
}

// A match found inside a multi-byte UTF-8 character begins at the character, when the
// character lies in text[lower, end).
int correct_start(const char* text, int lower, int end, int m) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  if (string_internal::utf8_sequence_length(s + m, s + end) >= 0) return m;
  for (int q = m - 1; q >= lower && q >= m - 3; --q) {
    const int k = string_internal::utf8_sequence_length(s + q, s + end);
    if (k < 0) continue;
    return k >= 2 && q + k > m ? q : m;
  }
  return m;
}

}  // namespace

// A Regex may be searched by several threads at once (the predefined patterns are): the
// program is compiled once and then only read, each search keeps its state on its own,
// and only its result is left in the record for group_info.
struct Regex::Record {
  explicit Record(const char* text) : pattern(copy_text(text)) {
    for (int g = 0; g < regexp_groups; ++g) {
      startp[g].store(-1, std::memory_order_relaxed);
      endp[g].store(-1, std::memory_order_relaxed);
    }
  }
  ~Record() {
    regexp_free(program.load(std::memory_order_relaxed));
    delete spare_frames.load(std::memory_order_relaxed);
    delete[] pattern;
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  // Hands the frames of an earlier search to the next, or new ones when another thread's
  // search has them.
  std::vector<regexp_internal::Frame>* take_frames() {
    std::vector<regexp_internal::Frame>* frames = spare_frames.exchange(nullptr, std::memory_order_acquire);
    return frames ? frames : new std::vector<regexp_internal::Frame>();
  }
  void keep_frames(std::vector<regexp_internal::Frame>* frames) {
    delete spare_frames.exchange(frames, std::memory_order_acq_rel);
  }

  // Group positions of the last search, for group_info. Groups above the program's highest
  // stay -1 from the start, so only those up to it are stored.
  void publish(const Regex::Groups& groups) {
    const regexp* prog = program.load(std::memory_order_acquire);
    const int count = prog && prog->top_group >= 0 && prog->top_group < regexp_groups ? prog->top_group + 1
                                                                                      : regexp_groups;
    for (int g = 0; g < count; ++g) {
      startp[g].store(groups.start[g], std::memory_order_relaxed);
      endp[g].store(groups.end[g], std::memory_order_relaxed);
    }
  }

  char* pattern;                        // a copy of the pattern text, or nullptr
  std::atomic<regexp*> program{nullptr};  // nullptr until a search compiles it
  std::atomic<std::vector<regexp_internal::Frame>*> spare_frames{nullptr};
  std::atomic<int> startp[regexp_groups];
  std::atomic<int> endp[regexp_groups];
};


Regex::Regex(const char* pattern, int, int) : record_(new Record(pattern)) {}

Regex::Regex(const Regex& other) : record_(new Record(other.record_->pattern)) {}

Regex& Regex::operator=(const Regex& other) {
  if (this == &other) return *this;
  Record* fresh = new Record(other.record_->pattern);
  delete record_;
  record_ = fresh;
  return *this;
}

Regex::~Regex() { delete record_; }

const char* Regex::pattern() const { return record_->pattern; }

regexp* Regex::program() const {
  regexp* prog = record_->program.load(std::memory_order_acquire);
  if (prog) return prog;
  // Threads that meet an uncompiled pattern at once compile it each; one program is kept.
  regexp* fresh = regexp_compile(record_->pattern);
  if (!fresh) return nullptr;
  if (record_->program.compare_exchange_strong(prog, fresh, std::memory_order_acq_rel)) return fresh;
  regexp_free(fresh);
  return prog;
}

int Regex::search(const char* text, int len, int& matchlen, int startpos) const {
  Groups groups;
  return find(text, len, matchlen, startpos, groups, nullptr);
}

int Regex::search(const char* text, int len, int& matchlen, int startpos, long long& steps) const {
  Groups groups;
  return find(text, len, matchlen, startpos, groups, &steps);
}

int Regex::search(const char* text, int len, int& matchlen, int startpos, Groups& groups) const {
  return find(text, len, matchlen, startpos, groups, nullptr);
}

int Regex::find(const char* text, int len, int& matchlen, int startpos, Groups& groups, long long* steps) const {
  matchlen = 0;
  for (int g = 0; g < regexp_groups; ++g) groups.start[g] = groups.end[g] = -1;
  int at = -1;
  const long long last = static_cast<long long>(len) + startpos;
  if (len < 0)
    at = -1;
  else if (startpos >= 0)
    at = forward(text, len, startpos, matchlen, groups, steps);
  else if (last >= 0)
    at = backward(text, len, static_cast<int>(last), matchlen, groups, steps);
  record_->publish(groups);
  return at;
}

int Regex::forward(const char* text, int len, int start, int& matchlen, Groups& groups, long long* steps) const {
  if (start > len || (start == len && start != 0)) return -1;
  const regexp* prog = program();
  if (!prog) return -1;
  int end = 0;
  long long own_steps = regexp_step_budget(len - start);
  std::vector<regexp_internal::Frame>* frames = record_->take_frames();
  const regexp_internal::SearchState state{groups.start, groups.end, frames};
  const int m = regexp_internal::exec(prog, state, text, start, len, &end, steps ? steps : &own_steps);
  record_->keep_frames(frames);
  if (m < 0) return -1;
  const int c = correct_start(text, start, len, m);
  groups.start[0] = c;
  matchlen = end - c;
  return c;
}

// Successive matches from the beginning of text[0, last], each searched from where the one
// before ended; the last of them is the result. The steps of the whole succession come
// from one budget.
int Regex::backward(const char* text, int len, int last, int& matchlen, Groups& groups, long long* budget) const {
  const regexp* prog = program();
  if (!prog) return -1;
  const int limit = last + 1 < len ? last + 1 : len;
  long long own_steps = regexp_step_budget(limit);
  long long& steps = budget ? *budget : own_steps;
  int found = -1, found_end = 0, found_from = 0;
  Groups trying;
  std::vector<regexp_internal::Frame>* frames = record_->take_frames();
  const regexp_internal::SearchState state{trying.start, trying.end, frames};
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  for (int from = 0; from <= limit && !(from == limit && from != 0);) {
    int end = 0;
    const int m = regexp_internal::exec(prog, state, text, from, limit, &end, &steps);
    if (m == -2) found = -1;
    if (m < 0) break;
    found = m;
    found_end = end;
    found_from = from;
    groups = trying;
    if (end > m) {
      from = end;
    } else {
      const int k = string_internal::utf8_sequence_length(s + m, s + limit);
      from = m + (k > 0 ? k : 1);
    }
  }
  record_->keep_frames(frames);
  if (found < 0) {
    for (int g = 0; g < regexp_groups; ++g) groups.start[g] = groups.end[g] = -1;
    return -1;
  }
  const int c = correct_start(text, found_from, limit, found);
  groups.start[0] = c;
  matchlen = found_end - c;
  return c;
}

int Regex::match_length(const char* text, int len, int startpos) const {
  int matchlen = 0;
  return search(text, len, matchlen, startpos) >= 0 ? matchlen : -1;
}

bool Regex::Groups::group(int n, int& position, int& length) const {
  const bool taking_part =
      n >= 0 && n < regexp_groups && start[n] >= 0 && end[n] >= 0 && end[n] >= start[n];
  position = taking_part ? start[n] : -1;
  length = taking_part ? end[n] - start[n] : -1;
  return taking_part;
}

bool Regex::group_info(int& start, int& length, int n) const {
  Groups last;
  for (int g = 0; g < regexp_groups; ++g) {
    last.start[g] = record_->startp[g].load(std::memory_order_relaxed);
    last.end[g] = record_->endp[g].load(std::memory_order_relaxed);
  }
  return last.group(n, start, length);
}

const Regex whitespace_pattern("[ \n\t\r\v\f]+", 0, 0);
const Regex integer_pattern("-?[0-9]+", 0, 0);
const Regex double_pattern("-?\\(\\([0-9]+\\.[0-9]*\\)\\|\\([0-9]+\\)\\|\\(\\.[0-9]+\\)\\)\\([eE][---+]?[0-9]+\\)?", 0,
                           0);
const Regex alpha_pattern("[A-Za-z]+", 0, 0);
const Regex lower_pattern("[a-z]+", 0, 0);
const Regex upper_pattern("[A-Z]+", 0, 0);
const Regex alnum_pattern("[0-9A-Za-z]+", 0, 0);
const Regex identifier_pattern("[A-Za-z_][A-Za-z0-9_]*", 0, 0);
