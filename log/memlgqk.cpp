// The shared log block: its creation by the installation key, its mutex, its
// initialisation with the choice of the log directory, and the filter table as the level
// test reads it.
#include "log/memlgqk.h"

#include <errno.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "env/env.h"
#include "env/qkos.h"
#include "env/shmem.h"
#include "log/detail/logstate.h"
#include "log/fixed_field.h"
#include "log/logfile_names.h"
#include "platform/files/files.h"
#include "platform/named_lock/named_lock.h"

namespace {

const char message_prefix[] = "MEMORY_LGQK: ";
// shm_get's flags for a segment that may have to be made: create, read and write for all.
const int create_flags = 01666;
// During an outage of the block's mutex each record waits this long before it goes to
// standard error.
const unsigned long memlgqk_outage_wait_ms = 20;

// Process-wide state: the block, whether it is shared, its segment and its mutex (made once
// per process and kept).
MEMORY_LGQK* block = nullptr;
bool shared = false;
int segment = -1;
platform::NamedLock* block_mutex = nullptr;
char block_mutex_name[32];  // constant-initialised: the mutex is made during static initialisation
std::mutex create_mutex;
// A private block still has threads to keep apart (a bootstrap process writes files).
// Made on first use, as modules log during static initialisation, and never destroyed, as
// records may come from exit-time destructors.
std::recursive_mutex& private_mutex() {
  static std::recursive_mutex* mutex = new std::recursive_mutex;
  return *mutex;
}

bool marker_set(const MEMORY_LGQK* b) {
  return std::memcmp(b->marker, LOG_BLOCK_MARKER, sizeof LOG_BLOCK_MARKER) == 0;
}

// '\\' becomes '/', and one trailing '/' goes (a lone "/" stays the root).
void normalise(std::string& path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.size() > 1 && path.back() == '/') path.pop_back();
}

// The folder a setting names, as the block stores it: the full path ('/' separators, no
// trailing '/'), with the subdirectory appended. Every process of the installation reads
// the directory from the block, each in a working directory (and on Windows with a current
// drive) of its own, so a relative, rooted or drive-relative one is stored from where it was
// given. False (path then as given) when the current directory is needed and unknown.
bool directory_path(const char* text, const char* subdirectory, std::string& path) {
  path = platform::full_path(text);
  if (path.empty()) {
    path = text;
    return false;
  }
  normalise(path);
  if (subdirectory) {
    path += "/";
    path += subdirectory;
    normalise(path);
  }
  return true;
}

// Tries a folder as the log directory and, when it serves, stores it in the block. Each
// failure is told on standard error when QK_LOGGER_TRACE is set.
class DirectoryTrial {
 public:
  explicit DirectoryTrial(MEMORY_LGQK* b) : block_(b), trace_(env_lookup("QK_LOGGER_TRACE", 0) != nullptr) {}

  bool attempt(const char* text, const char* subdirectory, bool may_create) {
    if (!text || !*text) return false;
    std::string path;
    if (!directory_path(text, subdirectory, path))
      return fail("Directory " + path + " is relative, and the current directory is unknown");
    // A cut path would name another folder, and the file names need their room too.
    if (path.size() > memlgqk_longest_log_directory())
      return fail("Directory " + path + " is longer than " + std::to_string(memlgqk_longest_log_directory()) +
                  " characters", true);
    platform::FileStatus status;
    if (!platform::file_status(path.c_str(), &status)) {
      if (!may_create) return fail("Directory " + path + " does not exist, and not allowed to create");
      // Another process may make it at the same time: one that exists now serves.
      if (!platform::make_directories(path, "") && platform::last_file_failure().code != EEXIST)
        return fail("Directory " + path + " does not exist, and cannot create");
    }
    if (!platform::file_status(path.c_str(), &status))
      return fail("Couldn't stat() " + path + ". Errno: " + error_number());
    if (!status.is_directory) return fail(path + " is not a directory.");
    if (!platform::access_path(path.c_str(), platform::access_read_write))
      return fail("Cannot access " + path + " Err:" + error_number());
    field_set(block_->log_directory, sizeof block_->log_directory, path.c_str());
    return true;
  }

