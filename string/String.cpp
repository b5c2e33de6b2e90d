// String: construction, access, search, hashing, windows and integer conversion. The
// operations that change a text are in StringMut.
#include "string/String.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

#include "platform/codepage/codepage.h"
#include "string/internal/string_internal.h"

namespace {

// A null text stands for "".
const char* or_empty(const char* s) { return s ? s : ""; }

int text_length(const char* s) { return static_cast<int>(std::strlen(s)); }

// Forward search of the n bytes of s from p, the text taken as a C text (a 0 byte ends it).
int search_forward(const StringRep* rep, const char* s, int n, int p) {
  const char* text = rep->text();
  const int length = rep->length;
  if (text[length] == 0) {
    for (;;) {
      const char* hit = std::strchr(text + p, s[0]);
      if (!hit) return -1;
      const int i = static_cast<int>(hit - text);
      if (static_cast<std::int64_t>(i) + n > length) return -1;
      if (std::memcmp(hit, s, static_cast<std::size_t>(n)) == 0) return i;
      p = i + 1;
    }
  }
  // A text without its terminating NUL is never read past its length.
  for (int i = p; i <= length; ++i) {
    const char c = i < length ? text[i] : 0;
    if (c == s[0]) {
      if (static_cast<std::int64_t>(i) + n > length) return -1;
      if (std::memcmp(text + i, s, static_cast<std::size_t>(n)) == 0) return i;
    }
    if (c == 0) return -1;
  }
  return -1;
}

int search_backward(const StringRep* rep, const char* s, int n, int startpos) {
  const char* text = rep->text();
  for (std::int64_t i = static_cast<std::int64_t>(startpos) + rep->length - n + 1; i >= 0; --i)
    if (text[i] == s[0] && std::memcmp(text + i, s, static_cast<std::size_t>(n)) == 0) return static_cast<int>(i);
  return -1;
}

// The search for the n bytes of s (n -1: all of it) from startpos.
int search(const StringRep* rep, const char* s, int n, int startpos) {
  if (!s) {
    s = "";
    n = 0;
  }
  if (std::llabs(static_cast<long long>(startpos)) > rep->length) return -1;
  if (n < 0) n = text_length(s);
  return startpos >= 0 ? search_forward(rep, s, n, startpos) : search_backward(rep, s, n, startpos);
}

int matches_at(const StringRep* rep, std::int64_t pos, const char* s, int n) {
  const int length = rep->length;
  if (pos < 0) pos += length;
  if (pos < 0 || n == 0 || length == 0 || pos > length || n > length || length - pos < n) return 0;
  return std::memcmp(rep->text() + pos, s, static_cast<std::size_t>(n)) == 0;
}

// The digits of magnitude in base, built backwards from the end of buffer.
String digits(unsigned long long magnitude, bool negative, int base, char* buffer, int size) {
  if (base < 2 || base > 36) {
    string_warning("integer conversion with an invalid base", base);
    return String("");
  }
  char* p = buffer + size - 1;
  *p = 0;
  do {
    *--p = "0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % static_cast<unsigned>(base)];
    magnitude /= static_cast<unsigned>(base);
  } while (magnitude);
  if (negative) *--p = '-';
  return String(p);
}

char int_digits[69];
char uint_digits[72];

}  // namespace

String::String() : rep_(StringRep::empty()) {}

// The window (null string, 0, 0). No assignment goes through it, so the null string's
// empty text never changes.
SubString String::not_found() { return SubString(const_cast<String&>(nullString()), 0, 0); }

String::String(const char* text, int len) : rep_(StringRep::empty()) {
  rep_ = StringRep::create(text, text ? len : 0);
  rep_->references = 1;
}

void String::copy_slow(const String& other) {
  rep_ = StringRep::empty();
  if (!other.valid()) {
    string_error(__LINE__, "Tried to make a string from a bogus string", ERROR);
    rep_ = StringRep::create(nullptr, 0);
    rep_->references = 1;
    return;
  }
  share(other.rep_);
}

String::String(const SubString& window) : rep_(StringRep::empty()) {
  if (!window.valid()) {
    string_error(__LINE__, "Tried to make a string from a bogus string", ERROR);
    rep_ = StringRep::create(nullptr, 0);
  } else {
    rep_ = StringRep::create(window.text(), window.length());
  }
  rep_->references = 1;
}

void String::release_slow() {
  if (valid()) StringRep::release(rep_);
}

