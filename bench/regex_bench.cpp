// The framework's patterns against std::regex (libstdc++) and PCRE2's interpreter (no JIT)
// on the same work: every [0-9]+ in 1 MB of mixed text, splitting 1 MB at [ \t]+,
// ^-?[0-9]+$ against a million short strings, double_pattern over 1 MB of numbers and
// words, and compiling each predefined pattern.
//
//   QK_ROOT=$(mktemp -d) QK_LOCAL=... QK_LOG_NOKEY=1 build/bench/bin/regex_bench
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "string/Regex.h"
#include "string/String.h"
#include "string/regexp.h"

namespace {

const int megabyte = 1 << 20;

// Words, numbers and punctuation; with decimals and exponents when numbers is true.
std::string mixed_text(int size, bool decimals) {
  std::mt19937 random(11);
  std::string text;
  while (static_cast<int>(text.size()) < size) {
    const unsigned kind = random() % 4;
    if (kind == 0) {
      const unsigned digits = 1 + random() % 6;
      if (random() % 3 == 0) text += '-';
      for (unsigned i = 0; i < digits; ++i) text += static_cast<char>('0' + random() % 10);
      if (decimals && random() % 2) {
        text += '.';
        for (unsigned i = 0; i < random() % 4; ++i) text += static_cast<char>('0' + random() % 10);
      }
      if (decimals && random() % 5 == 0) text += "e-7";
    } else {
      const unsigned letters = 2 + random() % 8;
      for (unsigned i = 0; i < letters; ++i) text += static_cast<char>('a' + random() % 26);
    }
    text += " \t,.;: "[random() % 7];
    if (random() % 4 == 0) text += ' ';
  }
  text.resize(static_cast<std::size_t>(size));
  return text;
}

std::vector<std::string> short_strings() {
  std::mt19937 random(5);
  std::vector<std::string> strings;
  for (int i = 0; i < 1000000; ++i) {
    std::string s;
    if (random() % 2) s += '-';
    const unsigned n = 1 + random() % 9;
    for (unsigned k = 0; k < n; ++k) s += static_cast<char>('0' + random() % 10);
    if (random() % 3 == 0) s[random() % s.size()] = 'x';
    strings.push_back(s);
  }
  return strings;
}

// The ECMAScript and PCRE2 spellings of the framework's patterns.
const char* const digits_ecma = "[0-9]+";
const char* const blanks_ecma = "[ \t]+";
const char* const integer_line_ecma = "^-?[0-9]+$";
const char* const double_ecma = "-?(([0-9]+\\.[0-9]*)|([0-9]+)|(\\.[0-9]+))([eE][-+]?[0-9]+)?";

// Every match of r in text; returns the number of matches.
int qk_find_all(const Regex& r, const std::string& text) {
  const int n = static_cast<int>(text.size());
  int count = 0, pos = 0, matchlen = 0;
  while (pos < n) {
    const int at = r.search(text.data(), n, matchlen, pos);
    if (at < 0) break;
    ++count;
    pos = at + (matchlen > 0 ? matchlen : 1);
  }
  return count;
}

int std_find_all(const std::regex& r, const std::string& text) {
  int count = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), r), end; it != end; ++it) ++count;
  return count;
}

class Pcre2 {
 public:
  explicit Pcre2(const char* pattern) {
    int error;
    PCRE2_SIZE offset;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, 0, &error, &offset, nullptr);
    data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  }
  ~Pcre2() {
    pcre2_match_data_free(data_);
    pcre2_code_free(code_);
  }
  // The match from pos: its start, with end set; -1 when none.
  long match(const char* text, std::size_t n, std::size_t pos, std::size_t& end) const {
    if (pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text), n, pos, 0, data_, nullptr) < 0) return -1;
    const PCRE2_SIZE* v = pcre2_get_ovector_pointer(data_);
    end = v[1];
    return static_cast<long>(v[0]);
  }
  int find_all(const std::string& text) const {
    int count = 0;
    std::size_t pos = 0, end = 0;
    while (pos < text.size()) {
      const long at = match(text.data(), text.size(), pos, end);
      if (at < 0) break;
      ++count;
      pos = end > static_cast<std::size_t>(at) ? end : static_cast<std::size_t>(at) + 1;
    }
    return count;
  }

 private:
  pcre2_code* code_;
  pcre2_match_data* data_;
};

