// String: the framework's text value.
//
// A String is one pointer to a shared, reference-counted StringRep holding a counted,
// NUL-terminated run of bytes (UTF-8 by convention). Copies share the representation;
// every change first makes it private to the changing handle (copy on write).
//
//   String path("R");
//   path += "/java/lib";
//   String jar = path + "/Brimvale.jar";   // path is left as it was
//   if (jar.contains("java")) ...
//
// A handle can be corrupt (overwritten, never constructed). Every operation checks its
// handle first; a bad one is reported through stdlog and treated as an empty string, and
// the program goes on. QK_FATAL_STRING_ERROR raises these reports to FATAL.
#ifndef QK_STRING_STRING_H
#define QK_STRING_STRING_H

#include <stdio.h>

#include <iosfwd>

#include "log/logger.h"
#include "string/StringRep.h"

class SubString;
class Regex;

namespace string_internal {
// Module switches, set by string_debug_switches.
extern bool trace_switch;
extern bool no_sharing_switch;
}  // namespace string_internal

class String {
 public:
  // Refers to the empty representation.
  String();
  // len bytes of text (len -1: strlen(text)); a null text gives the empty text. Always
  // takes a block of its own, even for an empty text.
  String(const char* text, int len = -1);
  inline String(const String& other);
  // The window's bytes.
  String(const SubString& window);
  inline ~String();

  String& operator=(const String& other);
  String& operator=(const char* text);
  String& operator=(const SubString& window);

  String& operator+=(const String& other);
  String& operator+=(const char* text);
  // Appends one byte; the byte 0 leaves the text unchanged.
  String& operator+=(char c);

  // The text, valid until the string changes; "" for a bad handle.
  operator const char*() const;
  int length() const;
  // 1 when s occurs anywhere in the text, else 0.
  int contains(const char* s) const;
  int contains(const String& s) const;
  // 1 when the first len bytes of s (len -1: all of it) occur anywhere in the text.
  int contains(const char* s, int len) const;
  // Position of s searching forward from startpos, or backward from length + startpos
  // when startpos is negative (-1 lets the match end on the last byte); -1 when absent.
  int index(const char* s, int startpos = 0) const;
  // 1 when s occurs exactly at pos (counted from the end when negative), else 0.
  int matches(const char* s, int pos = 0) const;
  // The text's hash reduced to its low bits bits (0 to 31).
  int hash(int bits) const;

  // The first and last byte (0 for an empty or bad string).
  char firstchar() const;
  char lastchar() const;
  // Bytes of text the representation can hold.
  int allocation() const;
  // 1 when the text is empty (or the handle bad).
  int empty() const;
  // The byte at i (0 when i lies outside the text, after a report).
  char operator[](int i) const;
  char elem(int i) const;

  // Windows on this string; each makes the representation private first. A window that
  // does not fit the text is the not-found window on the null string.
  SubString at(int pos, int len);
  SubString at(const char* s, int startpos = 0);
  SubString after(int pos);

  // Case and order, in place (copy on write). An invalid character stops upcase() and
  // downcase() there (the part before it stays changed) and leaves reverse() undone; each
  // is logged. A bad handle is reported and left alone.
  // The characters in reverse order, each multi-byte character's bytes kept in order.
  void reverse();
  // One-byte characters to upper or lower case; multi-byte characters stay as they are.
  void upcase();
  void downcase();
  // The first letter of each word upper case, every other upper-case letter lower case.
  void capitalize();
  // The stream buffer appends runs of bytes to its target directly.
  friend class Stringstreambuf_QK;

