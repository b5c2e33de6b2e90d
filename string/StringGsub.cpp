// String: global substitution (of a Regex's matches, of a plain text, of a plain text
// standing as a word) and the whitespace clean-ups trim() and squeeze().
#include <cstring>
#include <string>

#include "string/Regex.h"
#include "string/String.h"
#include "string/internal/regexp_internal.h"
#include "string/internal/string_internal.h"
#include "string/regexp.h"

namespace {

// Letters, digits and the underscore: what a word is made of.
bool word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

int String::gsub(const Regex& r, const String& repl) {
  if (!valid()) {
    string_error(__LINE__, "bad string", ERROR);
    return 0;
  }
  const String replacement(repl);  // keeps its bytes, also when repl is this string
  int n = 0;
  const char* bytes = replacement.valid() ? replacement.rep_->text() : "";
  if (replacement.valid()) n = replacement.rep_->length;
  rep_ = StringRep::make_private(rep_);
  int count = 0;
  int pos = 0;
  // One budget for all the searches: a pattern that is slow on this text stops the
  // substitution as it would stop a single search.
  long long steps = regexp_step_budget(rep_->length);
  while (pos < rep_->length) {
    int matchlen;
    const int p = r.search(rep_->text(), rep_->length, matchlen, pos, steps);
    if (p < 0) break;
    const int expected = rep_->length - matchlen + n;
    rep_ = StringRep::splice(rep_, p, matchlen, bytes, n);
    if (rep_->length != expected) break;  // too big: reported, the text left as it was
    ++count;
    pos = p + n;
    if (matchlen == 0) {
      // An empty match would be found again at once: step over the character after it.
      const unsigned char* text = reinterpret_cast<const unsigned char*>(rep_->text());
      const int k = string_internal::utf8_sequence_length(text + pos, text + rep_->length);
      pos += k > 0 ? k : 1;
    }
  }
  return count;
}

// The plain-text substitutions: the n bytes of pat by the m bytes of repl.
int String::gsub_text(const char* pat, int n, const char* repl, int m, bool words) {
  if (!valid()) {
    string_error(__LINE__, "bad string", ERROR);
    return 0;
  }
  if (n <= 0) return 0;
  const String pattern(pat, n);  // pat and repl may lie in this string's own text
  const String replacement(repl, m);
  rep_ = StringRep::make_private(rep_);
  int count = 0;
  int pos = 0;
  for (;;) {
    const int p = index(pattern, pos);
    if (p < 0) break;
    const char* text = rep_->text();
    if (words && ((p > 0 && word_byte(text[p - 1])) || (p + n < rep_->length && word_byte(text[p + n])))) {
      pos = p + n;
      continue;
    }
    const int expected = rep_->length - n + m;
    rep_ = StringRep::splice(rep_, p, n, replacement.rep_->text(), m);
    if (rep_->length != expected) break;
    ++count;
    pos = p + m;
  }
  return count;
}

namespace {

// The bytes of a String or of a window, or of a C text; a bad one is reported and empty.
struct Bytes {
  const char* text;
  int length;
};

Bytes bytes_of(const String& s) {
  const StringRep* rep = s.rep();
  if (!StringRep::valid(rep)) {
    string_error(__LINE__, "bad string", ERROR);
    return {"", 0};
  }
  return {rep->text(), rep->length};
}

Bytes bytes_of(const SubString& s) {
  if (!s.valid()) {
    string_error(__LINE__, "Searching corrupt substring", ERROR);
    return {"", 0};
  }
  return {s.text(), s.length()};
}

Bytes bytes_of(const char* s) { return s ? Bytes{s, static_cast<int>(std::strlen(s))} : Bytes{"", 0}; }

}  // namespace

#define QK_GSUB_FORMS(NAME, WORDS, PAT, REPL)                                    \
  int String::NAME(PAT pat, REPL repl) {                                         \
    const Bytes p = bytes_of(pat), r = bytes_of(repl);                           \
    return gsub_text(p.text, p.length, r.text, r.length, WORDS);                 \
  }

QK_GSUB_FORMS(gsub, false, const String&, const String&)
QK_GSUB_FORMS(gsub, false, const String&, const char*)
QK_GSUB_FORMS(gsub, false, const SubString&, const String&)
QK_GSUB_FORMS(gsub, false, const SubString&, const char*)
QK_GSUB_FORMS(gsub, false, const char*, const String&)
QK_GSUB_FORMS(gsub, false, const char*, const char*)
QK_GSUB_FORMS(gsub_words, true, const String&, const String&)
QK_GSUB_FORMS(gsub_words, true, const String&, const char*)
QK_GSUB_FORMS(gsub_words, true, const SubString&, const String&)
QK_GSUB_FORMS(gsub_words, true, const SubString&, const char*)
QK_GSUB_FORMS(gsub_words, true, const char*, const String&)
QK_GSUB_FORMS(gsub_words, true, const char*, const char*)

#undef QK_GSUB_FORMS

void String::trim() {
  drop_bad_rep();
  rep_ = StringRep::make_private(rep_);
  const char* text = rep_->text();
  int end = rep_->length;
  while (end > 0 && blank(text[end - 1])) --end;
  int begin = 0;
  while (begin < end && blank(text[begin])) ++begin;
  if (end < rep_->length) rep_ = StringRep::splice(rep_, end, rep_->length - end, "", 0);
  if (begin > 0) rep_ = StringRep::splice(rep_, 0, begin, "", 0);
}

void String::squeeze() {
  trim();
  const char* text = rep_->text();
  const int n = rep_->length;
  std::string squeezed;
  squeezed.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    if (!blank(text[i])) {
      squeezed += text[i];
    } else if (!blank(text[i + 1])) {  // the last of a run (text[n] is the NUL)
      squeezed += ' ';
    }
  }
  if (static_cast<int>(squeezed.size()) != n)
    rep_ = StringRep::replace(rep_, squeezed.data(), static_cast<int>(squeezed.size()));
}
