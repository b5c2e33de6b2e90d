// Following the numbered log files as the writers fill and switch them.
#include "qklog/tail.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/process/process.h"
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

// Where the last count lines of the file begin and where its complete lines end, read
// backwards from the end one block at a time.
void find_last_lines(const LogReader& file, long long size, long count, long long* start, long long* end) {
  *end = 0;
  long long at = size;
  bool found_end = false;
  long seen = 0;
  while (at > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<long long>(at, kBlock));
    at -= static_cast<long long>(n);
    const std::string block = file.read(at, n);
    if (block.size() != n) break;  // cut meanwhile: what was found holds
    for (std::size_t i = n; i-- > 0;) {
      if (block[i] != '\n') continue;
      const long long position = at + static_cast<long long>(i);
      if (!found_end) {
        found_end = true;
        *end = position + 1;
        if (count == 0) {
          *start = *end;
          return;
        }
        continue;
      }
      if (++seen == count) {
        *start = position + 1;
        return;
      }
    }
  }
  *start = 0;
}

// Prints the bytes [start, end) of the file a block at a time.
void print_range(const LogReader& file, long long start, long long end, std::FILE* out) {
  for (long long at = start; at < end;) {
    const std::string bytes = file.read(at, static_cast<std::size_t>(std::min<long long>(end - at, kBlock)));
    if (bytes.empty()) break;
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    at += static_cast<long long>(bytes.size());
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
  std::string lines;
  std::string notice;
};

// Reads on from a file number and offset, file after file, each line once.
class Follower {
 public:
  Follower(const MEMORY_LGQK* block, int entry, std::int32_t number, long long offset)
      : block_(block), entry_(entry), number_(number), offset_(offset),
        ring_(pattern_ring(field_text(block->files[entry].pattern, sizeof block->files[entry].pattern))) {
    // The files under the numbers ahead hold what the ring left in them.
    for (int back = 1; back < ring_; ++back) {
      const std::int32_t earlier = difference(number, back);
      stale_[slot(earlier)] = stamp_of(path(earlier));
    }
  }

  enum class Polled { nothing, printed, lock_failed };

  // Prints every complete line that has come. The files are read under the block's
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
    if (batch.lines.empty()) return Polled::nothing;
    std::fwrite(batch.lines.data(), 1, batch.lines.size(), out);
    std::fflush(out);
    return Polled::printed;
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
    while (batch->lines.size() < kBatch) {
      if (!fresh()) break;
      long long size = 0;
      const std::size_t room = kBatch - batch->lines.size();
      std::string bytes = complete_lines_from(path(number_), offset_, room, &size);
      if (size >= 0 && size < offset_) {
        // The file was made anew under the same number (deleted between records).
        offset_ = 0;
        bytes = complete_lines_from(path(number_), 0, room, &size);
      }
      offset_ += static_cast<long long>(bytes.size());
      batch->lines += bytes;
      if (size > offset_ && batch->lines.size() >= kBatch) break;  // more of this file next time
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
  std::int32_t number = current_number(block, entry);
  const std::string path = numbered_file_path(*block, entry, number);
  long long end = 0;
  {
    LogReader file(path);
    if (!file.ok() && (!options.follow || !file.missing())) {
      std::fprintf(err, "qklog: cannot read %s: %s\n", printable(path).c_str(),
                   printable(file.failure().text()).c_str());
      return exit_no_file;
    }
    long long start = 0;
    if (file.ok()) find_last_lines(file, file.size(), options.lines, &start, &end);
    print_range(file, start, end, out);
    std::fflush(out);
  }
  if (!options.follow) return 0;

  Follower follower(block, entry, number, end);
  auto last_line = std::chrono::steady_clock::now();
  for (;;) {
    const Follower::Polled polled = follower.poll(lock, out, err);
    if (polled == Follower::Polled::lock_failed) {
      std::fprintf(err, "qklog: the log block's mutex cannot be had (%s); following ends\n", lock.failure().c_str());
      return lock.failure_exit_code();
    }
    const auto now = std::chrono::steady_clock::now();
    if (polled == Follower::Polled::printed) {
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
