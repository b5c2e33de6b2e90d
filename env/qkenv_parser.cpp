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
bool Parser::next_logical_line() {
  line_.clear();
  line_pos_ = 0;
  bool continued = false;
  line_number_ = physical_lines_ + 1;
  while (!source_ended_) {
    std::string physical;
    ++physical_lines_;
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
      if (c != 0) physical.push_back(static_cast<char>(c));  // a text file has no NUL
    }
    if (physical.empty()) {
      if (ended_by_lf) {  // empty physical lines are skipped
        if (!continued) line_number_ = physical_lines_ + 1;
        continue;
      }
      break;
    }
    if (physical.back() == '\\') {
      physical.pop_back();
      while (!physical.empty() && static_cast<unsigned char>(physical.back()) >= 1 &&
             static_cast<unsigned char>(physical.back()) <= 32)
        physical.pop_back();
      line_ += physical;
      continued = true;
      continue;
    }
    line_ += physical;
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
  return static_cast<unsigned char>(line_[line_pos_++]);
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

bool Parser::next(Assignment& out) {
  out.token.clear();
  out.name.clear();
  out.line = 0;
  out.too_long = false;
  out.letter_escaped = false;
  discarding_ = false;
  size_t value_start = 0;
  int state = 0;
  for (bool done = false; !done;) {
    int c = next_char();
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
        } else {
          out.name.push_back(ch);
          out.token.push_back(ch);
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
          out.too_long = true;
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
