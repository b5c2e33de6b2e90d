// UTF-8 routines: the length routine and its records, counting, the last character,
// collation, code-page conversions, opening by UTF-8 name, and the one-character
// converter to UTF-16, with the records they write.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/process/process.h"
#include "string/String.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {

using stringtest::LogCapture;
using stringtest::Record;

Record error(const std::string& text) { return {"ERROR", "String", text}; }

// ----- An independent model of the character rules -----
//
// Leading one bits of the lead byte give the length (0: one byte, 2 to 4: that many, 1 or
// more than 4: invalid); every later byte must be 10xxxxxx; the value is judged only by
// its low 16 bits. Overlong forms and values up to 0x1FFFFF pass.
struct Model {
  int length;     // 1 to 4, 0 at the NUL, -1 invalid
  int records;    // 0, 1 or 2
};

Model model(const unsigned char* p) {
  if (p[0] == 0) return {0, 0};
  int ones = 0;
  while (ones < 8 && (p[0] & (0x80 >> ones))) ++ones;
  if (ones == 0) return {1, 0};
  if (ones == 1 || ones > 4) return {-1, 2};
  unsigned value = p[0] & ((1u << (7 - ones)) - 1);
  for (int i = 1; i < ones; ++i) {
    if ((p[i] >> 6) != 2) return {-1, 1};
    value = value * 64 + (p[i] % 64);
  }
  const unsigned low = value % 65536;
  if (low == 0xFFFE || low == 0xFFFF || (low >= 0xD800 && low < 0xE000)) return {-1, 1};
  return {ones, 0};
}

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

TEST(Utf8CharLength, ValidCharactersOfEachLength) {
  LogCapture log;
  EXPECT_EQ(1, utf8_char_length("A"));
  EXPECT_EQ(2, utf8_char_length("\xC3\xA9"));
  EXPECT_EQ(3, utf8_char_length("\xE2\x82\xAC"));
  EXPECT_EQ(4, utf8_char_length("\xF0\x9F\x98\x80"));
  EXPECT_EQ(2, utf8_char_length("\xC0\x80"));          // an overlong 0 is accepted
  EXPECT_EQ(4, utf8_char_length("\xF7\xBF\xBF\xBD"));  // 0x1FFFFD: beyond Unicode, accepted
  EXPECT_EQ(0, utf8_char_length(""));
  EXPECT_EQ(0, utf8_char_length(nullptr));
  EXPECT_TRUE(log.records().empty());
}

TEST(Utf8CharLength, AFollowingByteInLeadPositionWritesBothRecords) {
  LogCapture log;
  EXPECT_EQ(-1, utf8_char_length("\xA9xyz"));
  const std::vector<Record> expected = {error("55555, Invalid characters encounter in \xA9xyz"),
                                        error("Invalid characters encounter in \xA9xyz")};
  EXPECT_EQ(expected, log.records());
}

TEST(Utf8CharLength, BadFollowingByteOrRefusedValueWritesOneRecord) {
  const char* cases[] = {"\xC3(", "\xE2\x82", "\xEF\xBF\xBE", "\xEF\xBF\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                         "\xF0\x9D\xA0\x80" /* 0x1D800: low 16 bits a surrogate */, "\xF1\x8F\xBF\xBE"};
  for (const char* c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c)));
    LogCapture log;
    EXPECT_EQ(-1, utf8_char_length(c));
    EXPECT_EQ(std::vector<Record>{error(std::string("Invalid characters encounter in ") + c)}, log.records());
  }
}

// Every lead byte followed by every kind of following byte: low and high continuation
// ranges, the ones that make 0xxD and 0xxF nibbles, BE and BF, and non-continuations (a
// NUL cuts the text short). Each text ends in "!".
std::vector<std::string> lead_byte_texts() {
  const int following[] = {0x80, 0x8D, 0x9F, 0xA0, 0xBE, 0xBF, 0x00, 0x41, 0xC3};
  std::vector<std::string> inputs;
  for (int lead = 1; lead < 256; ++lead) {
    const int k = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 1;
    std::vector<std::string> texts = {bytes({lead})};
    for (int i = 1; i < k; ++i) {
      std::vector<std::string> longer;
      for (const std::string& t : texts) {
        if (t.size() < static_cast<std::size_t>(i)) {  // already cut short by a NUL
          longer.push_back(t);
          continue;
        }
        for (int f : following) longer.push_back(f ? t + static_cast<char>(f) : t);
      }
      texts = longer;
    }
    for (std::string& t : texts) inputs.push_back(t + "!");
  }
  return inputs;
}

