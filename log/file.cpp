// The log-file side of the record writer: numbered log files shared through the file table
// of the shared block, record lines with their header and lost-record lines, retries on the
// next numbered file, and standard error when no file can be had.
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "env/env.h"
#include "env/qkos.h"
#include "log/internal/block.h"
#include "log/internal/record.h"
#include "log/detail/logstate.h"
#include "log/fixed_field.h"
#include "log/logfile_names.h"
#include "log/record_layout.h"
#include "platform/files/file_calls.h"
#include "platform/files/files.h"
#include "platform/process/process.h"

namespace {

// Lines up to 256 bytes need no allocation: they are formatted on the writing thread's own
// stack, so that threads never share a line. The front is room for the "LoggerQK: " tag of
// standard-error lines, so that such a line goes out in one write.
constexpr std::size_t kLineBuffer = 256;
constexpr std::size_t kTagRoom = 16;

const char stderr_tag[] = "LoggerQK: ";
constexpr std::size_t kStderrTagLength = sizeof stderr_tag - 1;

const char nomem_marker[] = "...TRUNCATED - NOMEM";
constexpr std::size_t kNomemTextLength = 152;

// The record line into line (which has room for it): the prefix padded or cut to 99
// characters, the text up to its first zero byte, a line feed. Returns its length.
std::size_t formatLine(char* line, const char* prefix, const char* text, std::size_t length) {
  const std::size_t width = logimpl::kPrefixWidth;
  std::size_t prefix_length = strnlen(prefix, width);
  std::memcpy(line, prefix, prefix_length);
  std::memset(line + prefix_length, ' ', width - prefix_length);
  length = strnlen(text, length);
  std::memcpy(line + width, text, length);
  line[width + length] = '\n';
  line[width + length + 1] = '\0';
  return width + length + 1;
}

void writeTagged(char* line, std::size_t length) {
  // line has kTagRoom bytes in front of it.
  char* tagged = line - kStderrTagLength;
  std::memcpy(tagged, stderr_tag, kStderrTagLength);
  std::fwrite(tagged, 1, kStderrTagLength + length, stderr);
  std::fflush(stderr);
}


using FileEntry = LogFileTableEntry;

// The attached block and the process's writer state. The writer state (header-wanted, the
// lost-record count and the reason of the last failure) is read and changed under the
// block's lock, which serialises the threads of this process too; only a record that
// finds the lock unobtainable counts itself lost without it, which is why those three
// are atomic.
MEMORY_LGQK* block_base = nullptr;
bool (*block_lock)() = nullptr;
void (*block_unlock)() = nullptr;
bool file_output = false;
char log_directory[LOG_DIRECTORY_MAX + 1];

std::atomic<bool> header_wanted{false};
std::atomic<int> lost_records{0};
std::atomic<int> last_error{0};

// Where this process's last record into each entry's file ended: the entry's file number
// and the file's size after the record. While both are the same at the next record, no
// one has written since (writers only append, and a cut never reaches back past a whole
// line), so the file ends in a line feed and its last byte need not be read.
struct LastEnd {
  std::int32_t number;
  long long size;
};
LastEnd last_end[LOG_FILE_TABLE_ENTRIES];

constexpr std::size_t kPathSize = LOG_FILE_PATH_SIZE;

// False when the block's lock cannot be had: nothing it guards may then be touched, and
// it is not released.
bool lockBlock() { return !block_lock || block_lock(); }
void unlockBlock() {
  if (block_unlock) block_unlock();
}

FileEntry* entryAt(int index) { return &block_base->files[index]; }

// The current number of an entry moved on by one; the shared counter wraps rather than
// overflows.
std::int32_t nextNumber(std::int32_t number) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 1u);
}

long long nowSeconds() { return logimpl::clock().seconds; }

}  // namespace

// --- The handle -----------------------------------------------------------------------------

