// String streams: a stream buffer that appends to, or reads from, a String, and the two
// streams built on it.
//
//   String text;
//   oStringstream_QK out(text);              // mode out: starts from an empty text
//   out << "pid " << 42;                     // text is "pid 42"
//
//   String line("12 ab");
//   iStringstream_QK in(line);
//   int n; String word;
//   in >> n >> word;                         // 12 and "ab"
//
// Output can be limited to a length (further output fails, what came before stays) and
// frozen: str() freezes the buffer and gives the String, and output fails until
// freeze(0). A 0 byte written to the stream is dropped, as String::operator+=(char) drops
// it. Input reads the String's own bytes, which must not change while they are read.
#ifndef QK_STRING_STRINGIOS_H
#define QK_STRING_STRINGIOS_H

#include <cstdint>
#include <istream>
#include <ostream>
#include <streambuf>

#include "string/String.h"

class Stringstreambuf_QK : public std::basic_streambuf<char> {
 public:
  // mode holds std::ios_base open-mode bits: out empties the target, app (also with out)
  // keeps its text so that output appends, in reads the target's text (and a negative
  // limit becomes the target's length). limit -1: output is not limited.
  Stringstreambuf_QK(String* target, int limit = -1, int mode = std::ios_base::out);
  ~Stringstreambuf_QK() override;
  Stringstreambuf_QK(const Stringstreambuf_QK&) = delete;
  Stringstreambuf_QK& operator=(const Stringstreambuf_QK&) = delete;

  // Sets (non-zero) or clears the frozen flag.
  void freeze(int on = 1);
  int frozen() const { return (flags_ & kFrozen) != 0; }
  // Freezes the buffer and gives its target.
  String& str();
  int limit() const { return limit_; }

  // The buffer keeps no reserve area of its own (the String grows as output comes): 1.
  virtual int doallocate();
  // Reserving room for a run of output is the String's business: 0, nothing reserved.
  virtual int reserve(int start, int length);

 protected:
  // Appends c unless frozen or at the limit (end-of-file then); a 0 byte is dropped.
  int_type overflow(int_type c) override;
  // All input is the get area set at construction.
  int_type underflow() override;
  // Runs of bytes at once, exactly as byte by byte through overflow.
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  // No seeking: the invalid position for every request.
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  int sync() override;

 private:
  static const std::uint32_t kFrozen = 1;
  // Bytes the target may still take (a large number without a limit).
  std::int64_t room() const;
  // Appends n non-zero bytes to a valid target; false when the String cannot hold them.
  bool append_run(const char* s, int n);

  String* target_;
  std::int32_t limit_;
  std::uint32_t flags_;
};

// The shared part of the two streams: the one basic_ios and the buffer.
class Stringstreambase_QK : virtual public std::basic_ios<char> {
 public:
  ~Stringstreambase_QK() override;
  Stringstreambuf_QK* rdbuf() { return &buffer_; }

 protected:
  Stringstreambase_QK(String* target, int limit, int mode);
  Stringstreambuf_QK buffer_;
};

class oStringstream_QK : public Stringstreambase_QK, public std::basic_ostream<char> {
 public:
  // Writes into target (which must outlive the stream); makes its representation private.
  explicit oStringstream_QK(String& target, int limit = -1, int mode = std::ios_base::out);
  ~oStringstream_QK() override;
  // Freezes the buffer and gives the target.
  String& str() { return buffer_.str(); }
  // The output's length; asking freezes the buffer, as str() does.
  int length() { return str().length(); }
  using Stringstreambase_QK::rdbuf;
};

class iStringstream_QK : public Stringstreambase_QK, public std::basic_istream<char> {
 public:
  // Reads source's text (which must not change while it is read).
  explicit iStringstream_QK(String& source);
  ~iStringstream_QK() override;
  using Stringstreambase_QK::rdbuf;
};

#endif