 private:
  static std::string error_number() { return std::to_string(platform::last_file_failure().code); }

  bool fail(const std::string& message, bool always = false) {
    if (trace_ || always) {
      std::fprintf(stderr, "%s%s\n", message_prefix, message.c_str());
      std::fflush(stderr);
    }
    return false;
  }

  MEMORY_LGQK* block_;
  bool trace_;
};

void choose_log_directory(MEMORY_LGQK* b) {
  DirectoryTrial trial(b);
  const char* log = env_lookup("QK_LOG", 0);
  if (log ? trial.attempt(log, nullptr, true) : trial.attempt(env_lookup("QK_ROOT", 0), "log", true))
    return;
  if (shared) {
    // The next process starts over rather than find a block without a directory.
    std::memset(b->marker, 0, sizeof b->marker);
    std::string value = log ? log : "<null log directory>";
    shm_detach(b);
    block = nullptr;
    memlgqk_unlock();
    fatalError("LOGGER: ", value.c_str(),
               log ? " QK_LOG path is invalid or inaccessible" : " QK_LOG variable is not set",
               " log library can't function");
  }
  if (trial.attempt(".", nullptr, false)) return;
  trial.attempt(env_lookup("TEMP", 0), nullptr, false);  // else no directory: standard error
}

// Runs under the block's mutex, so that a second process starting at the same moment
// neither wipes nor initialises the block again behind the first one's back. The marker is
// written last: a process killed half-way leaves a block without it, which the next
// process initialises again. A shared block is only ever initialised in standard mode, so
// one whose marker is set but whose directory is empty was left half-done too (by a
// process that set the marker first) and gets its directory now.
void initialise(MEMORY_LGQK* b, bool fresh, int log_mode) {
  if (fresh || !marker_set(b)) std::memset(b, 0, sizeof *b);
  const bool half_done = shared && marker_set(b) && !b->log_directory[0] &&
                         log_mode == MEMLGQK_MODE_STANDARD;
  if (marker_set(b) && !half_done) return;  // initialised by another process; its directory holds
  if (log_mode != MEMLGQK_MODE_STDERR_ONLY) choose_log_directory(b);
  std::memcpy(b->marker, LOG_BLOCK_MARKER, sizeof LOG_BLOCK_MARKER);
}

// An object of the installation that another user left in the way (a symbolic link, a
// folder or another user's file where a lock or backing file belongs) costs this process
// its shared log, not its life: it says what to remove and writes to standard error.
void give_up_sharing(const platform::SystemError& why) {
  std::fprintf(stderr, "LoggerQK: The installation's shared log cannot be used: %s. Records go to standard error.\n",
               why.text().c_str());
  std::fflush(stderr);
}

// False when an object in the way keeps the mutex from being made.
bool make_mutex(int key) {
  if (block_mutex) return true;
  const std::string name = memlgqk_mutex_name(key);
  auto* mutex = new platform::NamedLock(name, platform::NamedLock::everyone, shm_directory());
  if (!mutex->ok()) {
    if (mutex->failure().object_in_the_way) {
      give_up_sharing(mutex->failure());
      delete mutex;
      return false;
    }
    char code[24];
    std::snprintf(code, sizeof code, "%ld", static_cast<long>(mutex->error()));
    fatalError("LOGGER: Couldn't get my semaphore :", code);
  }
  block_mutex = mutex;
  field_set(block_mutex_name, sizeof block_mutex_name, name.c_str());
  return true;
}

// Set while the block's mutex cannot be had, so that an outage is told once, not at every
// record; a wait that succeeds ends the outage.
std::atomic<bool> mutex_outage{false};

