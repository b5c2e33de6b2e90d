// Sinks and the record writer: the level test's threshold and filter part, the record
// prefix, the echoes and the level action after each record.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "log/internal/block.h"
#include "log/internal/record.h"
#include "log/detail/logstate.h"
#include "log/record_layout.h"
#include "platform/files/files.h"

namespace logimpl {

platform::ClockReading (*clock)() = platform::clock_now;

const char* baseName(const char* path) {
  if (!path) return "";
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

int hundredths(int milliseconds) {
  int h = (milliseconds + 5) / 10;
  return h > 99 ? 99 : h;
}

namespace {

// printf's "%0*d" (zero) or "%*d" (spaces) for one number.
char* putNumber(char* out, long long value, int width, char pad) {
  char digits[24];
  int n = 0;
  unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  const int length = n + (value < 0 ? 1 : 0);
  if (pad == ' ')
    for (int i = length; i < width; ++i) *out++ = ' ';
  if (value < 0) *out++ = '-';
  if (pad == '0')
    for (int i = length; i < width; ++i) *out++ = '0';
  while (n > 0) *out++ = digits[--n];
  return out;
}

// printf's "%-W.Ws": the text cut at width and padded with spaces to it.
char* putText(char* out, const char* text, std::size_t width) {
  const std::size_t n = text ? strnlen(text, width) : 0;
  std::memcpy(out, text, n);
  std::memset(out + n, ' ', width - n);
  return out + width;
}

}  // namespace

// The prefix is "%02d/%02d %02d:%02d:%02d.%02d %-14.14s %-17.17s %7d %-12.12s %-20.20s %5d "
// (the widths of log/record_layout.h), written out by hand: records come often, and this is most of their formatting.
int formatPrefix(char* out, const platform::ClockReading& now, const char* host,
                 const char* process, int pid, int level, const char* source_base, int line) {
  // Records come many to a second: the local time of the last second is kept.
  thread_local long long last_seconds = -1;
  thread_local platform::CalendarTime last_time;
  if (now.seconds != last_seconds) {
    last_time = platform::local_calendar(now.seconds);
    last_seconds = now.seconds;
  }
  const platform::CalendarTime& t = last_time;
  char* p = out;
  p = putNumber(p, t.month, 2, '0');
  *p++ = '/';
  p = putNumber(p, t.day, 2, '0');
  *p++ = ' ';
  p = putNumber(p, t.hour, 2, '0');
  *p++ = ':';
  p = putNumber(p, t.minute, 2, '0');
  *p++ = ':';
  p = putNumber(p, t.second, 2, '0');
  *p++ = '.';
  p = putNumber(p, hundredths(now.milliseconds), 2, '0');
  *p++ = ' ';
  p = putText(p, host, LOG_RECORD_HOST_WIDTH);
  *p++ = ' ';
  p = putText(p, process, LOG_RECORD_PROCESS_WIDTH);
  *p++ = ' ';
  p = putNumber(p, pid % 10000000, LOG_RECORD_PID_WIDTH, ' ');
  *p++ = ' ';
  p = putText(p, levelName(level), LOG_RECORD_LEVEL_WIDTH);
  *p++ = ' ';
  p = putText(p, source_base, LOG_RECORD_SOURCE_WIDTH);
  *p++ = ' ';
  p = putNumber(p, line, LOG_RECORD_LINE_WIDTH, ' ');
  *p++ = ' ';
  *p = '\0';
  return static_cast<int>(p - out);
}

FilterView filter_view;

bool filterReadAgain(const char* source_file, int rank, std::uint32_t generation) {
  const MEMORY_LGQK* block = filter_view.block.load(std::memory_order_acquire);
  if (!block) return false;
  int pass_below = 0;
  bool source_filters = false;
  if (!memlgqk_filter_summary(block, log_process.pid, shownProcessName(), &pass_below, &source_filters))
    return true;  // a change under way: everything passes, and nothing is kept
  // Threads that read at once store the same word; one kept under an older generation is
  // read again at the next test.
  filter_view.verdict.store(generation | kVerdictHeld | (source_filters ? kVerdictSourceFilters : 0) |
                                (static_cast<std::uint64_t>(pass_below) << kVerdictPassShift),
                            std::memory_order_release);
  return rank < pass_below || (source_filters && filterSourcePasses(source_file, rank));
}

bool filterSourcePasses(const char* source_file, int rank) {
  const MEMORY_LGQK* block = filter_view.block.load(std::memory_order_acquire);
  return block && memlgqk_filter_passes(block, baseName(source_file), rank, log_process.pid,
                                        shownProcessName());
}

void attachFilterBlock(const MEMORY_LGQK* block) {
  filter_view.block.store(block, std::memory_order_release);
  dropFilterVerdict();
}

void dropFilterVerdict() { filter_view.verdict.store(0, std::memory_order_release); }

bool removeSourceFilter(const char* source_file) {
  return memlgqk_remove_file_filter(logBlock(), source_file);
}

}  // namespace logimpl

LogSink::LogSink(const char* directory, const char* pattern, int options)
    : next(nullptr),
      file(LogFile::open(directory, pattern, options)),
      threshold(log_process.default_level ? log_process.default_level : MINIMUM) {
  std::lock_guard<std::mutex> hold(log_sinks_mutex);
  next = log_sinks;
  log_sinks = this;
}

LogSink::~LogSink() {
  std::unique_lock<std::mutex> hold(log_sinks_mutex);
  for (LogSink** link = &log_sinks; *link; link = &(*link)->next) {
    if (*link == this) {
      *link = next;
      break;
    }
  }
  hold.unlock();
  if (file) file->close();
}

void writeRecord(LogSink* sink, int level, const char* source_file, int line, const char* text,
                 std::size_t text_length, int echo_fd, std::ostream* echo_stream, int echo_flags) {
  const char* base = logimpl::baseName(source_file);
  char prefix[logimpl::kPrefixBuffer];
  const int prefix_length =
      logimpl::formatPrefix(prefix, logimpl::clock(), log_process.host, shownProcessName(),
                            log_process.pid, level, base, line);
  logimpl::writeLine(sink ? sink->file : nullptr, prefix, text, text_length);

  if (echo_fd >= 0) {
    std::string echo;
    echo.reserve(prefix_length + text_length + 3);
    echo.append(prefix, prefix_length).append(" ").append(text, text_length).append("\n");
    platform::write_fd(echo_fd, echo.data(), echo.size());
  }
  if (echo_stream) {
    if ((echo_flags & 0x1FF) == 0x1FF) *echo_stream << prefix << std::flush;
    echo_stream->write(text, static_cast<std::streamsize>(text_length));
    *echo_stream << std::endl;
  }
  levelAction(level, base, line, prefix, text);
}
