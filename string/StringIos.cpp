// String streams: the stream buffer on a String and the two streams built on it.
#include "string/StringIos.h"

#include <cstring>
#include <limits>

#include "string/SubString.h"
#include "string/internal/string_internal.h"

Stringstreambuf_QK::Stringstreambuf_QK(String* target, int limit, int mode)
    : target_(target), limit_(limit), flags_(0) {
  if (!target_) return;
  if (mode & std::ios_base::app) {
    // the text stays; output follows it
  } else if (mode & std::ios_base::out) {
    *target_ = "";
  }
  if (mode & std::ios_base::in) {
    char* text = const_cast<char*>(static_cast<const char*>(*target_));
    setg(text, text, text + target_->length());
    if (limit_ < 0) limit_ = target_->length();
  }
}

Stringstreambuf_QK::~Stringstreambuf_QK() = default;

void Stringstreambuf_QK::freeze(int on) {
  if (on)
    flags_ |= kFrozen;
  else
    flags_ &= ~kFrozen;
}

String& Stringstreambuf_QK::str() {
  flags_ |= kFrozen;
  return *target_;
}

int Stringstreambuf_QK::doallocate() { return 1; }

int Stringstreambuf_QK::reserve(int, int) { return 0; }

std::int64_t Stringstreambuf_QK::room() const {
  if (limit_ < 0) return std::numeric_limits<std::int64_t>::max();
  const StringRep* rep = target_->rep_;
  // A bad target is reported by length(), as String::operator+= will report it.
  return static_cast<std::int64_t>(limit_) - (StringRep::valid(rep) ? rep->length : target_->length());
}

Stringstreambuf_QK::int_type Stringstreambuf_QK::overflow(int_type c) {
  // The common case first: one byte into room that a private representation has.
  StringRep* rep = target_ ? target_->rep_ : nullptr;
  if (!frozen() && StringRep::valid(rep) && rep->count() <= 1 && rep->length < rep->capacity &&
      (limit_ < 0 || rep->length < limit_) && !traits_type::eq_int_type(c, traits_type::eof()) &&
      rep != StringRep::empty_instance && !string_internal::trace_switch) {
    char* text = rep->text();
    const int n = rep->length;
    text[n] = traits_type::to_char_type(c);
    if (text[n] == 0) return 0;  // dropped, as String::operator+=(char) drops it
    text[n + 1] = 0;
    rep->length = n + 1;
    rep->state = 0;
    return 0;
  }
  if (frozen() || !target_ || room() <= 0) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;  // nothing to append
  const char byte = traits_type::to_char_type(c);
  if (byte == 0) return 0;  // dropped, as String::operator+=(char) drops it
  if (StringRep::valid(target_->rep_))
    append_run(&byte, 1);
  else
    *target_ += byte;  // reported, then appended to a new text
  return 0;
}

bool Stringstreambuf_QK::append_run(const char* s, int n) {
  StringRep* rep = target_->rep_;
  const int before = rep->length;
  if (rep->count() <= 1 && n <= rep->capacity - before && rep != StringRep::empty_instance &&
      !string_internal::trace_switch) {
    // Room in a private representation: the bytes go in place, as String::operator+=(char)
    // puts a single byte.
    char* text = rep->text() + before;
    if (n <= 8) {  // the usual run: a number, a word, a separator
      for (int i = 0; i < n; ++i) text[i] = s[i];
    } else {
      std::memcpy(text, s, static_cast<std::size_t>(n));
    }
    text[n] = 0;
    rep->length = before + n;
    rep->state = 0;
    return true;
  }
  target_->rep_ = rep = StringRep::append(rep, s, n);
  return rep->length == before + n;  // false: more than a String can hold
}

Stringstreambuf_QK::int_type Stringstreambuf_QK::underflow() { return traits_type::eof(); }

namespace {

// Bytes before the first 0 byte among the first n of s.
std::streamsize nonzero_run(const char* s, std::streamsize n) {
  if (n > 32) {
    const void* zero = std::memchr(s, 0, static_cast<std::size_t>(n));
    return zero ? static_cast<const char*>(zero) - s : n;
  }
  std::streamsize run = 0;
  while (run < n && s[run] != 0) ++run;
  return run;
}

}  // namespace

std::streamsize Stringstreambuf_QK::xsputn(const char* s, std::streamsize n) {
  // The common case first: a short run without 0 bytes into the room of a private
  // representation, with no limit.
  StringRep* rep0 = target_ ? target_->rep_ : nullptr;
  if (n <= 16 && limit_ < 0 && !frozen() && StringRep::valid(rep0) && rep0->count() <= 1 &&
      n <= rep0->capacity - rep0->length && rep0 != StringRep::empty_instance && !string_internal::trace_switch) {
    char* text = rep0->text() + rep0->length;
    std::streamsize i = 0;
    while (i < n && s[i] != 0) {
      text[i] = s[i];
      ++i;
    }
    if (i == n) {
      text[n] = 0;
      rep0->length += static_cast<int>(n);
      rep0->state = 0;
      return n;
    }
    // A 0 byte: the bytes copied lie beyond the length and are written again below.
  }
  // Byte by byte, each byte is refused when frozen or at the limit, a 0 byte is taken and
  // dropped, any other byte appended; the same in runs of non-zero bytes.
  std::streamsize done = 0;
  while (done < n) {
    if (frozen() || !target_) break;
    StringRep* rep = target_->rep_;
    if (!StringRep::valid(rep)) {  // one byte at a time, with the String's reports
      if (traits_type::eq_int_type(overflow(traits_type::to_int_type(s[done])), traits_type::eof())) break;
      ++done;
      continue;
    }
    const std::int64_t free = room();
    if (free <= 0) break;
    if (s[done] == 0) {
      ++done;
      continue;
    }
    const std::streamsize run = nonzero_run(s + done, free < n - done ? static_cast<std::streamsize>(free) : n - done);
    if (!append_run(s + done, static_cast<int>(run))) break;
    done += run;
  }
  return done;
}

Stringstreambuf_QK::pos_type Stringstreambuf_QK::seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) {
  return pos_type(off_type(-1));
}

int Stringstreambuf_QK::sync() { return 0; }

Stringstreambase_QK::Stringstreambase_QK(String* target, int limit, int mode) : buffer_(target, limit, mode) {}

Stringstreambase_QK::~Stringstreambase_QK() = default;

oStringstream_QK::oStringstream_QK(String& target, int limit, int mode)
    : Stringstreambase_QK(&target, limit, mode), std::basic_ostream<char>(&buffer_) {
  SubString make_private(target, 0, 0);  // a window always makes its string's text private
}

oStringstream_QK::~oStringstream_QK() = default;

iStringstream_QK::iStringstream_QK(String& source)
    : Stringstreambase_QK(&source, source.length(), std::ios_base::in), std::basic_istream<char>(&buffer_) {}

iStringstream_QK::~iStringstream_QK() = default;
