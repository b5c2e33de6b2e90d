// Following the numbered log files as the writers fill and switch them.
#include "qklog/tail.h"

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/process.h"
#include "qklog/view.h"

namespace qklog {

namespace {

// The bytes of the file from the offset to its end ("" when it is missing). *size is the
// file's size, -1 when it is missing.
std::string read_from(const std::string& path, long long offset, long long* size, long long limit = -1) {
  *size = -1;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "";
  std::string bytes;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    *size = std::ftell(f);
    if (*size > offset && std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0) {
      const long long wanted = limit >= 0 && limit < *size - offset ? limit : *size - offset;
      bytes.resize(static_cast<std::size_t>(wanted));
      bytes.resize(std::fread(&bytes[0], 1, bytes.size(), f));
    }
  }
  std::fclose(f);
  return bytes;
}

// The complete lines at the front of the bytes: their length.
std::size_t complete_lines(const std::string& bytes) {
  std::size_t end = bytes.rfind('\n');
  return end == std::string::npos ? 0 : end + 1;
}

// Where the last count lines of bytes[0, end) begin; end follows a line feed.
std::size_t last_lines_start(const std::string& bytes, std::size_t end, long count) {
  std::size_t start = end;
  for (long seen = 0; start > 0 && seen < count; ++seen) {
    const std::size_t previous = start >= 2 ? bytes.rfind('\n', start - 2) : std::string::npos;
    start = previous == std::string::npos ? 0 : previous + 1;
  }
  return start;
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
  long long size = 0;
  stamp.head = read_from(path, 0, &size, 512);
  stamp.size = size;
  return stamp;
}

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

  // Prints every complete line that has come; true when there was any.
  bool poll(BlockLock& lock, std::FILE* out, std::FILE* err) {
    if (ring_ < 4 || difference(current_number(block_, entry_), number_) < ring_ / 2) return read_on(out, err);
    const bool locked = lock.lock();
    const bool printed = read_on(out, err);
    if (locked) lock.unlock();
    return printed;
  }

 private:
  bool read_on(std::FILE* out, std::FILE* err) {
    bool printed = false;
    const std::int32_t current = current_number(block_, entry_);
    if (difference(current, number_) >= ring_) {
      // The writers went round the whole ring since the last look: those files are gone.
      const std::int32_t oldest = difference(current, ring_ - 1);
      std::fprintf(err, "qklog: records lost: files of numbers %d to %d were reused before they were read\n",
                   static_cast<int>(number_), static_cast<int>(oldest) - 1);
      std::fflush(err);
      number_ = oldest;
      offset_ = 0;
      stale_.erase(slot(number_));
    }
    for (;;) {
      if (!fresh()) break;
      long long size = 0;
      std::string bytes = read_from(path(number_), offset_, &size);
      if (size >= 0 && size < offset_) {
        // The file was made anew under the same number (deleted between records).
        offset_ = 0;
        bytes = read_from(path(number_), 0, &size);
      }
      const std::size_t whole = complete_lines(bytes);
      if (whole > 0) {
        std::fwrite(bytes.data(), 1, whole, out);
        offset_ += static_cast<long long>(whole);
        printed = true;
      }
      if (difference(current, number_) <= 0) break;
      // Finished: the writers have moved on, so its last record was complete before.
      stale_[slot(number_)] = stamp_of(path(number_));
      number_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(number_) + 1u);
      offset_ = 0;
    }
    if (printed) std::fflush(out);
    return printed;
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
  long long size = 0;
  std::string bytes = read_from(path, 0, &size);
  if (size < 0 && !options.follow) {
    std::fprintf(err, "qklog: cannot read %s\n", printable(path).c_str());
    return exit_no_file;
  }
  const std::size_t end = complete_lines(bytes);
  const std::size_t start = last_lines_start(bytes, end, options.lines);
  std::fwrite(bytes.data() + start, 1, end - start, out);
  std::fflush(out);
  if (!options.follow) return 0;

  Follower follower(block, entry, number, static_cast<long long>(end));
  auto last_line = std::chrono::steady_clock::now();
  for (;;) {
    const bool printed = follower.poll(lock, out, err);
    const auto now = std::chrono::steady_clock::now();
    if (printed) {
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