// ---- every [0-9]+ in 1 MB of mixed text

void BM_Digits_QK(benchmark::State& state) {
  const std::string text = mixed_text(megabyte, false);
  const Regex r("[0-9]+");
  for (auto _ : state) benchmark::DoNotOptimize(qk_find_all(r, text));
  state.SetBytesProcessed(state.iterations() * megabyte);
}
BENCHMARK(BM_Digits_QK)->Unit(benchmark::kMillisecond);

void BM_Digits_StdRegex(benchmark::State& state) {
  const std::string text = mixed_text(megabyte, false);
  const std::regex r(digits_ecma);
  for (auto _ : state) benchmark::DoNotOptimize(std_find_all(r, text));
  state.SetBytesProcessed(state.iterations() * megabyte);
}
BENCHMARK(BM_Digits_StdRegex)->Unit(benchmark::kMillisecond);

void BM_Digits_Pcre2(benchmark::State& state) {
  const std::string text = mixed_text(megabyte, false);
  const Pcre2 r(digits_ecma);
  for (auto _ : state) benchmark::DoNotOptimize(r.find_all(text));
  state.SetBytesProcessed(state.iterations() * megabyte);
}
BENCHMARK(BM_Digits_Pcre2)->Unit(benchmark::kMillisecond);

// ---- split of 1 MB at [ \t]+

void BM_Split_QK(benchmark::State& state) {
  const String text(mixed_text(megabyte - 100, false).c_str());
  const Regex blanks("[ \t]+");
  std::vector<String> fields(static_cast<std::size_t>(megabyte / 2));
  for (auto _ : state)
    benchmark::DoNotOptimize(split(text, fields.data(), static_cast<int>(fields.size()), blanks));
  state.SetBytesProcessed(state.iterations() * text.length());
}
BENCHMARK(BM_Split_QK)->Unit(benchmark::kMillisecond);

