// Misuse: corrupt handles, invalid windows, oversize requests, and the reports they make.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "string/String.h"
#include "string/internal/string_internal.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"
#include "tests/support/scoped_override.h"

namespace {

std::vector<std::pair<int, std::string>> records;

void observe(int level, const char* text) { records.emplace_back(level, text); }

// Collects the module's records for the life of the object.
class Reports {
 public:
  Reports() {
    records.clear();
    string_internal::set_report_observer(observe);
  }
  ~Reports() { string_internal::set_report_observer(nullptr); }
  // The messages of the "* STRING ERROR: " records, without their numbers.
  std::vector<std::string> errors() const {
    std::vector<std::string> found;
    for (const auto& r : records) {
      if (r.second.compare(0, 16, "* STRING ERROR: ") != 0) continue;
      found.push_back(r.second.substr(16, r.second.rfind(' ') - 16));
    }
    return found;
  }
  bool has(const std::string& message) const {
    for (const auto& e : errors())
      if (e == message) return true;
    return false;
  }
};

// A fake representation block: a header with chosen counts, then text.
struct FakeRep {
  alignas(8) unsigned char bytes[64];
  FakeRep(std::int32_t capacity, std::int32_t length) {
    std::memset(bytes, 'F', sizeof bytes);
    std::memcpy(bytes, &capacity, 4);
    std::memcpy(bytes + 4, &length, 4);
    const std::int32_t references = 1;
    std::memcpy(bytes + 8, &references, 4);
    bytes[12] = 0;
    bytes[13 + 5] = 0;
  }
  StringRep* rep() { return reinterpret_cast<StringRep*>(bytes); }
};

// A handle that was never constructed, holding whatever pointer it is given.
class CorruptHandle {
 public:
  explicit CorruptHandle(StringRep* rep) { std::memcpy(storage_, &rep, sizeof rep); }
  String& operator*() { return *reinterpret_cast<String*>(storage_); }

