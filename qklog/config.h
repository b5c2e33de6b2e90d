// What 'qklog config' shows: the effective configuration of an installation as its
// processes see it. The settings part comes from the settings load's own report
// (env/env_report.h); the block part from a copy of the block taken as status takes it.
#ifndef QK_QKLOG_CONFIG_H
#define QK_QKLOG_CONFIG_H

#include <string>

#include "env/env_report.h"
#include "log/memlgqk.h"

namespace qklog {

struct ConfigContext {
  std::string root, local;      // QK_ROOT and QK_LOCAL as the process has them
  std::string site;             // QK_SITE, or "" when not set
  std::string site_folder;      // the folder of shared objects in use: QK_SITE, else QK_ROOT/site
  bool has_key = false;         // QK_KEY is set
  std::string key_text;         // its value
  int block_key = 0;            // env_key with base 1
  std::string own_log_directory;       // what this installation's settings ask for ("" none)
  std::string own_log_setting;         // "QK_LOG" or "QK_ROOT"
  std::string backing_file;     // the block's backing file
  std::string block_state;      // "" when the block is attached (block holds its copy), else why not
  MEMORY_LGQK block;
};

// One text block: the files, the assignments, the installation's folders, the log
// directory, the key and the block.
std::string config_text(const EnvLoadReport& report, const ConfigContext& context);

}  // namespace qklog

#endif
