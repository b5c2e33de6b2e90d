// qklog: see and steer an installation's live logging from the command line.
//
//   qklog status [--json]
//   qklog filter add (--pid N | --process NAME | --source NAME) --level LEVEL
//   qklog filter remove (--pid N | --process NAME | --source NAME | ENTRY)
//   qklog filter list [--json]
//   qklog filter clear
//   qklog offset [SECONDS[.MILLIS] | --clear]
//   qklog tail [-n N] [-f] [--idle SECONDS] [--json] [--level L] [--pid N] [--process NAME]
//              [--source NAME] [--since TIME] [--match REGEX]
//   qklog config
//   qklog --help | COMMAND --help | --version      (anywhere: no installation needed)
//
// It finds the installation's shared log block as the framework's processes do (settings,
// QK.env files, QK_KEY, QK_SITE), but only attaches a block that exists: looking never
// creates one. Changes are made under the block's mutex, and filter entries with the
// busy word raised. Its own logger writes to standard error only and never touches the
// installation's block or files.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "env/env.h"
#include "env/env_report.h"
#include "env/shmem.h"
#include "log/logger.h"
#include "log/memlgqk.h"
#include "platform/environment/environment.h"
#include "platform/named_lock/named_lock.h"
#include "platform/process/process.h"
#include "platform/profile/profile.h"
#include "platform/version.h"
#include "qklog/config.h"
#include "qklog/records.h"
#include "qklog/tail.h"
#include "qklog/view.h"

// The settings load and the logger start when a command needs them (require_installation).
extern const bool framework_start_deferred = true;

