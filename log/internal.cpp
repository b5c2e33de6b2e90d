// Sinks and the record writer: the level test's threshold and filter part, the record
// prefix, the echoes and the level action after each record.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "log/internal/block.h"
#include "log/internal/record.h"
#include "log/logfile.h"
#include "platform/fileio.h"

namespace logimpl {

platform::ClockReading (*clock)() = platform::clock_now;

namespace {
StackTextProvider stack_text_provider = nullptr;
}

void setStackTextProvider(StackTextProvider provider) { stack_text_provider = provider; }

const char* stackText() { return stack_text_provider ? stack_text_provider() : ""; }

const char* baseName(const char* path) {
  if (!path) return "";
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

int hundredths(int milliseconds) {
  int h = (milliseconds + 5) / 10;
  return h > 99 ? 99 : h;
}

int formatPrefix(char* out, const platform::ClockReading& now, const char* host,
                 const char* process, int pid, int level, const char* source_base, int line) {
  platform::CalendarTime t = platform::local_calendar(now.seconds);
  int n = std::snprintf(out, kPrefixBuffer,
                        "%02d/%02d %02d:%02d:%02d.%02d %-14.14s %-17.17s %7d %-12.12s %-20.20s %5d ",
                        t.month, t.day, t.hour, t.minute, t.second, hundredths(now.milliseconds),
                        host ? host : "", process ? process : "", pid % 10000000, levelName(level),
                        source_base ? source_base : "", line);
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return n < static_cast<int>(kPrefixBuffer) ? n : static_cast<int>(kPrefixBuffer) - 1;
}

bool filterPasses(const char* source_file, int, int rank) {
  return memlgqk_filter_passes(logBlock(), baseName(source_file), rank, log_process.pid,
                               shownProcessName());
}

bool removeSourceFilter(const char* source_file) {
  return memlgqk_remove_file_filter(logBlock(), source_file);
}

}  // namespace logimpl

LogSink::LogSink(const char* directory, const char* pattern, int options)
    : next(log_sinks),
      file(LogFile::open(directory, pattern, options)),
      threshold(log_process.default_level ? log_process.default_level : MINIMUM) {
  log_sinks = this;
}

LogSink::~LogSink() {
  for (LogSink** link = &log_sinks; *link; link = &(*link)->next) {
    if (*link == this) {
      *link = next;
      break;
    }
  }
  if (file) file->close();
}

bool LogSink::filtered(const char* source_file, int line, int level) const {
  return logimpl::filterPasses(source_file, line, level & 0x7FFF);
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