void BM_Split_StdRegex(benchmark::State& state) {
  const std::string text = mixed_text(megabyte - 100, false);
  const std::regex blanks(blanks_ecma);
  for (auto _ : state) {
    std::vector<std::string> fields(std::sregex_token_iterator(text.begin(), text.end(), blanks, -1),
                                    std::sregex_token_iterator());
    benchmark::DoNotOptimize(fields.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Split_StdRegex)->Unit(benchmark::kMillisecond);

void BM_Split_Pcre2(benchmark::State& state) {
  const std::string text = mixed_text(megabyte - 100, false);
  const Pcre2 blanks(blanks_ecma);
  for (auto _ : state) {
    std::vector<std::string> fields;
    std::size_t pos = 0, end = 0;
    while (pos < text.size()) {
      long at = blanks.match(text.data(), text.size(), pos, end);
      if (at < 0) {
        at = static_cast<long>(text.size());
        end = text.size();
      }
      fields.emplace_back(text, pos, static_cast<std::size_t>(at) - pos);
      pos = end;
    }
    benchmark::DoNotOptimize(fields.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Split_Pcre2)->Unit(benchmark::kMillisecond);

// ---- ^-?[0-9]+$ against a million short strings

void BM_IntegerLines_QK(benchmark::State& state) {
  const std::vector<std::string> strings = short_strings();
  const Regex r("^-?[0-9]+$");
  for (auto _ : state) {
    int matched = 0, matchlen;
    for (const std::string& s : strings) matched += r.search(s.data(), static_cast<int>(s.size()), matchlen, 0) >= 0;
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(strings.size()));
}
BENCHMARK(BM_IntegerLines_QK)->Unit(benchmark::kMillisecond);

void BM_IntegerLines_StdRegex(benchmark::State& state) {
  const std::vector<std::string> strings = short_strings();
  const std::regex r(integer_line_ecma);
  for (auto _ : state) {
    int matched = 0;
    for (const std::string& s : strings) matched += std::regex_search(s, r);
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(strings.size()));
}
BENCHMARK(BM_IntegerLines_StdRegex)->Unit(benchmark::kMillisecond);

void BM_IntegerLines_Pcre2(benchmark::State& state) {
  const std::vector<std::string> strings = short_strings();
  const Pcre2 r(integer_line_ecma);
  for (auto _ : state) {
    int matched = 0;
    std::size_t end;
    for (const std::string& s : strings) matched += r.match(s.data(), s.size(), 0, end) >= 0;
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(strings.size()));
}
BENCHMARK(BM_IntegerLines_Pcre2)->Unit(benchmark::kMillisecond);

// ---- double_pattern over 1 MB of numbers and words

void BM_Doubles_QK(benchmark::State& state) {
  const std::string text = mixed_text(megabyte, true);
  for (auto _ : state) benchmark::DoNotOptimize(qk_find_all(double_pattern, text));
  state.SetBytesProcessed(state.iterations() * megabyte);
}
BENCHMARK(BM_Doubles_QK)->Unit(benchmark::kMillisecond);

void BM_Doubles_StdRegex(benchmark::State& state) {
  const std::string text = mixed_text(megabyte, true);
  const std::regex r(double_ecma);
  for (auto _ : state) benchmark::DoNotOptimize(std_find_all(r, text));
  state.SetBytesProcessed(state.iterations() * megabyte);
}
BENCHMARK(BM_Doubles_StdRegex)->Unit(benchmark::kMillisecond);

void BM_Doubles_Pcre2(benchmark::State& state) {
  const std::string text = mixed_text(megabyte, true);
  const Pcre2 r(double_ecma);
  for (auto _ : state) benchmark::DoNotOptimize(r.find_all(text));
  state.SetBytesProcessed(state.iterations() * megabyte);
}
BENCHMARK(BM_Doubles_Pcre2)->Unit(benchmark::kMillisecond);

// ---- compiling each predefined pattern

const char* const predefined[] = {
    "[ \n\t\r\v\f]+", "-?[0-9]+",     "-?\\(\\([0-9]+\\.[0-9]*\\)\\|\\([0-9]+\\)\\|\\(\\.[0-9]+\\)\\)\\([eE][---+]?[0-9]+\\)?",
    "[A-Za-z]+",      "[a-z]+",       "[A-Z]+",
    "[0-9A-Za-z]+",   "[A-Za-z_][A-Za-z0-9_]*"};
const char* const predefined_ecma[] = {"[ \n\t\r\v\f]+", "-?[0-9]+",  double_ecma,    "[A-Za-z]+",
                                       "[a-z]+",         "[A-Z]+",    "[0-9A-Za-z]+", "[A-Za-z_][A-Za-z0-9_]*"};

void BM_Compile_QK(benchmark::State& state) {
  const char* pattern = predefined[state.range(0)];
  for (auto _ : state) {
    regexp* prog = regexp_compile(pattern);
    benchmark::DoNotOptimize(prog);
    regexp_free(prog);
  }
}
BENCHMARK(BM_Compile_QK)->DenseRange(0, 7);

void BM_Compile_StdRegex(benchmark::State& state) {
  const char* pattern = predefined_ecma[state.range(0)];
  for (auto _ : state) {
    std::regex r(pattern);
    benchmark::DoNotOptimize(&r);
  }
}
BENCHMARK(BM_Compile_StdRegex)->DenseRange(0, 7);

void BM_Compile_Pcre2(benchmark::State& state) {
  const char* pattern = predefined_ecma[state.range(0)];
  for (auto _ : state) {
    int error;
    PCRE2_SIZE offset;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, 0, &error, &offset, nullptr);
    benchmark::DoNotOptimize(code);
    pcre2_code_free(code);
  }
}
BENCHMARK(BM_Compile_Pcre2)->DenseRange(0, 7);

}  // namespace

BENCHMARK_MAIN();
