// String streams: the stream buffer on a String and the two streams built on it.
#include "string/StringIos.h"

#include "string/SubString.h"

#include <cstring>
#include <limits>

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
  return static_cast<std::int64_t>(limit_) - target_->length();
}

Stringstreambuf_QK::int_type Stringstreambuf_QK::overflow(int_type c) {
  if (frozen() || !target_ || room() <= 0) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;  // nothing to append
  *target_ += traits_type::to_char_type(c);
  return 0;
}

Stringstreambuf_QK::int_type Stringstreambuf_QK::underflow() { return traits_type::eof(); }

std::streamsize Stringstreambuf_QK::xsputn(const char* s, std::streamsize n) {
  // Byte by byte, each byte is refused when frozen or at the limit, a 0 byte is taken and
  // dropped, any other byte appended; the same in runs of non-zero bytes.
  std::streamsize done = 0;
  while (done < n) {
    if (frozen() || !target_) break;
    const std::int64_t free = room();
    if (free <= 0) break;
    if (s[done] == 0) {
      ++done;
      continue;
    }
    const std::streamsize most = free < n - done ? static_cast<std::streamsize>(free) : n - done;
    const void* zero = std::memchr(s + done, 0, static_cast<std::size_t>(most));
    const std::streamsize run = zero ? static_cast<const char*>(zero) - (s + done) : most;
    if (!target_->valid()) break;
    StringRep* rep = target_->rep_;
    const int before = rep->length;
    target_->rep_ = rep = StringRep::append(rep, s + done, static_cast<int>(run));
    if (rep->length != before + run) break;  // more than a String can hold
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
