// The code-page concept's promises, the same on every build: UTF-8 and UTF-16 round trips,
// the units and bytes counted before a conversion, refusals, replacement characters, the
// locale's comparison and files opened by UTF-8 names.
#include "platform/codepage/codepage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/testsupport.h"

namespace {

using platform::CODEPAGE_ANSI;
using platform::CODEPAGE_OEM;
using platform::CODEPAGE_UTF8;

// "café 中" and a character outside the Basic Multilingual Plane (U+1F600).
const char kUtf8[] = "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80";
const std::u16string kUtf16 = u"caf\u00E9 \u4E2D \U0001F600";

std::u16string to_utf16(platform::CodePage page, const std::string& bytes) {
  const int n = static_cast<int>(bytes.size());
  const int units = platform::multibyte_to_utf16(page, bytes.data(), n, nullptr, 0);
  std::u16string out(static_cast<size_t>(units), u'\0');
  if (units > 0) {
    EXPECT_EQ(units, platform::multibyte_to_utf16(page, bytes.data(), n, &out[0], units));
  }
  return out;
}

std::string to_bytes(platform::CodePage page, const std::u16string& units) {
  const int n = static_cast<int>(units.size());
  const int bytes = platform::utf16_to_multibyte(page, units.data(), n, nullptr, 0);
  std::string out(static_cast<size_t>(bytes), '\0');
  if (bytes > 0) {
    EXPECT_EQ(bytes, platform::utf16_to_multibyte(page, units.data(), n, &out[0], bytes));
  }
  return out;
}

TEST(CodePage, Utf8AndUtf16RoundTrip) {
  EXPECT_EQ(kUtf16, to_utf16(CODEPAGE_UTF8, kUtf8));
  EXPECT_EQ(kUtf8, to_bytes(CODEPAGE_UTF8, kUtf16));
  // A surrogate pair is two units; the whole text is 8 characters in 9 units.
  EXPECT_EQ(9u, kUtf16.size());
}

TEST(CodePage, MinusOneConvertsThroughTheTerminatingZero) {
  char16_t wide[32];
  ASSERT_EQ(10, platform::multibyte_to_utf16(CODEPAGE_UTF8, kUtf8, -1, nullptr, 0));
  ASSERT_EQ(10, platform::multibyte_to_utf16(CODEPAGE_UTF8, kUtf8, -1, wide, 32));
  EXPECT_EQ(kUtf16, std::u16string(wide, 9));
  EXPECT_EQ(u'\0', wide[9]);

  char narrow[32];
  const int bytes = static_cast<int>(sizeof kUtf8);  // with its zero
  ASSERT_EQ(bytes, platform::utf16_to_multibyte(CODEPAGE_UTF8, wide, -1, nullptr, 0));
  ASSERT_EQ(bytes, platform::utf16_to_multibyte(CODEPAGE_UTF8, wide, -1, narrow, sizeof narrow));
  EXPECT_STREQ(kUtf8, narrow);
}

TEST(CodePage, RefusalsAnswerZeroAndWriteNothingPastTheBuffer) {
  char16_t wide[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(0, platform::multibyte_to_utf16(CODEPAGE_UTF8, "abc", 0, wide, 4));
  EXPECT_EQ(0, platform::multibyte_to_utf16(CODEPAGE_UTF8, nullptr, 3, wide, 4));
  // Four units needed (with the zero), three given.
  EXPECT_EQ(0, platform::multibyte_to_utf16(CODEPAGE_UTF8, "abc", -1, wide, 3));
  EXPECT_EQ(u'x', wide[3]);

  char narrow[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(0, platform::utf16_to_multibyte(CODEPAGE_UTF8, u"abc", 0, narrow, 4));
  EXPECT_EQ(0, platform::utf16_to_multibyte(CODEPAGE_UTF8, nullptr, 3, narrow, 4));
  // "é" is two bytes: "aé" with its zero needs four, three given.
  EXPECT_EQ(0, platform::utf16_to_multibyte(CODEPAGE_UTF8, u"a\u00E9", -1, narrow, 3));
  EXPECT_EQ('x', narrow[3]);
  // Counting needs no buffer.
  EXPECT_EQ(4, platform::utf16_to_multibyte(CODEPAGE_UTF8, u"a\u00E9", -1, nullptr, 0));
}

TEST(CodePage, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(u"a\uFFFDb", to_utf16(CODEPAGE_UTF8, "a\xFF" "b"));
  // A lead byte cut off at the end of the input.
  EXPECT_EQ(u"a\uFFFD", to_utf16(CODEPAGE_UTF8, "a\xE4\xB8"));
  // A lone continuation byte.
  EXPECT_EQ(u"\uFFFDz", to_utf16(CODEPAGE_UTF8, "\x80z"));
}

TEST(CodePage, UnpairedSurrogateBecomesTheReplacementCharacter) {
  const std::u16string lone = {u'a', static_cast<char16_t>(0xD800), u'b'};
  EXPECT_EQ("a\xEF\xBF\xBD" "b", to_bytes(CODEPAGE_UTF8, lone));
}

// ANSI and OEM are the system's (Windows) or the locale's (POSIX) character sets: what
// they are differs from machine to machine, but ASCII passes every one of them unchanged,
// and a character either survives the round trip or comes back as "?".
TEST(CodePage, AnsiAndOemKeepAsciiAndMarkWhatTheyCannotHold) {
  const std::u16string ascii = u"Plain ASCII 0123 ~!";
  for (platform::CodePage page : {CODEPAGE_ANSI, CODEPAGE_OEM}) {
    EXPECT_EQ("Plain ASCII 0123 ~!", to_bytes(page, ascii)) << page;
    EXPECT_EQ(ascii, to_utf16(page, "Plain ASCII 0123 ~!")) << page;
    for (const std::u16string& one : {std::u16string(u"\u00E9"), std::u16string(u"\u4E2D")}) {
      const std::string bytes = to_bytes(page, one);
      ASSERT_FALSE(bytes.empty()) << page;
      if (bytes != "?") {
        EXPECT_EQ(one, to_utf16(page, bytes)) << page;
      }
    }
  }
}

TEST(CodePage, ComparisonFollowsTheLocale) {
  using platform::compare_utf16;
  EXPECT_EQ(platform::COMPARE_EQUAL, compare_utf16(u"same", -1, u"same", -1));
  EXPECT_EQ(platform::COMPARE_LESS, compare_utf16(u"apple", -1, u"banana", -1));
  EXPECT_EQ(platform::COMPARE_GREATER, compare_utf16(u"banana", -1, u"apple", -1));
  EXPECT_EQ(platform::COMPARE_LESS, compare_utf16(u"abc", -1, u"abcd", -1));
  // Counts cut the texts: "ab" against "ab".
  EXPECT_EQ(platform::COMPARE_EQUAL, compare_utf16(u"abc", 2, u"abd", 2));
  EXPECT_EQ(platform::COMPARE_FAILED, compare_utf16(nullptr, -1, u"a", -1));
  EXPECT_EQ(platform::COMPARE_FAILED, compare_utf16(u"a", -1, nullptr, -1));
}

TEST(CodePage, FilesAreOpenedByUtf8Names) {
  testsupport::TempDir dir;
  const std::string name = "caf\xC3\xA9 \xE4\xB8\xAD.txt";
  FILE* f = platform::open_file_utf8((dir / name).c_str(), "w");
  ASSERT_NE(nullptr, f);
  std::fputs("inside", f);
  std::fclose(f);

  // The folder holds exactly that name, as the system spells it in UTF-8.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(dir.path()))) {
    const auto u8 = entry.path().filename().u8string();
    names.emplace_back(u8.begin(), u8.end());
  }
  EXPECT_EQ(std::vector<std::string>{name}, names);

  f = platform::open_file_utf8((dir / name).c_str(), "r");
  ASSERT_NE(nullptr, f);
  char text[16] = {};
  EXPECT_NE(nullptr, std::fgets(text, sizeof text, f));
  std::fclose(f);
  EXPECT_STREQ("inside", text);

  EXPECT_EQ(nullptr, platform::open_file_utf8((dir / "missing").c_str(), "r"));
  EXPECT_EQ(nullptr, platform::open_file_utf8(nullptr, "r"));
  EXPECT_EQ(nullptr, platform::open_file_utf8((dir / name).c_str(), nullptr));
}

}  // namespace