namespace {

// Exit codes a script can rely on.
const int exit_ok = 0;
const int exit_refused = 1;     // the change cannot be made: a full table, no such entry
const int exit_usage = 2;       // a bad command, option or value
const int exit_no_block = 3;    // no installation, no key, no block, or its mutex cannot be had
const int exit_lock_held = 5;   // another process held the block's mutex for the whole wait
// tail ends with qklog::exit_no_file (4) when there is no current log file.


// The logger of this program runs in stderr-only mode: it never attaches the
// installation's block nor opens its log files. The framework's start-up waits for the
// first command that needs the installation, so that --help and --version work anywhere;
// without an installation the settings load would end the process with its fatal report,
// so a command says plainly what is missing instead.
bool legacy_has(const char* name) {
  char value[256];
  return platform::profile_string("Tallowin", name, "", value, sizeof value, "tallowin.ini") > 0;
}

struct NameTheProcess {
  NameTheProcess() { setProcessName("BSTRAP:qklog:stderr"); }
};

__attribute__((init_priority(101))) NameTheProcess name_the_process;

// Ends the process (exit_no_block) when QK_ROOT or QK_LOCAL is found nowhere; else starts
// the framework: the settings load, the locale and the logger.
void require_installation() {
  for (const char* name : {"QK_ROOT", "QK_LOCAL"}) {
    if (platform::get_env(name) || legacy_has(name)) continue;
    std::fprintf(stderr, "qklog: no installation: %s is set neither in the environment nor in tallowin.ini\n",
                 name);
    std::fflush(stderr);
    platform::exit_process_now(exit_no_block);
  }
  startLogger();
}

LoggerGuard logger_guard;

const char general_usage[] =
    "usage: qklog COMMAND [OPTIONS]\n"
    "See and steer the live logging of the installation (QK_ROOT, QK_KEY).\n"
    "\n"
    "commands:\n"
    "  status [--json]                 the key, log directory, file table, filters and time offset\n"
    "  filter add|remove|list|clear    let chosen processes or source modules log more\n"
    "  offset [SECONDS[.MILLIS]|--clear]  the time offset in new log files' header lines\n"
    "  tail [-n N] [-f] [CONDITIONS]   the last records of the log files, and follow them\n"
    "  config                          where the settings come from, the log directory, the block\n"
    "\n"
    "  --version                       the framework's version\n"
    "\n"
    "'qklog COMMAND --help' tells more. Exit codes: 0 done, 1 refused (table full, no such\n"
    "entry), 2 bad usage, 3 no installation or no log block, 4 no log file, 5 the log block's\n"
    "mutex stayed held by another process (named where the system tells it).\n";

const char status_usage[] =
    "usage: qklog status [--json]\n"
    "Shows the installation key, the log directory, the file table (pattern, current number,\n"
    "size limit, records and counters), the filter table and the time offset.\n"
    "  --json   one JSON object instead of the table\n";

const char filter_usage[] =
    "usage: qklog filter add (--pid N | --process NAME | --source NAME) --level LEVEL\n"
    "       qklog filter remove (--pid N | --process NAME | --source NAME | ENTRY)\n"
    "       qklog filter list [--json]\n"
    "       qklog filter clear\n"
    "A filter lets records of LEVEL and every more important level through, above the\n"
    "threshold, from one process (by id or name) or one source module. LEVEL is a name\n"
    "(FATAL EXIT RESTART SIGNIFICANT SEVERE_ERROR ERROR WARNING INFORMATION MILESTONE TRACE\n"
    "VERBOSE, any case) or a number; the block stores the rank plus one (MILESTONE: 91).\n"
    "A process id is taken modulo 100000, as the records show it. The table has 20 entries;\n"
    "adding a selector that is there already changes its level. ENTRY is a number from\n"
    "'qklog filter list'. 'clear' also resets a busy word left set by a party that died.\n";

const char offset_usage[] =
    "usage: qklog offset [SECONDS[.MILLIS] | --clear]\n"
    "Sets the time offset that the header line of every new log file carries (for example\n"
    "3600, -1.5 or 0.250); --clear removes it. Without an argument, shows it.\n";

const char config_usage[] =
    "usage: qklog config\n"
    "Shows the configuration of the installation as its processes see it: where QK_ROOT and\n"
    "QK_LOCAL come from, each QK.env file looked for (found or not, in the order they are\n"
    "read), each variable the files set and which file set it (a variable set in the\n"
    "environment wins), the log directory in use and the one the settings ask for, the key\n"
    "and the state of the shared log block.\n";

const char tail_usage[] =
    "usage: qklog tail [-n N] [-f] [--idle SECONDS] [--json] [CONDITIONS]\n"
    "Prints the last N (default 10) records of the installation's log files, reaching back\n"
    "from the current file to the older ones, oldest first; with -f keeps printing records\n"
    "as they arrive, across switches to the next numbered file, each once and in file\n"
    "order, until interrupted.\n"
    "  --idle SECONDS   with -f: stop once no record has come for that long\n"
    "  --json           one JSON object a record: time, host, process, pid, level, source,\n"
    "                   line, text, and offset when the file's header line set one\n"
    "conditions (all must hold; N counts the records that pass):\n"
    "  --level L        L and every more important level (FATAL ... VERBOSE, or a number)\n"
    "  --pid N          records of that process id (taken modulo 100000)\n"
    "  --process NAME   records of that process name\n"
    "  --source NAME    records of that source module\n"
    "  --since TIME     records from then on: YYYY-MM-DD[ HH:MM[:SS]], MM/DD HH:MM:SS as\n"
    "                   records show it (the latest such time not after today), or a span\n"
    "                   back from now: 90s, 10m, 2h, 1d\n"
    "  --match REGEX    records whose text the pattern finds (the framework's regex:\n"
    "                   . [set] ^ $ * + ? \\( \\) \\| )\n";

// --- Arguments ------------------------------------------------------------------------------

struct OptionSpec {
  const char* name;  // the long name without "--"
  char letter;       // 0: none
  bool takes_value;
};

struct Arguments {
  std::map<std::string, std::string> options;  // by long name; "" for a flag
  std::vector<std::string> operands;
  std::string error;
  bool has(const char* name) const { return options.count(name) != 0; }
  const std::string& value(const char* name) const { return options.at(name); }
};

const OptionSpec* find_option(const std::vector<OptionSpec>& specs, const std::string& name, char letter) {
  for (const OptionSpec& spec : specs)
    if ((letter && spec.letter == letter) || (!letter && name == spec.name)) return &spec;
  return nullptr;
}

// "--name value", "--name=value", "-x value", "-xvalue", clusters of letters ("-fn5"),
// "--" ending the options; a word such as "-1.5" is an operand.
Arguments parse_arguments(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs) {
  Arguments parsed;
  for (std::size_t i = 0; i < words.size() && parsed.error.empty(); ++i) {
    const std::string& word = words[i];
    if (word == "--") {
      parsed.operands.insert(parsed.operands.end(), words.begin() + static_cast<long>(i) + 1, words.end());
      break;
    }
    if (word.size() < 2 || word[0] != '-' || (word[1] >= '0' && word[1] <= '9') || word[1] == '.') {
      parsed.operands.push_back(word);
      continue;
    }
    if (word[1] == '-') {
      const std::size_t equals = word.find('=');
      const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const OptionSpec* spec = find_option(specs, name, 0);
      if (!spec) {
        parsed.error = "unknown option " + word.substr(0, equals);
      } else if (!spec->takes_value) {
        if (equals != std::string::npos) parsed.error = "option --" + name + " takes no value";
        parsed.options[spec->name] = "";
      } else if (equals != std::string::npos) {
        parsed.options[spec->name] = word.substr(equals + 1);
      } else if (i + 1 < words.size()) {
        parsed.options[spec->name] = words[++i];
      } else {
        parsed.error = "option --" + name + " needs a value";
      }
      continue;
    }
    for (std::size_t k = 1; k < word.size(); ++k) {
      const OptionSpec* spec = find_option(specs, "", word[k]);
      if (!spec) {
        parsed.error = std::string("unknown option -") + word[k];
        break;
      }
      if (!spec->takes_value) {
        parsed.options[spec->name] = "";
        continue;
      }
      if (k + 1 < word.size()) {
        parsed.options[spec->name] = word.substr(k + 1);
      } else if (i + 1 < words.size()) {
        parsed.options[spec->name] = words[++i];
      } else {
        parsed.error = std::string("option -") + word[k] + " needs a value";
      }
      break;
    }
  }
  return parsed;
}

int usage_error(const std::string& message, const char* usage) {
  std::fprintf(stderr, "qklog: %s\n%s", message.c_str(), usage);
  return exit_usage;
}

// A decimal number within the bounds.
bool parse_number(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty() || text.size() > 18) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')) || v < low || v > high) return false;
  *value = v;
  return true;
}

