// String and SubString with patterns: search, windows, substitution, splitting, groups,
// the predefined patterns, the backward search and the UTF-8 correction of a match start.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "string/Regex.h"
#include "string/String.h"
#include "string/internal/regexp_internal.h"
#include "string/internal/regexp_messages.h"

namespace {

typedef RegexpMessages Messages;

std::string text(const SubString& w) {
  if (!w.found()) return "<not found>";
  return std::string(w.text(), static_cast<std::size_t>(w.length()));
}

TEST(StringPatterns, IndexAndWindowsAroundAMatch) {
  String s("abc -42 x");
  EXPECT_EQ(4, s.index(integer_pattern));
  EXPECT_EQ("-42", text(s.at(integer_pattern)));
  EXPECT_EQ("abc ", text(s.before(integer_pattern)));
  EXPECT_EQ("abc -42", text(s.through(integer_pattern)));
  EXPECT_EQ("-42 x", text(s.from(integer_pattern)));
  EXPECT_EQ(" x", text(s.after(integer_pattern)));
  EXPECT_EQ(1, s.contains(integer_pattern));
  EXPECT_EQ(0, s.contains(integer_pattern, 7));
  EXPECT_EQ(1, s.matches(integer_pattern, 4));
  EXPECT_EQ(1, s.matches(integer_pattern, -5));
  EXPECT_EQ(0, s.matches(integer_pattern, 3));
  EXPECT_EQ(-1, s.index(integer_pattern, 10));
  for (SubString w : {s.at(upper_pattern), s.before(upper_pattern), s.through(upper_pattern),
                      s.from(upper_pattern), s.after(upper_pattern)})
    EXPECT_FALSE(w.found());
  s.remove(integer_pattern);
  EXPECT_STREQ("abc  x", s);
  s.remove(integer_pattern);
  EXPECT_STREQ("abc  x", s);
}

TEST(StringPatterns, DoublePatternTakesWholeNumbers) {
  for (const char* number : {"1.5e-3", ".5", "7", "12.", "-3.25E+10"}) {
    String s(number);
    EXPECT_EQ(number, text(s.at(double_pattern)));
  }
  String s("x1.5e-3");
  EXPECT_EQ("1.5e-3", text(s.at(double_pattern)));
  String t("1e");
  EXPECT_EQ("1", text(t.at(double_pattern)));
}

TEST(StringPatterns, PredefinedPatterns) {
  String s("  Hello_world42 foo\v");
  EXPECT_EQ("  ", text(s.at(whitespace_pattern)));
  EXPECT_EQ("\v", text(s.at(whitespace_pattern, 16)));
  EXPECT_EQ("Hello", text(s.at(alpha_pattern)));
  EXPECT_EQ("ello", text(s.at(lower_pattern)));
  EXPECT_EQ("H", text(s.at(upper_pattern)));
  EXPECT_EQ("Hello", text(s.at(alnum_pattern)));
  EXPECT_EQ("Hello_world42", text(s.at(identifier_pattern)));
}

TEST(StringPatterns, BackwardSearchFindsTheLastMatchThatEndsInTime) {
  String s("a1 b22 c333");
  EXPECT_EQ(8, s.index(integer_pattern, -1));
  EXPECT_EQ("333", text(s.at(integer_pattern, -1)));
  EXPECT_EQ(4, s.index(integer_pattern, -6));  // the text ends with position 5, the last 2 of 22
  EXPECT_EQ("22", text(s.at(integer_pattern, -6)));
  EXPECT_EQ(4, s.index(integer_pattern, -7));  // the first 2 of 22 alone
  EXPECT_EQ(1, s.index(integer_pattern, -8));
  EXPECT_EQ(-1, s.index(integer_pattern, -11));
  EXPECT_EQ(-1, s.index(integer_pattern, -12));
  String empty_matches("abc");
  EXPECT_EQ(2, empty_matches.index(Regex("x*"), -1));  // empty matches step on and end
  Regex group("\\([a-z]\\)[0-9]");
  int start, length;
  EXPECT_EQ(7, s.index(group, -1));
  ASSERT_TRUE(group.group_info(start, length, 1));
  EXPECT_EQ(7, start);
  EXPECT_EQ(1, length);
}

TEST(StringPatterns, AStartAnchorMatchesWhereEachSearchBegins) {
  String s("aaa");
  EXPECT_EQ(3, s.gsub(Regex("^a"), "b"));
  EXPECT_STREQ("bbb", s);
  String t("xab");
  EXPECT_EQ(-1, t.index(Regex("^a")));
  EXPECT_EQ(1, t.index(Regex("^a"), 1));
}

TEST(StringPatterns, GsubWithARegex) {
  String s("a1b22c333");
  EXPECT_EQ(3, s.gsub(Regex("[0-9]+"), "#"));
  EXPECT_STREQ("a#b#c#", s);
  String copy(s);
  EXPECT_EQ(3, s.gsub(Regex("#"), s));  // the replacement is the text as it was
  EXPECT_STREQ("aa#b#c#ba#b#c#ca#b#c#", s);
  EXPECT_STREQ("a#b#c#", copy);
  String none("abc");
  EXPECT_EQ(0, none.gsub(Regex("x"), "y"));
  EXPECT_STREQ("abc", none);
}

TEST(StringPatterns, GsubWithEmptyMatchesEnds) {
  String s("abc");
  EXPECT_EQ(3, s.gsub(Regex("x*"), "-"));
  EXPECT_STREQ("-a-b-c", s);
  String t("xax");
  EXPECT_EQ(3, t.gsub(Regex("x*"), ""));
  EXPECT_STREQ("a", t);
  String u("ab");
  EXPECT_EQ(2, u.gsub(Regex("^"), "^"));
  EXPECT_STREQ("^a^b", u);
  String accent("\xc3\xa9t\xc3\xa9");  // an empty match steps over whole characters
  EXPECT_EQ(3, accent.gsub(Regex("x*"), "|"));
  EXPECT_STREQ("|\xc3\xa9|t|\xc3\xa9", accent);
}

// Segments on which each search of the pattern below takes millions of steps, but fewer
// than one search may take.
String slow_segments() {
  std::string text;
  for (int i = 0; i < 200; ++i) text += std::string(19, 'a') + "b";
  return String(text.c_str());
}
const char* const slow_pattern = "\\(a+\\)+c\\|b";

TEST(StringPatterns, RepeatedSearchesShareOneStepBudget) {
  {
    Messages m;
    String s = slow_segments();
    const int replaced = s.gsub(Regex(slow_pattern), "B");
    EXPECT_LT(replaced, 200);
    EXPECT_EQ(std::vector<std::string>{"match step limit exceeded"}, m.all());
    const std::string after(s);
    EXPECT_EQ(replaced, std::count(after.begin(), after.end(), 'B'));  // what was replaced stays so
  }
  {
    Messages m;
    String fields[300];
    const int n = split(slow_segments(), fields, 300, Regex(slow_pattern));
    EXPECT_LT(n, 200);
    EXPECT_EQ(std::vector<std::string>{"match step limit exceeded"}, m.all());
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(19, 'a'), std::string(fields[0]));
    EXPECT_EQ(4000 - (n - 1) * 20, fields[n - 1].length());  // the rest is the last field
  }
  {
    // Many cheap searches of the largest String stay well within the budget.
    Messages m;
    std::string text;
    while (text.size() + 2 <= 1048562) text += "7,";
    String s(text.c_str());
    EXPECT_EQ(524281, s.gsub(Regex("[0-9]+"), "x"));
    String fields[8];
    EXPECT_EQ(8, split(s, fields, 8, Regex(",")));
    EXPECT_TRUE(m.all().empty());
  }
}