void String::share(StringRep* rep) {
  if (rep == StringRep::empty_instance) {
    rep_ = rep;
  } else if (string_internal::no_sharing_switch) {
    rep_ = StringRep::create(rep->text(), rep->length);
    rep_->references = 1;
  } else {
    rep_ = rep;
    rep_->hold();
  }
}


String::operator const char*() const {
  if (!valid()) {
    string_error(__LINE__, "bad string", ERROR);
    return "";
  }
  return rep_->text();
}

int String::length() const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::length()", ERROR);
    return 0;
  }
  return rep_->length;
}

int String::contains(const char* s) const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::contains(const char *)", ERROR);
    return 0;
  }
  return search(rep_, s, -1, 0) >= 0;
}

int String::contains(const String& s) const {
  if (!valid() || !s.valid()) {
    string_error(__LINE__, "bad string in String::contains(const char *)", ERROR);
    return 0;
  }
  return search(rep_, s.rep_->text(), s.rep_->length, 0) >= 0;
}

int String::contains(const char* s, int len) const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::contains(char *, int)", ERROR);
    return 0;
  }
  return search(rep_, s, len, 0) >= 0;
}

int String::index(const char* s, int startpos) const {
  if (!valid()) {
    string_error(__LINE__, "bad string", ERROR);
    return -1;
  }
  return search(rep_, s, -1, startpos);
}

int String::matches(const char* s, int pos) const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::matches (const char*, int)", ERROR);
    return 0;
  }
  if (std::llabs(static_cast<long long>(pos)) >= rep_->length) return 0;
  s = or_empty(s);
  return matches_at(rep_, pos, s, text_length(s));
}

int String::hash(int bits) const {
  const StringRep* rep = valid() ? rep_ : StringRep::empty();
  const std::uint32_t h = string_internal::jenkins_hash(reinterpret_cast<const unsigned char*>(rep->text()),
                                                        static_cast<std::uint32_t>(rep->length), 210);
  if (bits <= 0) return 0;
  if (bits > 31) bits = 31;
  return static_cast<int>(h & ((1u << bits) - 1));
}

char String::firstchar() const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::firstchar()", ERROR);
    return 0;
  }
  return rep_->length > 0 ? rep_->text()[0] : 0;
}

char String::lastchar() const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::lastchar()", ERROR);
    return 0;
  }
  return rep_->length > 0 ? rep_->text()[rep_->length - 1] : 0;
}

int String::allocation() const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::allocation", ERROR);
    return 0;
  }
  return rep_->capacity;
}

int String::empty() const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::empty()", ERROR);
    return 1;
  }
  return rep_->length == 0;
}

char String::operator[](int i) const {
  if (!valid() || i < 0 || i >= rep_->length) {
    string_error(__LINE__, "invalid index into String::operator[]", ERROR);
    return 0;
  }
  return rep_->text()[i];
}

char String::elem(int i) const {
  if (!valid() || i < 0 || i >= rep_->length) {
    string_error(__LINE__, "invalid index into String::elem()", ERROR);
    return 0;
  }
  return rep_->text()[i];
}

SubString String::at(int pos, int len) {
  const int n = length();
  if (pos < 0 || len < 0 || static_cast<std::int64_t>(pos) + len > n) return not_found();
  return SubString(*this, pos, len);
}

SubString String::at(const char* s, int startpos) { return at(index(s, startpos), text_length(or_empty(s))); }

SubString String::after(int pos) {
  const int n = length();
  if (pos < 0 || pos >= n) return not_found();
  return SubString(*this, pos + 1, n - pos - 1);
}

bool operator==(const String& left, const char* right) {
  const StringRep* rep = StringRep::valid(left.rep()) ? left.rep() : StringRep::empty();
  return std::strcmp(rep->text(), or_empty(right)) == 0;
}

bool operator==(const String& left, const String& right) {
  const StringRep* rep = StringRep::valid(right.rep()) ? right.rep() : StringRep::empty();
  return left == rep->text();
}

String inttostr(int value, int base) {
  const unsigned long long magnitude =
      value < 0 ? 0ull - static_cast<unsigned long long>(static_cast<long long>(value)) : static_cast<unsigned>(value);
  return digits(magnitude, value < 0, base, int_digits, sizeof int_digits);
}

String uinttostr(unsigned value, int base) { return digits(value, false, base, uint_digits, sizeof uint_digits); }

