// String and the standard streams: inserting strings and windows, reading words and
// lines, and the debugging aids that print a string or its representation.
#include <cctype>
#include <cstring>
#include <iostream>
#include <istream>
#include <ostream>

#include "string/String.h"
#include "string/StringIos.h"
#include "string/SubString.h"
#include "string/internal/string_internal.h"

std::ostream& operator<<(std::ostream& out, const String& s) {
  if (!StringRep::valid(s.rep())) return out;
  return out << s.rep()->text();
}

std::ostream& operator<<(std::ostream& out, const SubString& window) {
  if (!window.valid()) return out;
  const char* text = window.text();
  for (int i = 0; i < window.length(); ++i) out.put(text[i]);
  return out;
}

namespace {

// Makes s's representation private and empty, the way the readers begin.
void start_empty(String& s) { s = ""; }

void after_read(const String& s) {
  if (string_internal::trace_switch) string_internal::trace_check(s.rep());
}

}  // namespace

std::istream& operator>>(std::istream& in, String& s) {
  if (!StringRep::valid(s.rep())) {
    in.clear(std::ios_base::badbit);
    return in;
  }
  start_empty(s);
  in >> std::ws;
  if (!in.good()) {
    in.clear(std::ios_base::badbit);
    return in;
  }
  char c;
  while (in.get(c) && !std::isspace(static_cast<unsigned char>(c))) s += c;
  if (s.length() == 0) {
    in.clear(std::ios_base::badbit);
  } else if (in.fail() && !in.bad()) {
    // A word that ends at the end of the input is a word read: only end-of-file is left
    // set, so that a reading loop still takes it.
    in.clear(in.rdstate() & ~std::ios_base::failbit);
  }
  after_read(s);
  return in;
}

int readline(std::istream& in, String& s, char terminator, int discard) {
  if (!StringRep::valid(s.rep())) {
    in.clear(std::ios_base::badbit);
    return 0;
  }
  start_empty(s);
  char c;
  while (in.get(c)) {
    if (c != terminator || !discard) s += c;
    if (c == terminator) break;
  }
  return s.length();
}

void dump(const String& s) {
  const StringRep* rep = s.rep();
  const bool valid = StringRep::valid(rep);
  std::cout << "<<@" << static_cast<const void*>(rep) << " -- ";
  // A corrupt handle's fields are shown as they are (that is what the dump is for); a null
  // one has none.
  if (rep)
    std::cout << rep->capacity << "a " << rep->length << "l " << rep->count() << "r ";
  else
    std::cout << "0a 0l 0r ";
  std::cout << '"' << s << '"';
  if (!valid) std::cout << "(hosed)";
  std::cout << ">>" << std::endl;
}

void dump(const SubString& window) {
  std::cout << "<<from" << window.position() << " for " << window.length() << " \"" << window << '"';
  if (!window.valid()) std::cout << " (hosed)";
  std::cout << ">>" << std::endl;
}

const char* display_text(const String* s) {
  if (!s) return nullptr;
  static String* scratch = nullptr;
  static oStringstream_QK* stream = nullptr;
  if (!scratch) {
    scratch = new String;
    stream = new oStringstream_QK(*scratch, -1, std::ios_base::out);
  } else {
    *scratch = "";
  }
  stream->clear();
  *stream << *s;
  // Tabs become spaces in place (the window keeps the scratch text private).
  SubString whole(*scratch, 0, scratch->length());
  char* text = const_cast<char*>(whole.text());
  for (int i = 0; i < whole.length(); ++i)
    if (text[i] == '\t') text[i] = ' ';
  return *scratch;
}

const char** display_lines(const String* s) {
  static const int kLines = 100;
  static char* buffer = nullptr;
  static const char* lines[kLines + 1];
  const char* text = s ? static_cast<const char*>(*s) : "(nil)";
  delete[] buffer;
  const std::size_t n = std::strlen(text);
  buffer = new char[n + 1];
  std::memcpy(buffer, text, n + 1);
  for (const char*& line : lines) line = nullptr;
  char* p = buffer;
  for (int i = 0; i < kLines; ++i) {
    lines[i] = p;
    char* newline = std::strchr(p, '\n');
    if (!newline) break;
    *newline = 0;
    p = newline + 1;
  }
  return lines;
}
