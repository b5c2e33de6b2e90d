// The shared log block as the logger's file side reads it: the file table at its start,
// the filter table, the log directory and the time offset. Every process of an
// installation writes these bytes, so every text is read within its field and every number
// is checked before use.
#ifndef QK_LOG_INTERNAL_BLOCK_H
#define QK_LOG_INTERNAL_BLOCK_H

#include <cstddef>
#include <cstdint>

namespace logimpl {

constexpr std::size_t kBlockSize = 10776;
constexpr int kFileEntries = 40;
constexpr std::size_t kFilterBusyOffset = 8160;
constexpr std::size_t kFilterTableOffset = 8164;
constexpr int kFilterEntries = 20;
constexpr std::size_t kFilterEntrySize = 116;
constexpr std::size_t kLogDirectoryOffset = 10484;
constexpr std::size_t kLogDirectorySize = 276;
constexpr std::size_t kLogDirectoryMax = 259;
constexpr std::size_t kTimeOffsetOffset = 10760;

// One entry of the file table (204 bytes, little-endian).
struct FileEntry {
  char directory[64];  // relative to the log directory
  char pattern[64];    // the expanded pattern; empty: a free entry
  std::int32_t options;
  std::int32_t open_count;
  std::int32_t number;      // current file number, counting up without bound
  std::int32_t start_time;  // seconds since 1970 when the current file was begun
  std::int32_t records;     // records written into the current file
  std::int32_t reserved;
  std::int32_t limit;        // size limit in bytes; 0 or less: none
  std::int32_t max_records;  // -1: none
  std::int32_t days;         // -1: none
  char reserved_tail[40];
};
static_assert(sizeof(FileEntry) == 204, "file-table entry layout");
static_assert(sizeof(FileEntry) * kFileEntries == kFilterBusyOffset, "file table size");

// Attaches the logger to a block of kBlockSize bytes: its file table, log directory, time
// offset and filters. lock and unlock serialise writers (nullptr: a private block). Without
// file output (stderr-only mode) the table is kept but no file is touched. The logger's
// start-up attaches the installation's block; tests attach their own.
void attachLogBlock(unsigned char* base, void (*lock)(), void (*unlock)(), bool file_output);

// The attached block, or nullptr.
unsigned char* logBlock();

}  // namespace logimpl

#endif
