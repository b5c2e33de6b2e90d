// SubString: a window (string, position, length) on a String.
//
//   String s("key=value");
//   s.at("value") = "other";        // s is now "key=other"
//   String key = s.at(0, 3);        // "key"
//   if (!s.at("missing").found()) ...
//
// Extractors return windows; assigning to one replaces that stretch of its string and the
// window then covers the new text. A window does not own its string and must not outlive
// it. When there is no result, extractors return the not-found window (the null string,
// 0, 0), which assignments leave alone.
#ifndef QK_STRING_SUBSTRING_H
#define QK_STRING_SUBSTRING_H

#include <cstdint>

#include "string/String.h"

class SubString {
 public:
  // A window on s; makes s's representation private first, so that an assignment
  // through the window changes no other handle.
  SubString(String& s, int pos, int len);

  SubString& operator=(const char* text);
  SubString& operator=(const String& text);
  // Replaces this window's bytes by the other window's bytes.
  SubString& operator=(const SubString& other);
  SubString(const SubString&) = default;

  // The window's length and position (0 for an invalid window).
  int length() const;
  int position() const;
  // The string's text + position; not NUL-terminated at the window's end ("" for an
  // invalid window).
  const char* text() const;
  // False for the not-found window.
  bool found() const { return str_ != &String::nullString(); }
  // True when position and length are not negative and lie in a valid string's text.
  bool valid() const;

  // Position of s inside the window at or after startpos, or -1.
  int index(const char* s, int startpos = 0) const;
  int contains(const char* s) const { return index(s) >= 0; }
  // 1 when r matches in the window (only its bytes are searched); matches: when the first
  // match begins at the window's first byte.
  int contains(const Regex& r) const;
  int matches(const Regex& r) const;

 private:
  friend class String;
  void replace(const char* text, int n);

  String* str_;
  std::int32_t pos_;
  std::int32_t len_;
};

#endif