TEST(StringPatterns, PlainGsubInAllItsForms) {
  String s("abcab");
  EXPECT_EQ(2, s.gsub("ab", "x"));
  EXPECT_STREQ("xcx", s);
  String pat("x"), repl("yy");
  EXPECT_EQ(2, s.gsub(pat, repl));
  EXPECT_STREQ("yycyy", s);
  EXPECT_EQ(2, s.gsub(pat = "yy", "z"));
  EXPECT_STREQ("zcz", s);
  EXPECT_EQ(1, s.gsub("c", repl));
  EXPECT_STREQ("zyyz", s);
  EXPECT_EQ(2, s.gsub(s.at(0, 1), "q"));  // a window on the string itself
  EXPECT_STREQ("qyyq", s);
  String other("yy-");
  EXPECT_EQ(1, s.gsub(other.at(0, 2), other));
  EXPECT_STREQ("qyy-q", s);
  EXPECT_EQ(0, s.gsub("", "x"));  // an empty search text replaces nothing
  EXPECT_STREQ("qyy-q", s);
  EXPECT_EQ(2, s.gsub("q", ""));
  EXPECT_STREQ("yy-", s);
  String grow("aaa");
  EXPECT_EQ(3, grow.gsub("a", "aa"));
  EXPECT_STREQ("aaaaaa", grow);
}

