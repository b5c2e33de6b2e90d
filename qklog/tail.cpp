// Following the numbered log files as the writers fill and switch them.
#include "qklog/tail.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "log/record_layout.h"
#include "platform/files/files.h"
#include "platform/process/process.h"
#include "qklog/records.h"
#include "qklog/view.h"

namespace qklog {

namespace {

// Bytes read or printed in one go; the tail of a file of any size is found with this much.
const std::size_t kBlock = 64 * 1024;
// What one look at the files copies at most before it prints (more when one line is longer).
const std::size_t kBatch = 4 * 1024 * 1024;

// A log file opened for reading as the writers open it: relative to its checked folder,
// never through a link, and only a regular file with one name (a FIFO does not hang it).
class LogReader {
 public:
  explicit LogReader(const std::string& path) : fd_(platform::open_shared_read(path.c_str())) {
    if (fd_ < 0) failure_ = platform::last_file_failure();
  }
  ~LogReader() {
    if (fd_ >= 0) platform::close_fd(fd_);
  }
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Why it could not be opened; missing() when there is simply no such file.
  const platform::SystemError& failure() const { return failure_; }
  bool missing() const { return !ok() && failure_.code == ENOENT_CODE; }
  long long size() const { return ok() ? platform::file_size_fd(fd_) : -1; }

  // Up to count bytes from the offset (fewer at the end of the file).
  std::string read(long long offset, std::size_t count) const {
    std::string bytes(count, '\0');
    std::size_t got = 0;
    while (ok() && got < count) {
      const long n = platform::read_at(fd_, &bytes[got], count - got, offset + static_cast<long long>(got));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }

 private:
  static const unsigned long ENOENT_CODE = 2;  // the same on every build
  int fd_;
  platform::SystemError failure_;
};

// The complete lines at the front of the bytes: their length.
std::size_t complete_lines(const std::string& bytes) {
  std::size_t end = bytes.rfind('\n');
  return end == std::string::npos ? 0 : end + 1;
}

// The complete lines of the file from the offset, at most about limit bytes of them (a
// longer first line is taken whole). *size is the file's size, -1 when it cannot be read.
std::string complete_lines_from(const std::string& path, long long offset, std::size_t limit, long long* size) {
  LogReader file(path);
  *size = file.size();
  if (*size <= offset) return "";
  const long long available = *size - offset;
  for (std::size_t wanted = std::min<long long>(limit, available);;) {
    std::string bytes = file.read(offset, wanted);
    bytes.resize(complete_lines(bytes));
    if (!bytes.empty() || static_cast<long long>(wanted) >= available) return bytes;
    wanted = static_cast<std::size_t>(std::min<long long>(available, static_cast<long long>(wanted) * 2));
  }
}

// The longest stretch of one line that is parsed, matched or shown in JSON; the rest of a
// longer line is passed over (verbatim output still prints it whole).
const std::size_t kLineCap = 1024 * 1024;

// What the options print of complete lines, and which lines count towards -n.
class Printer {
 public:
  explicit Printer(const TailOptions& options) : filter_(options.filter), json_(options.json) {}

  // Lines are printed as they stand, header lines too.
  bool verbatim() const { return !json_ && unfiltered(); }

  // A line (without its line feed) counts when it is a record the filter lets through; a
  // header line never does.
  bool counts(const std::string& line, const LocalTime& now) const {
    if (unfiltered()) return line.compare(0, sizeof LOG_HEADER_MARK - 1, LOG_HEADER_MARK) != 0;
    const LogLine parsed = parse_log_line(without_return(line), now);
    return parsed.kind != LogLine::header && filter_->passes(parsed);
  }

  // Appends what the complete lines of bytes show; offset carries the file's header line
  // from one call to the next.
  void render(const std::string& bytes, FileOffset* offset, std::string* out) const {
    if (verbatim()) {
      out->append(bytes);
      return;
    }
    const LocalTime now = local_time(std::time(nullptr));
    for (std::size_t at = 0; at < bytes.size();) {
      std::size_t end = bytes.find('\n', at);
      if (end == std::string::npos) end = bytes.size();
      line(bytes.substr(at, std::min(end - at, kLineCap)), now, offset, out);
      at = end + 1;
    }
  }