// SubString: the parts that only look.

SubString::SubString(String& s, int pos, int len) : str_(&s), pos_(pos), len_(len) {
  if (s.valid()) s.rep_ = StringRep::make_private(s.rep_);
}

bool SubString::valid() const {
  return str_ && str_->valid() && pos_ >= 0 && len_ >= 0 &&
         static_cast<std::int64_t>(pos_) + len_ <= str_->rep_->length;
}

int SubString::length() const { return valid() ? len_ : 0; }
int SubString::position() const { return valid() ? pos_ : 0; }
const char* SubString::text() const { return valid() ? str_->rep_->text() + pos_ : ""; }

int SubString::index(const char* s, int startpos) const {
  if (!valid()) {
    string_error(__LINE__, "Searching corrupt substring", ERROR);
    return -1;
  }
  s = or_empty(s);
  const int n = text_length(s);
  const char* text = str_->rep_->text() + pos_;
  for (std::int64_t i = startpos < 0 ? 0 : startpos; i + n <= len_; ++i)
    if (std::memcmp(text + i, s, static_cast<std::size_t>(n)) == 0) return static_cast<int>(i);
  return -1;
}

// Bob Jenkins' 1996 hash: a and b start at the golden ratio, c at initval; 12-byte blocks
// are taken little-endian into the three words and mixed; the last block's bytes go into
// a, b and c's upper three bytes, c's low byte having received the length.
namespace {

inline void mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
  a -= b; a -= c; a ^= (c >> 13);
  b -= c; b -= a; b ^= (a << 8);
  c -= a; c -= b; c ^= (b >> 13);
  a -= b; a -= c; a ^= (c >> 12);
  b -= c; b -= a; b ^= (a << 16);
  c -= a; c -= b; c ^= (b >> 5);
  a -= b; a -= c; a ^= (c >> 3);
  b -= c; b -= a; b ^= (a << 10);
  c -= a; c -= b; c ^= (b >> 15);
}

inline std::uint32_t word(const unsigned char* k) {
  return k[0] | (static_cast<std::uint32_t>(k[1]) << 8) | (static_cast<std::uint32_t>(k[2]) << 16) |
         (static_cast<std::uint32_t>(k[3]) << 24);
}

}  // namespace

std::uint32_t string_internal::jenkins_hash(const unsigned char* k, std::uint32_t length, std::uint32_t initval) {
  std::uint32_t a = 0x9E3779B9u, b = 0x9E3779B9u, c = initval;
  std::uint32_t len = length;
  while (len >= 12) {
    a += word(k);
    b += word(k + 4);
    c += word(k + 8);
    mix(a, b, c);
    k += 12;
    len -= 12;
  }
  c += length;
  switch (len) {
    case 11: c += static_cast<std::uint32_t>(k[10]) << 24; [[fallthrough]];
    case 10: c += static_cast<std::uint32_t>(k[9]) << 16; [[fallthrough]];
    case 9: c += static_cast<std::uint32_t>(k[8]) << 8; [[fallthrough]];
    case 8: b += static_cast<std::uint32_t>(k[7]) << 24; [[fallthrough]];
    case 7: b += static_cast<std::uint32_t>(k[6]) << 16; [[fallthrough]];
    case 6: b += static_cast<std::uint32_t>(k[5]) << 8; [[fallthrough]];
    case 5: b += k[4]; [[fallthrough]];
    case 4: a += static_cast<std::uint32_t>(k[3]) << 24; [[fallthrough]];
    case 3: a += static_cast<std::uint32_t>(k[2]) << 16; [[fallthrough]];
    case 2: a += static_cast<std::uint32_t>(k[1]) << 8; [[fallthrough]];
    case 1: a += k[0]; break;
    default: break;
  }
  mix(a, b, c);
  return c;
}

// UTF-8: character length, counting, the last character, collation, code-page conversions
// and the one-character converter to UTF-16.

namespace {

LoggerGuard utf8_logger_guard;

// One record under the source name String: message, then text (up to its NUL).
void log_text(int line, int level, const char* message, const char* text) {
  QK_LOG_AT("String", line, level) << message << text;
}

// Lead byte classes: the bytes of the character, or 0 for a byte that cannot lead.
int lead_length(unsigned char b) {
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) return 2;
  if ((b & 0xF0) == 0xE0) return 3;
  if ((b & 0xF8) == 0xF0) return 4;
  return 0;
}