// --- The installation's block -----------------------------------------------------------------

class Installation : public qklog::BlockLock {
 public:
  // Finds the block; on failure the message is written and exit_code() tells the code.
  // Looking (read_only) maps the block read only, which a user who may only read the
  // installation can do too.
  // Quietly, the message is kept for message() instead.
  bool open(bool read_only, bool quietly = false) {
    quiet_ = quietly;
    require_installation();
    const char* key = env_lookup("QK_KEY", 0);
    if (!key) return fail("QK_KEY is not set: the installation has no shared log block");
    key_text_ = key;
    key_ = env_key(1, 0);
    platform::SystemError why;
    const MemlgqkAttachResult result = memlgqk_attach_existing(key_, read_only, &block_, &why);
    switch (result) {
      case MEMLGQK_ATTACHED: break;
      case MEMLGQK_NO_PERMISSION:
        return fail("the log block for the key " + qklog::printable(key_text_) + " cannot be " +
                    (read_only ? "read" : "changed") + ": no permission (" + qklog::printable(why.text()) + ")");
      case MEMLGQK_NO_BLOCK:
        return fail("no log block for the key " + qklog::printable(key_text_) +
                    ": no process of the installation has logged yet");
      case MEMLGQK_WRONG_SIZE: return fail("the log block for the key " + qklog::printable(key_text_) + " is too small");
      case MEMLGQK_NOT_ATTACHED:
        return fail("the log block for the key " + qklog::printable(key_text_) + " cannot be attached" +
                    (why.failed() ? " (" + qklog::printable(why.text()) + ")" : std::string()));
      case MEMLGQK_NOT_INITIALISED:
        return fail("the log block for the key " + qklog::printable(key_text_) + " was never initialised");
    }
    mutex_name_ = memlgqk_mutex_name(key_);
    mutex_.reset(new platform::NamedLock(mutex_name_, platform::NamedLock::everyone, shm_directory()));
    return true;
  }