// Tells the start of an outage on standard error.
void tell_mutex_outage(platform::LockWait waited) {
  if (mutex_outage.exchange(true)) return;
  std::string why;
  if (waited == platform::LockWait::timed_out) {
    why = "another process has held it for " + std::to_string(MEMLGQK_MUTEX_WAIT_MS / 1000) + " seconds";
    if (const unsigned long holder = block_mutex->holder()) why += " (process " + std::to_string(holder) + ")";
  } else {
    why = block_mutex->failure().text();
  }
  std::fprintf(stderr,
               "LoggerQK: The installation's log mutex %s cannot be had: %s. Until it can, records go to "
               "standard error and are counted as lost.\n",
               block_mutex_name, why.c_str());
  std::fflush(stderr);
}

// A mutex whose holder died is ours now (Windows says so, POSIX releases it silently);
// the holder's half-done change is the lesser harm than every logging process hanging.
// A holder that does not let go (stopped, in a debugger) is waited for as long as the
// bound, and during the outage that follows each record waits only briefly, so that a
// process goes on at its own speed and writes to the files again once the holder lets go.
platform::LockWait wait_for_block_mutex(bool tell_failure = true) {
  const bool outage = mutex_outage.load(std::memory_order_relaxed);
  const platform::LockWait waited = block_mutex->wait(outage ? memlgqk_outage_wait_ms : MEMLGQK_MUTEX_WAIT_MS);
  if (waited == platform::LockWait::acquired || waited == platform::LockWait::abandoned) {
    if (outage) mutex_outage.store(false);
  } else if (tell_failure || waited == platform::LockWait::timed_out) {
    tell_mutex_outage(waited);
  }
  return waited;
}

bool block_mutex_had(platform::LockWait waited) {
  return waited == platform::LockWait::acquired || waited == platform::LockWait::abandoned;
}

// The installation key plus 1, which names the block's segment and mutex; -1 when QK_KEY
// is not set (and complain is 0). A key that can name no shared block is refused here,
// rather than failing later as a segment of the wrong size or falling to key 0, which
// gives every process a private block.
int installation_key(short complain) {
  const char* value = env_lookup("QK_KEY", complain);
  if (!value) return -1;
  unsigned key = 0;
  const bool number = env_key_text(value, &key);
  const unsigned named = key + 1u;
  if (!number || named == 0 || named > 0x7FFFFFFFu)
    fatalError("LOGGER: QK_KEY", value,
               "is no installation key: give a number from 0 to 2147483646 or a text whose first four "
               "characters are plain ASCII");
  return static_cast<int>(named);
}


// Why a segment could not be had, as the segment layer tells it: its error number alone
// says "Cannot allocate memory" for every failure.
std::string failure_text(const platform::SystemError& why) {
  return why.failed() ? why.text() : std::string(error_text(errno));
}

// The attached block, or nullptr when an object in the way keeps it from being had.
MEMORY_LGQK* attach_shared(bool* fresh) {
  *fresh = false;
  int key = installation_key(1);
  segment = shm_get(key, sizeof(MEMORY_LGQK), 0);
  if (segment < 0 && !shm_failure().object_in_the_way) {
    *fresh = true;
    segment = shm_get(key, sizeof(MEMORY_LGQK), create_flags);
  }
  if (segment < 0) {
    if (shm_failure().object_in_the_way) {
      give_up_sharing(shm_failure());
      return nullptr;
    }
    if (shm_failure().out_of_descriptors())
      fatalError("LOGGER: Couldn't get my memory - this process has no file descriptor left:",
                 shm_failure().text().c_str());
    fatalError("LOGGER: Couldn't get my memory - most common problem is shared memory exists but wrong size",
               failure_text(shm_failure()).c_str());
  }
  void* address = shm_attach(segment, nullptr, 0);
  if (address == SHM_ATTACH_FAILED) {
    if (shm_failure().object_in_the_way) {
      give_up_sharing(shm_failure());
      return nullptr;
    }
    fatalError("LOGGER: Couldn't attach my memory ", failure_text(shm_failure()).c_str());
  }
  return static_cast<MEMORY_LGQK*>(address);
}

