// Fuzz target: arbitrary bytes as the shared log block qklog reads (file table, filter
// table, busy word, log directory, time offset), then the rest as the texts it parses:
// the options' values and the lines of a log file. Every field is read within its bounds,
// every change leaves the busy word as it was, and the JSON of any line stays one line
// without a raw control character or an invalid UTF-8 byte.
#include <cstdint>
#include <cstring>
#include <string>

#include "qklog/records.h"
#include "qklog/view.h"

static std::size_t high_bytes(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += static_cast<unsigned char>(c) >= 0x80;
  return n;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MEMORY_LGQK block;
  std::memset(&block, 0, sizeof block);
  const std::size_t taken = size < sizeof block ? size : sizeof block;
  std::memcpy(&block, data, taken);
  const std::string rest(reinterpret_cast<const char*>(data) + taken, size - taken);

  qklog::StatusContext context;
  context.key_text = rest;
  context.block_key = static_cast<int>(block.time_offset_seconds);
  const std::string text = qklog::status_text(block, context);
  const std::string json = qklog::status_json(block, context);
  for (char c : text + json)
    if (c != '\n' && static_cast<unsigned char>(c) < 32) __builtin_trap();
  for (int i = 0; i < LOG_FILE_TABLE_ENTRIES; ++i) (void)qklog::current_file_path(block, i);
  (void)qklog::stdlog_entry(block);

  int rank = 0;
  std::int32_t seconds = 0, milliseconds = 0;
  (void)qklog::parse_level(rest, &rank);
  (void)qklog::parse_offset(rest, &seconds, &milliseconds);
  (void)qklog::numbered_file_name(rest, block.files[0].file_number);
  (void)qklog::level_meaning(block.filters[0].level);

  qklog::LocalTime now;
  now.year = 2026;
  now.month = 1 + (block.files[2].records & 0x7fffffff) % 12;
  now.day = 1 + (block.files[3].records & 0x7fffffff) % 31;
  qklog::LocalTime since;
  (void)qklog::parse_since(rest, block.files[4].records, &since);
  qklog::RecordFilter filter;
  std::string why;
  const char* condition = qklog::RecordFilter::names[(block.files[5].records & 0x7fffffff) % 6];
  (void)filter.set(condition, rest.substr(0, 200), block.files[4].records, &why);
  const qklog::FileOffset offset = qklog::parse_header(rest);
  for (std::size_t at = 0; at <= rest.size();) {
    std::size_t end = rest.find('\n', at);
    if (end == std::string::npos) end = rest.size();
    const qklog::LogLine line = qklog::parse_log_line(rest.substr(at, end - at), now);
    (void)filter.passes(line);
    const std::string json = qklog::json_line(line, offset);
    if (json.back() != '\n' || json.find('\n') != json.size() - 1) __builtin_trap();
    for (char c : json)
      if (static_cast<unsigned char>(c) < 32 && c != '\n') __builtin_trap();
    // An invalid UTF-8 byte would be replaced (by ASCII) when the JSON is escaped again.
    if (high_bytes(json) != high_bytes(qklog::json_string(json, true))) __builtin_trap();
    at = end + 1;
  }

  const std::uint32_t busy = block.filter_busy;
  qklog::FilterSelector selector;
  selector.kind = 1 + static_cast<std::uint32_t>(block.files[0].records & 3) % 3;
  selector.process_id = block.files[0].records;
  selector.name = rest.substr(0, qklog::kFilterNameMax);
  int index = 0, count = 0;
  (void)qklog::add_filter(&block, selector, rank + 1, &index);
  (void)qklog::remove_filters(&block, selector, &count);
  (void)qklog::remove_filter_at(&block, block.files[1].records);
  if (block.filter_busy != busy) __builtin_trap();
  return 0;
}
