// The allocator report: the registry's visitor, the report file and the detail files of
// the String size classes.
#include "memory/report/allocvis.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <new>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "env/env.h"
#include "log/logger.h"
#include "platform/clock/clock.h"
#include "platform/files/file_calls.h"
#include "platform/files/files.h"
#include "string/String.h"

#define QK_LOG_SOURCE "allocvis"

namespace {

LoggerGuard logger_guard;

// An output stream appending to a file descriptor through the platform's file calls
// (regular files only, no symbolic links, shared with other writers). A failed write or
// close puts the stream in its failed state. Streamed, the bytes are written in runs of
// the buffer's size; whole, they are all kept and written at close() in one appending
// write, so that reports that processes append at the same moment never run into each
// other.
class FdBuf : public std::streambuf {
 public:
  FdBuf(int fd, bool whole) : fd_(fd), whole_(whole), buffer_(8192) { restart(); }
  ~FdBuf() override { close(); }
  bool close() {
    if (fd_ < 0) return ok_;
    if (!drain()) ok_ = false;
    if (!platform::close_fd(fd_)) ok_ = false;
    fd_ = -1;
    return ok_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (whole_) {
      const std::size_t used = static_cast<std::size_t>(pptr() - pbase());
      buffer_.resize(buffer_.size() * 2);
      restart();
      pbump(static_cast<int>(used));
    } else if (!drain()) {
      return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return whole_ || drain() ? 0 : -1; }

 private:
  void restart() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
  bool drain() {
    const char* from = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    restart();
    if (fd_ < 0) return left == 0;
    // A whole report is one write, made while no other process appends to the file.
    const bool held = whole_ && left > 0 && platform::hold_appends(fd_);
    struct Turn {
      int fd;
      bool held;
      ~Turn() {
        if (held) platform::release_appends(fd);
      }
    } turn{fd_, held};
    while (left > 0) {
      const long n = platform::file_calls().write(fd_, from, left);
      if (n <= 0) {
        ok_ = false;
        return false;
      }
      from += n;
      left -= static_cast<std::size_t>(n);
    }
    return true;
  }

  int fd_;
  bool whole_;
  bool ok_ = true;
  std::vector<char> buffer_;
};

class FdStream : public std::ostream {
 public:
  FdStream(int fd, bool whole) : std::ostream(nullptr), buf_(fd, whole) { rdbuf(&buf_); }
  // Flushes and closes; false (and the failed state) when that went wrong.
  bool close() {
    const bool ok = buf_.close();
    if (!ok) setstate(std::ios_base::failbit);
    return ok;
  }

