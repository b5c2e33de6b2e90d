// The QK.env reader: turns the bytes of one file into assignments in four layers.
//
//   1. logical lines: physical lines of any length, empty ones skipped, a final "\" joins
//      the next line (the "\" and the blanks before it removed), each ending in one LF;
//   2. characters: "\" escapes (\b \n \t \v, else the next byte itself), "$NAME"
//      references expanded from the environment of the moment, "$$" for one "$";
//   3. the tokenizer: "NAME = value", "@NAME=value" (forced), "#" and "!" comments, a
//      leading UTF-8 byte-order mark skipped;
//      a name is bounded at kNameMax bytes, a value at kValueMax and a logical line at
//      kLineMax (the rest of a longer line is skipped as it is read, never held);
//   4. the caller applies each assignment (see env.cpp).
#ifndef QK_ENV_INTERNAL_QKENV_PARSER_H
#define QK_ENV_INTERNAL_QKENV_PARSER_H

#include <functional>
#include <string>

namespace qkenv {

// The longest value an assignment may give: what Windows allows an environment variable
// (32767 characters with the terminating zero). A longer value is not kept; the assignment
// is marked instead, so that references that nest from line to line cannot grow without end.
const size_t kValueMax = 32766;
// The longest name an assignment may give. Every system passes a variable to the programs
// it starts as one string of name, "=" and value, and refuses to start them when one
// string is too long; 255 characters is the name buffer of the settings' own format.
const size_t kNameMax = 255;
// The longest logical line that is held: room for the longest name and the longest value
// with every byte of it escaped. The rest of a longer line is read and dropped.
const size_t kLineMax = 2 * kValueMax + kNameMax + 256;

// Which bound an assignment went past: it is then not set (the caller says so), and its
// token and name hold their beginnings only.
enum class Overflow { none, value, name, line };

struct Assignment {
  std::string token;      // "NAME=value", possibly behind "@" or "."
  std::string name;       // the name alone
  int line = 0;           // the file's line where the assignment starts (from 1)
  bool too_long = false;  // a bound was exceeded (overflow says which)
  Overflow overflow = Overflow::none;
  // A backslash in the value took a letter other than b, n, t or v ("C:\Program" gives
  // "C:Program"): what a Windows path written with single backslashes does.
  bool letter_escaped = false;
};

class Parser {
 public:
  // source gives the file's bytes (0 to 255) and -1 at its end; lookup gives a
  // variable's value of the moment or nullptr. The character classes are the C library's
  // of the locale of the moment; all locales agree on the bytes below 0x80, and
  // before_high_byte (when given) is called before a byte from 0x80 up is classified, so
  // that the caller may set the locale only when it matters.
  Parser(std::function<int()> source, std::function<const char*(const std::string&)> lookup,
         std::function<void()> before_high_byte = nullptr);

  // The next assignment; false at the end of the file.
  bool next(Assignment& out);

 private:
  bool next_logical_line();
  bool append_to_line(char c);
  bool is_blank(int c);
  bool is_letter(int c);
  bool is_name_char(int c);
  void classifying(int c);
  int raw();
  int next_char();

  std::function<int()> source_;
  std::function<const char*(const std::string&)> lookup_;
  std::function<void()> before_high_byte_;
  bool source_ended_ = false;
  int pushed_back_ = -1;  // the push-back slot: -1 empty, else one byte
  std::string line_;      // the current logical line
  size_t line_pos_ = 0;
  std::string expansion_;  // the pending expansion and how far it was delivered
  size_t expansion_pos_ = 0;
  int physical_lines_ = 0;  // physical lines read so far
  int line_number_ = 0;     // the first physical line of the current logical line
  bool discarding_ = false;  // the current value is too long: the rest of it is skipped
  bool line_cut_ = false;    // the current logical line went past kLineMax
  bool cut_line_ended_ = false;  // the line feed of a cut line was just delivered
  bool took_letter_ = false;  // the last character came from a backslash before a letter (not b n t v)
};

// The value part of a token: the text after its first "=" (empty without one).
std::string value_part(const std::string& token);

}  // namespace qkenv

#endif
