// OS-independent pieces of the process concept.
#include "platform/process/process.h"
#include "platform/process/process_exit.h"

namespace platform {

CommandResult run_command_line(const std::string& command_line) {
  Child child = start_command_line(command_line);
  return wait_for_child(child);
}

CommandResult wait_for_child(Child& child) {
  CommandResult result;
  result.started = child.started;
  result.error = child.error;
  if (child.started) {
    child.started = false;  // waited for once
    wait_for_exit(child.handle, result);
  }
  return result;
}

std::vector<std::string> split_command_line(const std::string& line) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = line.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  for (;;) {
    while (i < n && blank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !blank(line[i]))) {
      char c = line[i];
      if (c == '\\') {
        size_t slashes = 0;
        while (i < n && line[i] == '\\') { ++slashes; ++i; }
        if (i < n && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {  // an odd run escapes the quote
            arg.push_back('"');
            ++i;
          }
          // an even run leaves the quote to act below
        } else {
          arg.append(slashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {  // "" inside quotes
          arg.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(c);
      ++i;
    }
    args.push_back(arg);
  }
  return args;
}

}  // namespace platform