TEST(Utf8CharLength, EveryLeadByteWithEveryKindOfFollowingByteAgreesWithTheModel) {
  const std::vector<std::string> inputs = lead_byte_texts();
  std::vector<Record> expected;
  LogCapture log;
  for (const std::string& t : inputs) {
    const Model m = model(reinterpret_cast<const unsigned char*>(t.c_str()));
    ASSERT_EQ(m.length, utf8_char_length(t.c_str())) << testing::PrintToString(t);
    if (m.records == 2) expected.push_back(error("55555, Invalid characters encounter in " + t));
    if (m.records >= 1) expected.push_back(error("Invalid characters encounter in " + t));
  }
  const std::vector<Record> got = log.records();
  ASSERT_EQ(expected.size(), got.size());
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(expected[i], got[i]) << i;
  EXPECT_GT(inputs.size(), 6000u);
}

// ----- Counting -----

// The character-by-character walk that counting must agree with.
int walk_count(const char* s) {
  int n = 0;
  while (*s) {
    const int k = utf8_char_length(s);
    n += k > 0;
    s += k > 0 ? k : 1;
  }
  return n;
}

// Random text of valid characters of every length, the refused values, overlong forms and
// stray bytes, in runs long enough to cross the counting words.
std::string random_text(std::mt19937& random, int pieces) {
  static const char* const kinds[] = {"a", "Z", " ", "\xC3\xA9", "\xC0\x80", "\xE2\x82\xAC", "\xE4\xB8\xAD",
                                      "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBD", "\xED\xA0\x80", "\xEF\xBF\xBE",
                                      "\xEF\xBF\xBF", "\xF0\x9D\xA0\x80", "\xF0\x9F\xBF\xBF", "\x80", "\xBF",
                                      "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xF8", "\xFF", "\xEF\xBF\xBD",
                                      "\xED\x9F\xBF", "abcdefgh", "12345678901234567890123456789012"};
  std::string text;
  const int n = static_cast<int>(sizeof kinds / sizeof kinds[0]);
  const int valid_only = random() % 3 == 0 ? 9 : n;  // some texts mostly valid
  for (int i = 0; i < pieces; ++i) {
    int k = static_cast<int>(random() % n);
    if (valid_only < n && k >= 9 && k < 22 && random() % 8) k = static_cast<int>(random() % 9);
    text += kinds[k];
  }
  return text;
}

TEST(Utf8CharCount, CountsValidCharactersAndSkipsInvalidBytes) {
  LogCapture log;
  EXPECT_EQ(2, utf8_char_count("a\xA9" "b"));
  EXPECT_EQ(0, utf8_char_count(""));
  EXPECT_EQ(0, utf8_char_count(nullptr));
  EXPECT_EQ(4, utf8_char_count("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"));
  const std::vector<Record> expected = {error("55555, Invalid characters encounter in \xA9" "b"),
                                        error("Invalid characters encounter in \xA9" "b")};
  EXPECT_EQ(expected, log.records());
}

TEST(Utf8CharCount, AgreesWithTheWalkInResultAndRecords) {
  std::mt19937 random(2024);
  for (int round = 0; round < 800; ++round) {
    const std::string text = random_text(random, 1 + static_cast<int>(random() % 60));
    // Start the text at every alignment.
    const std::string shifted = std::string(round % 8, 'x') + text;
    int expected_count, count;
    std::vector<Record> expected, got;
    {
      LogCapture log;
      expected_count = walk_count(shifted.c_str());
      expected = log.records();
    }
    {
      LogCapture log;
      count = utf8_char_count(shifted.c_str());
      got = log.records();
    }
    ASSERT_EQ(expected_count, count) << testing::PrintToString(shifted);
    ASSERT_EQ(expected, got) << testing::PrintToString(shifted);
  }
}

