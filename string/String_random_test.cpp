// Long seeded random runs of String operations beside std::string models, compared after
// every step. Handles share representations between steps, so a change that leaked into
// another handle through copy on write would show at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "string/String.h"

namespace {

const int handles = 6;

// index() as the forward and backward searches define it, over a text without 0 bytes.
int model_index(const std::string& text, const std::string& s, int startpos) {
  const int length = static_cast<int>(text.size());
  const int n = static_cast<int>(s.size());
  if (startpos > length || -startpos > length) return -1;
  if (startpos >= 0) {
    if (n == 0) return length;  // found at the terminating NUL
    const std::size_t at = text.find(s, static_cast<std::size_t>(startpos));
    return at == std::string::npos ? -1 : static_cast<int>(at);
  }
  const int first = startpos + length - n + 1;
  if (first < 0) return -1;
  if (n == 0) return first == length ? length : -1;  // only the terminating NUL matches
  const std::size_t at = text.rfind(s, static_cast<std::size_t>(first));
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int model_matches(const std::string& text, const std::string& s, int pos) {
  const int length = static_cast<int>(text.size());
  const int n = static_cast<int>(s.size());
  if (pos >= length || -pos >= length) return 0;
  if (pos < 0) pos += length;
  if (n == 0 || length - pos < n) return 0;
  return text.compare(static_cast<std::size_t>(pos), static_cast<std::size_t>(n), s) == 0;
}

class Run {
 public:
  explicit Run(std::uint32_t seed) : random_(seed), strings_(handles), models_(handles) {}

  void step() {
    const int i = pick(handles), j = pick(handles);
    switch (pick(16)) {
      case 0: strings_[i] = strings_[j]; models_[i] = models_[j]; break;
      case 1: { String copy(strings_[j]); strings_[i] = copy; models_[i] = models_[j]; break; }
      case 2: { const std::string t = text(); strings_[i] = t.c_str(); models_[i] = t; break; }
      case 3: { const std::string t = text(); strings_[i] += t.c_str(); models_[i] += t; break; }
      case 4: { const char c = static_cast<char>(pick(4) == 0 ? 0 : 'a' + pick(3)); strings_[i] += c; if (c) models_[i] += c; break; }
      case 5: strings_[i] += strings_[j]; models_[i] += models_[j]; break;
      case 6: { const std::string t = text(); strings_[i] = strings_[j] + t.c_str(); models_[i] = models_[j] + t; break; }
      case 7: { const std::string t = text(); strings_[i] = t.c_str() + strings_[j]; models_[i] = t + models_[j]; break; }
      case 8: strings_[i] = strings_[i] + strings_[j]; models_[i] = models_[i] + models_[j]; break;
      case 9: { int p, n; window(models_[i], p, n); const std::string t = text();
                strings_[i].at(p, n) = t.c_str(); if (fits(models_[i], p, n)) models_[i].replace(p, n, t); break; }
      case 10: { int p, n; window(models_[i], p, n);
                 strings_[i].at(p, n) = strings_[j]; if (fits(models_[i], p, n)) models_[i].replace(p, n, models_[j]); break; }
      case 11: { int p, n; window(models_[j], p, n); SubString w = strings_[j].at(p, n); const bool ok = fits(models_[j], p, n);
                 strings_[i] = w; models_[i] = ok ? models_[j].substr(p, n) : std::string(); break; }
      case 12: { int p, n; window(models_[j], p, n); String s(strings_[j].at(p, n));
                 strings_[i] = s; models_[i] = fits(models_[j], p, n) ? models_[j].substr(p, n) : std::string(); break; }
      case 13: { const int p = pick(static_cast<int>(models_[j].size()) + 2) - 1; String s(strings_[j].after(p));
                 strings_[i] = s; models_[i] = p >= 0 && p < static_cast<int>(models_[j].size()) ? models_[j].substr(p + 1) : ""; break; }
      case 14: { int p, n, q, m; window(models_[i], p, n); window(models_[i], q, m);
                 SubString to = strings_[i].at(p, n); SubString from = strings_[i].at(q, m);
                 // A window that does not fit is the not-found window: an empty source.
                 const std::string source = fits(models_[i], q, m) ? models_[i].substr(q, m) : std::string();
                 to = from; if (fits(models_[i], p, n)) models_[i].replace(p, n, source); break; }
      default: strings_[i] = String(); models_[i].clear(); break;
    }
    // Keep the texts small enough for a quick run, but let some reach the heap classes.
    if (models_[i].size() > 6000) { strings_[i] = "r"; models_[i] = "r"; }
  }

  void check() {
    std::map<const StringRep*, int> holders;
    for (int i = 0; i < handles; ++i) {
      const String& s = strings_[i];
      const std::string& m = models_[i];
      ASSERT_TRUE(StringRep::valid(s.rep()));
      ASSERT_EQ(m, std::string(static_cast<const char*>(s), static_cast<std::size_t>(s.length()))) << "handle " << i;
      ASSERT_EQ(m.size(), std::string(static_cast<const char*>(s)).size());
      if (s.rep() != StringRep::empty()) {
        ++holders[s.rep()];
        ASSERT_GE(s.allocation(), s.length());
      }
      const std::string needle = text(3);
      const int len = static_cast<int>(m.size());
      const int start = pick(2 * len + 3) - len - 1;
      ASSERT_EQ(model_index(m, needle, start), s.index(needle.c_str(), start)) << m << " / " << needle << " @" << start;
      ASSERT_EQ(model_matches(m, needle, start), s.matches(needle.c_str(), start)) << m << " / " << needle << " @" << start;
      ASSERT_EQ(m.find(needle) != std::string::npos, s.contains(needle.c_str()) == 1);
    }
    for (const auto& h : holders) ASSERT_EQ(h.second, h.first->references) << "references count the handles";
  }

 private:
  int pick(int n) { return static_cast<int>(random_() % static_cast<std::uint32_t>(n)); }

  std::string text(int longest = 0) {
    if (longest == 0) longest = pick(8) == 0 ? 400 : 12;
    std::string t(static_cast<std::size_t>(pick(longest + 1)), ' ');
    for (char& c : t) c = static_cast<char>('a' + pick(3));
    return t;
  }

  // A window, valid most of the time.
  void window(const std::string& m, int& p, int& n) {
    const int len = static_cast<int>(m.size());
    p = pick(len + 1);
    n = pick(len - p + 1);
    if (pick(10) == 0) p = pick(len + 4) - 2;
    if (pick(10) == 0) n = pick(len + 4) - 2;
  }

  static bool fits(const std::string& m, int p, int n) {
    return p >= 0 && n >= 0 && static_cast<std::size_t>(p) + static_cast<std::size_t>(n) <= m.size();
  }

  std::mt19937 random_;
  std::vector<String> strings_;
  std::vector<std::string> models_;
};

void run(std::uint32_t seed, int steps) {
  Run r(seed);
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " step " << step);
    r.step();
    r.check();
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(StringDifferential, SharedHandlesAgainstStdString) {
  for (std::uint32_t seed : {1u, 2u, 3u}) run(seed, 20000);
}

TEST(StringDifferential, UnderNoSharing) {
  string_debug_switches(0, 1);
  run(99, 10000);
  string_debug_switches(0, 0);
}

}  // namespace
