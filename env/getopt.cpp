// The option scanner: one option letter per call, over module-level state.
#include "env/getopt.h"

#include <cstring>

#include "platform/files/files.h"

int qk_optind = 1;
int qk_optopt = 0;
char* qk_optarg = nullptr;

namespace {

// The position inside the current argument (1: just after the '-'), the argument it
// belongs to and the vector scanned: a caller that sets qk_optind anew, or scans another
// vector, starts at position 1.
int position = 1;
int position_argument = 1;
char* const* scanned = nullptr;

const int standard_error = 2;

void write_text(const char* text, std::size_t length) {
  platform::write_fd(standard_error, text, length);
}

void report(const char* program, const char* message, char option) {
  const char* name = program ? program : "";
  const char letter[2] = {option, '\n'};
  write_text(name, std::strlen(name));
  write_text(message, std::strlen(message));
  write_text(letter, sizeof letter);
}

// Moves the scan on to the next argument.
void next_argument() {
  ++qk_optind;
  position = 1;
  position_argument = qk_optind;
}

}  // namespace

int qk_getopt(int argc, char* const argv[], const char* options) {
  if (!options) options = "";
  const bool restart = qk_optind == 0;  // from the start, even inside a cluster
  if (restart) qk_optind = 1;
  if (restart || position_argument != qk_optind || argv != scanned) {
    scanned = argv;
    position = 1;
    position_argument = qk_optind;
  }
  if (!argv || qk_optind < 1 || qk_optind >= argc || !argv[qk_optind]) return -1;
  const char* word = argv[qk_optind];
  if (position > 1 && std::strlen(word) <= static_cast<std::size_t>(position)) {
    // The caller changed the argument under the scan: go on with the next one.
    next_argument();
    return qk_getopt(argc, argv, options);
  }
  if (position == 1) {
    if (word[0] != '-' || word[1] == '\0') return -1;
    if (std::strcmp(word, "--") == 0) {
      next_argument();
      return -1;
    }
  }
  const char option = word[position];
  qk_optopt = static_cast<unsigned char>(option);
  const char* found = option == ':' ? nullptr : std::strchr(options, option);
  if (!found) {
    report(argv[0], ": illegal option -- ", option);
    if (word[++position] == '\0') next_argument();
    return '?';
  }
  if (found[1] == ':') {
    if (word[position + 1] != '\0') {
      qk_optarg = const_cast<char*>(word + position + 1);
      next_argument();
    } else if (qk_optind + 1 >= argc || !argv[qk_optind + 1]) {
      report(argv[0], ": option requires an argument -- ", option);
      qk_optind = argc;
      position = 1;
      position_argument = qk_optind;
      return '?';
    } else {
      qk_optarg = argv[qk_optind + 1];
      next_argument();
      next_argument();
    }
    return static_cast<unsigned char>(option);
  }
  if (word[++position] == '\0') next_argument();
  qk_optarg = nullptr;
  return static_cast<unsigned char>(option);
}
