// The pattern compiler and matcher: the dialect, every compile and match error, the search
// aids, group positions, and searches that must neither overflow nor run on.
#include "string/regexp.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "string/Regex.h"
#include "string/internal/regexp_internal.h"
#include "string/internal/regexp_messages.h"

namespace {

typedef RegexpMessages Messages;

// The match of pattern in text as "position:length", "none", or "error".
std::string find(const char* pattern, const std::string& text, int start = 0) {
  regexp* prog = regexp_compile(pattern);
  if (!prog) return "no program";
  int end = 0;
  const int at = regexp_exec(prog, text.data(), start, static_cast<int>(text.size()), &end, nullptr);
  regexp_free(prog);
  if (at == -2) return "error";
  if (at < 0) return "none";
  return std::to_string(at) + ":" + std::to_string(end - at);
}

std::string compile_error(const char* pattern) {
  Messages m;
  regexp* prog = regexp_compile(pattern);
  regexp_free(prog);
  if (prog) return "compiled";
  return m.all().size() == 1 ? m.all()[0] : "messages: " + std::to_string(m.all().size());
}

TEST(RegexpDialect, BackslashMakesGroupsAndAlternatives) {
  EXPECT_EQ("0:1", find("a\\|b", "a"));
  EXPECT_EQ("0:1", find("a\\|b", "b"));
  EXPECT_EQ("none", find("a|b", "a"));
  EXPECT_EQ("1:3", find("a|b", "xa|b"));
  EXPECT_EQ("0:3", find("(x)", "(x)"));
  EXPECT_EQ("none", find("(x)", "x"));
  EXPECT_EQ("0:3", find("{2}", "{2}"));
  EXPECT_EQ("2:2", find("\\(ab\\)+", "xxab"));
  EXPECT_EQ("0:4", find("\\(ab\\)+", "ababa"));
  EXPECT_EQ("0:3", find("x\\(a\\|bc\\)", "xbc"));
}

TEST(RegexpDialect, EscapesStandForTheByteItself) {
  EXPECT_EQ("1:1", find("\\.", "a.b"));
  EXPECT_EQ("none", find("\\.", "ab"));
  EXPECT_EQ("1:1", find("\\\\", "a\\b"));
  EXPECT_EQ("0:2", find("\\*\\+", "*+"));
  EXPECT_EQ("0:3", find("a\\nb", "anb"));  // no control escapes: \n is the letter n
  EXPECT_EQ("0:4", find("a\\.*b", "a..b"));
}

TEST(RegexpDialect, AnyByteAndSets) {
  EXPECT_EQ("0:1", find(".", "\xff"));
  EXPECT_EQ("none", find(".", ""));
  EXPECT_EQ("none", find(".", std::string(1, '\0')));  // NUL is never matched
  EXPECT_EQ("1:1", find("[]a]", "x]"));
  EXPECT_EQ("0:1", find("[^]a]", "x]"));
  EXPECT_EQ("1:1", find("[^]a]", "]x"));
  EXPECT_EQ("1:1", find("[a-]", "x-"));
  EXPECT_EQ("1:1", find("[-a]", "x-"));
  EXPECT_EQ("0:2", find("[---+]*", "-+"));
  EXPECT_EQ("none", find("[---+]", ","));  // the set holds minus and plus only
  EXPECT_EQ("1:3", find("[a-c]+", "xabcd"));
  EXPECT_EQ("0:1", find("[\\]", "\\"));  // no escapes inside a set
  EXPECT_EQ("0:2", find("[\x80-\xff]+", "\xc3\xa9"));
}

TEST(RegexpDialect, AnchorsAreWhereTheSearchBeganAndTheEnd) {
  EXPECT_EQ("none", find("^b", "ab"));
  EXPECT_EQ("1:1", find("^b", "ab", 1));
  EXPECT_EQ("2:0", find("$", "ab"));
  EXPECT_EQ("2:1", find("b$", "abb"));
  EXPECT_EQ("0:1", find("a\\|^b", "b"));
  EXPECT_EQ("none", find("a^b", "ab"));  // an anchor in the middle of a pattern
  EXPECT_EQ("0:0", find("", "abc"));
  EXPECT_EQ("0:0", find("a\\|", "xyz"));  // an empty alternative matches the empty string
}

TEST(RegexpDialect, RepetitionIsGreedyAndBacksOff) {
  EXPECT_EQ("0:4", find("a*ab", "aaab"));
  EXPECT_EQ("0:4", find("a+b", "aaab"));
  EXPECT_EQ("1:3", find("ab?c*", "xacc"));
  EXPECT_EQ("0:3", find("abc?", "abc"));  // ? takes the last byte of the run alone
  EXPECT_EQ("0:2", find("abc?", "abd"));
  EXPECT_EQ("0:6", find("\\(ab\\)*\\(ab\\)", "ababab"));
  EXPECT_EQ("0:4", find("\\(a\\|ab\\)\\(c\\|bcd\\)", "abcde"));  // the first alternative that lets the rest match
  EXPECT_EQ("0:0", find("x*", "abc"));
  EXPECT_EQ("3:0", find("x*$", "abc"));
}

TEST(RegexpCompile, NineteenGroupsCompileATwentiethDoesNot) {
  std::string pattern;
  for (int i = 0; i < 19; ++i) pattern += "\\(a\\)";
  EXPECT_EQ("compiled", compile_error(pattern.c_str()));
  EXPECT_EQ("too many ()", compile_error((pattern + "\\(a\\)").c_str()));
}

TEST(RegexpCompile, EveryErrorIsLoggedWithItsMessage) {
  EXPECT_EQ("nil argument", compile_error(nullptr));
  EXPECT_EQ("?+* follows nothing", compile_error("*a"));
  EXPECT_EQ("?+* follows nothing", compile_error("\\(+a\\)"));
  EXPECT_EQ("?+* follows nothing", compile_error("a\\|?b"));
  EXPECT_EQ("nested *?+", compile_error("a**"));
  EXPECT_EQ("nested *?+", compile_error("a?+"));
  EXPECT_EQ("*+ operand could be empty", compile_error("\\(a*\\)*"));
  EXPECT_EQ("*+ operand could be empty", compile_error("^+"));
  EXPECT_EQ("invalid [] range", compile_error("[z-a]"));
  EXPECT_EQ("unmatched []", compile_error("[abc"));
  EXPECT_EQ("unmatched []", compile_error("[]"));
  EXPECT_EQ("unmatched ()", compile_error("\\(abc"));
  EXPECT_EQ("unmatched ()", compile_error("abc\\)"));
  EXPECT_EQ("trailing \\", compile_error("abc\\"));
  EXPECT_EQ("compiled", compile_error("\\(a*\\)?"));
  EXPECT_EQ("compiled", compile_error("[a-a]"));
}

TEST(RegexpCompile, CheckTellsTheCompilersReasonWithoutLogging) {
  const std::vector<const char*> bad = {"*a", "a**", "\\(a*\\)*", "[z-a]", "[abc", "\\(abc", "abc\\"};
  const std::string longest(32755, 'a'), too_long(32756, 'a');
  std::vector<std::string> reasons;
  {
    Messages messages;
    for (const char* pattern : bad) reasons.push_back(regexp_check(pattern) ? regexp_check(pattern) : "none");
    EXPECT_STREQ(regexp_check(too_long.c_str()), "regexp too big");
    EXPECT_STREQ(regexp_check(nullptr), "nil argument");
    for (const char* pattern : {"", "a\\|b", "[a-a]x*", longest.c_str()})
      EXPECT_EQ(regexp_check(pattern), nullptr) << pattern;
    EXPECT_TRUE(messages.all().empty()) << "check logs nothing";
  }
  for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_EQ(reasons[i], compile_error(bad[i])) << bad[i];
}

TEST(RegexpCompile, ProgramMayNotReach32767Bytes) {
  // magic 1, branch 3, literal node 3 + text + NUL, end 3
  EXPECT_EQ("compiled", compile_error(std::string(32755, 'a').c_str()));
  EXPECT_EQ("regexp too big", compile_error(std::string(32756, 'a').c_str()));
  std::string sets;
  for (int i = 0; i < 200; ++i) sets += "[\x01-\xff]";
  EXPECT_EQ("regexp too big", compile_error(sets.c_str()));
}

// Programs on both sides of what one pass can build in its own room (a set of three is a
// node of 7 bytes): the same layout, the same matches.
TEST(RegexpCompile, LargeProgramsAreBuiltAsSmallOnes) {
  std::vector<unsigned char> loop_bytes;
  for (int n : {1, 2, 140, 145, 146, 147, 148, 150, 300, 1000}) {
    std::string pattern;
    for (int i = 0; i < n; ++i) pattern += "[a-c]";
    pattern += "\\(d\\)*e";
    regexp* prog = regexp_compile(pattern.c_str());
    ASSERT_NE(nullptr, prog) << n;
    const std::vector<unsigned char>& p = prog->program;
    const std::size_t sets_end = 4 + 7 * static_cast<std::size_t>(n);
    ASSERT_GT(p.size(), sets_end) << n;
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(regexp_internal::ANYOF, p[4 + 7 * i]) << n << " " << i;
      ASSERT_EQ(std::string("abc"), reinterpret_cast<const char*>(&p[4 + 7 * i + 3])) << n << " " << i;
    }
    const std::vector<unsigned char> rest(p.begin() + static_cast<std::ptrdiff_t>(sets_end), p.end());
    if (loop_bytes.empty()) loop_bytes = rest;
    EXPECT_EQ(loop_bytes, rest) << n;
    const std::string text = "zz" + std::string(static_cast<std::size_t>(n), 'b') + "dde";
    int end = 0;
    EXPECT_EQ(2, regexp_exec(prog, text.data(), 0, static_cast<int>(text.size()), &end, nullptr)) << n;
    EXPECT_EQ(static_cast<int>(text.size()), end) << n;
    int g = 0, g_end = 0;
    EXPECT_TRUE(regexp_group(prog, 1, &g, &g_end)) << n;
    EXPECT_EQ(static_cast<int>(text.size()) - 2, g) << n;
    const std::string short_text = std::string(static_cast<std::size_t>(n - 1), 'a') + "de";
    EXPECT_EQ(-1, regexp_exec(prog, short_text.data(), 0, static_cast<int>(short_text.size()), &end, nullptr)) << n;
    regexp_free(prog);
  }
}

