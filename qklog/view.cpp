// The shared log block as qklog reads and changes it.
#include "qklog/view.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

#include "log/logfile_names.h"
#include "log/logger.h"

namespace qklog {

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not a valid one.
std::size_t utf8_length(const std::string& text, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (n == 0 || c > 0xF4 || i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  // No overlong forms, no surrogates, nothing above U+10FFFF.
  const unsigned char second = static_cast<unsigned char>(text[i + 1]);
  if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) || (c == 0xF0 && second < 0x90) ||
      (c == 0xF4 && second >= 0x90))
    return 0;
  return n;
}

std::string hex_byte(const char* form, unsigned char c) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, form, c);
  return buffer;
}

const char* kind_name(std::uint32_t kind) {
  switch (kind) {
    case LOG_FILTER_PROCESS_ID: return "pid";
    case LOG_FILTER_PROCESS_NAME: return "process";
    case LOG_FILTER_SOURCE_FILE: return "source";
    default: return "all";
  }
}

// A snapshot's entry, copied so that it is judged whole.
LogFilterEntry filter_at(const MEMORY_LGQK& block, int i) {
  LogFilterEntry entry;
  std::memcpy(&entry, &block.filters[i], sizeof entry);
  return entry;
}

std::string selector_text(const LogFilterEntry& entry) {
  switch (entry.kind) {
    case LOG_FILTER_PROCESS_ID: return std::to_string(entry.process_id);
    case LOG_FILTER_PROCESS_NAME:
    case LOG_FILTER_SOURCE_FILE: return printable(field_text(entry.name, sizeof entry.name));
    default: return "(every message, kind " + std::to_string(entry.kind) + ")";
  }
}

bool selects(const LogFilterEntry& entry, const FilterSelector& selector) {
  if (entry.kind != selector.kind) return false;
  if (selector.kind == LOG_FILTER_PROCESS_ID) return entry.process_id == selector.process_id;
  return field_text(entry.name, sizeof entry.name) == selector.name;
}

std::string start_time_text(std::int32_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm* local = std::localtime(&t);
  if (seconds <= 0 || !local) return std::to_string(seconds);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", local);
  return buffer;
}

std::string offset_text(const MEMORY_LGQK& block) {
  const std::int32_t s = block.time_offset_seconds, ms = block.time_offset_milliseconds;
  if (s == 0 && ms == 0) return "none";
  std::ostringstream out;
  out << s << " s " << ms << " ms";
  if (s == 0 && (static_cast<long long>(ms < 0 ? -static_cast<long long>(ms) : ms) + 5) / 10 < 2)
    out << " (too small for the header line)";
  return out.str();
}

// The busy word and the entries are written in order, each store seen before the next.
// A word that another party left at its highest value stays there (still set, so every
// message passes during the change): raising it would wrap it to 0 and run the change
// unsignalled. False when it was not raised, and then it must not be lowered.
bool raise_busy(MEMORY_LGQK* block) {
  std::uint32_t busy = __atomic_load_n(&block->filter_busy, __ATOMIC_SEQ_CST);
  do {
    if (busy == UINT32_MAX) return false;
  } while (!__atomic_compare_exchange_n(&block->filter_busy, &busy, busy + 1, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST));
  return true;
}
void lower_busy(MEMORY_LGQK* block, bool raised) {
  if (!raised) return;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  std::uint32_t busy = __atomic_load_n(&block->filter_busy, __ATOMIC_SEQ_CST);
  // Another party may have set it to 1 and back to 0 meanwhile: never wrap below 0.
  while (busy != 0 && !__atomic_compare_exchange_n(&block->filter_busy, &busy, busy - 1, false,
                                                   __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
  }
}
void store_kind(LogFilterEntry* entry, std::uint32_t kind) {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  __atomic_store_n(&entry->kind, kind, __ATOMIC_SEQ_CST);
}

void free_entry(LogFilterEntry* entry) {
  store_kind(entry, LOG_FILTER_FREE);
  entry->level = 0;
  entry->process_id = 0;
  std::memset(entry->name, 0, sizeof entry->name);
}

}  // namespace

