// String: the operations that change a text (assignment, appending, concatenation and
// assignment through windows). Each makes the representation private first.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "log/logger.h"
#include "string/String.h"
#include "string/internal/string_internal.h"

#define QK_LOG_SOURCE "StringMut"

namespace {

// The text of a handle for reading; "" after a report for a bad one.
const char* readable(const String& s, int& length) {
  const StringRep* rep = s.rep();
  if (!StringRep::valid(rep)) {
    string_error(__LINE__, "bad string", ERROR);
    rep = StringRep::empty();
  }
  length = rep->length;
  return rep->text();
}

}  // namespace

String String::adopt(StringRep* rep) {
  String s;
  s.rep_ = rep;
  return s;
}

// A bad handle that is about to be rewritten is reported and then starts over empty; the
// corrupt block is never touched.
void String::drop_bad_rep() {
  if (!valid()) {
    string_error(__LINE__, "bad string", ERROR);
    rep_ = StringRep::empty();
  }
}

String& String::operator=(const String& other) {
  if (!other.valid()) {
    string_error(__LINE__, "Tried to assign from a bad string", ERROR);
    return *this;
  }
  if (this == &other || rep_ == other.rep_) return *this;
  StringRep* old = rep_;
  share(other.rep_);
  StringRep::release(old);
  return *this;
}

String& String::operator=(const char* text) {
  drop_bad_rep();
  rep_ = StringRep::replace(rep_, text, -1);
  return *this;
}

String& String::operator=(const SubString& window) {
  if (!window.valid()) {
    string_error(__LINE__, "Tried to assign from a bad substring", ERROR);
    StringRep::release(rep_);
    rep_ = StringRep::create(nullptr, 0);
    rep_->references = 1;
    return *this;
  }
  drop_bad_rep();
  rep_ = StringRep::replace(rep_, window.text(), window.length());
  return *this;
}

String& String::operator+=(const String& other) {
  int n;
  const char* text = readable(other, n);
  drop_bad_rep();
  rep_ = StringRep::append(rep_, text, n);
  return *this;
}

String& String::operator+=(const char* text) {
  drop_bad_rep();
  rep_ = StringRep::append(rep_, text, -1);
  return *this;
}

String& String::append_slow(char c) {
  if (c == 0) return *this;
  drop_bad_rep();
  rep_ = StringRep::append(rep_, &c, 1);
  return *this;
}

String String::concatenate(const char* left, int left_length, const char* right, int right_length) {
  const std::int64_t total = static_cast<std::int64_t>(left_length) + right_length;
  if (total > StringRep::max_capacity) {
    String result(left, left_length);
    result.rep_ = StringRep::append(result.rep_, right, right_length);  // reported, left as it was
    return result;
  }
  StringRep* rep = StringRep::create(nullptr, static_cast<int>(total));
  std::memcpy(rep->text(), left, static_cast<std::size_t>(left_length));
  std::memcpy(rep->text() + left_length, right, static_cast<std::size_t>(right_length));
  rep->references = 1;
  return adopt(rep);
}

String operator+(const String& left, const String& right) {
  int left_length, right_length;
  const char* l = readable(left, left_length);
  const char* r = readable(right, right_length);
  return String::concatenate(l, left_length, r, right_length);
}

String operator+(const String& left, const char* right) {
  int left_length;
  const char* l = readable(left, left_length);
  right = right ? right : "";
  return String::concatenate(l, left_length, right, static_cast<int>(std::strlen(right)));
}

String operator+(const char* left, const String& right) {
  int right_length;
  const char* r = readable(right, right_length);
  left = left ? left : "";
  return String::concatenate(left, static_cast<int>(std::strlen(left)), r, right_length);
}

// SubString assignment: the window's bytes are replaced and the window then covers the
// new text. A text that lies in the window's own string is copied aside by the splice.

void SubString::replace(const char* text, int n) {
  if (str_ == &String::nullString()) return;
  if (!valid()) {
    string_error(__LINE__, "assigning to corrupted substring", ERROR);
    return;
  }
  const std::int64_t expected = static_cast<std::int64_t>(str_->rep_->length) - len_ + n;
  str_->rep_ = StringRep::splice(str_->rep_, pos_, len_, text, n);
  if (str_->rep_->length == expected) len_ = n;
}

