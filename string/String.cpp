// String: construction, access, search, hashing, windows and integer conversion. The
// operations that change a text are in StringMut.
#include "string/String.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

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

int search(const StringRep* rep, const char* s, int startpos) {
  s = or_empty(s);
  if (std::llabs(static_cast<long long>(startpos)) > rep->length) return -1;
  const int n = text_length(s);
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
    ++rep_->references;
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
  return search(rep_, s, 0) >= 0;
}

int String::contains(const String& s) const {
  if (!valid() || !s.valid()) {
    string_error(__LINE__, "bad string in String::contains(const char *)", ERROR);
    return 0;
  }
  return search(rep_, s.rep_->text(), 0) >= 0;
}

int String::contains(const char* s, int startpos) const {
  if (!valid()) {
    string_error(__LINE__, "bad string in String::contains(char *, int)", ERROR);
    return 0;
  }
  return search(rep_, s, startpos) >= 0;
}

int String::index(const char* s, int startpos) const {
  if (!valid()) {
    string_error(__LINE__, "bad string", ERROR);
    return -1;
  }
  return search(rep_, s, startpos);
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
  if (pos < 0 || len < 0 || static_cast<std::int64_t>(pos) + len > n) return SubString(nullString(), 0, 0);
  return SubString(*this, pos, len);
}

SubString String::at(const char* s, int startpos) { return at(index(s, startpos), text_length(or_empty(s))); }

SubString String::after(int pos) {
  const int n = length();
  if (pos < 0 || pos >= n) return SubString(nullString(), 0, 0);
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

std::ostream& operator<<(std::ostream& out, const String& s) {
  const char* text = s;
  return out.write(text, s.length());
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
