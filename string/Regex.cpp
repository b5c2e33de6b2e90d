// Regex: the pattern record, compilation on first search, the forward and backward
// searches with the UTF-8 correction of a match's start, and the predefined patterns.
#include "string/Regex.h"

#include <cstring>

#include "string/internal/regexp_internal.h"
#include "string/internal/string_internal.h"
#include "string/regexp.h"

struct Regex::Record {
  char* pattern;     // a copy of the pattern text, or nullptr
  regexp* program;   // nullptr until a search compiles it
};

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

Regex::Regex(const char* pattern, int, int) : record_(new Record{copy_text(pattern), nullptr}) {}

Regex::Regex(const Regex& other) : record_(new Record{copy_text(other.record_->pattern), nullptr}) {}

Regex& Regex::operator=(const Regex& other) {
  if (this == &other) return *this;
  Record* fresh = new Record{copy_text(other.record_->pattern), nullptr};
  regexp_free(record_->program);
  delete[] record_->pattern;
  delete record_;
  record_ = fresh;
  return *this;
}

Regex::~Regex() {
  regexp_free(record_->program);
  delete[] record_->pattern;
  delete record_;
}

const char* Regex::pattern() const { return record_->pattern; }

regexp* Regex::program() const {
  if (!record_->program) record_->program = regexp_compile(record_->pattern);
  return record_->program;
}

int Regex::search(const char* text, int len, int& matchlen, int startpos) const {
  return find(text, len, matchlen, startpos, nullptr);
}

int Regex::search(const char* text, int len, int& matchlen, int startpos, long long& steps) const {
  return find(text, len, matchlen, startpos, &steps);
}

int Regex::find(const char* text, int len, int& matchlen, int startpos, long long* steps) const {
  matchlen = 0;
  if (len < 0) return -1;
  if (startpos >= 0) return forward(text, len, startpos, matchlen, steps);
  const long long last = static_cast<long long>(len) + startpos;
  if (last < 0) return -1;
  return backward(text, len, static_cast<int>(last), matchlen, steps);
}

int Regex::forward(const char* text, int len, int start, int& matchlen, long long* steps) const {
  if (start > len || (start == len && start != 0)) return -1;
  regexp* prog = program();
  if (!prog) return -1;
  int end = 0;
  long long own_steps = regexp_step_budget(len - start);
  const int m = regexp_exec(prog, text, start, len, &end, steps ? steps : &own_steps);
  if (m < 0) return -1;
  const int c = correct_start(text, start, len, m);
  if (c != m) regexp_set_match_start(prog, c);
  matchlen = end - c;
  return c;
}

// Successive matches from the beginning of text[0, last], each searched from where the one
// before ended; the last of them is the result. The steps of the whole succession come
// from one budget.
int Regex::backward(const char* text, int len, int last, int& matchlen, long long* budget) const {
  regexp* prog = program();
  if (!prog) return -1;
  const int limit = last + 1 < len ? last + 1 : len;
  long long own_steps = regexp_step_budget(limit);
  long long& steps = budget ? *budget : own_steps;
  int found = -1, found_end = 0, found_from = 0;
  int starts[regexp_groups], ends[regexp_groups];
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  for (int from = 0; from <= limit && !(from == limit && from != 0);) {
    int end = 0;
    const int m = regexp_exec(prog, text, from, limit, &end, &steps);
    if (m == -2) return -1;
    if (m < 0) break;
    found = m;
    found_end = end;
    found_from = from;
    std::memcpy(starts, prog->startp, sizeof starts);
    std::memcpy(ends, prog->endp, sizeof ends);
    if (end > m) {
      from = end;
    } else {
      const int k = string_internal::utf8_sequence_length(s + m, s + limit);
      from = m + (k > 0 ? k : 1);
    }
  }
  if (found < 0) return -1;
  std::memcpy(prog->startp, starts, sizeof starts);
  std::memcpy(prog->endp, ends, sizeof ends);
  const int c = correct_start(text, found_from, limit, found);
  if (c != found) regexp_set_match_start(prog, c);
  matchlen = found_end - c;
  return c;
}

int Regex::match_length(const char* text, int len, int startpos) const {
  int matchlen = 0;
  return search(text, len, matchlen, startpos) >= 0 ? matchlen : -1;
}

bool Regex::group_info(int& start, int& length, int n) const {
  int s = -1, e = -1;
  if (!record_->program || !regexp_group(record_->program, n, &s, &e) || e < s) {
    start = -1;
    length = -1;
    return false;
  }
  start = s;
  length = e - s;
  return true;
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
