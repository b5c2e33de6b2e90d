// Arbitrary bytes as the shared log block, as another program might have left it: the
// level test's filter reading, the log-directory reading, the removal of a source-file
// filter, and a record written through a file table made of those bytes. The bytes beyond
// the block are also read as the texts of the settings the block is found and filtered by:
// the installation key (QK_KEY) and a threshold (QK_LOG_LEVEL). Only the log
// directory is set to a folder of the fuzzer's own, so that every file stays inside it.
//
// The logger starts before the fuzzer does, so run it inside an installation without a
// key:  QK_ROOT=<folder> QK_LOCAL=<folder> QK_LOG_NOKEY=1 memlgqk_fuzz corpus
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "env/env.h"
#include "log/internal/block.h"
#include "log/detail/logstate.h"
#include "log/memlgqk.h"
#include "platform/environment/environment.h"
#include "platform/process/process.h"

namespace {

int readInt(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4 && at + i < size; ++i) v |= std::uint32_t(data[at + i]) << (8 * i);
  return static_cast<int>(v);
}

}  // namespace

// Made before the logger starts during static initialisation: its settings load needs an
// installation root and a local folder, and without a key its block stays private.
struct FuzzInstallation {
  FuzzInstallation() {
    namespace fs = std::filesystem;
    fs::path base = fs::temp_directory_path() / ("qk_memlgqk_fuzz_" + std::to_string(platform::process_id()));
    fs::create_directories(base / "log");
    log_folder = (base / "log").generic_string();
    platform::put_env("QK_ROOT=" + base.generic_string());
    platform::put_env("QK_LOCAL=" + base.generic_string());
    platform::put_env("QK_KEY=");
    platform::put_env("QK_LOG_NOKEY=1");
    platform::put_env("QK_LOGFILE_LIMIT=");
  }
  std::string log_folder;
};
__attribute__((init_priority(101))) FuzzInstallation fuzz_installation;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static MEMORY_LGQK block;
  std::memset(&block, 0, sizeof block);
  std::memcpy(&block, data, size < sizeof block ? size : sizeof block);

  // Names and numbers of the question come from the bytes beyond the block.
  std::string tail;
  if (size > sizeof block) tail.assign(reinterpret_cast<const char*>(data) + sizeof block, size - sizeof block);
  std::string source = tail.substr(0, tail.find('\0'));
  int rank = readInt(data, size, 8164 + 4) & 0x7FFF;
  int pid = readInt(data, size, 8164 + 8);
  memlgqk_filter_passes(&block, source.c_str(), rank, pid, source.c_str());
  memlgqk_filter_matches(&block, "Brimvale", 90, pid, "Brimvale");
  // The verdict a process keeps agrees with the full test: without source-file entries
  // exactly, with them for every rank it lets through.
  int pass_below = 0;
  bool source_filters = false;
  memlgqk_filter_summary(&block, pid, source.c_str(), &pass_below, &source_filters);
  if (pass_below < 0 || pass_below > 0x8000) __builtin_trap();
  const bool passes = memlgqk_filter_passes(&block, source.c_str(), rank, pid, source.c_str());
  if (rank < pass_below && !passes) __builtin_trap();
  if (!source_filters && passes != (rank < pass_below)) __builtin_trap();
  char directory[LOG_DIRECTORY_MAX + 1];
  if (std::strlen(memlgqk_log_directory(&block, directory)) > LOG_DIRECTORY_MAX) __builtin_trap();
  memlgqk_remove_file_filter(&block, source.c_str());

  unsigned key = 0;
  if (!source.empty()) env_key_text(source.c_str(), &key);
  const int level = parseLevel(source.c_str());
  if (level < 0 || level > 0x7FFF) __builtin_trap();

  // One record through the file table as the bytes left it. A table without a free entry
  // is the fatal "File table full", so the last entry is kept free.
  std::memset(block.log_directory, 0, sizeof block.log_directory);
  const std::string& log_folder = fuzz_installation.log_folder;
  std::memcpy(block.log_directory, log_folder.data(), log_folder.size());
  block.files[LOG_FILE_TABLE_ENTRIES - 1].pattern[0] = '\0';
  logimpl::attachLogBlock(&block, nullptr, nullptr, true);
  {
    LogSink sink(".", "stdlog.%1", 0x10000);
    writeRecord(&sink, ERROR, "memlgqk_fuzz", 1, "record", 6, -1, nullptr, 0);
  }
  logimpl::attachLogBlock(nullptr, nullptr, nullptr, false);
  return 0;
}