  // One line, without its line feed.
  void line(const std::string& raw, const LocalTime& now, FileOffset* offset, std::string* out) const {
    const LogLine parsed = parse_log_line(without_return(raw), now);
    if (parsed.kind == LogLine::header) {
      *offset = parse_header(parsed.text);
      if (!json_ && unfiltered()) out->append(raw).push_back('\n');
      return;
    }
    if (!unfiltered() && !filter_->passes(parsed)) return;
    if (json_) {
      out->append(json_line(parsed, *offset));
    } else {
      out->append(raw).push_back('\n');
    }
  }

 private:
  bool unfiltered() const { return !filter_ || filter_->empty(); }
  static std::string without_return(const std::string& line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
  }

  const RecordFilter* filter_;
  bool json_;
};

// The offset a file's header line gives, when the file begins with one.
FileOffset header_of(const LogReader& file) {
  const std::string head = file.read(0, 512);
  const std::size_t end = head.find('\n');
  return end == std::string::npos ? FileOffset() : parse_header(head.substr(0, end));
}

// Reads the file backwards from its last complete line, one block at a time, and gives
// wanted() each line's text (without the line feed, at most kLineCap bytes of it) from
// the last to the first, until it has said yes to count lines. *end is where the complete
// lines end, *start where the earliest line taken begins (0 when the file holds fewer
// than count, so that its first lines, a header line among them, come along), and the
// result how many were taken.
template <typename Wanted>
long take_last_lines(const LogReader& file, long long size, long count, Wanted wanted, long long* start,
                     long long* end) {
  *start = *end = 0;
  long taken = 0;
  long long at = size;      // the bytes from here on have been looked at
  long long line_end = -1;  // where the line looked at ends (after its line feed)
  std::string block;        // the bytes [at, at + block.size())
  // The line [position, line_end): true when it was the last one wanted.
  auto consider = [&](long long position) {
    const std::size_t length = static_cast<std::size_t>(std::min<long long>(line_end - 1 - position, kLineCap));
    const bool inside = position >= at && position + static_cast<long long>(length) <= at + static_cast<long long>(block.size());
    if (wanted(inside ? block.substr(static_cast<std::size_t>(position - at), length) : file.read(position, length))) {
      *start = position;
      ++taken;
    }
    line_end = position;
    return taken == count;
  };
  while (taken < count || line_end < 0) {
    if (at == 0) {
      // The front of the file: the lines before the first one taken come along.
      if (line_end > 0 && !consider(0)) *start = 0;
      break;
    }
    const std::size_t n = static_cast<std::size_t>(std::min<long long>(at, kBlock));
    at -= static_cast<long long>(n);
    block = file.read(at, n);
    if (block.size() != n) break;  // cut meanwhile: what was found holds
    for (std::size_t i = n; i-- > 0;) {
      if (block[i] != '\n') continue;
      const long long position = at + static_cast<long long>(i) + 1;
      if (line_end < 0) {
        *start = *end = line_end = position;
        if (count == 0) return 0;
      } else if (consider(position)) {
        return taken;
      }
    }
  }
  return taken;
}

// Prints what the printer shows of the bytes [start, end) of the file, which end with a
// line feed, block by block.
void print_range(const LogReader& file, long long start, long long end, const Printer& printer, FileOffset* offset,
                 std::FILE* out) {
  std::string carry;
  for (long long at = start; at < end;) {
    const std::string bytes = file.read(at, static_cast<std::size_t>(std::min<long long>(end - at, kBlock)));
    if (bytes.empty()) break;
    at += static_cast<long long>(bytes.size());
    if (printer.verbatim()) {
      std::fwrite(bytes.data(), 1, bytes.size(), out);
      continue;
    }
    // Whole lines only; of a line longer than kLineCap only its first kLineCap bytes.
    const std::size_t last = bytes.rfind('\n');
    if (last == std::string::npos) {
      if (carry.size() < kLineCap) carry.append(bytes, 0, kLineCap - carry.size());
      continue;
    }
    std::string shown;
    printer.render(carry + bytes.substr(0, last + 1), offset, &shown);
    carry = bytes.substr(last + 1, kLineCap);
    std::fwrite(shown.data(), 1, shown.size(), out);
  }
}

std::int32_t current_number(const MEMORY_LGQK* block, int entry) {
  return __atomic_load_n(&block->files[entry].file_number, __ATOMIC_SEQ_CST);
}

std::int32_t difference(std::int32_t later, std::int32_t earlier) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(later) - static_cast<std::uint32_t>(earlier));
}

// What a file held when it was last seen under an earlier number: its size and first
// bytes. A writer that switches to the next number moves the number on first, then
// deletes the file of that name and starts it anew; until it has, the file under the new
// number still holds the records of the number one ring earlier, and must not be read.
struct Stamp {
  long long size = -1;
  std::string head;
  bool operator==(const Stamp& other) const { return size == other.size && head == other.head; }
};

Stamp stamp_of(const std::string& path) {
  Stamp stamp;
  LogReader file(path);
  stamp.size = file.size();
  stamp.head = file.read(0, 512);
  return stamp;
}

// What one look at the files found: the lines to print and a complaint to tell.
struct Batch {
  struct Chunk {
    std::string lines;
    bool from_start;  // from the beginning of its file
  };
  std::vector<Chunk> chunks;
  std::size_t size = 0;
  std::string notice;
};

// Reads on from a file number and offset, file after file, each line once.
class Follower {
 public:
  // The file offset is what the header line of the file of that number gives.
  Follower(const MEMORY_LGQK* block, int entry, std::int32_t number, long long offset, const Printer& printer,
           const FileOffset& file_offset)
      : block_(block), entry_(entry), number_(number), offset_(offset), printer_(printer), file_offset_(file_offset),
        ring_(pattern_ring(field_text(block->files[entry].pattern, sizeof block->files[entry].pattern))) {
    // The files under the numbers ahead hold what the ring left in them.
    for (int back = 1; back < ring_; ++back) {
      const std::int32_t earlier = difference(number, back);
      stale_[slot(earlier)] = stamp_of(path(earlier));
    }
  }