  // Waits as long as the framework's writers do (MEMLGQK_MUTEX_WAIT_MS): a holder that
  // stopped (SIGSTOP, a debugger) is named rather than waited for without end.
  bool lock() override {
    if (!mutex_ || !mutex_->ok()) {
      held_elsewhere_ = false;
      return false;
    }
    const platform::LockWait waited = mutex_->wait(MEMLGQK_MUTEX_WAIT_MS);
    held_elsewhere_ = waited == platform::LockWait::timed_out;
    if (held_elsewhere_) holder_ = mutex_->holder();
    return waited == platform::LockWait::acquired || waited == platform::LockWait::abandoned;
  }
  void unlock() override { mutex_->release(); }
  // Why lock() answered false.
  std::string lock_failure() const {
    if (held_elsewhere_)
      return "another process has held it for " + std::to_string(MEMLGQK_MUTEX_WAIT_MS / 1000) + " seconds: " +
             (holder_ ? "process " + std::to_string(holder_) : std::string("the system does not tell which"));
    return mutex_ ? mutex_->failure().text() : std::string("no mutex");
  }
  // The exit code of a command that needed the mutex and did not get it.
  int lock_exit_code() const { return held_elsewhere_ ? exit_lock_held : exit_no_block; }
  // tail reads on without a mutex that the system refuses, not past a holder that stays.
  int failure_exit_code() const override { return held_elsewhere_ ? exit_lock_held : 0; }
  std::string failure() const override { return lock_failure(); }

  // A copy of the block, taken under the mutex when it can be had (else as it is; *code
  // is then set to lock_exit_code()).
  MEMORY_LGQK snapshot(int* code) {
    MEMORY_LGQK copy;
    const bool locked = lock();
    std::memcpy(&copy, block_, sizeof copy);
    if (locked) {
      unlock();
    } else if (!held_elsewhere_ && mutex_ && !mutex_->ok() &&
               (mutex_->error() == EACCES || mutex_->error() == EPERM)) {
      // A user who may only read the installation may not take its mutex either.
      std::fprintf(stderr, "qklog: this user may not take the log block's mutex %s; showing the block as it is\n",
                   mutex_name_.c_str());
    } else {
      std::fprintf(stderr, "qklog: the log block's mutex %s cannot be had (%s); showing it as it is\n",
                   mutex_name_.c_str(), lock_failure().c_str());
      if (held_elsewhere_) *code = lock_exit_code();
    }
    return copy;
  }
  const std::string& mutex_name() const { return mutex_name_; }

  // Read and write unless opened for looking.
  MEMORY_LGQK* block() const { return block_; }
  int exit_code() const { return exit_code_; }
  const std::string& message() const { return message_; }
  qklog::StatusContext context() const {
    qklog::StatusContext c;
    c.key_text = key_text_;
    c.block_key = key_;
    return c;
  }

 private:
  bool fail(const std::string& message) {
    message_ = message;
    if (!quiet_) std::fprintf(stderr, "qklog: %s\n", message.c_str());
    exit_code_ = exit_no_block;
    return false;
  }

  std::string key_text_;
  int key_ = -1;
  MEMORY_LGQK* block_ = nullptr;
  std::unique_ptr<platform::NamedLock> mutex_;
  std::string mutex_name_;
  bool held_elsewhere_ = false;  // the last lock() timed out
  unsigned long holder_ = 0;     // then the holder's process id, where the system tells it
  int exit_code_ = exit_ok;
  bool quiet_ = false;
  std::string message_;  // why open() failed
};

// Runs the change under the block's mutex.
template <typename Change>
int under_mutex(Installation& installation, Change change) {
  if (!installation.lock()) {
    std::fprintf(stderr, "qklog: the log block's mutex %s cannot be had (%s); nothing changed\n",
                 installation.mutex_name().c_str(), installation.lock_failure().c_str());
    return installation.lock_exit_code();
  }
  const int code = change(installation.block());
  installation.unlock();
  return code;
}

// --- Commands ---------------------------------------------------------------------------------