bool is_following(unsigned char b) { return (b & 0xC0) == 0x80; }

// The refused values, judged by their low 16 bits.
bool refused_value(std::uint32_t value) {
  const std::uint32_t low = value & 0xFFFF;
  return low >= 0xFFFE || (low >= 0xD800 && low <= 0xDFFF);
}

// Counting eight bytes at a time. A 64-bit word holds eight bytes, the first in the lowest
// lane; each flag below is the lane's top bit (0x80). The check of a word needs the three
// bytes before it, which come from the previous word (zero at the start of a stretch, so
// nothing is expected there).
typedef std::uint64_t Word;
const Word kOnes = 0x0101010101010101ull;
const Word kHigh = kOnes * 0x80;
const Word kLow7 = kOnes * 0x7F;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the counting words assume little-endian byte order"
#endif

Word load_word(const unsigned char* p) {
  Word w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// Lanes whose byte equals c.
Word lanes_equal(Word w, unsigned char c) {
  const Word t = w ^ (kOnes * c);
  return ~(((t & kLow7) + kLow7) | t) & kHigh;
}

// The bytes k positions back: this word moved up k lanes, the previous word's last k bytes
// in the low lanes.
Word back(Word w, Word previous, int k) { return (w << (8 * k)) | (previous >> (64 - 8 * k)); }

// What the check of one word needs of it, and keeps for the next word.
struct WordFlags {
  Word bytes;  // the eight bytes
  Word lead1;  // lanes of 0xC0 and above: at least one following byte is due
  Word lead2;  // 0xE0 and above: two
  Word lead3;  // 0xF0 and above: three (0xF8 and above are faults)

  explicit WordFlags(Word w)
      : bytes(w), lead1(w & (w << 1) & kHigh), lead2(lead1 & (w << 2)), lead3(lead2 & (w << 3)) {}
};

// Lanes of w holding a byte of a character whose value's low 16 bits are a surrogate,
// 0xFFFE or 0xFFFF: ED A0..BF (3 bytes), F? xD A0..BF (4 bytes), and the endings BF BE
// and BF BF after EF (3 bytes) or after F? xF (4 bytes). The 3-byte surrogates are looked
// for in every word (Hangul text is full of ED leads); the rest only where a 4-byte lead
// or such an ending is near.
Word refused_values(const WordFlags& now, const WordFlags& before) {
  const Word w = now.bytes, p = before.bytes;
  const Word w1 = back(w, p, 1);
  const Word bit5 = (w << 2) & kHigh;
  Word faults = lanes_equal(w1, 0xED) & bit5;
  const Word ends_bf_be = lanes_equal(w1, 0xBF) & lanes_equal(w & (kOnes * 0xFE), 0xBE);
  if (ends_bf_be | now.lead3 | (before.lead3 >> 40)) {
    const Word w2 = back(w, p, 2);
    const Word low_nibble = kOnes * 0x0F;
    faults |= ends_bf_be & lanes_equal(w2, 0xEF);
    faults |= ends_bf_be & back(now.lead3, before.lead3, 3) & lanes_equal(w2 & low_nibble, 0x0F);
    faults |= back(now.lead3, before.lead3, 2) & lanes_equal(w1 & low_nibble, 0x0D) & bit5;
  }
  return faults;
}

// Lanes holding a following byte (10xxxxxx).
Word following_lanes(Word w) { return w & ~(w << 1) & kHigh; }

// The sum of the eight lanes (which must not reach 256).
int lane_sum(Word lanes) { return static_cast<int>((lanes * kOnes) >> 56); }

// Lanes of a word that break the rules: a following byte where none is due or its absence
// where one is, a byte 0xF8 to 0xFF, and refused values.
Word word_faults(const WordFlags& now, const WordFlags& before) {
  const Word following = following_lanes(now.bytes);
  const Word due = back(now.lead1, before.lead1, 1) | back(now.lead2, before.lead2, 2) | back(now.lead3, before.lead3, 3);
  return (due ^ following) | (now.lead3 & (now.bytes << 4)) | refused_values(now, before);
}

}  // namespace

int string_internal::utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
  if ((end && p >= end) || *p == 0) return 0;
  const int k = lead_length(p[0]);
  if (k <= 1) return k == 1 ? 1 : -1;
  std::uint32_t value = p[0] & (0x7Fu >> k);
  for (int i = 1; i < k; ++i) {
    if ((end && end - p <= i) || !is_following(p[i])) return -1;  // a NUL ends the test here
    value = (value << 6) | (p[i] & 0x3Fu);
  }
  return refused_value(value) ? -1 : k;
}