namespace {

// Valid UTF-8 sequences are kept; every other byte is handed to escape.
template <typename Escape>
std::string escaped(const std::string& text, Escape escape) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c >= 0x80 ? utf8_length(text, i) : 0;
    if (n > 0) {
      out.append(text, i, n);
      i += n - 1;
    } else {
      out += escape(c);
    }
  }
  return out;
}

}  // namespace

std::string printable(const std::string& text) {
  return escaped(text, [](unsigned char c) {
    return c < 32 || c == 127 || c >= 0x80 || c == '\\' ? hex_byte("\\x%02x", c) : std::string(1, static_cast<char>(c));
  });
}

std::string json_string(const std::string& text, bool replace_invalid) {
  return "\"" + escaped(text, [replace_invalid](unsigned char c) {
           if (c == '"' || c == '\\') return std::string(1, '\\') + static_cast<char>(c);
           if (c >= 0x80 && replace_invalid) return std::string("\\ufffd");
           if (c < 32 || c >= 127) return hex_byte("\\u%04x", c);
           return std::string(1, static_cast<char>(c));
         }) + "\"";
}

bool parse_level(const std::string& text, int* rank) {
  const std::string name = upper(text);
  for (const LogLevelName& level : log_level_names) {
    if (name == level.name) {
      *rank = level.level & 0x7FFF;
      return true;
    }
  }
  if (!all_digits(text) || text.size() > 5) return false;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > 0xFFFF) return false;
  *rank = static_cast<int>(value & 0x7FFF);
  return true;
}

std::string level_meaning(std::int32_t stored) {
  if (stored <= 0) return "nothing passes";
  const char* least = nullptr;
  for (int i = 0; i < LOG_MESSAGE_LEVEL_NAMES; ++i)
    if ((log_level_names[i].level & 0x7FFF) < stored) least = log_level_names[i].name;
  std::string text = "ranks below " + std::to_string(stored);
  if (least) text += std::string(" (") + least + " and more important)";
  return text;
}

bool parse_offset(const std::string& text, std::int32_t* seconds, std::int32_t* milliseconds) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t dot = text.find('.', i);
  const std::string whole = text.substr(i, dot == std::string::npos ? std::string::npos : dot - i);
  const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (!all_digits(whole) || whole.size() > 10) return false;
  if (dot != std::string::npos && (!all_digits(fraction) || fraction.size() > 3)) return false;
  const long long s = std::strtoll(whole.c_str(), nullptr, 10);
  if (s > 0x7FFFFFFFLL) return false;
  long long ms = 0;
  if (!fraction.empty()) ms = std::strtoll((fraction + std::string(3 - fraction.size(), '0')).c_str(), nullptr, 10);
  *seconds = static_cast<std::int32_t>(negative ? -s : s);
  *milliseconds = static_cast<std::int32_t>(negative ? -ms : ms);
  return true;
}

int pattern_ring(const std::string& pattern) { return log_file_ring(pattern.data(), pattern.size()); }

std::string numbered_file_name(const std::string& pattern, std::int32_t number) {
  std::string name(log_file_name(pattern.data(), pattern.size(), number, nullptr, 0), '\0');
  log_file_name(pattern.data(), pattern.size(), number, &name[0], name.size() + 1);
  return name;
}

std::string current_file_path(const MEMORY_LGQK& block, int entry) {
  if (entry < 0 || entry >= LOG_FILE_TABLE_ENTRIES) return "";
  return numbered_file_path(block, entry, block.files[entry].file_number);
}

std::string numbered_file_path(const MEMORY_LGQK& block, int entry, std::int32_t number) {
  if (entry < 0 || entry >= LOG_FILE_TABLE_ENTRIES) return "";
  const LogFileTableEntry& e = block.files[entry];
  const std::string directory = field_text(block.log_directory, LOG_DIRECTORY_MAX);
  const std::string pattern = field_text(e.pattern, sizeof e.pattern);
  if (directory.empty() || pattern.empty()) return "";
  char path[LOG_FILE_PATH_SIZE];
  log_file_path(directory.c_str(), field_text(e.directory, sizeof e.directory).c_str(), pattern.c_str(), number,
                path, sizeof path);
  return path;
}

