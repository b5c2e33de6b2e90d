// Pieces of the record writer shared by the logger's source modules and its tests.
#ifndef QK_LOG_INTERNAL_RECORD_H
#define QK_LOG_INTERNAL_RECORD_H

#include <cstddef>

#include "log/record_layout.h"
#include "platform/clock/clock.h"

class LogFile;

namespace logimpl {

// The record prefix is 99 characters wide whenever its numbers fit their fields.
constexpr int kPrefixWidth = LOG_RECORD_PREFIX_WIDTH;
// Room for a prefix whose numbers overflow their fields.
constexpr std::size_t kPrefixBuffer = 192;

// Copies at most size - 1 characters of the text (nullptr: empty) and ends the copy.
void copyText(char* to, std::size_t size, const char* from);

// The text after the last '/' (backslashes are not separators).
const char* baseName(const char* path);

// Hundredths of a second shown for the milliseconds: rounded, never 100.
int hundredths(int milliseconds);

// Formats the record prefix into out (kPrefixBuffer bytes); returns its length.
int formatPrefix(char* out, const platform::ClockReading& now, const char* host,
                 const char* process, int pid, int level, const char* source_base, int line);

// The clock the record writer reads; tests put a fixed clock here.
extern platform::ClockReading (*clock)();

// Where lines longer than the static buffer get their memory (tests make it fail).
extern void* (*allocateLine)(std::size_t size);

// Writes one record line (prefix forced to 99 characters, text, line feed) to the file, or
// to standard error behind "LoggerQK: " when there is no file output.
void writeLine(LogFile* file, const char* prefix, const char* text, std::size_t text_length);

// The level test's look at the shared filter table is in log/detail/logstate.h
// (filterPasses).
// Clears the first kind-3 entry naming the source file (with the busy word set meanwhile);
// false when there is none.
bool removeSourceFilter(const char* source_file);

}  // namespace logimpl

#endif