TEST(Utf8CharCount, EveryLeadByteFormAgreesWithTheWalkAtEveryAlignment) {
  std::vector<std::string> texts;
  for (const std::string& t : lead_byte_texts())
    for (int shift = 0; shift < 8; shift += 3)
      texts.push_back(std::string(static_cast<std::size_t>(shift), 'x') + "\xE4\xB8\xAD" + t + "\xF0\x9F\x98\x80" "abcdefgh");
  std::vector<int> walked, counted;
  std::vector<Record> walk_records, count_records;
  {
    LogCapture log;
    for (const std::string& t : texts) walked.push_back(walk_count(t.c_str()));
    walk_records = log.records();
  }
  {
    LogCapture log;
    for (const std::string& t : texts) counted.push_back(utf8_char_count(t.c_str()));
    count_records = log.records();
  }
  for (std::size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(walked[i], counted[i]) << testing::PrintToString(texts[i]);
  ASSERT_EQ(walk_records.size(), count_records.size());
  EXPECT_TRUE(walk_records == count_records);
}

TEST(Utf8CharCount, LongValidTextsOfEachMix) {
  std::string ascii, latin, cjk, emoji;
  for (int i = 0; i < 5000; ++i) {
    ascii += static_cast<char>('a' + i % 26);
    latin += i % 5 ? "e" : "\xC3\xA9";
    cjk += i % 5 ? "\xE4\xB8\xAD" : "a";
    emoji += i % 3 ? "\xF0\x9F\x98\x80" : "b";
  }
  LogCapture log;
  EXPECT_EQ(5000, utf8_char_count(ascii.c_str()));
  EXPECT_EQ(5000, utf8_char_count(latin.c_str()));
  EXPECT_EQ(5000, utf8_char_count(cjk.c_str()));
  EXPECT_EQ(5000, utf8_char_count(emoji.c_str()));
  EXPECT_TRUE(log.records().empty());
}

TEST(Utf8LastChar, StartsAtTheLastLeadButNeverBeforeTheText) {
  const char* s = "a\xC3\xA9";
  EXPECT_EQ(s + 1, utf8_last_char(s));
  const char* t = "ab";
  EXPECT_EQ(t + 1, utf8_last_char(t));
  const char* u = "\x80\x80\x80";
  EXPECT_EQ(u, utf8_last_char(u));
  const char* v = "x\xF0\x9F\x98\x80";
  EXPECT_EQ(v + 1, utf8_last_char(v));
  EXPECT_EQ(nullptr, utf8_last_char(""));
  EXPECT_EQ(nullptr, utf8_last_char(nullptr));
}

// ----- Collation, code pages, files -----

TEST(Utf8Collate, OrdersTextsAndHandsEmptyOnesToStrcoll) {
  EXPECT_EQ(-1, utf8_collate("apple", "banana"));
  EXPECT_EQ(1, utf8_collate("banana", "apple"));
  EXPECT_EQ(0, utf8_collate("caf\xC3\xA9", "caf\xC3\xA9"));
  EXPECT_EQ(std::strcoll("", "x"), utf8_collate("", "x"));
  EXPECT_EQ(std::strcoll("x", ""), utf8_collate("x", ""));
  EXPECT_EQ(0, utf8_collate("", ""));
  EXPECT_EQ(std::strcoll("", "x"), utf8_collate(nullptr, "x"));
}

TEST(CodePageConversion, AsciiRoundTripsThroughBothCodePages) {
  char ansi[64], oem[64], back[64];
  ASSERT_TRUE(utf8_to_ansi("Hello, world 123", -1, ansi, sizeof ansi));
  EXPECT_STREQ("Hello, world 123", ansi);
  ASSERT_TRUE(ansi_to_utf8(ansi, -1, back, sizeof back));
  EXPECT_STREQ("Hello, world 123", back);
  ASSERT_TRUE(utf8_to_oem("Hello", 5, oem, sizeof oem));
  EXPECT_STREQ("Hello", oem);
  ASSERT_TRUE(oem_to_utf8(oem, 3, back, sizeof back));
  EXPECT_STREQ("Hel", back);
}

TEST(CodePageConversion, ACharacterTheCodePageLacksIsAQuestionMark) {
  char ansi[64], back[64];
  ASSERT_TRUE(utf8_to_ansi("caf\xC3\xA9 \xE4\xB8\xAD", -1, ansi, sizeof ansi));
  ASSERT_TRUE(ansi_to_utf8(ansi, -1, back, sizeof back));
  const std::string result = back;
  // é survives where the code page has it; a CJK character only in a UTF-8 locale.
  EXPECT_TRUE(result == "caf\xC3\xA9 ?" || result == "caf? ?" || result == "caf\xC3\xA9 \xE4\xB8\xAD") << result;
}

TEST(CodePageConversion, RefusalsAndEmptyTexts) {
  char out[8] = "zzzzzzz";
  EXPECT_FALSE(utf8_to_ansi(nullptr, 3, out, sizeof out));
  EXPECT_TRUE(utf8_to_ansi("", -1, out, sizeof out));
  EXPECT_STREQ("", out);
  std::strcpy(out, "zz");
  EXPECT_TRUE(oem_to_utf8("abc", 0, out, sizeof out));
  EXPECT_STREQ("", out);
  // The result with its NUL must fit: no cut-short text reported as success.
  EXPECT_FALSE(ansi_to_utf8("abcdefgh", -1, out, sizeof out));
  EXPECT_TRUE(ansi_to_utf8("abcdefg", -1, out, sizeof out));
  EXPECT_STREQ("abcdefg", out);
  EXPECT_FALSE(utf8_to_oem("abc", -1, nullptr, 0));
}

// Run in a child copy of this program: the conversions' results as lines "RESULT <hex>".
TEST(DISABLED_ChildScenario, CodePageConversions) {
  char out[64];
  auto show = [&](bool ok) {
    std::string hex = ok ? "" : "failed";
    char two[3];
    for (const char* p = out; ok && *p; ++p) {
      std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(*p));
      hex += two;
    }
    std::printf("RESULT %s\n", hex.c_str());
  };
  show(utf8_to_ansi("caf\xC3\xA9 \xE4\xB8\xAD", -1, out, sizeof out));
  show(ansi_to_utf8("caf\xE9", -1, out, sizeof out));
  show(utf8_to_oem("\xF0\x9F\x98\x80", -1, out, sizeof out));
}