TEST(StringPatterns, GsubWordsReplacesWholeWordsOnly) {
  String s("ab abc cab ab");
  EXPECT_EQ(2, s.gsub_words("ab", "x"));
  EXPECT_STREQ("x abc cab x", s);
  String t("a_b a-b a.b");
  EXPECT_EQ(2, t.gsub_words(String("b"), String("B")));
  EXPECT_STREQ("a_b a-B a.B", t);
  String u("x1 x x");
  EXPECT_EQ(2, u.gsub_words(u.at(3, 1), "y"));
  EXPECT_STREQ("x1 y y", u);
  EXPECT_EQ(0, u.gsub_words("", "z"));
}

TEST(StringPatterns, TrimAndSqueeze) {
  String s("  a\t\nb\r");
  s.squeeze();
  EXPECT_STREQ("a b", s);
  String t(" \t x  y \n");
  t.trim();
  EXPECT_STREQ("x  y", t);
  String v("\va\f");  // vertical tab and form feed are not blanks here
  v.squeeze();
  EXPECT_STREQ("\va\f", v);
  String blank(" \t\r\n");
  blank.squeeze();
  EXPECT_STREQ("", blank);
  String empty;
  empty.trim();
  EXPECT_STREQ("", empty);
}

TEST(StringPatterns, Split) {
  String fields[10];
  EXPECT_EQ(4, split(String("ab,cd,,e"), fields, 10, Regex(",")));
  EXPECT_STREQ("ab", fields[0]);
  EXPECT_STREQ("cd", fields[1]);
  EXPECT_STREQ("", fields[2]);
  EXPECT_STREQ("e", fields[3]);
  EXPECT_EQ(2, split(String(",a"), fields, 10, Regex(",")));
  EXPECT_STREQ("", fields[0]);
  EXPECT_STREQ("a", fields[1]);
  EXPECT_EQ(1, split(String("a,"), fields, 10, Regex(",")));
  EXPECT_STREQ("a", fields[0]);
  EXPECT_EQ(2, split(String("a b\t c d"), fields, 2, whitespace_pattern));
  EXPECT_STREQ("b", fields[1]);
  EXPECT_EQ(0, split(String(""), fields, 10, Regex(",")));
  EXPECT_EQ(3, split(String("abc"), fields, 10, Regex("x*")));  // an empty separator splits characters
  EXPECT_STREQ("a", fields[0]);
  EXPECT_STREQ("c", fields[2]);
  fields[0] = "p q";
  EXPECT_EQ(2, split(fields[0], fields, 10, Regex(" ")));  // the text may be one of the fields
  EXPECT_STREQ("p", fields[0]);
  EXPECT_STREQ("q", fields[1]);
}