int stdlog_entry(const MEMORY_LGQK& block) {
  for (int i = 0; i < LOG_FILE_TABLE_ENTRIES; ++i) {
    const LogFileTableEntry& e = block.files[i];
    if (field_equals(e.directory, sizeof e.directory, LOG_STDLOG_DIRECTORY) &&
        field_equals(e.pattern, sizeof e.pattern, LOG_STDLOG_PATTERN))
      return i;
  }
  return -1;
}

std::string filters_text(const MEMORY_LGQK& block) {
  std::ostringstream out;
  int used = 0;
  for (int i = 0; i < LOG_FILTER_ENTRIES; ++i) {
    const LogFilterEntry entry = filter_at(block, i);
    if (entry.kind == LOG_FILTER_FREE) continue;
    if (used++ == 0) out << "  #  kind     level  selector\n";
    char head[64];
    std::snprintf(head, sizeof head, "%3d  %-7s  %5d  ", i + 1, kind_name(entry.kind), static_cast<int>(entry.level));
    out << head << selector_text(entry) << "  -- passes " << level_meaning(entry.level) << "\n";
  }
  if (used == 0) out << "  (no filters)\n";
  if (block.filter_busy != 0)
    out << "  the busy word is set (" << block.filter_busy << "): every message passes while it stays set\n";
  return out.str();
}

std::string filters_json(const MEMORY_LGQK& block) {
  std::ostringstream out;
  out << "[";
  bool first = true;
  for (int i = 0; i < LOG_FILTER_ENTRIES; ++i) {
    const LogFilterEntry entry = filter_at(block, i);
    if (entry.kind == LOG_FILTER_FREE) continue;
    out << (first ? "" : ",") << "{\"entry\":" << i + 1 << ",\"kind\":" << entry.kind << ",\"kind_name\":\""
        << kind_name(entry.kind) << "\",\"level\":" << entry.level << ",\"process_id\":" << entry.process_id
        << ",\"name\":" << json_string(field_text(entry.name, sizeof entry.name)) << "}";
    first = false;
  }
  out << "]";
  return out.str();
}

std::string status_text(const MEMORY_LGQK& block, const StatusContext& context) {
  std::ostringstream out;
  out << "key            " << printable(context.key_text) << " (block " << context.block_key << ", mutex "
      << memlgqk_mutex_name(context.block_key) << ")\n";
  const std::string directory = field_text(block.log_directory, LOG_DIRECTORY_MAX);
  out << "log directory  " << (directory.empty() ? "(none)" : printable(directory)) << "\n";
  out << "time offset    " << offset_text(block) << "\n";
  out << "files\n";
  int used = 0;
  for (int i = 0; i < LOG_FILE_TABLE_ENTRIES; ++i) {
    const LogFileTableEntry& e = block.files[i];
    const std::string pattern = field_text(e.pattern, sizeof e.pattern);
    if (pattern.empty()) continue;
    if (used++ == 0)
      out << "  #  directory        pattern          number  current file      size limit  records  max records"
             "  days  opens  options  started\n";
    char line[256];
    std::snprintf(line, sizeof line, "%3d  %-15s  %-15s  %6d  %-16s  %10d  %7d  %11d  %4d  %5d  %7u  ", i + 1,
                  printable(field_text(e.directory, sizeof e.directory)).c_str(), printable(pattern).c_str(),
                  static_cast<int>(e.file_number), printable(numbered_file_name(pattern, e.file_number)).c_str(),
                  static_cast<int>(e.size_limit), static_cast<int>(e.records), static_cast<int>(e.max_records),
                  static_cast<int>(e.file_days), static_cast<int>(e.open_count), static_cast<unsigned>(e.options));
    out << line << start_time_text(e.start_time) << "\n";
  }
  if (used == 0) out << "  (no files)\n";
  out << "filters\n" << filters_text(block);
  return out.str();
}