MEMORY_LGQK* private_block(int log_mode) {
  shared = false;
  block = new MEMORY_LGQK();  // zero-filled
  initialise(block, true, log_mode);
  return block;
}

}  // namespace

MEMORY_LGQK* memlgqk_create(int log_mode) {
  std::lock_guard<std::mutex> g(create_mutex);
  if (block) return block;
  int key = -1;
  if (log_mode == MEMLGQK_MODE_STANDARD)
    key = installation_key(env_lookup("QK_LOG_NOKEY", 0) ? 0 : 1);
  if (key == -1) return private_block(log_mode);
  if (!make_mutex(key)) return private_block(log_mode);
  shared = true;
  bool fresh = false;
  MEMORY_LGQK* b = attach_shared(&fresh);
  if (!b) {
    shared = false;
    return private_block(log_mode);
  }
  // A block that cannot be initialised under its mutex is not used: a second process
  // starting at the same moment could wipe it behind this one's back. One that another
  // process initialised is used without it when the mutex stays held for the whole bound;
  // its records then wait for the mutex one by one.
  const platform::LockWait waited = wait_for_block_mutex(false);
  if (!block_mutex_had(waited)) {
    if (waited == platform::LockWait::timed_out && !fresh && marker_set(b) && b->log_directory[0]) {
      block = b;
      return block;
    }
    shm_detach(b);
    shared = false;
    if (waited == platform::LockWait::failed) give_up_sharing(block_mutex->failure());
    return private_block(log_mode);
  }
  block = b;
  initialise(b, fresh, log_mode);
  memlgqk_unlock();
  return block;
}

MEMORY_LGQK* memlgqk_block() { return block; }

std::size_t memlgqk_longest_log_directory() {
  // The shortest path of a file in it: "/./stdlog.0".
  char shortest[LOG_FILE_PATH_SIZE];
  const std::size_t file_room =
      log_file_path("", LOG_STDLOG_DIRECTORY, LOG_STDLOG_PATTERN, 0, shortest, sizeof shortest);
  const std::size_t longest = platform::longest_path();
  return longest > LOG_DIRECTORY_MAX + file_room ? LOG_DIRECTORY_MAX : longest - file_room;
}

bool memlgqk_shared() { return shared; }

bool memlgqk_lock() {
  if (!shared || !block_mutex) {
    private_mutex().lock();
    return true;
  }
  return block_mutex_had(wait_for_block_mutex());
}

void memlgqk_unlock() {
  if (shared && block_mutex)
    block_mutex->release();
  else
    private_mutex().unlock();
}

namespace {

// Copies an entry in use; false for a free one. A writer fills an entry before it marks it
// used, and marks it free before it clears it: an entry still marked used after the copy
// was whole while it was copied, one freed meanwhile counts as free.
bool copy_entry_in_use(const LogFilterEntry& shared, LogFilterEntry* entry) {
  const volatile std::uint32_t& kind = shared.kind;
  const std::uint32_t before = kind;
  if (before == LOG_FILTER_FREE) return false;
  std::atomic_thread_fence(std::memory_order_acquire);
  std::memcpy(entry, &shared, sizeof *entry);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (kind != before) return false;
  entry->kind = before;
  return true;
}

}  // namespace

