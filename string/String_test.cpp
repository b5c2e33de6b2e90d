// The String value type: construction and sharing, size classes, growth, search,
// windows, hashing and integer conversion.
#include "string/String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "string/internal/string_internal.h"

namespace {

int refs(const String& s) { return s.rep()->references; }

class NoSharing {
 public:
  NoSharing() { string_debug_switches(0, 1); }
  ~NoSharing() { string_debug_switches(0, 0); }
};

TEST(StringConstruction, DefaultIsTheUncountedEmptyRepresentation) {
  String s;
  EXPECT_EQ(s.rep(), StringRep::empty());
  EXPECT_EQ(0, s.length());
  EXPECT_STREQ("", s);
  String t(s);
  EXPECT_EQ(StringRep::empty(), t.rep());
  EXPECT_EQ(0, StringRep::empty()->references);

  s += 'x';
  EXPECT_STREQ("x", s);
  EXPECT_EQ(18, s.allocation());
  const StringRep* e = StringRep::empty();
  EXPECT_EQ(0, e->capacity);
  EXPECT_EQ(0, e->length);
  EXPECT_EQ(0, e->references);
  EXPECT_EQ(0, e->text()[0]);
}

TEST(StringConstruction, FromTextAlwaysTakesABlock) {
  String a("");
  EXPECT_NE(StringRep::empty(), a.rep());
  EXPECT_EQ(18, a.allocation());
  String b(nullptr);
  EXPECT_EQ(0, b.length());
  EXPECT_NE(StringRep::empty(), b.rep());
  String c("abcdef", 3);
  EXPECT_STREQ("abc", c);
  EXPECT_EQ(1, refs(c));
}

TEST(StringConstruction, SizeClassesFollowTheBlockTable) {
  const struct { int n, capacity; } table[] = {{0, 18},      {18, 18},       {19, 50},       {50, 50},
                                               {51, 114},    {242, 242},     {243, 498},     {499, 1010},
                                               {1011, 2034}, {2034, 2034},   {2035, 4082},   {4083, 8178},
                                               {524274, 524274}, {524275, 1048562}, {1048562, 1048562}};
  for (const auto& row : table) {
    std::string text(static_cast<std::size_t>(row.n), 'q');
    String s(text.c_str());
    EXPECT_EQ(row.capacity, s.allocation()) << row.n;
    EXPECT_EQ(row.n, s.length());
  }
  EXPECT_EQ(1 << 20, StringRep::block_for(1048562));
  EXPECT_EQ(0, StringRep::block_for(1048563));
}

TEST(StringConstruction, PooledClassesComeFromTheirNamedPools) {
  const char* names[] = {"String32", "String64", "String128", "String256", "String556", "String1024", "String2048"};
  const unsigned counts[] = {2048, 1024, 512, 256, 128, 64, 32};
  for (int k = 0; k < 7; ++k) {
    ALLOCATOR_QK& pool = string_internal::pool(k);
    EXPECT_STREQ(names[k], pool.name());
    EXPECT_EQ(32u << k, pool.requestedObjectSize());
    EXPECT_EQ(counts[k], pool.objectsPerHunk());
    EXPECT_EQ(65536u, pool.hunkLength());
    const std::uint32_t in_use = pool.objectsInUse();
    {
      String s(std::string(static_cast<std::size_t>((32 << k) - 14), 'p').c_str());
      if (fastMemoryEnabled()) {
        EXPECT_EQ(in_use + 1, pool.objectsInUse());
      }
    }
    EXPECT_EQ(in_use, pool.objectsInUse());
  }
  EXPECT_EQ(nullptr, string_internal::pool_for_capacity(4082));
}

TEST(StringSharing, CopiesShareUntilOneChanges) {
  String a("abc");
  String b(a);
  EXPECT_EQ(a.rep(), b.rep());
  EXPECT_EQ(2, refs(a));
  b += "d";
  EXPECT_STREQ("abc", a);
  EXPECT_STREQ("abcd", b);
  EXPECT_EQ(1, refs(a));
  EXPECT_EQ(1, refs(b));

  String c;
  c = a;
  EXPECT_EQ(2, refs(a));
  c = "x";
  EXPECT_STREQ("abc", a);
  EXPECT_EQ(1, refs(a));
  const String& same = c;
  c = same;  // same handle: nothing
  EXPECT_STREQ("x", c);
}

TEST(StringSharing, WindowsMakeTheirStringPrivate) {
  String a("hello");
  String b(a);
  SubString w = b.at(0, 1);
  EXPECT_NE(a.rep(), b.rep());
  w = "J";
  EXPECT_STREQ("hello", a);
  EXPECT_STREQ("Jello", b);
}

TEST(StringSharing, NoSharingCopiesAtOnce) {
  NoSharing on;
  String a("abc");
  String b(a);
  EXPECT_NE(a.rep(), b.rep());
  EXPECT_STREQ("abc", b);
  String c;
  c = a;
  EXPECT_NE(a.rep(), c.rep());
  EXPECT_EQ(1, refs(a));
}

TEST(StringGrowth, AppendingMovesToBiggerClasses) {
  String s;
  std::string model;
  for (int i = 0; i < 5000; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    s += c;
    model += c;
  }
  EXPECT_EQ(model, std::string(s));
  EXPECT_EQ(8178, s.allocation());
  s += '\0';
  EXPECT_EQ(5000, s.length());
}

TEST(StringGrowth, AppendingAStringToItselfDoublesIt) {
  String s("abcdefghi");  // 9 bytes: fits 18 after doubling
  s += s;
  EXPECT_STREQ("abcdefghiabcdefghi", s);
  EXPECT_EQ(18, s.allocation());
  s += s;  // needs the 64-byte block
  EXPECT_STREQ("abcdefghiabcdefghiabcdefghiabcdefghi", s);
  EXPECT_EQ(50, s.allocation());
  String t("xyz");
  t += static_cast<const char*>(t);
  EXPECT_STREQ("xyzxyz", t);
  String shared(t);
  t += t;
  EXPECT_STREQ("xyzxyzxyzxyz", t);
  EXPECT_STREQ("xyzxyz", shared);
}

TEST(StringGrowth, Concatenation) {
  String a("abc");
  EXPECT_STREQ("abcdef", a + "def");
  EXPECT_STREQ("defabc", "def" + a);
  EXPECT_STREQ("abcabc", a + a);
  EXPECT_STREQ("abc", a + static_cast<const char*>(nullptr));
  EXPECT_STREQ("abc", a);
  std::string big(3000, 'b');
  String c = a + big.c_str();
  EXPECT_EQ(3003, c.length());
  EXPECT_EQ(4082, c.allocation());
}

TEST(StringSearch, IndexForwardAndBackward) {
  String s("abc");
  EXPECT_EQ(3, s.index(""));
  EXPECT_EQ(2, s.index("c", -1));
  EXPECT_EQ(0, s.index("ab", -1));
  EXPECT_EQ(-1, s.index("x", 5));
  EXPECT_EQ(-1, s.index("c", 4));
  EXPECT_EQ(-1, s.index("bc", -2));  // the match would end after the last byte but one
  EXPECT_EQ(1, s.index("b", -2));
  EXPECT_EQ(0, s.index("a", -3));
  EXPECT_EQ(-1, s.index("a", -4));
  String r("abcabc");
  EXPECT_EQ(3, r.index("abc", 1));
  EXPECT_EQ(3, r.index("abc", -1));
  EXPECT_EQ(0, r.index("abc", -2));
  EXPECT_EQ(-1, r.index("abcd"));
  EXPECT_EQ(-1, r.index("bcx", 0));
}

TEST(StringSearch, ForwardSearchStopsAtAZeroByte) {
  String s("ab\0cd", 5);
  EXPECT_EQ(5, s.length());
  EXPECT_EQ(-1, s.index("cd"));
  EXPECT_EQ(2, s.index(""));
  EXPECT_EQ(3, s.index("cd", -1));
}

TEST(StringSearch, MatchesAndContains) {
  String s("abc");
  EXPECT_EQ(1, s.matches("bc", 1));
  EXPECT_EQ(1, s.matches("bc", -2));
  EXPECT_EQ(0, s.matches("", 0));
  EXPECT_EQ(0, s.matches("abc", 3));
  EXPECT_EQ(0, s.matches("bcd", 1));
  EXPECT_EQ(0, s.matches("c", -3));  // abs(pos) reaches the length
  EXPECT_EQ(1, s.matches("ab", 0));
  EXPECT_EQ(1, s.contains("bc"));
  EXPECT_EQ(0, s.contains("cb"));
  EXPECT_EQ(1, s.contains(String("c")));
  EXPECT_EQ(1, s.contains("c", 2));
  EXPECT_EQ(0, s.contains("a", 1));
  EXPECT_EQ(0, String().matches("a", 0));
}

TEST(StringSearch, ComparisonAndSmallAccessors) {
  String s("abc");
  EXPECT_TRUE(s == "abc");
  EXPECT_FALSE(s == "ab");
  EXPECT_TRUE(s == String("abc"));
  EXPECT_TRUE(String() == static_cast<const char*>(nullptr));
  EXPECT_EQ('a', s.firstchar());
  EXPECT_EQ('c', s.lastchar());
  EXPECT_EQ(0, String().lastchar());
  EXPECT_EQ('b', s[1]);
  EXPECT_EQ('c', s.elem(2));
  EXPECT_EQ(0, s.empty());
  EXPECT_EQ(1, String("").empty());
  std::ostringstream out;
  out << s << '|' << String();
  EXPECT_EQ("abc|", out.str());
}

TEST(StringWindows, AtAndAfter) {
  String s("abc");
  EXPECT_FALSE(s.at(1, 5).found());
  EXPECT_EQ(&String::nullString(), &String::nullString());
  SubString w = s.after(0);
  EXPECT_TRUE(w.found());
  EXPECT_EQ(2, w.length());
  EXPECT_EQ(0, std::strncmp("bc", w.text(), 2));
  EXPECT_STREQ("bc", String(w));
  EXPECT_FALSE(s.after(-1).found());
  EXPECT_TRUE(s.after(2).found());
  EXPECT_EQ(0, s.after(2).length());
  EXPECT_FALSE(s.after(3).found());
  EXPECT_STREQ("b", String(s.at("b")));
  EXPECT_FALSE(s.at("x").found());
  EXPECT_TRUE(s.at(3, 0).found());
}

TEST(StringWindows, AssignmentReplacesTheStretch) {
  String s("key=value");
  SubString w = s.at("value");
  w = "other thing";
  EXPECT_STREQ("key=other thing", s);
  EXPECT_EQ(11, w.length());
  w = "";
  EXPECT_STREQ("key=", s);
  s.at(0, 0) = String("<");
  EXPECT_STREQ("<key=", s);
  String big(std::string(3000, 'z').c_str());
  s.at(1, 3) = big;
  EXPECT_EQ(3002, s.length());
  EXPECT_EQ('<', s.firstchar());
  EXPECT_EQ('=', s.lastchar());
}

TEST(StringWindows, AssigningAStringToAWindowOnItself) {
  String s("abcd");
  s.at(1, 2) = s;
  EXPECT_STREQ("aabcdd", s);
  String t("0123456789");
  t.at(0, 1) = t.at(3, 3);  // the source lies behind the moved tail
  EXPECT_STREQ("345123456789", t);
  String u("hello");
  u = u.at(1, 3);
  EXPECT_STREQ("ell", u);
  String v("xy");
  v.at(2, 0) = static_cast<const char*>(v);
  EXPECT_STREQ("xyxy", v);
}

TEST(StringWindows, TheNullStringNeverChanges) {
  String s("abc");
  SubString none = s.at(7, 1);
  none = "written";
  none = s;
  EXPECT_STREQ("", String::nullString());
  EXPECT_EQ(StringRep::empty(), String::nullString().rep());
  EXPECT_STREQ("abc", s);
}

TEST(StringWindows, SearchInsideAWindow) {
  String s("abcabc");
  SubString w = s.at(1, 4);  // "bcab"
  EXPECT_EQ(2, w.index("a"));
  EXPECT_EQ(-1, w.index("abc"));
  EXPECT_EQ(0, w.index("bc"));
  EXPECT_EQ(-1, w.index("bc", 1));
  EXPECT_TRUE(w.contains("ca"));
}

TEST(StringConversion, IntegersInAnyBase) {
  EXPECT_STREQ("-ff", inttostr(-255, 16));
  EXPECT_STREQ("0", inttostr(0, 10));
  EXPECT_STREQ("ffffffff", uinttostr(4294967295u, 16));
  EXPECT_STREQ("-2147483648", inttostr(-2147483647 - 1, 10));
  EXPECT_STREQ("-10000000000000000000000000000000", inttostr(-2147483647 - 1, 2));
  EXPECT_STREQ("zz", inttostr(35 * 36 + 35, 36));
  EXPECT_STREQ("11111111111111111111111111111111", uinttostr(4294967295u, 2));
  EXPECT_STREQ("", inttostr(5, 1));
  EXPECT_STREQ("", uinttostr(5, 37));
}

// lookup2 over bytes: an independent rendering with the tail bytes padded to a whole
// block, c's low byte holding the length.
std::uint32_t reference_hash(const std::string& bytes, std::uint32_t c) {
  std::uint32_t a = 0x9E3779B9u, b = 0x9E3779B9u;
  std::uint32_t w[3];
  std::size_t done = 0;
  auto mix = [&]() {
    std::uint32_t* v[3] = {&a, &b, &c};
    const int shifts[9] = {13, 8, 13, 12, 16, 5, 3, 10, 15};
    for (int i = 0; i < 9; ++i) {
      std::uint32_t& x = *v[i % 3];
      x -= *v[(i + 1) % 3];
      x -= *v[(i + 2) % 3];
      std::uint32_t y = *v[(i + 2) % 3];
      x ^= (i % 3 == 1) ? (y << shifts[i]) : (y >> shifts[i]);
    }
  };
  for (;;) {
    const bool last = bytes.size() - done < 12;
    for (int i = 0; i < 3; ++i) {
      w[i] = 0;
      for (int j = 3; j >= 0; --j) {
        const std::size_t at = done + static_cast<std::size_t>(i * 4 + j);
        w[i] = (w[i] << 8) | (at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0u);
      }
    }
    if (last) w[2] = (w[2] << 8) + static_cast<std::uint32_t>(bytes.size());
    a += w[0];
    b += w[1];
    c += w[2];
    mix();
    if (last) return c;
    done += 12;
  }
}

TEST(StringHash, BobJenkins1996) {
  EXPECT_EQ(reference_hash("", 210), string_internal::jenkins_hash(nullptr, 0, 210));
  std::string text;
  for (int n = 0; n < 40; ++n) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    EXPECT_EQ(reference_hash(text, 210), string_internal::jenkins_hash(bytes, static_cast<std::uint32_t>(n), 210))
        << n;
    text += static_cast<char>(0x80 + n * 7);  // high bytes: taken unsigned
  }
  String s("hello world, how are you");
  const std::uint32_t full = string_internal::jenkins_hash(reinterpret_cast<const unsigned char*>("hello world, how are you"), 24, 210);
  EXPECT_EQ(static_cast<int>(full & 0xFFu), s.hash(8));
  EXPECT_EQ(static_cast<int>(full & 0x7FFFFFFFu), s.hash(31));
  EXPECT_EQ(0, s.hash(0));
  EXPECT_NE(String("abc").hash(31), String("abd").hash(31));
}

}  // namespace