TEST(RegexpCompile, ProgramBytesFollowTheNodeLayout) {
  regexp* prog = regexp_compile("a\\(b\\)*c");
  ASSERT_NE(nullptr, prog);
  const std::vector<unsigned char>& p = prog->program;
  EXPECT_EQ(156, p[0]);
  EXPECT_EQ(regexp_internal::BRANCH, p[1]);
  EXPECT_EQ(regexp_internal::EXACTLY, p[4]);
  EXPECT_EQ('a', p[7]);
  EXPECT_EQ(0, p[8]);
  // then the loop: branch, open 1, the group's branch, literal b, close 1, back, branch,
  // nothing
  EXPECT_EQ(regexp_internal::BRANCH, p[9]);
  EXPECT_EQ(regexp_internal::OPEN + 1, p[12]);
  EXPECT_EQ(regexp_internal::BRANCH, p[15]);
  EXPECT_EQ(regexp_internal::CLOSE + 1, p[23]);
  EXPECT_EQ(regexp_internal::BACK, p[26]);
  const int back = (p[27] << 8) | p[28];
  EXPECT_EQ(9, 26 - back);  // the back node leads to the loop's branch
  EXPECT_EQ(regexp_internal::BRANCH, p[29]);
  EXPECT_EQ(regexp_internal::NOTHING, p[32]);
  regexp_free(prog);
}