int status_command(const std::vector<std::string>& words) {
  const Arguments args = parse_arguments(words, {{"json", 0, false}, {"help", 'h', false}});
  if (!args.error.empty()) return usage_error(args.error, status_usage);
  if (args.has("help")) return std::fputs(status_usage, stdout), exit_ok;
  if (!args.operands.empty()) return usage_error("status takes no operand", status_usage);
  Installation installation;
  if (!installation.open(true)) return installation.exit_code();
  int code = exit_ok;
  const MEMORY_LGQK copy = installation.snapshot(&code);
  const std::string text =
      args.has("json") ? qklog::status_json(copy, installation.context()) : qklog::status_text(copy, installation.context());
  std::fputs(text.c_str(), stdout);
  return code;
}

// The selector of --pid, --process or --source; false (with the message) when there is
// none, more than one, or a bad one.
bool read_selector(const Arguments& args, qklog::FilterSelector* selector, std::string* error) {
  int given = 0;
  if (args.has("pid")) {
    ++given;
    long long pid = 0;
    if (!parse_number(args.value("pid"), 0, 0x7FFFFFFFLL, &pid)) {
      *error = "--pid needs a process id (a number from 0), not '" + qklog::printable(args.value("pid")) + "'";
      return false;
    }
    selector->kind = LOG_FILTER_PROCESS_ID;
    selector->process_id = memlgqk_reduced_process_id(pid);
  }
  for (const char* name : {"process", "source"}) {
    if (!args.has(name)) continue;
    ++given;
    const std::string& text = args.value(name);
    if (text.empty() || text.size() > qklog::kFilterNameMax) {
      *error = std::string("--") + name + " needs a name of 1 to " + std::to_string(qklog::kFilterNameMax) +
               " bytes; '" + qklog::printable(text) + "' has " + std::to_string(text.size());
      return false;
    }
    selector->kind = std::strcmp(name, "process") == 0 ? LOG_FILTER_PROCESS_NAME : LOG_FILTER_SOURCE_FILE;
    selector->name = text;
  }
  if (given != 1) {
    *error = given == 0 ? "give one of --pid, --process or --source" : "give only one of --pid, --process or --source";
    return false;
  }
  return true;
}

// A filter passes records of its level and more important ones; a level that every
// threshold (ABS_MINIMUM, 50, at least) or the default one (MINIMUM, 60) lets through
// already gains nothing. The entry is kept; the user is told.
void note_needless_filter(const std::string& level, int rank) {
  const std::string given = qklog::printable(level);
  if (rank <= ABS_MINIMUM)
    std::fprintf(stderr,
                 "qklog: note: records at %s and more important levels pass every threshold (ABS_MINIMUM, 50, "
                 "at least) already; this filter lets nothing more through\n",
                 given.c_str());
  else if (rank <= MINIMUM)
    std::fprintf(stderr,
                 "qklog: note: records at %s and more important levels pass the default threshold (MINIMUM, "
                 "60) already; this filter lets more through only in processes whose QK_LOG_LEVEL is lower\n",
                 given.c_str());
}

