// The matcher against the C library's POSIX extended regular expressions: random patterns
// built from the dialect's features (each written both ways) on random texts. Whether
// there is a match and where it starts must always agree, since both take the leftmost
// start. The C library takes the longest match there and this matcher the first that
// greedy backing off finds, so its match is never longer, and the two lengths must be
// equal for patterns without alternatives and without optional or repeated groups.
#include <regex.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "log/logger.h"
#include "string/regexp.h"

namespace {

struct Pattern {
  std::string ours;
  std::string posix;
  bool same_length = true;  // the two rules agree on the length
};

class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}

  Pattern pattern() {
    Pattern p;
    if (pick(4) == 0) append(p, "^", "^");
    expression(p, 2);
    if (pick(4) == 0) append(p, "$", "$");
    return p;
  }

  std::string text() {
    std::string t;
    const int n = pick(14);
    for (int i = 0; i < n; ++i) t += "abcd"[pick(4)];
    return t;
  }

 private:
  int pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  static void append(Pattern& p, const char* ours, const char* posix) {
    p.ours += ours;
    p.posix += posix;
  }

  void expression(Pattern& p, int depth) {
    const int alternatives = depth > 0 && pick(3) == 0 ? 2 + pick(2) : 1;
    if (alternatives > 1) p.same_length = false;
    for (int i = 0; i < alternatives; ++i) {
      if (i > 0) append(p, "\\|", "|");
      const int pieces = 1 + pick(4);
      for (int k = 0; k < pieces; ++k) piece(p, depth);
    }
  }

  void piece(Pattern& p, int depth) {
    const bool group = depth > 0 && pick(5) == 0;
    if (group) {
      append(p, "\\(", "(");
      expression(p, depth - 1);
      append(p, "\\)", ")");
    } else {
      static const char* const atoms[] = {"a", "b", "c", ".", "[ab]", "[^a]", "[a-c]", "[]a]", "[b-]"};
      const char* atom = atoms[pick(9)];
      append(p, atom, atom);
    }
    static const char* const quantifiers[] = {"", "", "", "*", "+", "?"};
    const char* q = quantifiers[pick(6)];
    append(p, q, q);
    if (*q == '?' || (group && *q)) p.same_length = false;
  }

  std::mt19937 random_;
};

TEST(RegexpDifferential, AgreesWithPosixExtendedExpressions) {
  // Patterns with an empty operand under * or + are refused, and logged; not here.
  const int threshold = stdlog ? stdlog->level() : 0;
  if (stdlog) stdlog->setLevel(FATAL);
  Generator generate(20261208);
  int compared = 0, lengths_compared = 0;
  for (int round = 0; round < 4000; ++round) {
    const Pattern p = generate.pattern();
    regex_t posix;
    if (regcomp(&posix, p.posix.c_str(), REG_EXTENDED) != 0) continue;
    regexp* ours = regexp_compile(p.ours.c_str());
    if (!ours) {  // only an operand that could be empty under * or + is refused
      regfree(&posix);
      continue;
    }
    for (int t = 0; t < 8; ++t) {
      const std::string text = generate.text();
      regmatch_t m[1];
      const bool posix_found = regexec(&posix, text.c_str(), 1, m, 0) == 0;
      int end = 0;
      const int at = regexp_exec(ours, text.data(), 0, static_cast<int>(text.size()), &end, nullptr);
      ASSERT_NE(-2, at) << p.ours;
      ASSERT_EQ(posix_found, at >= 0) << p.ours << " on \"" << text << "\"";
      ++compared;
      if (!posix_found) continue;
      ASSERT_EQ(static_cast<int>(m[0].rm_so), at) << p.ours << " on \"" << text << "\"";
      const int posix_length = static_cast<int>(m[0].rm_eo - m[0].rm_so);
      ASSERT_LE(end - at, posix_length) << p.ours << " on \"" << text << "\"";
      if (p.same_length) {
        ASSERT_EQ(posix_length, end - at) << p.ours << " on \"" << text << "\"";
        ++lengths_compared;
      }
    }
    regexp_free(ours);
    regfree(&posix);
  }
  if (stdlog) stdlog->setLevel(threshold);
  EXPECT_GT(compared, 20000);
  EXPECT_GT(lengths_compared, 3000);
}

}  // namespace