 private:
  FdBuf buf_;
};

// The upper-case copy of a text, by the String module's rules.
std::string upper(const char* text) {
  String s(text);
  s.upcase();
  return std::string(static_cast<const char*>(s));
}

std::uint32_t word_at(const char* p) {
  std::uint32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

}  // namespace

AllocatorVisitorQK::AllocatorVisitorQK(std::ostream* out) : Visitor(out) {
  report_path_[0] = '\0';
  const char* log_dir = env_lookup("QK_LOG", 0);
  if (log_dir && !log_dir[0]) log_dir = nullptr;  // an empty value names no folder
  if (log_dir && std::strlen(log_dir) + 15 < sizeof report_path_) {
    std::snprintf(report_path_, sizeof report_path_, "%s%callocstat", log_dir, platform::path_separator());
  } else if (log_dir) {
    QK_LOG(ERROR) << "QK_LOG path not too long:" << log_dir;
  } else {
    QK_LOG(WARNING) << "QK_LOG path not set";
  }
}

AllocatorVisitorQK::~AllocatorVisitorQK() { close_own_stream(); }

void AllocatorVisitorQK::close_own_stream() {
  if (!own_stream_) return;
  if (out_ == own_stream_) out_ = nullptr;
  delete own_stream_;
  own_stream_ = nullptr;
}

std::ostream* AllocatorVisitorQK::begin(std::ostream* out, const char* /*options*/) {
  total_hunks_ = total_real_bytes_ = total_bytes_avail_ = 0;
  total_free_objects_ = free_bytes_ = total_objects_in_use_ = total_bytes_in_use_ = 0;
  disabled_ = false;
  std::ostream* previous = out_;
  // A report left unfinished by its caller still has its file: close it first.
  if (own_stream_ && previous == own_stream_) previous = nullptr;
  close_own_stream();
  out_ = out;
  caller_stream_ = out != nullptr;
  if (!out) {
    // Reports of processes that end together go in whole, one after another.
    const int fd = report_path_[0] ? platform::open_append_only(report_path_) : -1;
    if (fd < 0) {
      QK_LOG(ERROR) << "Cannot open " << report_path_ << " for allocator diagnostics";
      return previous;
    }
    own_stream_ = new (std::nothrow) FdStream(fd, true);
    if (!own_stream_) {
      platform::close_fd(fd);
      QK_LOG(ERROR) << "Cannot open " << report_path_ << " for allocator diagnostics";
      return previous;
    }
    out_ = own_stream_;
  }
  std::ostream& o = *out_;
  o << std::endl << std::endl;
  const char* process = processName();
  if (process && process[0]) o << process << " -- Allocators -- ";
  const std::time_t now = std::time(nullptr);
  const char* when = std::ctime(&now);
  o << (when ? when : "\n");
  o << std::endl << std::endl;
  return previous;
}

int AllocatorVisitorQK::visit(Trackable* object, const char* options) {
  if (disabled_) return 0;
  if (!out_) {
    QK_LOG(ERROR) << "Visit with null out stream.";
    return -1;
  }
  std::ostream& o = *out_;
  if (!fastMemoryInUse()) {
    o << "Allocators disabled." << std::endl;
    disabled_ = true;
    return 0;
  }
  ALLOCATOR_QK* allocator = dynamic_cast<ALLOCATOR_QK*>(object);
  if (!allocator) return -1;
  const Total size = allocator->requestedObjectSize();
  const Total per_hunk = allocator->objectsPerHunk();
  const Total hunks = allocator->hunkCount();
  const Total free_objects = allocator->freeObjects();
  const Total in_use = allocator->objectsInUse();
  const Total avail = hunks * size * per_hunk;
  const Total real = hunks * allocator->hunkLength();
  total_hunks_ += hunks;
  total_real_bytes_ += real;
  total_bytes_avail_ += avail;
  total_free_objects_ += free_objects;
  free_bytes_ += free_objects * size;
  total_objects_in_use_ += in_use;
  total_bytes_in_use_ += in_use * size;

  o.setf(std::ios_base::left, std::ios_base::adjustfield);
  o << "Allocator: " << allocator->name() << std::endl;
  o << "Object Size: " << size << "  Hunk Length: " << allocator->hunkLength()
    << "  Objs/Hunk: " << per_hunk << std::endl
    << std::endl;
  o << "Hunks            : ";
  o.width(10);
  o << hunks << " Bytes: ";
  o.width(10);
  o << avail << " Real Bytes: " << real << std::endl;
  o << "Free objects     : ";
  o.width(10);
  o << free_objects << " Bytes: " << free_objects * size << std::endl;
  o << "Objects in use   : ";
  o.width(10);
  o << in_use << " Bytes: " << in_use * size << std::endl << std::endl << std::endl << std::endl;

  if (options && options[0]) detail(*allocator, options);
  return 0;
}

int AllocatorVisitorQK::end(const char* /*options*/) {
  if (disabled_) {
    // Nothing more is written, but the report file is not left open until the next report.
    close_own_stream();
    return 0;
  }
  if (!out_) {
    QK_LOG(ERROR) << "Finish with null out stream.";
    return -1;
  }
  std::ostream& o = *out_;
  o << "         Total mem hunks           : " << total_hunks_ << std::endl;
  o << "         Total real bytes used     : " << total_real_bytes_ << std::endl;
  o << "         Total bytes avail         : " << total_bytes_avail_ << std::endl;
  o << "         Total objects in use      : " << total_objects_in_use_ << std::endl;
  o << "         Total bytes in use        : " << total_bytes_in_use_ << std::endl;
  o << "         Total free objects        : " << total_free_objects_ << std::endl;
  o << "         Free bytes                : " << free_bytes_ << std::endl;
  int result = o ? 0 : -1;
  if (own_stream_ && out_ == own_stream_) {
    if (!static_cast<FdStream*>(own_stream_)->close()) result = -1;
    close_own_stream();
  }
  return result;
}

namespace {

// The detail file's lines, one per String representation in use; false, after logging,
// when the file could not be made or written whole.
bool write_detail_file(const ALLOCATOR_QK& allocator, const std::string& path, bool extended) {
  // Created (or emptied) first, then written through an appending descriptor: both calls
  // refuse symbolic links and anything but a regular file. The permission bits are those
  // the file-creation mask leaves of read and write for owner and group, read for others.
  const int fd = platform::create_empty_file(path.c_str(), 0664) ? platform::open_append(path.c_str()) : -1;
  if (fd < 0) {
    QK_LOG(ERROR) << "Can't write vex_diag trace - can't open file " << path;
    return false;
  }
  FdStream file(fd, false);
  const std::uint32_t size = allocator.requestedObjectSize();
  const std::uint32_t step = allocator.objectSize();
  std::string line;
  for (const ALLOCATOR_QK::Hunk* hunk = allocator.hunks(); hunk; hunk = hunk->next) {
    // Only the objects the hunk has handed out: the rest were never written.
    const std::uint32_t length = step * hunk->carved;
    for (std::uint32_t offset = 0, k = 0; step && size >= 14 && offset + step <= length; offset += step, ++k) {
      const char* object = hunk->block + offset;
      if (allocator.holdsFreeMark(object)) continue;
      const std::uint32_t capacity = word_at(object);
      const std::int32_t text_length = static_cast<std::int32_t>(word_at(object + 4));
      if (capacity != size - 14 || text_length > static_cast<std::int32_t>(capacity)) continue;
      // The text ends at its NUL, and never beyond the object's capacity.
      const char* text = object + 13;
      const void* nul = std::memchr(text, '\0', capacity + 1);
      const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : capacity;
      line.assign(1, '"');
      line.append(text, n);
      line += '"';
      if (extended) {
        char tail_text[96];
        std::snprintf(tail_text, sizeof tail_text, " %#08llx L(%d) R(%d)\n",
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(object)),
                      static_cast<int>(text_length), static_cast<int>(static_cast<std::int32_t>(word_at(object + 8))));
        line += tail_text;
        const void* record = hunk->trace_slots ? hunk->trace_slots[k] : nullptr;
        if (record) {
          const char* trace = ALLOCATOR_QK::traceText(record);
          std::size_t trace_length = std::strlen(trace);
          if (line.size() + trace_length >= 3000) trace_length = line.size() < 3000 ? 3000 - line.size() : 0;
          line.back() = ' ';
          line.append(trace, trace_length);
          line += '\n';
        }
      } else {
        line += '\n';
      }
      file.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
  }
  if (!file.close()) {
    QK_LOG(ERROR) << "Can't write vex_diag trace - write to file " << path << " failed";
    return false;
  }
  QK_LOG(SIGNIFICANT) << "Vex_diag trace written to file " << path;
  return true;
}

}  // namespace

void AllocatorVisitorQK::detail(ALLOCATOR_QK& allocator, const char* options) {
  if (!fastMemoryInUse() || std::strncmp(allocator.name(), "String", 6) != 0) return;
  const char* root = env_lookup("QK_ROOT", 0);

  if (std::strncmp(options, "-d ", 3) == 0) {
    const char* text = options + 3;
    QK_LOG(SIGNIFICANT) << "Allocator debugging options for " << allocator.name() << " set to \"" << text
                        << "\"";
    allocator.setDebugOptions(text);
    return;
  }

  std::string selection(options);
  bool extended = false;
  const std::string::size_type x = selection.find("-x ");
  if (x != std::string::npos) {
    extended = true;
    selection.erase(x, 3);
  }
  {
    const std::string wanted = upper(selection.c_str());
    const std::string name = upper(allocator.name());
    if (wanted.find(name) == std::string::npos && wanted != "*" && wanted != "ALL") return;
  }

  // Without QK_ROOT the file goes to the log folder under the current directory.
  if (!root) root = ".";
  // The name is one file name: separators in it would lead out of the log folder.
  std::string file_name(allocator.name());
  for (char& c : file_name)
    if (c == '/' || c == '\\') c = '_';
  const platform::CalendarTime t = platform::local_calendar(std::time(nullptr));
  const char kSeparator[2] = {platform::path_separator(), '\0'};
  char tail[200];
  std::snprintf(tail, sizeof tail, "%slog%svexdiag_%s_%d%02d%02d%02d%02d%02d.txt", kSeparator, kSeparator,
                file_name.c_str(), t.year, t.month, t.day, t.hour, t.minute, t.second);
  for (char* p = tail; *p; ++p)
    if (*p == ':') *p = '#';
  const std::string path = std::string(root) + tail;

  const bool written = write_detail_file(allocator, path, extended);
  if (out_)
    *out_ << "Detail report for (" << allocator.name() << (written ? ") written to file (" : ") failed to write file (")
          << path << ")\n" << std::endl;
}

namespace {

Visitor* make_report_visitor() { return new (std::nothrow) AllocatorVisitorQK; }

}  // namespace

bool install_allocator_report() {
  AllocatorTrackerQK* tracker = allocatorTracker();
  if (!tracker) return false;
  if (dynamic_cast<AllocatorVisitorQK*>(tracker->visitor())) return true;
  AllocatorVisitorQK* visitor = new (std::nothrow) AllocatorVisitorQK;
  if (!visitor) return false;
  tracker->setVisitor(visitor);
  return true;
}

int allocator_report(std::ostream& out, const char* options) {
  if (!install_allocator_report()) return -1;
  return allocatorTracker()->visit(&out, options);
}

int allocator_report_to_file(const char* options) {
  if (!install_allocator_report()) return -1;
  return allocatorTracker()->visit(nullptr, options);
}

namespace {

void report_at_exit() {
  const char* where = env_lookup("QK_ALLOCSTAT_AT_EXIT", 0);
  if (!where) return;
  const char* options = env_lookup("QK_ALLOCSTAT_OPTIONS", 0);
  if (std::strcmp(where, "stderr") == 0) {
    // Made whole first and written in one piece, as processes that end together share
    // the one standard error.
    std::ostringstream report;
    allocator_report(report, options);
    const std::string text = report.str();
    std::cerr.write(text.data(), static_cast<std::streamsize>(text.size()));
    std::cerr.flush();
  } else {
    allocator_report_to_file(options);
  }
}

}  // namespace

void install_allocator_report_at_exit() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(report_at_exit);
}

// Linking the library is enough: the link names this object (see
// memory/report/CMakeLists.txt), and its start-up gives the registry its visitor and
// registers the report at exit after the logger guard above, so that the report runs while
// the logger still lives.
extern "C" {
extern int qk_allocvis_anchor;
int qk_allocvis_anchor = (setAllocatorVisitorFactory(make_report_visitor), install_allocator_report_at_exit(), 1);
}