 private:
  alignas(String) unsigned char storage_[sizeof(String)];
};

struct BadCase {
  const char* what;
  std::int32_t capacity, length;
  bool null;
};

const BadCase bad_cases[] = {
    {"null pointer", 0, 0, true},
    {"capacity 17", 17, 3, false},
    {"length above capacity", 18, 19, false},
    {"capacity 1,048,563", 1048563, 5, false},
    {"negative length", 18, -4, false},
    {"capacity of no size class", 100, 4, false},
};

TEST(StringMisuse, CorruptHandlesReadAsEmptyAndAreNeverWritten) {
  for (const BadCase& c : bad_cases) {
    SCOPED_TRACE(c.what);
    FakeRep fake(c.capacity, c.length);
    const FakeRep before = fake;
    CorruptHandle bad(c.null ? nullptr : fake.rep());
    String& s = *bad;
    Reports reports;

    EXPECT_EQ(0, s.length());
    EXPECT_TRUE(reports.has("bad string in String::length()"));
    EXPECT_STREQ("", static_cast<const char*>(s));
    EXPECT_TRUE(reports.has("bad string"));
    EXPECT_EQ(-1, s.index("F"));
    EXPECT_EQ(0, s.contains("F"));
    EXPECT_TRUE(reports.has("bad string in String::contains(const char *)"));
    EXPECT_EQ(0, s.contains("F", 0));
    EXPECT_TRUE(reports.has("bad string in String::contains(char *, int)"));
    EXPECT_EQ(0, s.matches("F", 0));
    EXPECT_TRUE(reports.has("bad string in String::matches (const char*, int)"));
    EXPECT_EQ(0, s.firstchar());
    EXPECT_EQ(0, s.lastchar());
    EXPECT_EQ(0, s.allocation());
    EXPECT_EQ(1, s.empty());
    EXPECT_EQ(0, s[0]);
    EXPECT_EQ(0, s.elem(0));
    for (const char* m : {"bad string in String::firstchar()", "bad string in String::lastchar()",
                          "bad string in String::allocation", "bad string in String::empty()",
                          "invalid index into String::operator[]", "invalid index into String::elem()"})
      EXPECT_TRUE(reports.has(m)) << m;
    EXPECT_FALSE(s.at(0, 1).found());
    EXPECT_EQ(s.hash(31), String().hash(31));

    String copy(s);
    EXPECT_TRUE(reports.has("Tried to make a string from a bogus string"));
    EXPECT_STREQ("", copy);
    EXPECT_NE(StringRep::empty(), copy.rep());

    String target("kept");
    target = s;
    EXPECT_TRUE(reports.has("Tried to assign from a bad string"));
    EXPECT_STREQ("kept", target);
    target += s;
    EXPECT_STREQ("kept", target);
    EXPECT_STREQ("kept", target + s);
    EXPECT_STREQ("kept", "kept" + s);
    EXPECT_EQ(0, target.contains(s));
    EXPECT_EQ(0, std::memcmp(before.bytes, fake.bytes, sizeof fake.bytes));

    // Changing a corrupt handle starts over from the empty text.
    CorruptHandle appended(c.null ? nullptr : fake.rep());
    *appended += "x";
    EXPECT_STREQ("x", *appended);
    CorruptHandle one_byte(c.null ? nullptr : fake.rep());
    *one_byte += 'y';
    EXPECT_STREQ("y", *one_byte);
    CorruptHandle assigned(c.null ? nullptr : fake.rep());
    *assigned = "abc";
    EXPECT_STREQ("abc", *assigned);
    EXPECT_EQ(0, std::memcmp(before.bytes, fake.bytes, sizeof fake.bytes));
    (*appended).~String();
    (*one_byte).~String();
    (*assigned).~String();
    StringRep::release(fake.rep());
    EXPECT_EQ(0, std::memcmp(before.bytes, fake.bytes, sizeof fake.bytes));
  }
}

TEST(StringMisuse, InvalidWindows) {
  String s("abcdef");
  Reports reports;
  SubString stale = s.at(2, 4);
  s = "ab";
  stale = "zz";
  EXPECT_TRUE(reports.has("assigning to corrupted substring"));
  EXPECT_STREQ("ab", s);

  SubString crooked(s, 1, -1);
  crooked = String("q");
  EXPECT_STREQ("ab", s);
  EXPECT_EQ(0, crooked.length());
  EXPECT_STREQ("", crooked.text());
  EXPECT_EQ(-1, crooked.index("a"));
  EXPECT_TRUE(reports.has("Searching corrupt substring"));

  String from(crooked);
  EXPECT_TRUE(reports.has("Tried to make a string from a bogus string"));
  EXPECT_STREQ("", from);

  String target("kept");
  target = crooked;
  EXPECT_TRUE(reports.has("Tried to assign from a bad substring"));
  EXPECT_STREQ("", target);
  EXPECT_NE(StringRep::empty(), target.rep());

  SubString far(s, 3, 0);
  s.at(0, 1) = far;
  EXPECT_STREQ("ab", s);
}

TEST(StringMisuse, WindowOnACorruptString) {
  FakeRep fake(17, 3);
  CorruptHandle bad(fake.rep());
  SubString w(*bad, 0, 1);
  Reports reports;
  w = "x";
  EXPECT_TRUE(reports.has("assigning to corrupted substring"));
  EXPECT_EQ(17, fake.rep()->capacity);
  EXPECT_EQ('F', fake.bytes[13]);
}

// Without a logger nothing is written and the process goes on: the oversize request must
// still never write past a block.
class NoLogger {
  testsupport::ScopedOverride<LOGGER_QK*> no_logger_{stdlog, nullptr};
};

// A fatal string report on standard error: the two records the logger writes there (each
// "LoggerQK: " and a 99-character prefix), an empty line, and the fatal message behind the
// prefix of its record. The process ends with 999.
void expect_fatal_report(const testsupport::Run& r, const std::string& message) {
  EXPECT_EQ(testsupport::observed_exit_code(999), static_cast<int>(r.exit_code)) << r.err;
  std::vector<std::string> lines;
  for (std::size_t at = 0; at <= r.err.size();) {
    const std::size_t end = std::min(r.err.find('\n', at), r.err.size());
    lines.push_back(r.err.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(4u, lines.size()) << r.err;
  const std::size_t tag = 10, prefix = 99;
  EXPECT_EQ("LoggerQK: ", lines[0].substr(0, tag));
  EXPECT_EQ("***************", lines[0].substr(tag + prefix));
  EXPECT_EQ("LoggerQK: ", lines[1].substr(0, tag));
  EXPECT_EQ("* STRING ERROR: " + message, lines[1].substr(tag + prefix));
  EXPECT_EQ("FATAL", lines[1].substr(tag + 59, 5));
  EXPECT_EQ("", lines[2]);
  EXPECT_EQ(lines[1].substr(tag, prefix) + " * STRING ERROR: " + message, lines[3]);
}

TEST(DISABLED_ChildScenario, StringTooBig) { StringRep::create(nullptr, 1048563); }

TEST(StringMisuse, StringTooBigEndsTheRun) {
  expect_fatal_report(testsupport::run_child("StringTooBig"), "String too big 1048563");
}

TEST(StringMisuse, RequestsBeyondTheLargestBlockNeverOverrun) {
  NoLogger quiet;
  Reports reports;
  StringRep* rep = StringRep::create(nullptr, 1048563);
  ASSERT_EQ(1u, reports.errors().size());
  EXPECT_EQ("* STRING ERROR: String too big 1048563", records[1].second);
  EXPECT_EQ(FATAL, records[1].first);
  EXPECT_EQ(FATAL, records[2].first);
  EXPECT_EQ(0, rep->length);
  EXPECT_EQ(18, rep->capacity);
  StringRep::release(rep);

  const std::string largest(1048562, 'L');
  String s(largest.c_str());
  EXPECT_EQ(1048562, s.allocation());
  s += 'x';
  s += "yz";
  s += s;
  EXPECT_EQ(1048562, s.length());
  EXPECT_EQ(s.length(), static_cast<int>(std::strlen(s)));
  s.at(0, 0) = "w";
  EXPECT_EQ(1048562, s.length());
  EXPECT_EQ('L', s.firstchar());
  EXPECT_EQ(1, ("q" + s).length());  // the left operand, nothing appended
  EXPECT_EQ(1048562, (s + "q").length());
  String half(std::string(600000, 'h').c_str());
  half += half;
  EXPECT_EQ(600000, half.length());
  EXPECT_TRUE(reports.has("String too big"));
  StringRep* big = StringRep::enlarge(StringRep::create("abc", 3), 1048562);
  EXPECT_EQ(18, big->capacity);
  StringRep::release(big);
}

TEST(StringReports, ThreeRecordsAtErrorErrorSevere) {
  Reports reports;
  string_error(42, "bad string", ERROR);
  ASSERT_EQ(3u, records.size());
  if (std::getenv("QK_FATAL_STRING_ERROR")) GTEST_SKIP() << "QK_FATAL_STRING_ERROR is set";
  EXPECT_EQ(std::make_pair(static_cast<int>(ERROR), std::string("***************")), records[0]);
  EXPECT_EQ(std::make_pair(static_cast<int>(ERROR), std::string("* STRING ERROR: bad string 42")), records[1]);
  EXPECT_EQ(std::make_pair(static_cast<int>(SEVERE_ERROR), std::string("***************")), records[2]);
}

TEST(StringReports, WarningsAreOneRecord) {
  Reports reports;
  string_warning("odd text");
  string_warning("odd number", 7);
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(WARNING, records[0].first);
  EXPECT_EQ("String warning:  odd text", records[0].second);
  EXPECT_EQ("String warning:  odd number 7", records[1].second);
}

// QK_FATAL_STRING_ERROR is read once per run: these checks run in fresh processes.
TEST(DISABLED_ChildScenario, StringReportUnderFatalSetting) {
  NoLogger quiet;
  Reports reports;
  string_error(7, "bad string", ERROR);
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ(ERROR, records[0].first);
  EXPECT_EQ(FATAL, records[1].first);
  EXPECT_EQ(FATAL, records[2].first);
  testsupport::set_env("QK_FATAL_STRING_ERROR", nullptr);
  string_error(8, "bad string", ERROR);  // still fatal: the answer is kept
  ASSERT_EQ(6u, records.size());
  EXPECT_EQ(FATAL, records[4].first);
}

TEST(StringReports, FatalSettingRaisesTheMessageToFatal) {
  const testsupport::Run r = testsupport::run_child(
      "StringReportUnderFatalSetting", testsupport::ChildOptions().set("QK_FATAL_STRING_ERROR", "1"));
  EXPECT_EQ(0u, r.exit_code) << r.err;
}

TEST(DISABLED_ChildScenario, StringReportWithFatalSetting) { string_error(7, "bad string", ERROR); }

TEST(StringReports, FatalSettingEndsTheRunAtTheFirstReport) {
  const testsupport::Run r = testsupport::run_child(
      "StringReportWithFatalSetting", testsupport::ChildOptions().set("QK_FATAL_STRING_ERROR", "1"));
  expect_fatal_report(r, "bad string 7");
}

TEST(StringTrace, PatternGlob) {
  using string_internal::trace_pattern_match;
  using string_internal::TRACE_MATCH;
  using string_internal::TRACE_NO_MATCH;
  using string_internal::TRACE_STOP;
  EXPECT_EQ(TRACE_MATCH, trace_pattern_match("*", "anything", 8));
  EXPECT_EQ(TRACE_MATCH, trace_pattern_match("abc*", "abcdef", 6));
  EXPECT_EQ(TRACE_MATCH, trace_pattern_match("a?c", "abc", 3));
  EXPECT_EQ(TRACE_MATCH, trace_pattern_match("a*ef", "abcdef", 6));
  EXPECT_EQ(TRACE_MATCH, trace_pattern_match("ab*", "ab", 2));
  EXPECT_EQ(TRACE_STOP, trace_pattern_match("a*xf", "abcdef", 6));  // no backtracking
  EXPECT_EQ(TRACE_STOP, trace_pattern_match("ab", "abc", 3));       // text left over
  EXPECT_EQ(TRACE_STOP, trace_pattern_match("x", "abc", 3));
  EXPECT_EQ(TRACE_STOP, trace_pattern_match("a*cdefgh", "abc", 3));  // too short for the rest
  EXPECT_EQ(TRACE_NO_MATCH, trace_pattern_match("abcd", "abc", 3));
  EXPECT_EQ(TRACE_NO_MATCH, trace_pattern_match("abc", "", 0));
  EXPECT_EQ(TRACE_MATCH, trace_pattern_match("", "", 0));
}

TEST(StringTrace, RecordsAreReusedWhenBigEnough) {
  void* slot = nullptr;
  string_internal::store_trace(slot, "a.cpp:10;");
  ASSERT_NE(nullptr, slot);
  std::uint32_t size;
  std::memcpy(&size, slot, 4);
  EXPECT_EQ(9u + 8u, size);
  EXPECT_STREQ("a.cpp:10;", static_cast<char*>(slot) + 4);
  void* first = slot;
  string_internal::store_trace(slot, "b.cpp:1;");
  EXPECT_EQ(first, slot);
  EXPECT_STREQ("b.cpp:1;", static_cast<char*>(slot) + 4);
  string_internal::clear_trace(slot);
  EXPECT_STREQ("", static_cast<char*>(slot) + 4);
  string_internal::store_trace(slot, "a much longer trace text.cpp:12;");
  std::memcpy(&size, slot, 4);
  EXPECT_EQ(32u + 8u, size);
  std::free(slot);
}

TEST(StringTrace, SwitchOnKeepsResultsTheSame) {
  string_debug_switches(1, 0);
  String s("abc");
  s += 'd';
  s += "ef";
  s.at(0, 1) = "A";
  string_debug_switches(0, 0);
  EXPECT_STREQ("Abcdef", s);
}

}  // namespace