TEST(RegexpAids, FirstByteAnchorAndMustHaveText) {
  regexp* prog = regexp_compile("abc\\|d");
  EXPECT_EQ(0, prog->regstart);  // two alternatives: no aids
  regexp_free(prog);
  prog = regexp_compile("abc*");
  EXPECT_EQ('a', prog->regstart);
  EXPECT_FALSE(prog->reganch);
  EXPECT_EQ(-1, prog->regmust);
  regexp_free(prog);
  prog = regexp_compile("^ab");
  EXPECT_TRUE(prog->reganch);
  regexp_free(prog);
  prog = regexp_compile("x*abc[0-9]de");
  ASSERT_GE(prog->regmust, 0);
  EXPECT_EQ("abc", std::string(reinterpret_cast<const char*>(prog->program.data() + prog->regmust),
                               static_cast<std::size_t>(prog->regmlen)));
  regexp_free(prog);
  prog = regexp_compile("\\(a*b\\)cd");  // the first piece of a group counts too
  ASSERT_GE(prog->regmust, 0);
  EXPECT_EQ(2, prog->regmlen);
  regexp_free(prog);
  prog = regexp_compile("[0-9]+");
  EXPECT_EQ(10, prog->first_count);
  regexp_free(prog);
}

// The steps a search of pattern over text takes, or -1 when it finds nothing.
long long steps_of(const char* pattern, const std::string& text) {
  regexp* prog = regexp_compile(pattern);
  const int n = static_cast<int>(text.size());
  const long long budget = regexp_step_budget(n);
  long long steps = budget;
  int end = 0;
  const int at = regexp_exec(prog, text.data(), 0, n, &end, &steps);
  regexp_free(prog);
  return at < 0 ? -1 : budget - steps;
}

