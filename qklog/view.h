// What qklog reads from and writes into an installation's shared log block, kept apart
// from the command line so that it can be tested and fuzzed on any bytes.
//
// Every field of the block may hold anything (other programs write into it): texts are
// read only within their fields (field_text, log/fixed_field.h) and shown with unprintable bytes escaped, numbers are
// shown as they are.
#ifndef QK_QKLOG_VIEW_H
#define QK_QKLOG_VIEW_H

#include <cstdint>
#include <string>

#include "log/fixed_field.h"
#include "log/memlgqk.h"

namespace qklog {

// The text with bytes below 32, 127 and '\\' written as \xHH (so that a line stays one
// line on a terminal); UTF-8 text above 127 is kept.
std::string printable(const std::string& text);
// The text as a JSON string literal, quotes included; bytes that are not valid UTF-8 are
// written as \u00HH, or with replace_invalid as U+FFFD (\ufffd), as readers of text expect.
std::string json_string(const std::string& text, bool replace_invalid = false);

// A level given by name (any case: "milestone", "ERROR", "MINIMUM") or as a decimal
// number (0 to 65535; the flag bit 0x8000 is dropped), as its rank. False for anything
// else.
bool parse_level(const std::string& text, int* rank);
// What a filter entry's stored level lets through: "ranks below 91 (MILESTONE and more
// important)".
std::string level_meaning(std::int32_t stored);

// SECONDS[.MILLIS]: a decimal number of seconds with up to three decimals, signed; both
// parts carry the sign. False for anything else or seconds beyond 32 bits.
bool parse_offset(const std::string& text, std::int32_t* seconds, std::int32_t* milliseconds);

// The file name of the number in a pattern, as the writers name their files
// (log_file_name, log/logfile_names.h).
std::string numbered_file_name(const std::string& pattern, std::int32_t number);

// How many numbers a pattern's files cycle through (its last "%digit"; 2 without one).
int pattern_ring(const std::string& pattern);

// The path of an entry's current file, as the writers make it (log_file_path): the log
// directory, the entry's directory and its numbered file name; "" when the entry or the
// log directory is empty.
std::string current_file_path(const MEMORY_LGQK& block, int entry);
// The path of the entry's file of that number.
std::string numbered_file_path(const MEMORY_LGQK& block, int entry, std::int32_t number);

// The entry of stdlog's file (LOG_STDLOG_DIRECTORY and LOG_STDLOG_PATTERN), or -1.
int stdlog_entry(const MEMORY_LGQK& block);

// What status shows: the key as given and as the block's key, and the block.
struct StatusContext {
  std::string key_text;  // the value of QK_KEY
  int block_key = 0;     // env_key with base 1
};
std::string status_text(const MEMORY_LGQK& block, const StatusContext& context);
std::string status_json(const MEMORY_LGQK& block, const StatusContext& context);
std::string filters_text(const MEMORY_LGQK& block);
std::string filters_json(const MEMORY_LGQK& block);

// --- Changes of the filter table --------------------------------------------------------------
// The caller holds the block's mutex. The busy word is raised during each change, an
// entry is filled before its kind makes it count and loses its kind before it is cleared,
// so that a logging process never judges a half-written entry.

struct FilterSelector {
  std::uint32_t kind = LOG_FILTER_FREE;  // LOG_FILTER_PROCESS_ID, _PROCESS_NAME or _SOURCE_FILE
  std::int32_t process_id = 0;           // kind 1: the reduced process id
  std::string name;                      // kinds 2 and 3
};

const std::size_t kFilterNameMax = sizeof(LogFilterEntry::name) - 1;

enum class FilterChange { added, updated, removed, not_found, table_full };

// Sets the level of the entry with that selector, or puts a new entry into the first free
// slot. *entry is its index.
FilterChange add_filter(MEMORY_LGQK* block, const FilterSelector& selector, std::int32_t level, int* entry);
// Removes every entry with that selector; removed or not_found. *count is how many.
FilterChange remove_filters(MEMORY_LGQK* block, const FilterSelector& selector, int* count);
// Removes the entry of that index (0 to 19) when it is in use.
FilterChange remove_filter_at(MEMORY_LGQK* block, int entry);
// Frees every entry and clears a busy word left set by a party that died while changing.
void clear_filters(MEMORY_LGQK* block);

}  // namespace qklog

#endif