namespace {

// One read of the table by memlgqk_filter_matches.
// Whether a copied entry names the message's process or source (source_base nullptr: no
// source-file entry names it); catch-all kinds name every message.
bool entry_names(const LogFilterEntry& entry, int process_id, const char* shown_name, const char* source_base) {
  switch (entry.kind) {
    case LOG_FILTER_FREE: return false;
    case LOG_FILTER_PROCESS_ID: return entry.process_id == process_id;
    case LOG_FILTER_PROCESS_NAME: return field_equals(entry.name, sizeof entry.name, shown_name);
    case LOG_FILTER_SOURCE_FILE: return source_base && field_equals(entry.name, sizeof entry.name, source_base);
    default: return true;
  }
}

bool matches_once(const MEMORY_LGQK* b, const char* source_base, int rank, int process_id,
                  const char* shown_name) {
  for (int i = 0; i < LOG_FILTER_ENTRIES; ++i) {
    // Free entries, nearly all of them, cost one read; an entry in use is copied, so that
    // one that another program changes meanwhile is judged whole.
    LogFilterEntry entry;
    if (!copy_entry_in_use(b->filters[i], &entry)) continue;
    if (rank < entry.level && entry_names(entry, process_id, shown_name, source_base)) return true;
  }
  return false;
}

bool busy_now(const MEMORY_LGQK* b) { return __atomic_load_n(&b->filter_busy, __ATOMIC_SEQ_CST) != 0; }
std::uint32_t generation_now(const MEMORY_LGQK* b) {
  return __atomic_load_n(&b->filter_generation, __ATOMIC_SEQ_CST);
}

// A read of the table between these two looks was whole: no change was under way at
// either end, and none completed in between (every writer moves the generation on before
// it lowers the busy word). An entry freed and filled again while it was copied passes
// the entry's own check but not this one.
const int kWholeReadAttempts = 64;

}  // namespace

bool memlgqk_filter_matches(const MEMORY_LGQK* b, const char* source_base, int rank,
                            int process_id, const char* shown_name) {
  if (!b) return false;
  bool result = false;
  for (int attempt = 0; attempt < kWholeReadAttempts; ++attempt) {
    const std::uint32_t generation = generation_now(b);
    const bool quiet = !busy_now(b);
    result = matches_once(b, source_base, rank, process_id, shown_name);
    if (quiet && !busy_now(b) && generation_now(b) == generation) return result;
  }
  return result;  // a table that never stays still: the last reading
}

bool memlgqk_filter_summary(const MEMORY_LGQK* b, int process_id, const char* shown_name,
                            int* pass_below, bool* source_filters) {
  *pass_below = 0;
  *source_filters = false;
  if (!b) return true;
  const int every_rank = 0x8000;
  for (int attempt = 0; attempt < kWholeReadAttempts; ++attempt) {
    const std::uint32_t generation = generation_now(b);
    if (busy_now(b)) break;
    int below = 0;
    bool sources = false;
    for (int i = 0; i < LOG_FILTER_ENTRIES; ++i) {
      LogFilterEntry entry;
      if (!copy_entry_in_use(b->filters[i], &entry)) continue;
      if (entry.level <= 0) continue;  // passes no rank
      if (entry.kind == LOG_FILTER_SOURCE_FILE) sources = true;  // judged per source
      if (entry_names(entry, process_id, shown_name, nullptr)) below = std::max(below, std::min(entry.level, every_rank));
    }
    if (!busy_now(b) && generation_now(b) == generation) {
      *pass_below = below;
      *source_filters = sources;
      return true;
    }
  }
  // A change under way (or a busy word left set): every rank passes, and the answer is
  // not to be kept.
  *pass_below = every_rank;
  return false;
}

bool memlgqk_filter_passes(const MEMORY_LGQK* b, const char* source_base, int rank,
                           int process_id, const char* shown_name) {
  if (!b) return false;
  const volatile std::uint32_t& busy = b->filter_busy;
  if (busy != 0) return true;
  return memlgqk_filter_matches(b, source_base, rank, process_id, shown_name);
}

bool memlgqk_remove_file_filter(MEMORY_LGQK* b, const char* source_file) {
  if (!b || !source_file) return false;
  volatile std::uint32_t& busy = b->filter_busy;
  busy = 1;
  bool removed = false;
  for (LogFilterEntry& entry : b->filters) {
    if (entry.kind == LOG_FILTER_SOURCE_FILE && field_equals(entry.name, sizeof entry.name, source_file)) {
      entry.kind = LOG_FILTER_FREE;
      entry.process_id = 0;
      std::memset(entry.name, 0, sizeof entry.name);
      removed = true;
      break;
    }
  }
  // The generation moves on before the busy word falls (see memlgqk_filter_matches).
  memlgqk_filters_changed(b);
  busy = 0;
  return removed;
}