  enum class Polled { nothing, read, lock_failed };

  // Prints what the printer shows of every complete line that has come. The files are read under the block's
  // mutex only when the reader has fallen behind, and never printed under it: output
  // that blocks (a pager that stopped reading) must not hold up the writers.
  Polled poll(BlockLock& lock, std::FILE* out, std::FILE* err) {
    Batch batch;
    if (ring_ < 4 || difference(current_number(block_, entry_), number_) < ring_ / 2) {
      collect(&batch);
    } else if (lock.lock()) {
      collect(&batch);
      lock.unlock();
    } else if (lock.failure_exit_code() != 0) {
      return Polled::lock_failed;
    } else {
      collect(&batch);
    }
    if (!batch.notice.empty()) {
      std::fputs(batch.notice.c_str(), err);
      std::fflush(err);
    }
    if (batch.size == 0) return Polled::nothing;
    std::string shown;
    for (const Batch::Chunk& chunk : batch.chunks) {
      if (chunk.from_start) file_offset_ = FileOffset();
      printer_.render(chunk.lines, &file_offset_, &shown);
    }
    std::fwrite(shown.data(), 1, shown.size(), out);
    std::fflush(out);
    return Polled::read;
  }

 private:
  // Copies the complete lines that have come, up to about kBatch bytes, and moves on.
  void collect(Batch* batch) {
    const std::int32_t current = current_number(block_, entry_);
    if (difference(current, number_) >= ring_) {
      // The writers went round the whole ring since the last look: those files are gone.
      const std::int32_t oldest = difference(current, ring_ - 1);
      batch->notice = "qklog: records lost: files of numbers " + std::to_string(number_) + " to " +
                      std::to_string(static_cast<long long>(oldest) - 1) + " were reused before they were read\n";
      number_ = oldest;
      offset_ = 0;
      stale_.erase(slot(number_));
    }
    while (batch->size < kBatch) {
      if (!fresh()) break;
      long long size = 0;
      const std::size_t room = kBatch - batch->size;
      bool from_start = offset_ == 0;
      std::string bytes = complete_lines_from(path(number_), offset_, room, &size);
      if (size >= 0 && size < offset_) {
        // The file was made anew under the same number (deleted between records).
        offset_ = 0;
        from_start = true;
        bytes = complete_lines_from(path(number_), 0, room, &size);
      }
      offset_ += static_cast<long long>(bytes.size());
      batch->size += bytes.size();
      if (!bytes.empty()) batch->chunks.push_back(Batch::Chunk{std::move(bytes), from_start});
      if (size > offset_ && batch->size >= kBatch) break;  // more of this file next time
      if (difference(current, number_) <= 0) break;
      // Finished: the writers have moved on, so its last record was complete before.
      stale_[slot(number_)] = stamp_of(path(number_));
      number_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(number_) + 1u);
      offset_ = 0;
    }
  }