  // Pattern operations (StringRG, StringGsub). A non-negative startpos searches forward
  // from startpos to the end; a negative one searches backward for the last match that
  // ends by position length + startpos (-1: the whole text). See Regex::search.
  //
  //   String line("  key = 42 ");
  //   line.squeeze();                          // "key = 42"
  //   int at = line.index(integer_pattern);    // 6
  //   line.gsub(Regex("[ ]*=[ ]*"), "=");      // "key=42"
  int index(const Regex& r, int startpos = 0) const;
  int contains(const Regex& r) const;
  int contains(const Regex& r, int startpos) const;
  // 1 when the first match from pos (counted from the end when negative) begins at pos.
  int matches(const Regex& r, int pos = 0) const;
  // The match; the text before it, up to its end, from its start, after it. The
  // not-found window when there is no match.
  SubString at(const Regex& r, int startpos = 0);
  SubString before(const Regex& r, int startpos = 0);
  SubString through(const Regex& r, int startpos = 0);
  SubString from(const Regex& r, int startpos = 0);
  SubString after(const Regex& r, int startpos = 0);
  // Deletes the match, if there is one.
  void remove(const Regex& r, int startpos = 0);
  // Replaces every match, each next one searched after the last replacement (an empty
  // match also steps over the character after it); returns the number of replacements.
  int gsub(const Regex& r, const String& repl);
  // Replaces every occurrence of the text pat (gsub_words: every occurrence that stands
  // as a whole word, not next to a letter, digit or underscore); returns the number of
  // replacements. An empty pat replaces nothing.
  int gsub(const String& pat, const String& repl);
  int gsub(const String& pat, const char* repl);
  int gsub(const SubString& pat, const String& repl);
  int gsub(const SubString& pat, const char* repl);
  int gsub(const char* pat, const String& repl);
  int gsub(const char* pat, const char* repl);
  int gsub_words(const String& pat, const String& repl);
  int gsub_words(const String& pat, const char* repl);
  int gsub_words(const SubString& pat, const String& repl);
  int gsub_words(const SubString& pat, const char* repl);
  int gsub_words(const char* pat, const String& repl);
  int gsub_words(const char* pat, const char* repl);
  // Removes leading and trailing runs of space, tab, CR and LF; squeeze() then turns every
  // remaining run of them into one space.
  void trim();
  void squeeze();

 private:
  int gsub_text(const char* pat, int n, const char* repl, int m, bool words);

 public:
  // The process-wide null string, target of every not-found window.
  static const String& nullString();

  // The representation, for the string module's other parts and for checks.
  StringRep* rep() const { return rep_; }

 private:
  friend class SubString;
  bool valid() const { return StringRep::valid(rep_); }
  // Takes rep as this handle's (counted; a copy of its own under no-sharing).
  void share(StringRep* rep);
  void copy_slow(const String& other);
  void release_slow();
  // Leaves a corrupt representation alone and starts over with the empty text.
  void drop_bad_rep();
  static SubString not_found();
  // A String holding rep, already counted for it.
  static String adopt(StringRep* rep);
  // The two texts one after the other, in one new representation.
  static String concatenate(const char* left, int left_length, const char* right, int right_length);
  friend String operator+(const String& left, const String& right);
  friend String operator+(const String& left, const char* right);
  friend String operator+(const char* left, const String& right);
  String& append_slow(char c);

  StringRep* rep_;
};

String operator+(const String& left, const String& right);
String operator+(const String& left, const char* right);
String operator+(const char* left, const String& right);
// A String plus a number would otherwise compile as pointer arithmetic on the text.
String operator+(const String& left, char right) = delete;
String operator+(const String& left, int right) = delete;

// Byte comparison (strcmp); a null text compares as "".
bool operator==(const String& left, const char* right);
bool operator==(const String& left, const String& right);
inline bool operator!=(const String& left, const char* right) { return !(left == right); }
inline bool operator!=(const String& left, const String& right) { return !(left == right); }

std::ostream& operator<<(std::ostream& out, const String& s);

// UTF-8 text, character by character. The length routine accepts overlong forms and
// 4-byte values up to 0x1FFFFF, and judges a value by its low 16 bits: 0xFFFE, 0xFFFF
// and the surrogates 0xD800 to 0xDFFF are invalid. What it cannot read it logs at ERROR.
//
//   int n = utf8_char_count(text);          // characters, invalid bytes skipped
//   for (const char* p = text; *p;) {
//     int k = utf8_char_length(p);           // 1 to 4, or -1 (logged)
//     p += k > 0 ? k : 1;
//   }

