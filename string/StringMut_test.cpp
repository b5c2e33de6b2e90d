// Case and order: reverse(), upcase(), downcase() and capitalize(), with the records
// their failures write (read back from the log on standard error).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "string/String.h"
#include "string/internal/string_internal.h"
#include "tests/support/log_capture.h"

namespace {

// The records written while the object lives, as "source: text".
class LogCapture {
 public:
  std::vector<std::string> records() {
    std::vector<std::string> found;
    for (const stringtest::Record& r : capture_.records()) found.push_back(r.source + ": " + r.text);
    return found;
  }

 private:
  stringtest::LogCapture capture_;
};

std::vector<std::string> report_texts;
void observe(int, const char* text) { report_texts.push_back(text); }

// A handle that was never constructed, pointing at a block that is no representation.
class CorruptHandle {
 public:
  CorruptHandle() {
    std::memset(block_, 0, sizeof block_);
    const std::int32_t capacity = 17;
    std::memcpy(block_, &capacity, 4);
    StringRep* rep = reinterpret_cast<StringRep*>(block_);
    std::memcpy(storage_, &rep, sizeof rep);
  }
  String& operator*() { return *reinterpret_cast<String*>(storage_); }

 private:
  alignas(8) unsigned char block_[32];
  alignas(String) unsigned char storage_[sizeof(String)];
};

TEST(StringReverse, KeepsTheBytesOfEachCharacterInOrder) {
  String s("a\xC3\xA9");
  s.reverse();
  EXPECT_STREQ("\xC3\xA9" "a", s);
  String t("x\xF0\x9F\x98\x80\xE2\x82\xAC" "yz");
  t.reverse();
  EXPECT_STREQ("zy\xE2\x82\xAC\xF0\x9F\x98\x80x", t);
  String empty("");
  empty.reverse();
  EXPECT_STREQ("", empty);
}

TEST(StringReverse, ChangesOnlyItsOwnCopy) {
  String a("abc");
  String b(a);
  b.reverse();
  EXPECT_STREQ("abc", a);
  EXPECT_STREQ("cba", b);
  EXPECT_EQ(1, a.rep()->references);
}

TEST(StringReverse, AnInvalidCharacterLeavesTheStringAsItWas) {
  String s("ab\xFF" "cd");
  LogCapture log;
  s.reverse();
  EXPECT_STREQ("ab\xFF" "cd", s);
  const std::vector<std::string> expected = {
      "String: 55555, Invalid characters encounter in \xFF" "cd", "String: Invalid characters encounter in \xFF" "cd",
      "StringMut: String::reverse() failed due to invalid character found at position 2 in string: ab\xFF" "cd"};
  EXPECT_EQ(expected, log.records());
}

TEST(StringCase, UpcaseAndDowncaseChangeOneByteCharactersOnly) {
  String s("abc \xC3\xA9 xyz");
  s.upcase();
  EXPECT_STREQ("ABC \xC3\xA9 XYZ", s);
  s.downcase();
  EXPECT_STREQ("abc \xC3\xA9 xyz", s);
}

TEST(StringCase, UpcaseStopsAtAnInvalidCharacterAndKeepsWhatItChanged) {
  String s("abc\xA9" "def");
  String copy(s);
  LogCapture log;
  s.upcase();
  EXPECT_STREQ("ABC\xA9" "def", s);
  EXPECT_STREQ("abc\xA9" "def", copy);
  const std::vector<std::string> expected = {
      "String: 55555, Invalid characters encounter in \xA9" "def", "String: Invalid characters encounter in \xA9" "def",
      "StringMut: String::upcase() failed at position 3 due to invalid character in string: ABC\xA9" "def"};
  EXPECT_EQ(expected, log.records());
}

TEST(StringCase, DowncaseNamesTheLongestCharacterInItsRecord) {
  String s("AB\xC3(CD");
  LogCapture log;
  s.downcase();
  EXPECT_STREQ("ab\xC3(CD", s);
  const std::vector<std::string> expected = {
      "String: Invalid characters encounter in \xC3(CD",
      "StringMut: String::downcase() failed at position 2 due to invalid character in string: 'ab\xC3(CD'. "
      "String does not form a valid multibyte character within the first " +
          std::to_string(MB_CUR_MAX) + " characters."};
  EXPECT_EQ(expected, log.records());
}

TEST(StringCase, CapitalizeStartsEachWordWithACapital) {
  const struct { const char* in; const char* out; } cases[] = {
      {"hello world", "Hello World"},
      {"HELLO world", "hello World"},
      {"x1y z", "X1y Z"},
      {"it's-a test", "It'S-A Test"},
      {"r\xC3\xA9sum\xC3\xA9 ok", "R\xC3\xA9sum\xC3\xA9 Ok"},
      {"", ""},
  };
  for (const auto& c : cases) {
    String s(c.in);
    s.capitalize();
    EXPECT_STREQ(c.out, s) << c.in;
  }
}

TEST(StringCase, BadHandlesAreReportedAndLeftAlone) {
  report_texts.clear();
  string_internal::set_report_observer(observe);
  CorruptHandle bad;
  (*bad).reverse();
  (*bad).upcase();
  (*bad).downcase();
  (*bad).capitalize();
  string_internal::set_report_observer(nullptr);
  std::vector<std::string> messages;
  for (const std::string& t : report_texts)
    if (t.compare(0, 16, "* STRING ERROR: ") == 0) messages.push_back(t.substr(16, t.rfind(' ') - 16));
  const std::vector<std::string> expected = {"reverse bad string", "upcase bad string", "downcase bad string",
                                             "capitalize bad string"};
  EXPECT_EQ(expected, messages);
}

}  // namespace