TEST(RegexpAids, APatternThatBeginsWithALoopTriesOnlyWhereItsBytesAre) {
  const std::string xs(100000, 'x');
  const long long optional = steps_of("\\(ab\\)?c", xs + "abc");
  const long long loop = steps_of("\\(ab\\)*c", xs + "abc");
  ASSERT_GT(optional, 0);
  EXPECT_LT(loop, 100) << "optional group: " << optional;

  // Three loops over 23 alternatives each: trying every x would run out of steps.
  std::string group = "\\(a";
  for (char c = 'b'; c <= 'w'; ++c) group += std::string("\\|") + c;
  group += "\\)*";
  const std::string pattern = group + group + group + "z";
  EXPECT_EQ("1048000:1", find(pattern.c_str(), std::string(1048000, 'x') + "z"));
  EXPECT_EQ("2:3", find(pattern.c_str(), "xxabz"));

  // A loop that may match nothing leaves every position open.
  EXPECT_EQ("0:0", find("\\(ab\\)*", "xxab"));
  EXPECT_EQ("0:4", find("\\(ab\\)*", "abab"));
}

TEST(RegexpAids, MustHaveTextRejectsWithoutTrying) {
  EXPECT_EQ("none", find("x*abc", std::string(1000, 'x') + "ab"));
  EXPECT_EQ("0:5", find("x*abc", "xxabc"));
}

TEST(RegexpGroups, ARepeatedGroupReportsItsLastIteration) {
  regexp* prog = regexp_compile("\\(a\\|b\\)*\\(\\(c\\)\\|d\\)*");
  const std::string text = "abbcd";
  int end;
  ASSERT_EQ(0, regexp_exec(prog, text.data(), 0, 5, &end, nullptr));
  EXPECT_EQ(5, end);
  int s, e;
  ASSERT_TRUE(regexp_group(prog, 1, &s, &e));
  EXPECT_EQ(2, s);
  EXPECT_EQ(3, e);
  ASSERT_TRUE(regexp_group(prog, 2, &s, &e));
  EXPECT_EQ(4, s);
  ASSERT_TRUE(regexp_group(prog, 3, &s, &e));  // from the iteration before the last
  EXPECT_EQ(3, s);
  EXPECT_EQ(4, e);
  EXPECT_FALSE(regexp_group(prog, 4, &s, &e));
  EXPECT_EQ(-1, s);
  EXPECT_FALSE(regexp_group(prog, 20, &s, &e));
  regexp_free(prog);
}