void memlgqk_filters_changed(MEMORY_LGQK* b) {
  if (b) __atomic_fetch_add(&b->filter_generation, 1u, __ATOMIC_SEQ_CST);
}

namespace {

// The folder this process would choose itself, and the setting that names it.
struct OwnChoice {
  const char* setting = nullptr;  // "QK_LOG", or "QK_ROOT" for its "log" folder
  std::string path;               // "" when neither is set
};

OwnChoice own_choice() {
  OwnChoice own;
  if (const char* log = env_lookup("QK_LOG", 0)) {
    if (*log && directory_path(log, nullptr, own.path)) own.setting = "QK_LOG";
  } else if (const char* root = env_lookup("QK_ROOT", 0)) {
    if (*root && directory_path(root, "log", own.path)) own.setting = "QK_ROOT";
  }
  if (!own.setting) own.path.clear();
  return own;
}

// The path lies in the folder (or is it).
bool inside(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

// An absolute path whose parts are all names: no ".", no "..", no empty part, and only '/'
// between them (the installation's own is stored so; Windows would read "..\\" too).
bool plain_absolute(const std::string& path) {
  if (!platform::is_absolute_path(path) || path.find('\\') != std::string::npos) return false;
  std::size_t start = path.find('/');
  if (start == std::string::npos) return true;  // "C:" alone
  while (start < path.size()) {
    const std::size_t end = std::min(path.find('/', start + 1), path.size());
    const std::string part = path.substr(start + 1, end - start - 1);
    if (part == "." || part == ".." || (part.empty() && !(start == 0 && path.size() == 1))) return false;
    start = end;
  }
  return true;
}

// The folder, with every symbolic link on its way followed, lies in the installation's
// folder (with its own links followed).
bool stays_inside(const std::string& path, const std::string& anchor) {
  const std::string real = platform::resolved_path(path);
  const std::string real_anchor = platform::resolved_path(anchor);
  return !real.empty() && !real_anchor.empty() && inside(real, real_anchor);
}

// A refusal of the block's log directory, told on standard error.
bool refuse(const std::string& path, const platform::SystemError& why) {
  std::fprintf(stderr, "LoggerQK: The log directory \"%s\" in the installation's shared block is refused: %s. "
               "Records go to standard error.\n", path.c_str(), why.text().c_str());
  std::fflush(stderr);
  return false;
}

bool refuse(const std::string& path, const std::string& reason) {
  return refuse(path, platform::SystemError{EINVAL, "log directory", reason, true, true});
}

// Said once, at WARNING, when the logger has started: the block's directory serves, and
// this process's own setting names another.
std::string directory_notice;

// The shared block's log directory was written by whichever process initialised it, and
// any user who may write the block can change it. It is used under the rules of the
// installation's own choice: its place is the folder this process would choose itself
// (QK_LOG, else QK_ROOT's "log"), or a folder inside one of the installation's folders
// (QK_ROOT, QK_LOCAL, QK_SITE) that no symbolic link leads out of; its owner is this user
// or root, or it lies in a folder that not every user may write; and this process may
// read and write it. A folder that was removed is made again, below a parent that passes
// the same owner rule, as the installation's own would be.
bool log_directory_acceptable(const std::string& path) {
  if (!plain_absolute(path)) return refuse(path, "it is not an absolute path made of plain names");
  const OwnChoice own = own_choice();
  const bool own_folder = own.setting && own.path == path;
  std::string anchor;  // the installation's folder that holds it
  if (!own_folder) {
    for (const char* setting : {"QK_ROOT", "QK_LOCAL", "QK_SITE"}) {
      const char* value = env_lookup(setting, 0);
      std::string folder;
      if (value && *value && directory_path(value, nullptr, folder) && inside(path, folder)) {
        anchor = folder;
        break;
      }
    }
    if (anchor.empty())
      return refuse(path, std::string("it is not ") +
                              (own.setting ? "the folder this process's " + std::string(own.setting) + " names"
                                           : std::string("this process's own choice")) +
                              ", nor inside the installation's folders (QK_ROOT, QK_LOCAL, QK_SITE)");
  }
  platform::FileStatus status;
  if (!platform::file_status(path.c_str(), &status) && platform::last_file_failure().code == ENOENT) {
    const std::size_t slash = path.find_last_of('/');
    const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    if (slash != std::string::npos && (own_folder || stays_inside(parent, anchor)) &&
        platform::shared_folder_usable(parent))
      platform::make_directory(path.c_str());
  }
  if (!platform::shared_folder_usable(path) || !platform::access_path(path.c_str(), platform::access_read_write))
    return refuse(path, platform::last_file_failure());
  if (!own_folder && !stays_inside(path, anchor))
    return refuse(path, "a symbolic link on its way leads out of " + anchor);
  if (own.setting && !own_folder) {
    const bool log_setting = std::strcmp(own.setting, "QK_LOG") == 0;
    directory_notice = std::string(own.setting) + (log_setting ? " names " : "'s log folder is ") + own.path +
                       ", but the installation logs into " + path +
                       ", chosen when its shared log block was made; to move its logs, stop every process of "
                       "the installation and remove the block's backing file";
  }
  return true;
}

}  // namespace

std::string memlgqk_own_log_directory(const char** setting) {
  const OwnChoice own = own_choice();
  if (setting) *setting = own.setting;
  return own.path;
}

const char* memlgqk_log_directory(const MEMORY_LGQK* b, char (&copy)[LOG_DIRECTORY_MAX + 1]) {
  copy[0] = '\0';
  if (!b) return copy;
  // One read of the field, which another process may change at any moment: what is
  // checked is what the caller gets.
  std::string text = field_text(b->log_directory, LOG_DIRECTORY_MAX);
  if (shared && b == block && !text.empty() && !log_directory_acceptable(text)) return copy;
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

std::string memlgqk_take_directory_notice() {
  std::string notice;
  notice.swap(directory_notice);
  return notice;
}

[[noreturn]] void memlgqk_destroy() { fatalError("LOGGER:  tried to delete a shared memory object"); }

namespace {

bool refused(const platform::SystemError& why) { return why.code == EACCES || why.code == EPERM; }

}  // namespace

MemlgqkAttachResult memlgqk_attach_existing(int key, bool read_only, MEMORY_LGQK** result,
                                            platform::SystemError* why) {
  *result = nullptr;
  *why = platform::SystemError();
  if (key == -1 || key == 0) return MEMLGQK_NO_BLOCK;
  // Looking needs no segment of this process's own: the view maps the backing file read
  // only, which a user who may not write it can open too.
  const int flags = read_only ? SHM_RDONLY_FLAG : 0;
  if (shm_get_existing(key, sizeof(MEMORY_LGQK), flags) < 0) {
    if (errno == EINVAL) return MEMLGQK_WRONG_SIZE;
    if (errno == ENOENT) return MEMLGQK_NO_BLOCK;
    *why = shm_failure();
    if (!read_only) return refused(*why) ? MEMLGQK_NO_PERMISSION : MEMLGQK_NOT_ATTACHED;
  }
  void* address = shm_attach(key, nullptr, flags);
  if (address == SHM_ATTACH_FAILED) {
    *why = shm_failure();
    return refused(*why) ? MEMLGQK_NO_PERMISSION : MEMLGQK_NOT_ATTACHED;
  }
  auto* b = static_cast<MEMORY_LGQK*>(address);
  if (!marker_set(b)) {
    shm_detach(address);
    return MEMLGQK_NOT_INITIALISED;
  }
  *result = b;
  return MEMLGQK_ATTACHED;
}

std::string memlgqk_mutex_name(int key) {
  char name[32];
  std::snprintf(name, sizeof name, "QK_SEM%08x", static_cast<unsigned>(key));
  return name;
}
