// The names of the numbered log files, as the writers make them and as every reader of an
// installation's logs (qklog tail) must find them.
//
// A file-table entry holds a directory, relative to the log directory, and an expanded
// pattern; the file of number N is
//
//   <log directory>/<directory>/<pattern with its "%digit" parts replaced by N>
//
// "%0" to "%4" print the number in the ring of 2, 10, 100, 1000 or 10000 numbers with that
// many digits; "%5" to "%9" print that many digits but cycle through 10000 numbers like
// "%4", which keeps the search for the newest file at an entry's first open bounded. Every
// other character stays as it is.
#ifndef QK_LOG_LOGFILE_NAMES_H
#define QK_LOG_LOGFILE_NAMES_H

#include <cstddef>
#include <cstdint>

// stdlog's entry: its directory and pattern.
const char LOG_STDLOG_DIRECTORY[] = ".";
const char LOG_STDLOG_PATTERN[] = "stdlog.%1";

// Room for the longest path a file can have, its zero byte included: a log directory of
// 259 characters, an entry's directory and a pattern of 64 characters each ("%9" printing
// nine digits).
const std::size_t LOG_FILE_PATH_SIZE = 1024;

// How many numbers the files of the pattern's first length characters cycle through: the
// ring of its last "%digit" (2 without one).
int log_file_ring(const char* pattern, std::size_t length);

// The file name of the number in the pattern's first length characters. Writes at most
// size - 1 characters and a zero byte to out (nothing when size is 0) and returns the
// name's whole length, as snprintf does.
std::size_t log_file_name(const char* pattern, std::size_t length, std::int32_t number, char* out,
                          std::size_t size);

// The path of the number's file: the log directory, '/', the entry's directory, '/', the
// file name. Written to out as log_file_name writes (cut at size - 1 characters); returns
// the length written.
std::size_t log_file_path(const char* log_directory, const char* directory, const char* pattern,
                          std::int32_t number, char* out, std::size_t size);

#endif