TEST(StringPatterns, GroupsAndTheirPositions) {
  Regex assignment("\\([a-z]+\\)=\\([0-9]+\\)");
  String res[5];
  EXPECT_EQ(2, groups(String("key=42"), res, 5, assignment));
  EXPECT_STREQ("key", res[0]);
  EXPECT_STREQ("42", res[1]);
  int start[3], length[3];
  EXPECT_EQ(2, group_positions(String("  ab=7"), start, length, 3, assignment));
  EXPECT_EQ(2, start[0]);
  EXPECT_EQ(2, length[0]);
  EXPECT_EQ(5, start[1]);
  EXPECT_EQ(1, length[1]);
  EXPECT_EQ(0, groups(String("no match"), res, 5, assignment));
  EXPECT_EQ(1, groups(String("b"), res, 5, Regex("\\(b\\)\\(a\\)*\\(c\\)*")));  // group 2 did not take part
  EXPECT_EQ(0, groups(String("a"), res, 5, Regex("\\(x\\)*a")));
}

TEST(StringPatterns, SubStringSearchesOnlyItsWindow) {
  String s("abc 123 def");
  const SubString middle = s.at(3, 5);
  EXPECT_EQ(1, middle.contains(integer_pattern));
  EXPECT_EQ(0, middle.matches(integer_pattern));
  EXPECT_EQ(1, s.at(4, 3).matches(integer_pattern));
  EXPECT_EQ(0, s.at(0, 3).contains(integer_pattern));
  EXPECT_EQ(0, s.at(0, 0).contains(alpha_pattern));  // an empty window holds no letter
  EXPECT_EQ(1, s.at(11, 0).contains(Regex("x*")));
  EXPECT_EQ(0, s.at(4, 2).matches(Regex("123")));
}

TEST(StringPatterns, AMatchStartingInsideACharacterStartsAtTheCharacter) {
  String s("x\xc3\xa9y");
  Regex continuation("[\x80-\xbf]");
  EXPECT_EQ(1, s.index(continuation));
  EXPECT_EQ("\xc3\xa9", text(s.at(continuation)));
  int start, length;
  ASSERT_TRUE(continuation.group_info(start, length, 0));
  EXPECT_EQ(1, start);
  EXPECT_EQ(2, length);
  EXPECT_EQ(2, s.index(continuation, 2));  // not before where the search began
  String stray("\xc3\xa9\xa9");  // a stray continuation byte after a whole character
  EXPECT_EQ(2, stray.index(Regex("\xa9$")));
}

TEST(StringPatterns, APatternThatDoesNotCompileFailsEverySearch) {
  Messages m;
  Regex broken("\\(a");
  String s("aaa");
  EXPECT_EQ(-1, s.index(broken));
  EXPECT_EQ(0, s.contains(broken));
  EXPECT_FALSE(s.at(broken).found());
  EXPECT_EQ(0, s.gsub(broken, "b"));
  EXPECT_EQ(4u, m.all().size());
  for (const std::string& message : m.all()) EXPECT_EQ("unmatched ()", message);
  int start, length;
  EXPECT_FALSE(broken.group_info(start, length, 0));
  EXPECT_EQ(-1, start);
}

TEST(StringPatterns, CopiesAreUncompiledPatternsOfTheSameText) {
  Regex a("[0-9]+");
  Regex b(a);
  Regex c("x");
  c = a;
  EXPECT_STREQ("[0-9]+", c.pattern());
  int matchlen;
  EXPECT_EQ(2, b.search("ab123", 5, matchlen, 0));
  EXPECT_EQ(3, matchlen);
  EXPECT_EQ(3, c.match_length("ab123", 5, 0));
  EXPECT_EQ(-1, c.match_length("ab", 2, 0));
  EXPECT_EQ(-1, a.search("ab123", 5, matchlen, 5));  // the end of a non-empty text
  EXPECT_EQ(0, matchlen);
}

TEST(StringPatterns, ErrorsReachTheLogUnderRegexp) {
  testing::internal::CaptureStderr();
  Regex broken("[z-a]");
  String("abc").index(broken);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("regexp")) << err;
  EXPECT_NE(std::string::npos, err.find("invalid [] range")) << err;
  EXPECT_NE(std::string::npos, err.find("ERROR")) << err;
}

}  // namespace