std::vector<std::string> child_results(const char* locale) {
  const testsupport::Run r =
      testsupport::run_child("CodePageConversions", testsupport::ChildOptions().set("LC_ALL", locale));
  EXPECT_EQ(0u, r.exit_code) << r.err;
  std::vector<std::string> results;
  std::size_t pos = 0;
  while ((pos = r.out.find("RESULT ", pos)) != std::string::npos) {
    const std::size_t end = r.out.find('\n', pos);
    results.push_back(r.out.substr(pos + 7, end - pos - 7));
    pos = end;
  }
  return results;
}

TEST(CodePageConversion, PosixCodePagesAreTheLocalesCharacterSet) {
  if (platform::path_separator() != '/') GTEST_SKIP() << "Windows takes its code pages from the system";
  // UTF-8 locale: everything passes unchanged; a byte that is not UTF-8 becomes U+FFFD.
  const std::vector<std::string> utf8 = {"636166c3a920e4b8ad", "636166efbfbd", "f09f9880"};
  EXPECT_EQ(utf8, child_results("C.UTF-8"));
  // ASCII ("C"): what the set lacks is a question mark; a byte above 0x7F is U+FFFD.
  const std::vector<std::string> ascii = {"6361663f203f", "636166efbfbd", "3f"};
  EXPECT_EQ(ascii, child_results("C"));
}

TEST(Utf8Fopen, OpensByAUtf8NameAndRefusesOtherBytes) {
  testsupport::TempDir dir;
  const std::string name = dir / "caf\xC3\xA9 \xE4\xB8\xAD.txt";
  FILE* f = utf8_fopen(name.c_str(), "w");
  ASSERT_NE(nullptr, f);
  std::fputs("inside", f);
  std::fclose(f);
  f = utf8_fopen(name.c_str(), "r");
  ASSERT_NE(nullptr, f);
  char text[16] = {};
  ASSERT_NE(nullptr, std::fgets(text, sizeof text, f));
  std::fclose(f);
  EXPECT_STREQ("inside", text);

  errno = 0;
  EXPECT_EQ(nullptr, utf8_fopen((dir / "bad\xFF").c_str(), "w"));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(nullptr, utf8_fopen((dir / "overlong\xC0\xAF").c_str(), "w"));
  EXPECT_EQ(nullptr, utf8_fopen((dir / "missing").c_str(), "r"));
}

// ----- One character to UTF-16 -----

// An independent UTF-8 encoder for the round trips.
std::string encode(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

// UTF-16 back to UTF-8, pairing surrogates.
std::string decode16(const std::u16string& units) {
  std::string s;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size()) c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    s += encode(c);
  }
  return s;
}

// The whole text through the converter; stops at the first error.
std::u16string to_utf16(const std::string& text, int& errors) {
  std::vector<char16_t> buffer(text.size() * 2 + 3, 0xAAAA);
  const char* src = text.c_str();
  char16_t* dst = buffer.data();
  errors = 0;
  while (*src) {
    if (utf8_to_utf16_char(src, dst)) {
      ++errors;
      break;
    }
    EXPECT_EQ(0, *dst);
  }
  return std::u16string(buffer.data(), static_cast<std::size_t>(dst - buffer.data()));
}

