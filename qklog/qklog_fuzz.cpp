// Fuzz target: arbitrary bytes as the shared log block qklog reads (file table, filter
// table, busy word, log directory, time offset), then the rest as the texts it parses.
// Every field is read within its bounds, every change leaves the busy word as it was.
#include <cstdint>
#include <cstring>
#include <string>

#include "qklog/view.h"

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