int utf8_char_length(const char* p) {
  if (!p || *p == 0) return 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
  const int k = string_internal::utf8_sequence_length(s, nullptr);
  if (k > 0) return k;
  if (lead_length(s[0]) == 0) log_text(__LINE__, ERROR, "55555, Invalid characters encounter in ", p);
  log_text(__LINE__, ERROR, "Invalid characters encounter in ", p);
  return -1;
}

int utf8_char_count(const char* text) {
  if (!text) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + std::strlen(text);
  // Valid text is checked and counted a word at a time. A word with a fault, and the end,
  // go to the character-by-character walk from the start of the character they cut into,
  // so that invalid bytes are skipped, and logged, exactly as the walk alone would.
  const unsigned char* stretch = p;  // where the current run of words began
  WordFlags previous(0);
  int count = 0;
  for (;;) {
    const unsigned char* walk_to = end;
    if (end - p >= 8) {
      if ((previous.bytes & kHigh) == 0 && end - p >= 32) {
        const Word a = load_word(p), b = load_word(p + 8), c = load_word(p + 16), d = load_word(p + 24);
        if (((a | b | c | d) & kHigh) == 0) {
          count += 32;
          p += 32;
          previous = WordFlags(d);
          continue;
        }
      }
      const WordFlags now(load_word(p));
      if (word_faults(now, previous) == 0) {
        count += 8 - lane_sum(following_lanes(now.bytes) >> 7);
        previous = now;
        p += 8;
        continue;
      }
      walk_to = p + 8;
    }
    // Back to the lead of a character that the last checked word began but did not end.
    const unsigned char* q = p;
    for (int k = 1; k <= 3 && p - k >= stretch; ++k) {
      const unsigned char b = p[-k];
      if (!is_following(b)) {
        if (lead_length(b) > k) {
          q = p - k;
          --count;  // counted with its word
        }
        break;
      }
    }
    while (q < walk_to && *q) {
      const int k = utf8_char_length(reinterpret_cast<const char*>(q));
      if (k > 0) {
        ++count;
        q += k;
      } else {
        ++q;
      }
    }
    if (q >= end) return count;
    p = stretch = q;
    previous = WordFlags(0);
  }
}

const char* utf8_last_char(const char* s) {
  if (!s || !*s) return nullptr;
  const char* p = s + std::strlen(s) - 1;
  while (p > s && is_following(static_cast<unsigned char>(*p))) --p;
  return p;
}

int utf8_collate(const char* a, const char* b) {
  a = or_empty(a);
  b = or_empty(b);
  if (!*a || !*b) return std::strcoll(a, b);
  const int a_bytes = text_length(a) + 1, b_bytes = text_length(b) + 1;
  std::vector<char16_t> wide_a(static_cast<std::size_t>(a_bytes), 0), wide_b(static_cast<std::size_t>(b_bytes), 0);
  const int a_units = platform::multibyte_to_utf16(platform::CODEPAGE_UTF8, a, a_bytes, wide_a.data(), a_bytes);
  if (a_units == 0) return std::strcoll(a, b);
  const int b_units = platform::multibyte_to_utf16(platform::CODEPAGE_UTF8, b, b_bytes, wide_b.data(), b_bytes);
  if (b_units == 0) return std::strcoll(a, b);
  const int r = platform::compare_utf16(wide_a.data(), a_units, wide_b.data(), b_units);
  return r == platform::COMPARE_GREATER ? 1 : r == platform::COMPARE_LESS ? -1 : 0;
}

namespace {

bool convert(platform::CodePage from, platform::CodePage to, const char* in, int n, char* out, int outsize) {
  if (!in || !out || outsize < 1) return false;
  if (n < 0) n = text_length(in);
  if (*in == 0 || n == 0) {
    out[0] = 0;
    return true;
  }
  // Each byte gives at most one unit; the unit after them stays 0 and ends the text.
  std::vector<char16_t> wide(static_cast<std::size_t>(n) + 1, 0);
  if (platform::multibyte_to_utf16(from, in, n, wide.data(), n + 1) == 0) return false;
  return platform::utf16_to_multibyte(to, wide.data(), -1, out, outsize) != 0;
}

// Well-formed UTF-8 by the usual rules (no overlong forms, no surrogates, at most 0x10FFFF).
bool well_formed(const char* text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  while (*s) {
    const unsigned char b = *s;
    int k = 1;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0x80) {
      if (b >= 0xC2 && b <= 0xDF) k = 2;
      else if (b >= 0xE0 && b <= 0xEF) k = 3, low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
      else if (b >= 0xF0 && b <= 0xF4) k = 4, low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
      else return false;
      if (s[1] < low || s[1] > high) return false;
      for (int i = 2; i < k; ++i)
        if (!is_following(s[i])) return false;
    }
    s += k;
  }
  return true;
}

}  // namespace