// Bytes (1 to 4) of the character at p; 0 at the terminating NUL or for a null p; -1 for
// an invalid character (logged).
int utf8_char_length(const char* p);
// Valid characters in s (0 for null); each invalid byte is skipped and not counted, with
// the same records as utf8_char_length.
int utf8_char_count(const char* s);
// The first byte of s's last character (moving back over bytes 0x80 to 0xBF, never
// before s); nullptr for a null or empty s.
const char* utf8_last_char(const char* s);
// The two texts compared by the user's locale: 1, -1 or 0. With an empty (or null) text,
// the C library's strcoll.
int utf8_collate(const char* a, const char* b);
// Code-page conversions of n bytes of in (-1: up to the NUL) into out, NUL-terminated.
// False for a null in, a text that does not convert, or an out of fewer than outsize
// bytes than the result needs; nothing is logged.
bool utf8_to_ansi(const char* in, int n, char* out, int outsize);
bool utf8_to_oem(const char* in, int n, char* out, int outsize);
bool ansi_to_utf8(const char* in, int n, char* out, int outsize);
bool oem_to_utf8(const char* in, int n, char* out, int outsize);
// fopen by a UTF-8 file name and mode; nullptr (errno EINVAL) when either is not UTF-8.
FILE* utf8_fopen(const char* name, const char* mode);
// One character from src into dst (one unit, or a surrogate pair), advancing both, then a
// 0 unit at dst without advancing it: dst needs room for 3 units. 0 on success; 1 on error
// (logged at SEVERE_ERROR), with src left at the start of the bad character.
int utf8_to_utf16_char(const char*& src, char16_t*& dst);

class SubString;
// The window's bytes; nothing for an invalid window.
std::ostream& operator<<(std::ostream& out, const SubString& window);
// One word: white space skipped, then bytes up to the next white-space byte (consumed).
// A bad handle, or no word, leaves the stream's state exactly badbit.
std::istream& operator>>(std::istream& in, String& s);
// Bytes up to and including terminator (kept unless discard is non-zero) or the end of
// input; the length read.
int readline(std::istream& in, String& s, char terminator = '\n', int discard = 1);
// The representation (address, capacity, length, references, text) on standard output.
void dump(const String& s);
void dump(const SubString& window);
// For debuggers: the text with tabs as spaces (valid until the next call; nullptr for a
// null pointer), and the text cut into at most 100 lines (a null-terminated array).
const char* display_text(const String* s);
const char** display_lines(const String* s);

// value in base 2 to 36 (digits above 9 in lower case), a minus sign for negative values.
// Not re-entrant: the digits are built in a module buffer. Another base gives "" after a
// warning.
String inttostr(int value, int base = 10);
String uinttostr(unsigned value, int base = 10);

// The three-record error report: a line of stars at ERROR, "* STRING ERROR: " with the
// message, a space and number at level (FATAL when QK_FATAL_STRING_ERROR is set), and a
// closing line of stars.
void string_error(int number, const char* message, int level);
// One record at WARNING: "String warning:  " and the message (and the number).
void string_warning(const char* message);
void string_warning(const char* message, int number);
// Sets the trace and no-sharing switches (non-zero is on).
void string_debug_switches(int trace, int no_sharing);

// Copying and destroying are a count increment and decrement on the common path.
inline String::String(const String& other) : rep_(other.rep_) {
  StringRep* r = rep_;
  if (r != StringRep::empty_instance && StringRep::valid(r) && !string_internal::no_sharing_switch) {
    r->hold();
    return;
  }
  copy_slow(other);
}

inline String::~String() {
  StringRep* r = rep_;
  // Never the empty representation: it counts 0. Atomic counts take release_slow().
  if (StringRep::valid(r) && string_internal::plain_counts() && r->references > 1) {
    --r->references;
    return;
  }
  release_slow();
}

inline String& String::operator+=(char c) {
  // Room in a private representation of a size class (never the empty one, which has
  // no room): the byte goes in place.
  StringRep* r = rep_;
  if (r && c != 0) {
    const std::uint32_t capacity = static_cast<std::uint32_t>(r->capacity);
    const std::uint32_t n = static_cast<std::uint32_t>(r->length);
    const std::uint32_t block = capacity + StringRep::overhead;
    if (n < capacity && capacity <= static_cast<std::uint32_t>(StringRep::max_capacity) && (block & (block - 1)) == 0 &&
        capacity >= static_cast<std::uint32_t>(StringRep::smallest_block - StringRep::overhead) &&
        r->count() <= 1 && !string_internal::trace_switch) {
      char* text = r->text();
      text[n] = c;
      text[n + 1] = 0;
      r->length = static_cast<std::int32_t>(n + 1);
      r->state = 0;
      return *this;
    }
  }
  return append_slow(c);
}

#include "string/SubString.h"
#include "string/Regex.h"

#endif