  // False while the file of the current number still holds its earlier content.
  bool fresh() {
    auto it = stale_.find(slot(number_));
    if (it == stale_.end()) return true;
    if (stamp_of(path(number_)) == it->second) return false;
    stale_.erase(it);
    return true;
  }

  int slot(std::int32_t number) const {
    const int s = static_cast<int>(number % ring_);
    return s < 0 ? s + ring_ : s;
  }
  std::string path(std::int32_t number) const { return numbered_file_path(*block_, entry_, number); }

  const MEMORY_LGQK* block_;
  int entry_;
  std::int32_t number_;
  long long offset_;
  const Printer& printer_;
  FileOffset file_offset_;  // what the header line of the file being read gives
  int ring_;
  std::map<int, Stamp> stale_;
};

}  // namespace

int tail(const MEMORY_LGQK* block, BlockLock& lock, const TailOptions& options, std::FILE* out, std::FILE* err) {
  const int entry = stdlog_entry(*block);
  if (entry < 0 || current_file_path(*block, entry).empty()) {
    std::fprintf(err, "qklog: the installation has no current log file yet\n");
    return exit_no_file;
  }
  const Printer printer(options);
  const std::int32_t number = current_number(block, entry);
  const int ring = pattern_ring(field_text(block->files[entry].pattern, sizeof block->files[entry].pattern));
  const LocalTime now = local_time(std::time(nullptr));
  auto counts = [&](const std::string& line) { return printer.counts(line, now); };

  // The files that hold the last records, newest first: the current one, then those of the
  // numbers before it while more records are wanted, as far as the ring goes back.
  struct Part {
    std::unique_ptr<LogReader> file;
    long long start = 0, end = 0;
    FileOffset offset;
  };
  std::vector<Part> parts;
  long wanted = options.lines;
  long long end = 0;
  FileOffset current_offset;
  for (int back = 0; back < ring && (back == 0 || wanted > 0); ++back) {
    const std::int32_t older = difference(number, back);
    const std::string path = numbered_file_path(*block, entry, older);
    Part part;
    part.file.reset(new LogReader(path));
    if (!part.file->ok()) {
      if (back == 0 && (!options.follow || !part.file->missing())) {
        std::fprintf(err, "qklog: cannot read %s: %s\n", printable(path).c_str(),
                     printable(part.file->failure().text()).c_str());
        return exit_no_file;
      }
      if (!part.file->missing())
        std::fprintf(err, "qklog: cannot read %s: %s; its records are left out\n", printable(path).c_str(),
                     printable(part.file->failure().text()).c_str());
      continue;
    }
    part.offset = header_of(*part.file);
    wanted -= take_last_lines(*part.file, part.file->size(), wanted, counts, &part.start, &part.end);
    if (back == 0) {
      end = part.end;
      current_offset = part.offset;
    } else if (difference(current_number(block, entry), older) >= ring) {
      // The writers came round to this file while it was being opened: what it holds now
      // is newer than what follows it here, and the files before it are gone.
      break;
    }
    parts.push_back(std::move(part));
  }
  for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
    FileOffset offset = part->offset;
    print_range(*part->file, part->start, part->end, printer, &offset, out);
  }
  std::fflush(out);
  parts.clear();
  if (!options.follow) return 0;

  Follower follower(block, entry, number, end, printer, current_offset);
  auto last_line = std::chrono::steady_clock::now();
  for (;;) {
    const Follower::Polled polled = follower.poll(lock, out, err);
    if (polled == Follower::Polled::lock_failed) {
      std::fprintf(err, "qklog: the log block's mutex cannot be had (%s); following ends\n", lock.failure().c_str());
      return lock.failure_exit_code();
    }
    const auto now = std::chrono::steady_clock::now();
    if (polled == Follower::Polled::read) {
      last_line = now;
      continue;
    }
    if (options.idle_seconds >= 0 &&
        std::chrono::duration<double>(now - last_line).count() >= options.idle_seconds)
      return 0;
    platform::sleep_ms(options.poll_ms);
  }
}

}  // namespace qklog
