// String streams: the buffer's modes, limit and freezing; the streams on it; words and
// lines read into Strings; the debugging aids.
#include "string/StringIos.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "string/String.h"
#include "tests/support/testsupport.h"

namespace {

TEST(StringStreamOut, OutStartsEmptyAndAppAppends) {
  String target("abc");
  {
    oStringstream_QK out(target, -1, std::ios_base::out);
    out << "x" << 42;
    EXPECT_TRUE(out.good());
  }
  EXPECT_STREQ("x42", target);
  String kept("abc");
  {
    oStringstream_QK out(kept, -1, std::ios_base::app);
    out << "def";
  }
  EXPECT_STREQ("abcdef", kept);
  String both("abc");
  oStringstream_QK out(both, -1, std::ios_base::out | std::ios_base::app);
  out << "!";
  EXPECT_STREQ("abc!", both);
}

TEST(StringStreamOut, WritesIntoAPrivateCopy) {
  String original("abc");
  String target(original);
  oStringstream_QK out(target, -1, std::ios_base::app);
  EXPECT_EQ(1, original.rep()->references);
  out << "d";
  EXPECT_STREQ("abc", original);
  EXPECT_STREQ("abcd", target);
}

TEST(StringStreamOut, OutputStopsExactlyAtTheLimit) {
  String target;
  oStringstream_QK out(target, 5);
  out << "abcdefg";
  EXPECT_STREQ("abcde", target);
  EXPECT_TRUE(out.bad());
}

TEST(StringStreamOut, AFrozenBufferRefusesOutputUntilThawed) {
  String target;
  oStringstream_QK out(target);
  out << "ab";
  EXPECT_STREQ("ab", out.str());
  out << "x";
  EXPECT_TRUE(out.bad());
  EXPECT_STREQ("ab", target);
  out.clear();
  out.rdbuf()->freeze(0);
  out << "c";
  EXPECT_STREQ("abc", target);
  EXPECT_EQ(3, out.length());  // asking freezes again
  out << "d";
  EXPECT_TRUE(out.bad());
  EXPECT_STREQ("abc", target);
}

TEST(StringStreamOut, ZeroBytesAreDropped) {
  String target;
  oStringstream_QK out(target);
  out.put('\0');
  out.write("a\0b\0", 4);
  out << 'c' << '\0';
  EXPECT_TRUE(out.good());
  EXPECT_STREQ("abc", target);
  EXPECT_EQ(3, target.length());
}

TEST(StringStreamOut, NoSeeking) {
  String target;
  oStringstream_QK out(target);
  out << "abc";
  EXPECT_EQ(std::streampos(-1), out.tellp());
  EXPECT_EQ(1, out.rdbuf()->doallocate());
  EXPECT_EQ(0, out.rdbuf()->reserve(0, 10));
}

// Runs of bytes must act exactly as the same bytes put one at a time: zeros dropped,
// refusal at the limit even for a zero, nothing after a refusal.
TEST(StringStreamOut, RunsOfBytesActAsSingleBytes) {
  std::mt19937 random(99);
  for (int round = 0; round < 400; ++round) {
    const int limit = static_cast<int>(random() % 12) - 1;
    std::vector<std::string> chunks(1 + random() % 5);
    for (std::string& chunk : chunks) {
      chunk.resize(random() % 6);
      for (char& c : chunk) c = random() % 3 ? static_cast<char>('a' + random() % 26) : '\0';
    }
    String whole, single;
    oStringstream_QK by_runs(whole, limit), by_bytes(single, limit);
    for (const std::string& chunk : chunks) {
      by_runs.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      for (char c : chunk) by_bytes.put(c);
      ASSERT_EQ(std::string(static_cast<const char*>(single)), std::string(static_cast<const char*>(whole)));
      ASSERT_EQ(by_bytes.bad(), by_runs.bad()) << round;
    }
  }
}

TEST(StringStreamIn, ReadsIntegersAndWordsThenEndOfFile) {
  String source("12 ab");
  iStringstream_QK in(source);
  int n = 0;
  String word;
  in >> n;
  EXPECT_EQ(12, n);
  // The last word ends at the end of the input and is still a word read.
  EXPECT_TRUE(static_cast<bool>(in >> word));
  EXPECT_STREQ("ab", word);
  EXPECT_EQ(std::ios_base::eofbit, in.rdstate());
  EXPECT_FALSE(static_cast<bool>(in >> word));
  EXPECT_EQ(std::ios_base::badbit, in.rdstate());
  EXPECT_EQ(std::streampos(-1), in.tellg());
}

TEST(StringWords, AWordEndsAtWhiteSpaceWhichIsConsumed) {
  std::istringstream in("  ab\tcd");
  String w("old");
  in >> w;
  EXPECT_STREQ("ab", w);
  EXPECT_EQ('c', in.peek());
  in >> w;
  EXPECT_STREQ("cd", w);
  EXPECT_TRUE(in.eof() && !in.fail());
  std::istringstream blank("   ");
  blank >> w;
  EXPECT_EQ(std::ios_base::badbit, blank.rdstate());
  EXPECT_STREQ("", w);
}

TEST(StringLines, ReadlineKeepsOrDropsTheTerminator) {
  std::istringstream in("one\ntwo");
  String s;
  EXPECT_EQ(3, readline(in, s, '\n', 1));
  EXPECT_STREQ("one", s);
  EXPECT_EQ(3, readline(in, s, '\n', 1));
  EXPECT_STREQ("two", s);
  EXPECT_EQ(0, readline(in, s, '\n', 1));
  std::istringstream again("one\ntwo");
  EXPECT_EQ(4, readline(again, s, '\n', 0));
  EXPECT_STREQ("one\n", s);
}

TEST(StringLines, AWholeFileReadsAsStdStringsRead) {
  testsupport::TempDir dir;
  std::string content;
  std::mt19937 random(5);
  for (int line = 0; line < 300; ++line) {
    const int words = static_cast<int>(random() % 7);
    for (int w = 0; w < words; ++w) {
      content += std::string(1 + random() % 9, static_cast<char>('a' + random() % 26));
      content += random() % 4 ? " " : "\t  ";
    }
    if (line % 17 == 0) content += "caf\xC3\xA9";
    content += "\n";
  }
  content += "last words without newline";
  const std::string path = dir / "words.txt";
  testsupport::write_file(path, content);

  std::ifstream a(path, std::ios::binary), b(path, std::ios::binary);
  std::string expected;
  String got;
  int words = 0;
  while (a >> expected) {
    ASSERT_TRUE(static_cast<bool>(b >> got)) << words;
    ASSERT_EQ(expected, std::string(static_cast<const char*>(got)));
    ++words;
  }
  EXPECT_FALSE(static_cast<bool>(b >> got));
  EXPECT_GT(words, 500);

  std::ifstream c(path, std::ios::binary), d(path, std::ios::binary);
  int lines = 0;
  while (std::getline(c, expected)) {
    const int n = readline(d, got, '\n', 1);
    ASSERT_EQ(static_cast<int>(expected.size()), n);
    ASSERT_EQ(expected, std::string(static_cast<const char*>(got)));
    ++lines;
  }
  EXPECT_EQ(0, readline(d, got, '\n', 1));
  EXPECT_EQ(301, lines);
}

TEST(StringInserters, StringsAndWindows) {
  std::ostringstream out;
  String s("hello world");
  out << s << "|" << s.at(6, 5) << "|" << s.at(20, 1) << "|";
  EXPECT_EQ("hello world|world||", out.str());
}

TEST(StringDebugAids, DumpShowsTheRepresentation) {
  String s("hi");
  testing::internal::CaptureStdout();
  dump(s);
  const std::string text = testsupport::unix_lines(testing::internal::GetCapturedStdout());
  std::ostringstream address;
  address << static_cast<const void*>(s.rep());
  EXPECT_EQ("<<@" + address.str() + " -- 18a 2l 1r \"hi\">>\n", text);

  testing::internal::CaptureStdout();
  dump(s.at(1, 1));
  EXPECT_EQ("<<from1 for 1 \"i\">>\n", testsupport::unix_lines(testing::internal::GetCapturedStdout()));
}

TEST(StringDebugAids, DisplayTextAndLines) {
  String tabs("a\tb\t\tc");
  EXPECT_STREQ("a b  c", display_text(&tabs));
  String other("x");
  EXPECT_STREQ("x", display_text(&other));
  EXPECT_EQ(nullptr, display_text(nullptr));

  std::string many;
  for (int i = 0; i < 150; ++i) many += "line" + std::to_string(i) + "\n";
  String text(many.c_str());
  const char** lines = display_lines(&text);
  for (int i = 0; i < 100; ++i) ASSERT_EQ("line" + std::to_string(i), std::string(lines[i]));
  EXPECT_EQ(nullptr, lines[100]);

  String two("a\nb");
  lines = display_lines(&two);
  EXPECT_STREQ("a", lines[0]);
  EXPECT_STREQ("b", lines[1]);
  EXPECT_EQ(nullptr, lines[2]);
  lines = display_lines(nullptr);
  EXPECT_STREQ("(nil)", lines[0]);
  EXPECT_EQ(nullptr, lines[1]);
}

}  // namespace
