// qklog tail: the last records of the installation's current log file, and with follow
// every record that arrives after them, across switches to the next numbered file.
#ifndef QK_QKLOG_TAIL_H
#define QK_QKLOG_TAIL_H

#include <cstdio>

#include "log/memlgqk.h"

namespace qklog {

// Holds the block's mutex while it reads, so that no writer switches files meanwhile.
class BlockLock {
 public:
  virtual ~BlockLock() = default;
  virtual bool lock() = 0;  // false when the mutex could not be had
  virtual void unlock() = 0;
};

struct TailOptions {
  long lines = 10;              // the last lines shown first
  bool follow = false;          // then every line that arrives
  double idle_seconds = -1;     // with follow: stop after this long without a line (< 0: never)
  unsigned poll_ms = 20;        // the pause when nothing new has come
};

// 0 on success; 4 when there is no current log file or it cannot be read; 3 when the
// mutex cannot be had. Lines go to out, complaints to err.
int tail(MEMORY_LGQK* block, BlockLock& lock, const TailOptions& options, std::FILE* out, std::FILE* err);

}  // namespace qklog

#endif
