// The log-file side of the record writer: record lines and where they go.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/internal/record.h"
#include "log/logfile.h"

namespace {

// Lines up to 256 bytes need no allocation; the front is room for the "LoggerQK: " tag of
// standard-error lines, so that such a line goes out in one write.
constexpr std::size_t kLineBuffer = 256;
constexpr std::size_t kTagRoom = 16;
char line_buffer[kTagRoom + kLineBuffer];

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

void writeToStderr(char* line, std::size_t length) {
  // line has kTagRoom bytes in front of it.
  char* tagged = line - kStderrTagLength;
  std::memcpy(tagged, stderr_tag, kStderrTagLength);
  std::fwrite(tagged, 1, kStderrTagLength + length, stderr);
  std::fflush(stderr);
}

}  // namespace

namespace logimpl {

void writeLine(LogFile* file, const char* prefix, const char* text, std::size_t text_length) {
  (void)file;
  const std::size_t n = text_length ? text_length : 1;
  char* buffer = line_buffer;
  char* owned = nullptr;
  char truncated[kNomemTextLength];
  if (n + 104 > kLineBuffer) {
    owned = static_cast<char*>(std::malloc(kTagRoom + n + 104));
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
  writeToStderr(line, length);
  std::free(owned);
}

bool filterPasses(const char*, int, int) { return false; }
bool removeSourceFilter(const char*) { return false; }

}  // namespace logimpl

// Until the shared file table is attached, records go to standard error.
LogFile* LogFile::open(const char*, const char*, int) { return nullptr; }
void LogFile::close() { delete this; }
void LogFile::setFileLimit(int) {}
void LogFile::setMaxRecords(int) {}
void LogFile::setFileDays(int) {}
int LogFile::fileLimit() const { return -1; }
int LogFile::maxRecords() const { return -1; }
int LogFile::fileDays() const { return -1; }
const char* LogFile::directory() const { return nullptr; }
const char* LogFile::pattern() const { return nullptr; }
