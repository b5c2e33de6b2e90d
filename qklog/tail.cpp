// Following the numbered log files as the writers fill and switch them.
#include "qklog/tail.h"

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/process.h"
#include "qklog/view.h"

namespace qklog {

namespace {

// The bytes of the file from the offset to its end ("" when it is missing). *size is the
// file's size, -1 when it is missing.
std::string read_from(const std::string& path, long long offset, long long* size) {
  *size = -1;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "";
  std::string bytes;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    *size = std::ftell(f);
    if (*size > offset && std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0) {
      bytes.resize(static_cast<std::size_t>(*size - offset));
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

std::int32_t difference(std::int32_t later, std::int32_t earlier) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(later) - static_cast<std::uint32_t>(earlier));
}

}  // namespace

int tail(MEMORY_LGQK* block, BlockLock& lock, const TailOptions& options, std::FILE* out, std::FILE* err) {
  if (!lock.lock()) {
    std::fprintf(err, "qklog: the log block's mutex could not be had\n");
    return 3;
  }
  const int entry = stdlog_entry(*block);
  const std::string path = entry < 0 ? "" : current_file_path(*block, entry);
  if (path.empty()) {
    lock.unlock();
    std::fprintf(err, "qklog: the installation has no current log file yet\n");
    return 4;
  }
  std::int32_t number = block->files[entry].file_number;
  long long size = 0;
  std::string bytes = read_from(path, 0, &size);
  lock.unlock();
  if (size < 0 && !options.follow) {
    std::fprintf(err, "qklog: cannot read %s\n", printable(path).c_str());
    return 4;
  }
  const std::size_t end = complete_lines(bytes);
  const std::size_t start = last_lines_start(bytes, end, options.lines);
  std::fwrite(bytes.data() + start, 1, end - start, out);
  std::fflush(out);
  if (!options.follow) return 0;

  long long offset = static_cast<long long>(end);
  const int ring = pattern_ring(field_text(block->files[entry].pattern, sizeof block->files[entry].pattern));
  auto last_line = std::chrono::steady_clock::now();
  for (;;) {
    if (!lock.lock()) {
      std::fprintf(err, "qklog: the log block's mutex could not be had\n");
      return 3;
    }
    bool printed = false;
    const std::int32_t current = block->files[entry].file_number;
    if (difference(current, number) >= ring) {
      // The writers went round the whole ring since the last look: those files are gone.
      const std::int32_t oldest = difference(current, ring - 1);
      std::fprintf(err, "qklog: records lost: files of numbers %d to %d were reused before they were read\n",
                   static_cast<int>(number), static_cast<int>(oldest) - 1);
      std::fflush(err);
      number = oldest;
      offset = 0;
    }
    for (;;) {
      bytes = read_from(numbered_file_path(*block, entry, number), offset, &size);
      if (size >= 0 && size < offset) {
        // The file was made anew under the same number (deleted between records).
        offset = 0;
        bytes = read_from(numbered_file_path(*block, entry, number), 0, &size);
      }
      const std::size_t whole = complete_lines(bytes);
      if (whole > 0) {
        std::fwrite(bytes.data(), 1, whole, out);
        offset += static_cast<long long>(whole);
        printed = true;
      }
      if (difference(current, number) <= 0) break;
      number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 1u);
      offset = 0;
    }
    lock.unlock();
    const auto now = std::chrono::steady_clock::now();
    if (printed) {
      std::fflush(out);
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