bool utf8_to_ansi(const char* in, int n, char* out, int outsize) {
  return convert(platform::CODEPAGE_UTF8, platform::CODEPAGE_ANSI, in, n, out, outsize);
}

bool utf8_to_oem(const char* in, int n, char* out, int outsize) {
  return convert(platform::CODEPAGE_UTF8, platform::CODEPAGE_OEM, in, n, out, outsize);
}

bool ansi_to_utf8(const char* in, int n, char* out, int outsize) {
  return convert(platform::CODEPAGE_ANSI, platform::CODEPAGE_UTF8, in, n, out, outsize);
}

bool oem_to_utf8(const char* in, int n, char* out, int outsize) {
  return convert(platform::CODEPAGE_OEM, platform::CODEPAGE_UTF8, in, n, out, outsize);
}

FILE* utf8_fopen(const char* name, const char* mode) {
  if (!name || !mode || !well_formed(name) || !well_formed(mode)) {
    errno = EINVAL;
    return nullptr;
  }
  return platform::open_file_utf8(name, mode);
}

namespace {

// Up to 32 bytes of a text, from its start, in hexadecimal.
struct LeadingBytesInHex {
  const char* text;
};

std::ostream& operator<<(std::ostream& out, LeadingBytesInHex bytes) {
  static const char digits[] = "0123456789abcdef";
  char dump[65];
  int n = 0;
  for (const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.text); *b && n < 64; ++b) {
    dump[n++] = digits[*b >> 4];
    dump[n++] = digits[*b & 15];
  }
  dump[n] = 0;
  return out << dump;
}

// The converter's report: message, the text from at to its end in double quotes, and up
// to 32 of its bytes in hexadecimal.
void conversion_report(int line, const char* message, const char* at) {
  QK_LOG_AT("String", line, SEVERE_ERROR) << message << " conversion from UTF8 of \"" << at << "\" (0x"
                                          << LeadingBytesInHex{at} << ")";
}

// Sequence lengths of the converter, by lead byte, and the offsets its arithmetic takes off.
const std::uint32_t sequence_offsets[5] = {0, 0, 0x3080u, 0xE2080u, 0x3C82080u};

int sequence_length(unsigned char b) {
  if (b < 0x80) return 1;
  if (b < 0xC0) return 0;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF8) return 4;
  return 0;
}

}  // namespace

int utf8_to_utf16_char(const char*& src, char16_t*& dst) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
  const int k = sequence_length(s[0]);
  if (k == 0) {
    conversion_report(__LINE__, "Illegal first byte in", src);
    *dst = 0;
    return 1;
  }
  // The bytes after the lead must all be following bytes; a text that ends inside the
  // character is never read past its NUL.
  for (int i = 1; i < k; ++i) {
    if (!is_following(s[i])) {
      conversion_report(__LINE__, s[i] ? "Illegal following byte in" : "Incomplete character in", src);
      *dst = 0;
      return 1;
    }
  }
  std::uint32_t value = 0;
  for (int i = 0; i < k; ++i) value = (value << 6) + s[i];
  value -= sequence_offsets[k];
  src += k;
  if (value < 0x10000) {
    if (value >= 0xD800 && value <= 0xDFFF) {
      conversion_report(__LINE__, "Value in invalid range after", src);
      src -= k;
      *dst = 0;
      return 1;
    }
    *dst++ = static_cast<char16_t>(value);
  } else if (value < 0x110000) {
    *dst++ = static_cast<char16_t>(((value - 0x10000) >> 10) + 0xD800);
    *dst++ = static_cast<char16_t>((value & 0x3FF) + 0xDC00);
  } else {
    conversion_report(__LINE__, "Value too high after", src);
    src -= k;
    *dst = 0;
    return 1;
  }
  *dst = 0;
  return 0;
}
