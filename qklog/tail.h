// qklog tail: the last records of the installation's current log file, and with follow
// every record that arrives after them, across switches to the next numbered file.
#ifndef QK_QKLOG_TAIL_H
#define QK_QKLOG_TAIL_H

#include <cstdio>
#include <string>

#include "log/memlgqk.h"

namespace qklog {

// The block's mutex, taken when the reader falls behind.
class BlockLock {
 public:
  virtual ~BlockLock() = default;
  virtual bool lock() = 0;  // false when the mutex cannot be had
  virtual void unlock() = 0;
  // After a lock() that answered false: the exit code that ends the following (another
  // process holds the mutex and does not let go), or 0 to read on without the mutex.
  virtual int failure_exit_code() const { return 0; }
  virtual std::string failure() const { return std::string(); }
};

class RecordFilter;

struct TailOptions {
  long lines = 10;              // the last records shown first, from as far back as the ring goes
  bool follow = false;          // then every line that arrives
  double idle_seconds = -1;     // with follow: stop after this long without a line (< 0: never)
  unsigned poll_ms = 10;        // the pause when nothing new has come
  const RecordFilter* filter = nullptr;  // the records shown (and counted by lines); none: all
  bool json = false;            // one JSON object a record instead of the line
};

// The exit code of tail when the installation has no current log file, or it cannot be read.
const int exit_no_file = 4;

// 0 on success; 4 when there is no current log file or it cannot be read (it is opened as
// the writers open theirs: never through a link, and only a regular file with one name);
// the last records come from the current file and, when it holds fewer, from the files of
// the numbers before it, oldest first; header lines are not records, but their time
// offset goes with the records of their file;
// with follow, the lock's failure_exit_code() when the mutex stays held elsewhere. Lines
// go to out, complaints to err. The last lines are found by reading the file backwards, so
// memory stays small however large the file is.
//
// It reads without the block's mutex, as the level test reads the filters: a writer
// moves the current number on only after its last record in the old file is complete,
// so a file whose number is behind the current one is read to its end and left, and of
// the current file only complete lines are taken. Waiting for the mutex instead would
// let a busy installation's writers, which take it for every record, starve the reader
// until they had gone round the whole ring of files. Only a reader that falls half a ring
// behind (starved of processor time) takes the mutex to copy what has come (a few
// megabytes at a time), and prints it after releasing it, so that no file is reused
// before it has been read and no blocked output holds the writers up.
int tail(const MEMORY_LGQK* block, BlockLock& lock, const TailOptions& options, std::FILE* out, std::FILE* err);

}  // namespace qklog

#endif