TEST(RegexpGroups, AFailedAlternativeLeavesNoGroup) {
  regexp* prog = regexp_compile("\\(a\\)b\\|\\(a\\)c");
  int end, s, e;
  ASSERT_EQ(0, regexp_exec(prog, "ac", 0, 2, &end, nullptr));
  EXPECT_FALSE(regexp_group(prog, 1, &s, &e));
  EXPECT_TRUE(regexp_group(prog, 2, &s, &e));
  ASSERT_EQ(-1, regexp_exec(prog, "xx", 0, 2, &end, nullptr));
  EXPECT_FALSE(regexp_group(prog, 0, &s, &e));
  EXPECT_FALSE(regexp_group(prog, 2, &s, &e));
  regexp_free(prog);
}

TEST(RegexpLimits, LongTextsDoNotOverflowTheStack) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += (i % 3 ? 'a' : 'b');
  EXPECT_EQ("0:100000", find("\\(a\\|b\\)*", text));
  EXPECT_EQ("0:100000", find("\\(\\(a\\)\\|b\\)+$", text));
}

TEST(RegexpLimits, ACatastrophicSearchStopsAtItsStepBudget) {
  Messages m;
  EXPECT_EQ("error", find("\\(a+\\)+b", std::string(30, 'a')));
  ASSERT_EQ(1u, m.all().size());
  EXPECT_EQ("match step limit exceeded", m.all()[0]);
  EXPECT_EQ("0:31", find("\\(a+\\)+b", std::string(30, 'a') + "b"));
}

TEST(RegexpLimits, ARepetitionWithASureRestKeepsNoRoomToBackOff) {
  Messages m;
  // Five frames a round (the choice and four group ends) would pass the limit well before
  // the end of the largest String.
  const std::string text(1048562, 'a');
  EXPECT_EQ("0:1048562", find("\\(\\(a\\)\\)*", text));
  EXPECT_EQ("0:1048562", find("\\(\\(\\(a\\)\\)\\|b\\)*\\(x*\\)", text));
  EXPECT_TRUE(m.all().empty()) << m.all()[0];
  regexp* prog = regexp_compile("\\(\\(a\\)b\\)*");
  int end = 0;
  ASSERT_EQ(0, regexp_exec(prog, "ababa", 0, 5, &end, nullptr));
  EXPECT_EQ(4, end);
  int s = 0, e = 0;
  ASSERT_TRUE(regexp_group(prog, 2, &s, &e));  // the last round's group, after backing off
  EXPECT_EQ(2, s);
  EXPECT_EQ(3, e);
  regexp_free(prog);
}

// Random patterns of groups, alternatives and repetitions over the bytes a, b and c.
class PatternMaker {
 public:
  explicit PatternMaker(unsigned seed) : random_(seed) {}
  std::string pattern(int depth = 2) {
    std::string p;
    const int alternatives = pick(3) == 0 ? 2 : 1;
    for (int i = 0; i < alternatives; ++i) {
      if (i) p += "\\|";
      for (int k = 1 + pick(3); k > 0; --k) p += piece(depth);
    }
    return p;
  }
  std::string text() {
    std::string t;
    for (int n = pick(12); n > 0; --n) t += "abc"[pick(3)];
    return t;
  }

 private:
  int pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  std::string piece(int depth) {
    static const char* const atoms[] = {"a", "b", "c", ".", "[ab]", "[^a]"};
    std::string atom = depth > 0 && pick(3) == 0 ? "\\(" + pattern(depth - 1) + "\\)" : atoms[pick(6)];
    switch (pick(5)) {
      case 0: return atom + "*";
      case 1: return atom + "+";
      case 2: return atom + "?";
      default: return atom;
    }
  }
  std::mt19937 random_;
};

// The search's answer with its groups, as text.
std::string answer(regexp* prog, const std::string& text) {
  int end = 0;
  const int at = regexp_exec(prog, text.data(), 0, static_cast<int>(text.size()), &end, nullptr);
  std::string a = std::to_string(at) + ":" + std::to_string(end);
  for (int g = 1; g < regexp_groups; ++g) {
    int s = -1, e = -1;
    regexp_group(prog, g, &s, &e);
    a += " " + std::to_string(s) + "-" + std::to_string(e);
  }
  return a;
}