std::string status_json(const MEMORY_LGQK& block, const StatusContext& context) {
  std::ostringstream out;
  out << "{\"key\":" << json_string(context.key_text) << ",\"block_key\":" << context.block_key
      << ",\"log_directory\":" << json_string(field_text(block.log_directory, LOG_DIRECTORY_MAX))
      << ",\"time_offset\":{\"seconds\":" << block.time_offset_seconds
      << ",\"milliseconds\":" << block.time_offset_milliseconds << "},\"files\":[";
  bool first = true;
  for (int i = 0; i < LOG_FILE_TABLE_ENTRIES; ++i) {
    const LogFileTableEntry& e = block.files[i];
    const std::string pattern = field_text(e.pattern, sizeof e.pattern);
    if (pattern.empty()) continue;
    out << (first ? "" : ",") << "{\"entry\":" << i + 1
        << ",\"directory\":" << json_string(field_text(e.directory, sizeof e.directory))
        << ",\"pattern\":" << json_string(pattern) << ",\"file_number\":" << e.file_number
        << ",\"current_file\":" << json_string(numbered_file_name(pattern, e.file_number))
        << ",\"size_limit\":" << e.size_limit << ",\"records\":" << e.records << ",\"max_records\":" << e.max_records
        << ",\"file_days\":" << e.file_days << ",\"open_count\":" << e.open_count << ",\"options\":" << e.options
        << ",\"start_time\":" << e.start_time << "}";
    first = false;
  }
  out << "],\"filter_busy\":" << block.filter_busy << ",\"filters\":" << filters_json(block) << "}\n";
  return out.str();
}

FilterChange add_filter(MEMORY_LGQK* block, const FilterSelector& selector, std::int32_t level, int* index) {
  int free_slot = -1;
  for (int i = 0; i < LOG_FILTER_ENTRIES; ++i) {
    LogFilterEntry& entry = block->filters[i];
    if (entry.kind == LOG_FILTER_FREE) {
      if (free_slot < 0) free_slot = i;
      continue;
    }
    if (!selects(entry, selector)) continue;
    const bool raised = raise_busy(block);
    __atomic_store_n(&entry.level, level, __ATOMIC_SEQ_CST);
    memlgqk_filters_changed(block);
    lower_busy(block, raised);
    *index = i;
    return FilterChange::updated;
  }
  if (free_slot < 0) return FilterChange::table_full;
  LogFilterEntry& entry = block->filters[free_slot];
  const bool raised = raise_busy(block);
  entry.level = level;
  entry.process_id = selector.kind == LOG_FILTER_PROCESS_ID ? selector.process_id : 0;
  std::memset(entry.name, 0, sizeof entry.name);
  if (selector.kind != LOG_FILTER_PROCESS_ID)
    std::memcpy(entry.name, selector.name.data(), std::min(selector.name.size(), kFilterNameMax));
  store_kind(&entry, selector.kind);
  memlgqk_filters_changed(block);
  lower_busy(block, raised);
  *index = free_slot;
  return FilterChange::added;
}

FilterChange remove_filters(MEMORY_LGQK* block, const FilterSelector& selector, int* count) {
  *count = 0;
  const bool raised = raise_busy(block);
  for (LogFilterEntry& entry : block->filters) {
    if (entry.kind == LOG_FILTER_FREE || !selects(entry, selector)) continue;
    free_entry(&entry);
    ++*count;
  }
  if (*count > 0) memlgqk_filters_changed(block);
  lower_busy(block, raised);
  return *count > 0 ? FilterChange::removed : FilterChange::not_found;
}

FilterChange remove_filter_at(MEMORY_LGQK* block, int index) {
  if (index < 0 || index >= LOG_FILTER_ENTRIES || block->filters[index].kind == LOG_FILTER_FREE)
    return FilterChange::not_found;
  const bool raised = raise_busy(block);
  free_entry(&block->filters[index]);
  memlgqk_filters_changed(block);
  lower_busy(block, raised);
  return FilterChange::removed;
}

void clear_filters(MEMORY_LGQK* block) {
  raise_busy(block);
  for (LogFilterEntry& entry : block->filters) free_entry(&entry);
  memlgqk_filters_changed(block);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  __atomic_store_n(&block->filter_busy, 0u, __ATOMIC_SEQ_CST);
}

}  // namespace qklog