namespace {

// A name put into a file name: its path separators become '_', so that a host or process
// name cannot lead the file out of its directory.
void appendName(std::string& text, const char* name) {
  for (const char* c = name; *c; ++c) text += (*c == '/' || *c == '\\') ? '_' : *c;
}

// Expands %p (process id), %n (process name) and %h (host name); any other "%x" stays and
// a '%' at the very end is dropped. At most 63 characters.
void expandPattern(const char* pattern, char* out, std::size_t size) {
  std::string text;
  for (const char* p = pattern ? pattern : ""; *p; ++p) {
    if (*p != '%') {
      text += *p;
      continue;
    }
    if (!p[1]) break;
    ++p;
    if (*p == 'p')
      text += std::to_string(log_process.pid);
    else if (*p == 'n')
      appendName(text, shownProcessName());
    else if (*p == 'h')
      appendName(text, log_process.host);
    else
      (text += '%') += *p;
  }
  logimpl::copyText(out, size, text.c_str());
}

// The path of the number: log directory, directory, numbered file name.
void buildPath(const char* directory, const char* pattern, std::int32_t number, char* out) {
  log_file_path(log_directory, directory, pattern, number, out, kPathSize);
}

// The number of the most recently modified existing file (the highest on a tie), or 0.
std::int32_t initialNumber(const LogFile::Names& names) {
  const int ring = log_file_ring(names.pattern, std::strlen(names.pattern));
  std::int32_t best = 0;
  long long newest = 0;
  bool found = false;
  char path[kPathSize];
  for (int number = 0; number < ring; ++number) {
    buildPath(names.directory, names.pattern, number, path);
    platform::FileStatus st;
    if (!platform::file_status(path, &st)) continue;
    if (!found || st.modified >= newest) {
      best = number;
      newest = st.modified;
      found = true;
    }
  }
  return best;
}

// Makes the log directory and each level of the entry's directory in it that is missing
// (the log directory may have been removed while processes ran). 0 when the entry's
// directory is one now, else the error of the last level that could not be made.
int remakeDirectory(const char* directory) {
  return platform::make_directories(log_directory, directory) ? 0
                                                              : static_cast<int>(platform::last_file_failure().code);
}

void ensureDirectory(const char* directory) {
  char path[kPathSize + 64];
  std::snprintf(path, sizeof path, "%s/%s", log_directory, directory);
  std::size_t n = std::strlen(path);
  if (n > 0 && (path[n - 1] == '/' || path[n - 1] == '\\')) path[n - 1] = '\0';
  if (!platform::access_path(path, platform::access_read_write)) {
    const int error = remakeDirectory(directory);
    if (error != 0 && error != EEXIST && error != ENOTDIR) {
      unlockBlock();
      fatalError("LOGGER:  Could not create directory ", path, " ", error_text(error));
    }
  }
  platform::FileStatus st;
  if (!platform::file_status(path, &st) || !st.is_directory) {
    unlockBlock();
    fatalError("LOGGER:  File ", path, " is not a directory for some reason");
  }
}

// A file that is not there yet must be one the process can make.
void probeFile(const char* path) {
  platform::FileStatus st;
  if (platform::file_status(path, &st)) return;
  const int fd = platform::open_append(path);
  const int error = errno;
  if (fd >= 0) {
    platform::close_fd(fd);
    std::remove(path);
  }
  if (fd < 0 && platform::last_file_failure().object_in_the_way) {
    // Something planted under the file's name costs that file, not the process: the
    // writer moves on to the next number when it meets it.
    std::fprintf(stderr, "LoggerQK: The log file cannot be used: %s.\n", platform::last_file_failure().text().c_str());
    std::fflush(stderr);
    return;
  }
  if (fd < 0) {
    unlockBlock();
    fatalError("LOGGER:  couldn't create log file ", path, " ", error_text(error));
  }
}

// First open of an entry: its numbering and limits.
void initialiseEntry(FileEntry* e, const LogFile::Names& names, int options) {
  e->options = static_cast<std::uint32_t>(options) & 0xFFFF;
  e->file_number = file_output ? initialNumber(names) : 0;
  e->records = 0;
  e->reserved1 = 0;
  e->end_size = 0;
  e->size_limit = 100000;
  e->max_records = -1;
  e->file_days = -1;
  if (options & 0x10000)
    e->size_limit = 100000;
  else if (options & 0x20000)
    e->size_limit = 1000000;
  if (options & 0x40000)
    e->file_days = 2;
  else if (options & 0x80000)
    e->file_days = 30;
  if (const char* limit = env_lookup("QK_LOGFILE_LIMIT", 0)) {
    long value = std::strtol(limit, nullptr, 10);
    if (value > 500) e->size_limit = static_cast<std::int32_t>(value > 0x7FFFFFFFL ? 0x7FFFFFFFL : value);
  }
  if (file_output) {
    char path[kPathSize];
    buildPath(names.directory, names.pattern, e->file_number, path);
    ensureDirectory(names.directory);
    probeFile(path);
  }
  e->start_time = static_cast<std::int32_t>(nowSeconds());
}

// Creates the file, which must not exist, empty, with the permissions the user's
// file-creation mask gives; 0 or the error.
bool createNew(const char* path) { return platform::file_calls().create_new(path); }

// Moves the entry to the next number: that file is deleted and begun empty, as every
// switch does. When it cannot be begun (a file of another user that this process may not
// delete, a folder in its place), the number stays where it is and false is returned:
// never is a file that exists opened for a fresh start, which would truncate it.
bool switchFile(FileEntry* e, const LogFile::Names& names, long long now) {
  const std::int32_t next = nextNumber(e->file_number);
  char path[kPathSize];
  buildPath(names.directory, names.pattern, next, path);
  std::remove(path);
  if (!createNew(path)) return false;
  e->file_number = next;
  e->records = 0;
  e->end_size = 0;
  e->start_time = static_cast<std::int32_t>(now);
  header_wanted = true;
  return true;
}

// Which file the next record goes to (under the lock): the path of the current number,
// after switching to the next number when a rule says so. Gives the file's size when the
// size rule has read it (every writer holds the lock, so it stays true until the write),
// else -1. A switch that cannot be made leaves the records in the current file.
long long chooseFile(FileEntry* e, const LogFile::Names& names, char* path) {
  bool next = false;
  long long size = -1;
  const long long now = nowSeconds();
  buildPath(names.directory, names.pattern, e->file_number, path);
  if (e->max_records > 0 && e->records > e->max_records) {
    next = true;
  } else if (e->file_days >= 1) {
    next = now - e->start_time > static_cast<long long>(e->file_days) * 86400;
  } else if (e->size_limit > 0) {
    platform::FileStatus st;
    if (!platform::file_status(path, &st)) {
      header_wanted = true;
    } else {
      size = st.size;
      if (st.size > e->size_limit)
        next = true;
      else if (st.size == 0)
        header_wanted = true;
    }
  }
  if (!next || !switchFile(e, names, now)) return size;
  buildPath(names.directory, names.pattern, e->file_number, path);
  return 0;
}

// The header line, when the block carries a time offset: the offset, the host, the clock
// and the time zone, so that records can be set against another clock.
// Writes all the bytes or none: a write that stops short (a full disk, a file-size limit)
// is taken back, so a log file never holds a torn line. errno tells why it stopped.
bool writeWhole(int fd, const char* data, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    errno = 0;
    const long n = platform::file_calls().write(fd, data + done, length - done);
    if (n <= 0) {
      if (errno == 0) errno = EIO;
      const int reason = errno;
      if (done > 0) {
        const long long size = platform::file_size_fd(fd);
        if (size >= static_cast<long long>(done)) platform::truncate_fd(fd, size - static_cast<long long>(done));
      }
      errno = reason;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool writeHeader(int fd) {
  const long long s = block_base->time_offset_seconds;
  const long long m = block_base->time_offset_milliseconds;
  long long h = ((m < 0 ? -m : m) + 5) / 10;
  if (h > 99) h = 99;
  if (s == 0 && h < 2) return true;
  const platform::ClockReading now = logimpl::clock();
  char line[192];
  int n;
  const int lead = LOG_HEADER_SECONDS_AT, seconds = LOG_HEADER_SECONDS_WIDTH, host = LOG_RECORD_HOST_WIDTH;
  if (s != 0)
    n = std::snprintf(line, sizeof line, "%-*s%+*lld.%2lld %-*.*s %lld.%02d     %7d %1d\n", lead, LOG_HEADER_MARK,
                      seconds, s, h, host, host, log_process.host, now.seconds,
                      logimpl::hundredths(now.milliseconds), now.timezone_minutes, now.daylight);
  else
    n = std::snprintf(line, sizeof line, "%-*s%*s.%02lld %-*.*s %lld.%02d     %7d %1d\n", lead, LOG_HEADER_MARK,
                      seconds, m < 0 ? "-0" : "+0", h, host, host, log_process.host, now.seconds,
                      logimpl::hundredths(now.milliseconds), now.timezone_minutes, now.daylight);
  if (n < 0) return false;
  const std::size_t length = std::min(static_cast<std::size_t>(n), sizeof line - 1);
  return writeWhole(fd, line, length);
}

// "<first 51 characters of the prefix>==========> Was unable to write the last N messages.
// Last reason was: <error text>"
bool writeLostLine(int fd, const char* prefix, int lost) {
  char line[320];
  int n = std::snprintf(line, sizeof line, "%-*.*s%s Was unable to write the last %d messages. Last reason was: %s\n",
                        LOG_LOST_LINE_AT, LOG_LOST_LINE_AT, prefix, LOG_LOST_MARK, lost,
                        error_text(last_error.load()));
  if (n < 0) return false;
  const std::size_t length = std::min(static_cast<std::size_t>(n), sizeof line - 1);
  return writeWhole(fd, line, length);
}

// A file that does not end in a line feed holds the start of a record whose writer died
// while writing it (a writer that lives takes back what it could not finish). That start
// was never acknowledged: it is cut off, so that the next record begins a line of its own
// instead of being glued onto it. size is the file's size when it is known, else -1. The
// file's size afterwards, or -1 when it is unknown.
long long repairTail(int fd, long long size) {
  if (size < 0) size = platform::file_size_fd(fd);
  char last;
  if (size <= 0 || platform::read_at(fd, &last, 1, size - 1) != 1 || last == '\n') return size;
  char chunk[4096];
  long long end = size - 1;  // the bytes before end are still to be searched
  long long keep = 0;
  while (end > 0 && keep == 0) {
    const long long start = end > static_cast<long long>(sizeof chunk) ? end - static_cast<long long>(sizeof chunk) : 0;
    const long n = platform::read_at(fd, chunk, static_cast<std::size_t>(end - start), start);
    if (n != end - start) return size;  // unreadable: left as it is
    for (long i = n; i-- > 0;)
      if (chunk[i] == '\n') {
        keep = start + i + 1;
        break;
      }
    end = start;
  }
  return platform::truncate_fd(fd, keep) ? keep : size;
}

// How one attempt at a file ended.
struct Attempt {
  bool ok;
  int error;         // why it failed
  bool had_records;  // the file held something before the attempt
};

// One attempt at appending the line to the current numbered file, after the header line
// and the lost-record line when they are due. The lost-record line and the record go in
// together or not at all.
Attempt appendToFile(FileEntry* e, const LogFile::Names& names, const char* prefix,
                     const char* line, std::size_t length) {
  char path[kPathSize];
  int fd;
  const long long known_size = chooseFile(e, names, path);
  fd = platform::file_calls().open_append(path);
  if (fd < 0) return Attempt{false, errno, false};
  LastEnd& last = last_end[e - block_base->files];
  // The file ends in a line feed when no one wrote since this process did, or when it has
  // the size the last writer left in the entry.
  const bool untouched = known_size >= 0 && ((known_size == last.size && e->file_number == last.number) ||
                                             (known_size > 0 && known_size == e->end_size));
  const long long size = untouched ? known_size : repairTail(fd, known_size);
  bool ok = true;
  // Records counted lost while this one is written (by threads that found the lock
  // unobtainable) are told with a later record.
  const int lost = lost_records.load();
  const bool extra_lines = header_wanted || lost > 0;
  if (header_wanted) {
    ok = writeHeader(fd);
    if (ok) header_wanted = false;
  }
  const long long before_lost_line = lost > 0 && ok ? platform::file_size_fd(fd) : -1;
  if (ok && lost > 0) ok = writeLostLine(fd, prefix, lost);
  if (ok) ok = writeWhole(fd, line, length);
  const int error = ok ? 0 : errno;
  if (!ok && before_lost_line >= 0) platform::truncate_fd(fd, before_lost_line);
  // Where the record ended: known from the size before it, or after a header or lost-record
  // line (once a file or an outage) asked of the file.
  long long end = -1;
  if (ok) end = size >= 0 && !extra_lines ? size + static_cast<long long>(length) : platform::file_size_fd(fd);
  platform::close_fd(fd);
  last = LastEnd{e->file_number, end};
  e->end_size = end > 0 && end <= INT32_MAX ? static_cast<std::int32_t>(end) : 0;
  if (ok) {
    e->records = nextNumber(e->records);
    lost_records -= lost;
  }
  return Attempt{ok, error, size > 0};
}

// A failure that a new file cures: a full disk, where starting the next file frees the
// room of the file it replaces (as a switch by size would), though only when the current
// file holds something, so that a disk that stays full never empties the ring file by
// file; and a current file that cannot take records: a folder, a device, a FIFO or a
// socket in its place, or a file with other names (hard links), which the writers refuse
// to write through.
// A failure of this process (out of descriptors, its own file-size limit, no permission)
// is not cured by a new file and leaves the shared files alone.
bool switchCures(const Attempt& attempt) {
  switch (attempt.error) {
    case ENOSPC:
      return attempt.had_records;
    case EISDIR:
    case ELOOP:
    case ENXIO:
    case EMLINK:
    case ETXTBSY:
      return true;
    default:
      return false;
  }
}

// One record into the files (under the lock): at most one remaking of a removed directory
// and at most one switch to the next file. False when the record could not be written;
// last_error then says why.
bool writeToFiles(FileEntry* e, const LogFile::Names& names, const char* prefix,
                  const char* line, std::size_t length) {
  bool remade = false;
  bool switched = false;
  for (;;) {
    const Attempt attempt = appendToFile(e, names, prefix, line, length);
    if (attempt.ok) return true;
    last_error = attempt.error;
    if (attempt.error == ENOENT && !remade) {
      remade = true;
      if (remakeDirectory(names.directory) == 0) continue;
      return false;
    }
    if (switched || !switchCures(attempt)) return false;
    switched = true;
    if (!switchFile(e, names, nowSeconds())) return false;
  }
}

void writeUnwritable(const char* line, std::size_t length) {
  static const char text[] = "LoggerQK: Unable to write following to logfile: ";
  std::fwrite(text, 1, sizeof text - 1, stderr);
  std::fwrite(line, 1, length, stderr);
  std::fflush(stderr);
}

}  // namespace

namespace logimpl {

void* (*allocateLine)(std::size_t size) = std::malloc;

void attachLogBlock(MEMORY_LGQK* block, bool (*lock)(), void (*unlock)(), bool with_files) {
  char directory[LOG_DIRECTORY_MAX + 1] = "";
  if (block) {
    const std::size_t n = field_length(block->log_directory, LOG_DIRECTORY_MAX);
    std::memcpy(directory, block->log_directory, n);
    directory[n] = '\0';
  }
  attachLogBlock(block, lock, unlock, with_files, directory);
}

void attachLogBlock(MEMORY_LGQK* block, bool (*lock)(), void (*unlock)(), bool with_files,
                    const char* directory) {
  block_base = block;
  attachFilterBlock(block);
  block_lock = lock;
  block_unlock = unlock;
  logimpl::copyText(log_directory, sizeof log_directory, directory ? directory : "");
  file_output = with_files && block && log_directory[0];
  // A write past this process's file-size limit must fail and be taken back, not end the
  // process with a torn line in the file.
  if (file_output) platform::fail_writes_past_size_limit();
  header_wanted = false;
  lost_records = last_error = 0;
  for (LastEnd& end : last_end) end = LastEnd{0, -1};
}

MEMORY_LGQK* logBlock() { return block_base; }

void writeLine(LogFile* file, const char* prefix, const char* text, std::size_t text_length) {
  const std::size_t n = text_length ? text_length : 1;
  char line_buffer[kTagRoom + kLineBuffer];
  char* buffer = line_buffer;
  char* owned = nullptr;
  char truncated[kNomemTextLength];
  if (n + 104 > kLineBuffer) {
    owned = static_cast<char*>(allocateLine(kTagRoom + n + 104));
    if (owned) {
      buffer = owned;
    } else {
      // Out of memory: the text is cut to 152 characters, the last 20 saying why.
      std::memcpy(truncated, text, kNomemTextLength - (sizeof nomem_marker - 1));
      std::memcpy(truncated + kNomemTextLength - (sizeof nomem_marker - 1), nomem_marker,
                  sizeof nomem_marker - 1);
      text = truncated;
      text_length = kNomemTextLength;
    }
  }
  char* line = buffer + kTagRoom;
  const std::size_t length = formatLine(line, prefix, text, text_length);

  if (!file || !file_output) {
    writeTagged(line, length);
  } else if (!lockBlock()) {
    // No file is touched without the lock: the record is lost, counted and shown.
    last_error = ENOLCK;
    ++lost_records;
    writeUnwritable(line, length);
  } else {
    if (!writeToFiles(file->entry(), file->names(), prefix, line, length)) {
      ++lost_records;  // told in the file with the next record that gets there
      writeUnwritable(line, length);
    }
    unlockBlock();
  }
  std::free(owned);
}

}  // namespace logimpl

// --- LogFile ----------------------------------------------------------------------------------

namespace {

std::uint32_t ownProcessId() { return static_cast<std::uint32_t>(platform::process_id()); }

// Each open not yet closed keeps its process's id in a free holder slot (when there is
// one), and each close takes one back.
void addHolder(FileEntry* e) {
  const std::uint32_t me = ownProcessId();
  for (std::uint32_t& holder : e->holders)
    if (holder == 0) {
      holder = me;
      return;
    }
}

void removeHolder(FileEntry* e) {
  const std::uint32_t me = ownProcessId();
  for (std::uint32_t& holder : e->holders)
    if (holder == me) {
      holder = 0;
      return;
    }
}

// True when no living process has the entry's files open: no holder lives, and every open
// was closed or belongs to a holder that has ended. An open that no holder slot tells of
// (more than the slots, or by a program that keeps none) keeps the entry.
bool entryUnused(const FileEntry* e) {
  long long held = 0;
  for (std::uint32_t holder : e->holders) {
    if (holder == 0) continue;
    if (platform::process_alive(holder)) return false;
    ++held;
  }
  const long long opens = static_cast<long long>(e->open_count) - 10000LL * e->limit_holds;
  return opens <= held;
}

// The first entry that may be reused for another pair, emptied; -1 when every entry is in
// use by a living process.
int reuseEntry() {
  for (int i = 0; i < LOG_FILE_TABLE_ENTRIES; ++i) {
    FileEntry* e = entryAt(i);
    if (!entryUnused(e)) continue;
    std::memset(e, 0, sizeof *e);
    return i;
  }
  return -1;
}

}  // namespace

LogFile* LogFile::open(const char* directory, const char* pattern, int options) {
  if (!block_base) return nullptr;
  Names names;
  logimpl::copyText(names.directory, sizeof names.directory, directory);
  expandPattern(pattern, names.pattern, sizeof names.pattern);

  // Without the lock no entry can be claimed: the records of this handle go to standard
  // error (the lock's outage has been told there).
  if (!lockBlock()) return nullptr;
  int index = -1;
  int free_index = -1;
  for (int i = 0; i < LOG_FILE_TABLE_ENTRIES; ++i) {
    FileEntry* e = entryAt(i);
    if (!e->pattern[0]) {
      if (free_index < 0) free_index = i;
      continue;
    }
    if (field_equals(e->directory, sizeof e->directory, names.directory) &&
        field_equals(e->pattern, sizeof e->pattern, names.pattern)) {
      index = i;
      break;
    }
  }
  if (index < 0) {
    // A table full of entries that no living process has open (each run of a program
    // whose file names hold its process id leaves one) takes the new pair in one of them.
    if (free_index < 0) free_index = reuseEntry();
    if (free_index < 0) {
      unlockBlock();
      fatalError("LOGGER:  File table full");
    }
    index = free_index;
    field_set(entryAt(index)->directory, sizeof entryAt(index)->directory, names.directory);
    field_set(entryAt(index)->pattern, sizeof entryAt(index)->pattern, names.pattern);
  }
  FileEntry* e = entryAt(index);
  e->open_count = nextNumber(e->open_count);
  addHolder(e);
  last_end[index] = LastEnd{0, -1};  // the entry may have held another pair before
  if (e->open_count > 1)
    e->options = 0;
  else
    initialiseEntry(e, names, options);
  unlockBlock();
  return new LogFile(index, names);
}

LogFile::LogFile(int entry, const Names& names) : entry_(entry), names_(new Names(names)) {}

LogFile::~LogFile() { delete names_; }

FileEntry* LogFile::entry() const { return entryAt(entry_); }

void LogFile::close() {
  if (lockBlock()) {
    entry()->open_count = static_cast<std::int32_t>(static_cast<std::uint32_t>(entry()->open_count) - 1u);
    removeHolder(entry());
    unlockBlock();
  }
  delete this;
}

void LogFile::setFileLimit(int bytes) {
  if (!lockBlock()) return;
  entry()->size_limit = bytes;
  entry()->open_count =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(entry()->open_count) + 10000u);
  ++entry()->limit_holds;
  unlockBlock();
}

void LogFile::setMaxRecords(int count) { entry()->max_records = count; }
void LogFile::setFileDays(int days) { entry()->file_days = days; }
int LogFile::fileLimit() const { return entry()->size_limit; }
int LogFile::maxRecords() const { return entry()->max_records; }
int LogFile::fileDays() const { return entry()->file_days; }
const char* LogFile::directory() const { return names_->directory; }
const char* LogFile::pattern() const { return names_->pattern; }

void requestHeader() { header_wanted = true; }

void setTimeOffset(int seconds, int milliseconds) {
  if (!block_base) return;
  block_base->time_offset_seconds = seconds;
  block_base->time_offset_milliseconds = milliseconds;
}