TEST(Utf8ToUtf16Char, ConvertsOneCharacterAndAdvancesBoth) {
  const char* text = "\xF0\x9F\x98\x80z";
  const char* src = text;
  char16_t out[4] = {1, 1, 1, 1};
  char16_t* dst = out;
  EXPECT_EQ(0, utf8_to_utf16_char(src, dst));
  EXPECT_EQ(text + 4, src);
  EXPECT_EQ(out + 2, dst);
  EXPECT_EQ(0xD83D, out[0]);
  EXPECT_EQ(0xDE00, out[1]);
  EXPECT_EQ(0, out[2]);
}

TEST(Utf8ToUtf16Char, EveryCodePointClassRoundTrips) {
  const char32_t points[] = {0x01, 0x41, 0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x20AC, 0xD7FF, 0xE000, 0xFFFD,
                             0xFFFE, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
  std::string all;
  for (char32_t c : points) {
    const std::string one = encode(c);
    all += one;
    int errors;
    const std::u16string units = to_utf16(one, errors);
    EXPECT_EQ(0, errors);
    EXPECT_EQ(c >= 0x10000 ? 2u : 1u, units.size());
    EXPECT_EQ(one, decode16(units)) << std::hex << c;
  }
  int errors;
  EXPECT_EQ(all, decode16(to_utf16(all, errors)));
  EXPECT_EQ(0, errors);
  // Overlong forms are decoded to their value.
  EXPECT_EQ(std::string("/"), decode16(to_utf16("\xC0\xAF", errors)));
}

struct BadCharacter {
  std::string text;
  std::string message;
  int reported_at;  // offset of the text the report shows
};

TEST(Utf8ToUtf16Char, ErrorsReportAndLeaveTheSourceAtTheBadCharacter) {
  const BadCharacter cases[] = {
      {"\x80" "abc", "Illegal first byte in", 0},
      {"\xF8\x88\x80\x80\x80", "Illegal first byte in", 0},
      {"\xED\xA0\x80" "x", "Value in invalid range after", 3},
      {"\xF4\x90\x80\x80" "y", "Value too high after", 4},
      {"\xF7\xBF\xBF\xBF", "Value too high after", 4},
      {"\xC3(", "Illegal following byte in", 0},
  };
  for (const BadCharacter& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    const char* src = c.text.c_str();
    char16_t out[3] = {7, 7, 7};
    char16_t* dst = out;
    LogCapture log;
    EXPECT_EQ(1, utf8_to_utf16_char(src, dst));
    EXPECT_EQ(c.text.c_str(), src);
    EXPECT_EQ(out, dst);
    EXPECT_EQ(0, out[0]);
    const std::string shown = c.text.substr(static_cast<std::size_t>(c.reported_at));
    std::string hex;
    char two[3];
    for (unsigned char b : shown) {
      std::snprintf(two, sizeof two, "%02x", b);
      hex += two;
    }
    const std::vector<Record> expected = {
        {"SEVERE_ERROR", "String", c.message + " conversion from UTF8 of \"" + shown + "\" (0x" + hex + ")"}};
    EXPECT_EQ(expected, log.records());
  }
}

TEST(Utf8ToUtf16Char, TheDumpStopsAfter32Bytes) {
  const std::string text = "\xBF" + std::string(40, 'a');
  const char* src = text.c_str();
  char16_t out[3];
  char16_t* dst = out;
  LogCapture log;
  EXPECT_EQ(1, utf8_to_utf16_char(src, dst));
  std::string hex = "bf";
  for (int i = 0; i < 31; ++i) hex += "61";
  const std::vector<Record> expected = {
      {"SEVERE_ERROR", "String", "Illegal first byte in conversion from UTF8 of \"" + text + "\" (0x" + hex + ")"}};
  EXPECT_EQ(expected, log.records());
}

TEST(Utf8ToUtf16Char, ACharacterCutShortByTheEndIsNeverReadPast) {
  for (const char* cut : {"\xC3", "\xE2\x82", "\xF0\x9F\x98"}) {
    // A heap copy of exactly the text and its NUL, so that a read past it is caught by the
    // address checker.
    const std::size_t n = std::strlen(cut) + 1;
    std::unique_ptr<char[]> copy(new char[n]);
    std::memcpy(copy.get(), cut, n);
    const char* src = copy.get();
    char16_t out[3];
    char16_t* dst = out;
    LogCapture log;
    EXPECT_EQ(1, utf8_to_utf16_char(src, dst));
    EXPECT_EQ(copy.get(), src);
    const std::vector<Record> got = log.records();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(0u, got[0].text.find("Incomplete character in conversion from UTF8 of \"")) << got[0].text;
  }
}

}  // namespace
