// How the logger's file side is given the shared log block (MEMORY_LGQK): the logger's
// start-up attaches the installation's block, tests attach blocks of their own.
#ifndef QK_LOG_INTERNAL_BLOCK_H
#define QK_LOG_INTERNAL_BLOCK_H

#include "log/memlgqk.h"

namespace logimpl {

// Attaches the logger to a block: its file table, log directory, time offset and filters.
// lock and unlock serialise writers (nullptr: a private block); lock answers false when
// the lock cannot be had, and is then not released. Without file output
// (stderr-only mode) the table is kept but no file is touched.
void attachLogBlock(MEMORY_LGQK* block, bool (*lock)(), void (*unlock)(), bool file_output);
// The same with the log directory given: the copy that was checked (memlgqk_log_directory),
// not the block's field, which another process may have changed since.
void attachLogBlock(MEMORY_LGQK* block, bool (*lock)(), void (*unlock)(), bool file_output,
                    const char* log_directory);

// The attached block, or nullptr.
MEMORY_LGQK* logBlock();

}  // namespace logimpl

#endif
