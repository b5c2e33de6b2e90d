// The QK.env reader's layers 1 to 3; env.cpp applies what they find.
#include "env/internal/qkenv_parser.h"

#include <ctype.h>
#include <string.h>

#include <utility>

namespace qkenv {

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";

bool is_mark_byte(int c) { return c == 0xEF || c == 0xBB || c == 0xBF; }

void remove_byte_order_marks(std::string& s) {
  for (size_t at; (at = s.find(kByteOrderMark)) != std::string::npos;) s.erase(at, 3);
}

}  // namespace

Parser::Parser(std::function<int()> source,
               std::function<const char*(const std::string&)> lookup,
               std::function<void()> before_high_byte)
    : source_(std::move(source)),
      lookup_(std::move(lookup)),
      before_high_byte_(std::move(before_high_byte)) {}

void Parser::classifying(int c) {
  if (c >= 0x80 && before_high_byte_) before_high_byte_();
}

bool Parser::is_blank(int c) {
  classifying(c);
  return isspace(static_cast<unsigned char>(c)) != 0;
}

bool Parser::is_letter(int c) {
  classifying(c);
  return isalpha(static_cast<unsigned char>(c)) != 0;
}

bool Parser::is_name_char(int c) {
  classifying(c);
  return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Joins physical lines into one logical line ending in LF; false at the end of the file.
// A logical line holds at most kLineMax bytes: the rest is read and dropped (the line is
// marked cut), so that a file of one endless line costs no more memory than a long one.
bool Parser::next_logical_line() {
  line_.clear();
  line_pos_ = 0;
  line_cut_ = false;
  bool continued = false;
  line_number_ = physical_lines_ + 1;
  while (!source_ended_) {
    ++physical_lines_;
    const size_t start = line_.size();
    size_t length = 0;  // bytes of this physical line, kept or dropped
    size_t kept = 0;
    int last = 0;
    bool ended_by_lf = false;
    for (;;) {
      int c = source_();
      if (c < 0) {
        source_ended_ = true;
        break;
      }
      if (c == '\n') {
        ended_by_lf = true;
        break;
      }
      if (c == 0) continue;  // a text file has no NUL
      ++length;
      last = c;
      if (line_.size() < kLineMax) {
        line_.push_back(static_cast<char>(c));
        ++kept;
      } else {
        line_cut_ = true;
      }
    }
    if (length == 0) {
      if (ended_by_lf) {  // empty physical lines are skipped
        if (!continued) line_number_ = physical_lines_ + 1;
        continue;
      }
      break;
    }
    if (last == '\\') {
      if (kept == length) {
        line_.pop_back();
        while (line_.size() > start && static_cast<unsigned char>(line_.back()) >= 1 &&
               static_cast<unsigned char>(line_.back()) <= 32)
          line_.pop_back();
      }
      continued = true;
      continue;
    }
    line_.push_back('\n');
    return true;
  }
  if (line_.empty() && !continued) return false;
  line_.push_back('\n');
  return true;
}

int Parser::raw() {
  if (pushed_back_ >= 0) {
    int c = pushed_back_;
    pushed_back_ = -1;
    return c;
  }
  if (line_pos_ >= line_.size() && !next_logical_line()) return -1;
  const int c = static_cast<unsigned char>(line_[line_pos_++]);
  if (line_cut_ && line_pos_ == line_.size()) cut_line_ended_ = true;
  return c;
}

int Parser::next_char() {
  for (;;) {
    took_letter_ = false;
    // A value being skipped ends at a line feed, wherever that comes from.
    if (discarding_ && expansion_pos_ < expansion_.size()) {
      expansion_pos_ = expansion_.find('\n', expansion_pos_);
      if (expansion_pos_ == std::string::npos) expansion_pos_ = expansion_.size();
    }
    if (expansion_pos_ < expansion_.size())
      return static_cast<unsigned char>(expansion_[expansion_pos_++]);
    int c = raw();
    if (c == '\\') {
      int d = raw();
      took_letter_ = ((d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z'));
      switch (d) {
        case 'b': took_letter_ = false; return 8;
        case 'n': took_letter_ = false; return '\n';
        case 't': took_letter_ = false; return '\t';
        case 'v': took_letter_ = false; return 11;
        default: return d;
      }
    }
    if (c != '$') return c;
    int d = raw();
    if (d == '$') return '$';
    std::string name;
    while (d >= 0 && is_name_char(d)) {
      name.push_back(static_cast<char>(d));
      d = raw();
    }
    if (d >= 0) pushed_back_ = d;
    expansion_.clear();
    expansion_pos_ = 0;
    if (!name.empty()) {
      const char* value = lookup_(name);
      if (value && discarding_) value = strchr(value, '\n');  // only its line end matters
      if (value) expansion_ = value;
    }
  }
}

namespace {

void mark_overflow(Assignment& out, Overflow what) {
  out.too_long = true;
  if (out.overflow == Overflow::none) out.overflow = what;
}

}  // namespace

bool Parser::next(Assignment& out) {
  out.token.clear();
  out.name.clear();
  out.line = 0;
  out.too_long = false;
  out.overflow = Overflow::none;
  out.letter_escaped = false;
  discarding_ = false;
  size_t value_start = 0;
  int state = 0;
  for (bool done = false; !done;) {
    int c = next_char();
    // A line cut at kLineMax inside an assignment leaves it incomplete: it is not set, and
    // it ends with its line (what was dropped may have held its "=", which the next line
    // must not stand in for). Inside a comment, or before a line's first name, nothing
    // was lost.
    if (cut_line_ended_) {
      cut_line_ended_ = false;
      if (state >= 2) {
        mark_overflow(out, Overflow::line);
        break;
      }
    }
    if (c < 0) break;
    const char ch = static_cast<char>(c);
    switch (state) {
      case 0:  // line start
        if (is_mark_byte(c) || is_blank(c)) break;
        if (c == '#' || c == '!') {
          state = 1;
        } else if (c == '.' || c == '@' || c == '_' || is_letter(c)) {
          out.line = line_number_;
          out.token.push_back(ch);
          if (c == '_' || is_letter(c)) out.name.push_back(ch);
          state = 2;
        }
        break;
      case 1:  // comment
        if (c == '\n') state = 0;
        break;
      case 2:  // name
        if (c == '=') {
          out.token.push_back(ch);
          state = 4;
        } else if (is_blank(c)) {
          state = 3;
        } else if (out.name.size() < kNameMax) {
          out.name.push_back(ch);
          out.token.push_back(ch);
        } else {
          mark_overflow(out, Overflow::name);
        }
        break;
      case 3:  // before "="
        if (c == '=') {
          out.token.push_back(ch);
          state = 4;
        }
        break;
      case 4:  // before the value
        if (c == '\n') {
          done = true;
        } else if (!is_blank(c)) {
          value_start = out.token.size();
          out.token.push_back(ch);
          out.letter_escaped = took_letter_;
          state = 5;
        }
        break;
      default:  // value
        if (c == '\n') {
          done = true;
        } else if (discarding_) {
          break;
        } else if (out.token.size() - value_start < kValueMax) {
          out.token.push_back(ch);
          out.letter_escaped |= took_letter_;
        } else {
          mark_overflow(out, Overflow::value);
          discarding_ = true;
        }
        break;
    }
  }
  discarding_ = false;
  remove_byte_order_marks(out.token);
  remove_byte_order_marks(out.name);
  return !out.token.empty();
}

std::string value_part(const std::string& token) {
  size_t eq = token.find('=');
  return eq == std::string::npos ? std::string() : token.substr(eq + 1);
}

}  // namespace qkenv