SubString& SubString::operator=(const char* text) {
  text = text ? text : "";
  replace(text, static_cast<int>(std::strlen(text)));
  return *this;
}

SubString& SubString::operator=(const String& text) {
  int n;
  const char* bytes = readable(text, n);
  replace(bytes, n);
  return *this;
}

SubString& SubString::operator=(const SubString& other) {
  if (this == &other) return *this;
  if (!other.valid()) {
    string_error(__LINE__, "Tried to assign from a bad substring", ERROR);
    return *this;
  }
  replace(other.text(), other.length());
  return *this;
}

// Case and order: reverse(), upcase(), downcase() and capitalize() change the text in
// place. Their failures are logged under the source name StringMut.

namespace {

LoggerGuard logger_guard;

// The trace check after a change, while a debugging switch is on.
void after_change(StringRep* rep) {
  if (string_internal::trace_switch || string_internal::no_sharing_switch) string_internal::trace_check(rep);
}

}  // namespace

void String::reverse() {
  if (!valid()) {
    string_error(__LINE__, "reverse bad string", ERROR);
    return;
  }
  rep_ = StringRep::make_private(rep_);
  const int n = rep_->length;
  if (n == 0) return;
  char* text = rep_->text();
  // Each character goes just before the one that preceded it, filling the copy from its end.
  std::vector<char> reversed(static_cast<std::size_t>(n) + 1, 0);
  int i = 0;
  while (i < n) {
    const int k = utf8_char_length(text + i);
    if (k < 1 || k > n - i) {
      QK_LOG(ERROR) << "String::reverse() failed due to invalid character found at position " << i
                    << " in string: " << text;
      return;
    }
    std::memcpy(reversed.data() + (n - i - k), text + i, static_cast<std::size_t>(k));
    i += k;
  }
  std::memcpy(text, reversed.data(), static_cast<std::size_t>(n));
  after_change(rep_);
}

namespace {

// Walks the text by characters and maps each one-byte character; the offset of the first
// invalid character, or -1 when there is none.
int map_single_bytes(char* text, int (*map)(int)) {
  for (int i = 0; text[i];) {
    const int k = utf8_char_length(text + i);
    if (k < 0) return i;
    if (k == 1) text[i] = static_cast<char>(map(static_cast<unsigned char>(text[i])));
    i += k;
  }
  return -1;
}

}  // namespace

void String::upcase() {
  if (!valid()) {
    string_error(__LINE__, "upcase bad string", ERROR);
    return;
  }
  rep_ = StringRep::make_private(rep_);
  const int bad = map_single_bytes(rep_->text(), std::toupper);
  if (bad >= 0)
    QK_LOG(ERROR) << "String::upcase() failed at position " << bad << " due to invalid character in string: "
                  << rep_->text();
  after_change(rep_);
}

void String::downcase() {
  if (!valid()) {
    string_error(__LINE__, "downcase bad string", ERROR);
    return;
  }
  rep_ = StringRep::make_private(rep_);
  const int bad = map_single_bytes(rep_->text(), std::tolower);
  if (bad >= 0)
    QK_LOG(ERROR) << "String::downcase() failed at position " << bad << " due to invalid character in string: '"
                  << rep_->text() << "'."
                  << " String does not form a valid multibyte character within the first "
                  << static_cast<int>(MB_CUR_MAX) << " characters.";
  after_change(rep_);
}

void String::capitalize() {
  if (!valid()) {
    string_error(__LINE__, "capitalize bad string", ERROR);
    return;
  }
  rep_ = StringRep::make_private(rep_);
  char* text = rep_->text();
  bool at_word_start = true;
  for (int i = 0; i < rep_->length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // A byte of a multi-byte character is never changed (a locale with a single-byte
    // character set would take it for a letter) and continues the word it stands in.
    if (c >= 0x80) {
      at_word_start = false;
    } else if (at_word_start && std::islower(c)) {
      text[i] = static_cast<char>(std::toupper(c));
      at_word_start = false;
    } else if (std::isupper(c)) {
      text[i] = static_cast<char>(std::tolower(c));
    } else if (!std::islower(c) && !std::isdigit(c)) {
      at_word_start = true;
    }
  }
  after_change(rep_);
}
