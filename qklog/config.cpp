#include "qklog/config.h"

#include <cstdio>
#include <sstream>

#include "qklog/view.h"

namespace qklog {

namespace {

// A text of this installation's own settings as a terminal shows it: control bytes as
// \xHH, backslashes kept (Windows paths hold them).
std::string shown(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 32 || b == 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string assignment_line(const EnvAssignmentRead& a) {
  std::string line = "  " + shown(a.name) + "=" + shown(a.value) + "   " + shown(a.path) + " line " +
                     std::to_string(a.line);
  switch (a.outcome) {
    case EnvAssignmentOutcome::set: break;
    case EnvAssignmentOutcome::forced: line += " (forced: replaces any value)"; break;
    case EnvAssignmentOutcome::kept_environment: line += " -- not used: set in the environment, which wins"; break;
    case EnvAssignmentOutcome::kept_earlier_file:
      line += " -- not used: " + shown(a.earlier_path) + " set it first";
      break;
    case EnvAssignmentOutcome::empty_value: line += " -- an empty value sets nothing"; break;
    case EnvAssignmentOutcome::too_long: line += " -- too long: not set"; break;
  }
  return line + "\n";
}

int used_files(const MEMORY_LGQK& block) {
  int n = 0;
  for (const LogFileTableEntry& e : block.files)
    if (!field_text(e.pattern, sizeof e.pattern).empty()) ++n;
  return n;
}

int used_filters(const MEMORY_LGQK& block) {
  int n = 0;
  for (const LogFilterEntry& f : block.filters)
    if (f.kind != LOG_FILTER_FREE) ++n;
  return n;
}

}  // namespace

std::string config_text(const EnvLoadReport& report, const ConfigContext& c) {
  std::ostringstream out;
  out << "QK_ROOT        " << shown(c.root) << " (from " << shown(report.root_source) << ")\n";
  out << "QK_LOCAL       " << shown(c.local) << " (from " << shown(report.local_source) << ")\n";
  out << "QK_SITE        " << shown(c.site_folder) << (c.site.empty() ? " (QK_SITE not set: QK_ROOT/site)" : "")
      << "\n";
  out << "QK.env files, in the order they are read (the first to set a variable wins; the environment wins "
         "over all):\n";
  for (const EnvFileRead& f : report.files)
    out << "  " << (f.found ? "found      " : "not found  ") << shown(f.path) << "\n";
  out << "settings from the files:\n";
  if (report.assignments.empty()) out << "  (none)\n";
  for (const EnvAssignmentRead& a : report.assignments) out << assignment_line(a);

  const std::string in_use = c.block_state.empty() ? field_text(c.block.log_directory, LOG_DIRECTORY_MAX) : "";
  if (!c.block_state.empty()) {
    out << "log directory  " << (c.own_log_directory.empty() ? std::string("(none)") : shown(c.own_log_directory))
        << " (from " << (c.own_log_setting.empty() ? std::string("no setting") : c.own_log_setting)
        << "; the first process to log makes the block with it)\n";
  } else {
    out << "log directory  " << (in_use.empty() ? std::string("(none)") : printable(in_use))
        << " (the block's, chosen when it was made)\n";
    if (!c.own_log_directory.empty() && c.own_log_directory != in_use)
      out << "               " << c.own_log_setting << " asks for " << shown(c.own_log_directory)
          << ": it takes effect with a new block (stop every process, remove the backing file, start again)\n";
  }

  if (!c.has_key) {
    out << "key            QK_KEY is not set: the installation has no shared log block\n";
    return out.str();
  }
  out << "key            " << shown(c.key_text) << " (block " << c.block_key << ", mutex "
      << memlgqk_mutex_name(c.block_key) << ")\n";
  out << "block          " << shown(c.backing_file) << ": ";
  if (!c.block_state.empty()) {
    out << c.block_state << "\n";
    return out.str();
  }
  out << "exists\n";
  out << "  files        " << used_files(c.block) << " of " << LOG_FILE_TABLE_ENTRIES << " entries in use\n";
  out << "  filters      " << used_filters(c.block) << " of " << LOG_FILTER_ENTRIES << " entries in use"
      << (c.block.filter_busy ? ", busy word raised (every record passes)" : "") << "\n";
  out << "  time offset  " << c.block.time_offset_seconds << " s " << c.block.time_offset_milliseconds << " ms\n";
  return out.str();
}

}  // namespace qklog
