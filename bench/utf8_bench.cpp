// utf8_char_count over 4 MB of valid text in four mixes, against the C library's
// mbstowcs(NULL, ...) in a UTF-8 locale, in the same run:
//   ascii  - letters and spaces
//   latin  - 20% of the characters two bytes (é, ñ, ü ...)
//   cjk    - 80% three-byte characters, 20% ASCII
//   emoji  - 60% four-byte characters, 40% ASCII
// Run with QK_ROOT, QK_LOCAL and QK_LOG_NOKEY=1 set (the framework starts its logger).
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdlib>
#include <random>
#include <string>

#include "string/String.h"

namespace {

const std::size_t kTextBytes = 4 << 20;

std::string make_text(int mix) {
  static const char* const latin[] = {"\xC3\xA9", "\xC3\xB1", "\xC3\xBC", "\xC3\xA0", "\xC5\x93"};
  static const char* const cjk[] = {"\xE4\xB8\xAD", "\xE6\x96\x87", "\xE5\xAD\x97", "\xE3\x81\x82", "\xED\x95\x9C"};
  static const char* const emoji[] = {"\xF0\x9F\x98\x80", "\xF0\x9F\x8E\x89", "\xF0\x9F\x91\x8D", "\xF0\x9F\x9A\x80"};
  std::mt19937 random(17 + mix);
  std::string text;
  text.reserve(kTextBytes + 8);
  while (text.size() < kTextBytes) {
    const unsigned r = random() % 100;
    const char ascii = r % 7 == 0 ? ' ' : static_cast<char>('a' + random() % 26);
    switch (mix) {
      case 0: text += ascii; break;
      case 1: r < 20 ? text += latin[random() % 5] : text += ascii; break;
      case 2: r < 80 ? text += cjk[random() % 5] : text += ascii; break;
      default: r < 60 ? text += emoji[random() % 4] : text += ascii; break;
    }
  }
  return text;
}

const char* const mix_names[] = {"ascii", "latin", "cjk", "emoji"};

const std::string& text_of(int mix) {
  static std::string texts[4];
  if (texts[mix].empty()) texts[mix] = make_text(mix);
  return texts[mix];
}

bool use_utf8_locale() {
  return std::setlocale(LC_CTYPE, "C.UTF-8") || std::setlocale(LC_CTYPE, "C.utf8") ||
         std::setlocale(LC_CTYPE, "en_US.UTF-8");
}

void BM_utf8_char_count(benchmark::State& state) {
  const int mix = static_cast<int>(state.range(0));
  const std::string& text = text_of(mix);
  state.SetLabel(mix_names[mix]);
  if (!use_utf8_locale()) {
    state.SkipWithError("no UTF-8 locale to compare with");
    return;
  }
  const std::size_t expected = std::mbstowcs(nullptr, text.c_str(), 0);
  if (static_cast<std::size_t>(utf8_char_count(text.c_str())) != expected) {
    state.SkipWithError("utf8_char_count and mbstowcs disagree");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(utf8_char_count(text.c_str()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_utf8_char_count)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_mbstowcs(benchmark::State& state) {
  const int mix = static_cast<int>(state.range(0));
  const std::string& text = text_of(mix);
  state.SetLabel(mix_names[mix]);
  if (!use_utf8_locale()) {
    state.SkipWithError("no UTF-8 locale");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(std::mbstowcs(nullptr, text.c_str(), 0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_mbstowcs)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The character-by-character walk, for reference: what counting costs when each
// character's length is looked up before the next.
void BM_utf8_walk(benchmark::State& state) {
  const int mix = static_cast<int>(state.range(0));
  const std::string& text = text_of(mix);
  state.SetLabel(mix_names[mix]);
  for (auto _ : state) {
    int n = 0;
    for (const char* p = text.c_str(); *p;) {
      const int k = utf8_char_length(p);
      n += k > 0;
      p += k > 0 ? k : 1;
    }
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_utf8_walk)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