TEST(RegexpAids, AidsAndForgottenChoicesChangeNoAnswer) {
  PatternMaker maker(2718);
  int compared = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string pattern = maker.pattern();
    Messages m;  // patterns that do not compile are passed over
    regexp* aided = regexp_compile(pattern.c_str());
    regexp* plain = regexp_compile(pattern.c_str());
    if (aided && plain) {
      // Every position tried, every choice kept.
      plain->starts.clear();
      plain->first_count = 0;
      for (regexp_internal::Node& n : plain->nodes) n.sure = false;
      for (int t = 0; t < 6; ++t) {
        const std::string text = maker.text();
        ASSERT_EQ(answer(plain, text), answer(aided, text)) << pattern << " on " << text;
        ++compared;
      }
    }
    regexp_free(aided);
    regexp_free(plain);
  }
  EXPECT_GT(compared, 6000);
}

TEST(RegexpLimits, BacktrackingStateHasALimit) {
  Messages m;
  // Each repetition of the group keeps three frames: its choice and the two group ends,
  // all needed, since what follows the loop may send the match back into any round.
  const std::string text(regexp_internal::stack_limit / 3 + 10, 'a');
  regexp* prog = regexp_compile("\\(a\\|b\\)*a[cd]");
  int end = 0;
  EXPECT_EQ(-2, regexp_exec(prog, text.data(), 0, static_cast<int>(text.size()), &end, nullptr));
  ASSERT_EQ(1u, m.all().size());
  EXPECT_EQ("match stack limit exceeded", m.all()[0]);
  EXPECT_EQ(0, regexp_exec(prog, "abbac", 0, 5, &end, nullptr));  // the next search starts afresh
  EXPECT_EQ(5, end);
  regexp_free(prog);
}

TEST(RegexpMatchErrors, BrokenProgramsAreReported) {
  using namespace regexp_internal;
  Messages m;
  int end;
  regexp* prog = regexp_compile("a");
  EXPECT_EQ(-2, regexp_exec(prog, nullptr, 0, 0, &end, nullptr));
  EXPECT_EQ(-2, regexp_exec(nullptr, "a", 0, 1, &end, nullptr));
  regexp_free(prog);
  const unsigned char not_magic[] = {155, BRANCH, 0, 3, END, 0, 0};
  const unsigned char bad_kind[] = {156, BRANCH, 0, 3, 50, 0, 0};
  const unsigned char no_end[] = {156, BRANCH, 0, 0, NOTHING, 0, 0};
  const unsigned char star_over_branch[] = {156, STAR, 0, 6, BRANCH, 0, 0, END, 0, 0};
  const unsigned char too_high[] = {156, 95, 0, 0};
  const struct {
    const unsigned char* bytes;
    int size;
  } programs[] = {{not_magic, sizeof not_magic},
                  {bad_kind, sizeof bad_kind},
                  {no_end, sizeof no_end},
                  {star_over_branch, sizeof star_over_branch},
                  {too_high, sizeof too_high}};
  for (const auto& p : programs) {
    regexp* r = load(p.bytes, p.size);
    EXPECT_EQ(-2, regexp_exec(r, "ab", 0, 2, &end, nullptr));
    regexp_free(r);
  }
  const std::vector<std::string> expected = {"nil parameter",      "nil parameter",     "corrupted program",
                                             "memory corruption",  "corrupted pointers", "internal foulup",
                                             "memory corruption"};
  EXPECT_EQ(expected, m.all());
}

TEST(RegexpThreads, TwoThreadsSearchWithTwoPatterns) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "word 123 ";
  auto count = [&text](const char* pattern, int* found) {
    regexp* prog = regexp_compile(pattern);
    int pos = 0, end = 0;
    *found = 0;
    for (;;) {
      const int at = regexp_exec(prog, text.data(), pos, static_cast<int>(text.size()), &end, nullptr);
      if (at < 0) break;
      ++*found;
      pos = end > at ? end : at + 1;
    }
    regexp_free(prog);
  };
  int digits = 0, words = 0;
  std::thread a(count, "[0-9]+", &digits);
  std::thread b(count, "\\([a-z]\\)+", &words);
  a.join();
  b.join();
  EXPECT_EQ(2000, digits);
  EXPECT_EQ(2000, words);
}

}  // namespace