int filter_command(const std::vector<std::string>& words) {
  const Arguments args = parse_arguments(words, {{"pid", 0, true},
                                                 {"process", 0, true},
                                                 {"source", 0, true},
                                                 {"level", 0, true},
                                                 {"json", 0, false},
                                                 {"help", 'h', false}});
  if (!args.error.empty()) return usage_error(args.error, filter_usage);
  if (args.has("help")) return std::fputs(filter_usage, stdout), exit_ok;
  if (args.operands.empty()) return usage_error("filter needs add, remove, list or clear", filter_usage);
  const std::string action = args.operands[0];
  const std::vector<std::string> rest(args.operands.begin() + 1, args.operands.end());
  qklog::FilterSelector selector;
  std::string error;
  int rank = 0;
  long long entry = -1;
  if (action == "add") {
    if (!rest.empty()) return usage_error("filter add takes no operand", filter_usage);
    if (!read_selector(args, &selector, &error)) return usage_error(error, filter_usage);
    if (!args.has("level")) return usage_error("filter add needs --level", filter_usage);
    if (!qklog::parse_level(args.value("level"), &rank))
      return usage_error("unknown level '" + qklog::printable(args.value("level")) + "'", filter_usage);
  } else if (action == "remove") {
    if (rest.size() == 1 && !args.has("pid") && !args.has("process") && !args.has("source")) {
      if (!parse_number(rest[0], 1, LOG_FILTER_ENTRIES, &entry))
        return usage_error("an entry number is 1 to " + std::to_string(LOG_FILTER_ENTRIES), filter_usage);
    } else if (!rest.empty()) {
      return usage_error("give a selector or one entry number", filter_usage);
    } else if (!read_selector(args, &selector, &error)) {
      return usage_error(error, filter_usage);
    }
  } else if (action == "list" || action == "clear") {
    if (!rest.empty() || args.has("pid") || args.has("process") || args.has("source") || args.has("level"))
      return usage_error("filter " + action + " takes no selector", filter_usage);
  } else {
    return usage_error("unknown filter action '" + qklog::printable(action) + "'", filter_usage);
  }

  Installation installation;
  if (!installation.open(action == "list")) return installation.exit_code();
  if (action == "list") {
    int code = exit_ok;
    const MEMORY_LGQK copy = installation.snapshot(&code);
    std::fputs(args.has("json") ? (qklog::filters_json(copy) + "\n").c_str() : qklog::filters_text(copy).c_str(), stdout);
    return code;
  }
  return under_mutex(installation, [&](MEMORY_LGQK* block) {
    if (action == "clear") {
      qklog::clear_filters(block);
      std::printf("filters cleared\n");
      return exit_ok;
    }
    if (action == "add") {
      int index = 0;
      const qklog::FilterChange change = qklog::add_filter(block, selector, rank + 1, &index);
      if (change == qklog::FilterChange::table_full) {
        std::fprintf(stderr, "qklog: the filter table is full (%d entries); nothing changed\n", LOG_FILTER_ENTRIES);
        return exit_refused;
      }
      std::printf("%s entry %d: level %d, %s\n", change == qklog::FilterChange::added ? "added" : "updated",
                  index + 1, rank + 1, qklog::level_meaning(rank + 1).c_str());
      note_needless_filter(args.value("level"), rank);
      return exit_ok;
    }
    if (entry > 0) {
      if (qklog::remove_filter_at(block, static_cast<int>(entry - 1)) != qklog::FilterChange::removed) {
        std::fprintf(stderr, "qklog: filter entry %lld is not in use\n", entry);
        return exit_refused;
      }
      std::printf("removed entry %lld\n", entry);
      return exit_ok;
    }
    int count = 0;
    if (qklog::remove_filters(block, selector, &count) != qklog::FilterChange::removed) {
      std::fprintf(stderr, "qklog: no such filter\n");
      return exit_refused;
    }
    std::printf("removed %d entr%s\n", count, count == 1 ? "y" : "ies");
    return exit_ok;
  });
}

int offset_command(const std::vector<std::string>& words) {
  const Arguments args = parse_arguments(words, {{"clear", 0, false}, {"help", 'h', false}});
  if (!args.error.empty()) return usage_error(args.error, offset_usage);
  if (args.has("help")) return std::fputs(offset_usage, stdout), exit_ok;
  std::int32_t seconds = 0, milliseconds = 0;
  const bool clear = args.has("clear");
  if (args.operands.size() > 1 || (clear && !args.operands.empty()))
    return usage_error("give one offset or --clear", offset_usage);
  const bool set = clear || !args.operands.empty();
  if (!clear && set && !qklog::parse_offset(args.operands[0], &seconds, &milliseconds))
    return usage_error("'" + qklog::printable(args.operands[0]) + "' is not SECONDS[.MILLIS]", offset_usage);
  Installation installation;
  if (!installation.open(!set)) return installation.exit_code();
  if (!set) {
    int code = exit_ok;
    const MEMORY_LGQK copy = installation.snapshot(&code);
    std::printf("%d s %d ms\n", static_cast<int>(copy.time_offset_seconds),
                static_cast<int>(copy.time_offset_milliseconds));
    return code;
  }
  return under_mutex(installation, [&](MEMORY_LGQK* block) {
    block->time_offset_seconds = seconds;
    block->time_offset_milliseconds = milliseconds;
    std::printf("time offset %d s %d ms\n", static_cast<int>(seconds), static_cast<int>(milliseconds));
    return exit_ok;
  });
}

int config_command(const std::vector<std::string>& words) {
  const Arguments args = parse_arguments(words, {{"help", 'h', false}});
  if (!args.error.empty()) return usage_error(args.error, config_usage);
  if (args.has("help")) return std::fputs(config_usage, stdout), exit_ok;
  if (!args.operands.empty()) return usage_error("config takes no operand", config_usage);
  require_installation();
  qklog::ConfigContext context;
  auto setting = [](const char* name) {
    const char* value = env_lookup(name, 0);
    return std::string(value ? value : "");
  };
  context.root = setting("QK_ROOT");
  context.local = setting("QK_LOCAL");
  context.site = setting("QK_SITE");
  // Named as the block's folders are, without making them: looking creates nothing.
  context.site_folder = context.site.empty() ? context.root + "/site" : context.site;
  const char* own_setting = nullptr;
  context.own_log_directory = memlgqk_own_log_directory(&own_setting);
  context.own_log_setting = own_setting ? own_setting : "";
  int code = exit_ok;
  if (const char* key = env_lookup("QK_KEY", 0)) {
    context.has_key = true;
    context.key_text = key;
    context.block_key = env_key(1, 0);
    context.backing_file = shm_backing_file(context.block_key);
    Installation installation;
    if (installation.open(true, true))
      context.block = installation.snapshot(&code);
    else
      context.block_state = installation.message();
  }
  std::fputs(qklog::config_text(env_load_report(), context).c_str(), stdout);
  return code;
}

int tail_command(const std::vector<std::string>& words) {
  std::vector<OptionSpec> specs = {{"lines", 'n', true}, {"follow", 'f', false}, {"idle", 0, true},
                                   {"json", 0, false},  {"help", 'h', false}};
  for (const char* const* name = qklog::RecordFilter::names; *name; ++name) specs.push_back({*name, 0, true});
  const Arguments args = parse_arguments(words, specs);
  if (!args.error.empty()) return usage_error(args.error, tail_usage);
  if (args.has("help")) return std::fputs(tail_usage, stdout), exit_ok;
  if (!args.operands.empty()) return usage_error("tail takes no operand", tail_usage);
  qklog::TailOptions options;
  long long number = 0;
  if (args.has("lines")) {
    if (!parse_number(args.value("lines"), 0, 100000000, &number))
      return usage_error("-n needs a number of lines from 0", tail_usage);
    options.lines = static_cast<long>(number);
  }
  options.follow = args.has("follow");
  if (args.has("idle")) {
    std::int32_t s = 0, ms = 0;
    if (!qklog::parse_offset(args.value("idle"), &s, &ms) || s < 0 || ms < 0)
      return usage_error("--idle needs a number of seconds", tail_usage);
    options.idle_seconds = s + ms / 1000.0;
  }
  qklog::RecordFilter filter;
  const std::time_t now = std::time(nullptr);
  for (const char* const* name = qklog::RecordFilter::names; *name; ++name) {
    std::string error;
    if (args.has(*name) && !filter.set(*name, args.value(*name), now, &error)) return usage_error(error, tail_usage);
  }
  options.filter = &filter;
  options.json = args.has("json");
  Installation installation;
  if (!installation.open(true)) return installation.exit_code();
  return qklog::tail(installation.block(), installation, options, stdout, stderr);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    std::fputs(general_usage, stderr);
    return exit_usage;
  }
  const std::string command = words[0];
  words.erase(words.begin());
  if (command == "--help" || command == "-h" || command == "help") return std::fputs(general_usage, stdout), exit_ok;
  if (command == "--version") {
    if (!words.empty()) return usage_error("--version takes nothing after it", general_usage);
    return std::printf("qklog (QK) %s\n", QK_VERSION), exit_ok;
  }
  if (command == "status") return status_command(words);
  if (command == "filter") return filter_command(words);
  if (command == "offset") return offset_command(words);
  if (command == "tail") return tail_command(words);
  if (command == "config") return config_command(words);
  return usage_error("unknown command '" + qklog::printable(command) + "'", general_usage);
}
