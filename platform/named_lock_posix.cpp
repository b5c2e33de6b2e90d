// POSIX backend of named locks: flock() on a lock file in one machine-wide folder, behind
// an in-process recursive mutex. One state per name is shared by every NamedLock of the
// process, so two handles of one name exclude each other as two handles of one Windows
// mutex do, and the thread that holds it may wait for it again.
#include "platform/named_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

namespace {

struct Shared {
  int fd = -1;
  std::recursive_timed_mutex in_process;
  std::thread::id owner;
  unsigned holds = 0;  // of the owning thread; the file lock is held while above 0
};

std::mutex registry_mutex;
std::map<std::string, std::shared_ptr<Shared>>& registry() {
  static auto* names = new std::map<std::string, std::shared_ptr<Shared>>;
  return *names;
}

std::string file_name_for(const std::string& name) {
  std::string file = name;
  for (char& c : file)
    if (c == '/' || c == '\0') c = '_';
  return file.empty() ? std::string("_") : file;
}

// Takes the file lock, polling while it is busy when the wait is bounded.
bool lock_file(int fd, unsigned long timeout_ms, bool* timed_out) {
  *timed_out = false;
  if (timeout_ms == NamedLock::forever) {
    while (flock(fd, LOCK_EX) != 0)
      if (errno != EINTR) return false;
    return true;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      *timed_out = true;
      return false;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    if (pause < std::chrono::milliseconds(50)) pause *= 2;
  }
}

}  // namespace

struct NamedLock::State {
  std::shared_ptr<Shared> shared;
  unsigned holds = 0;  // this handle's share of the owner's holds
};

std::string NamedLock::lock_directory() { return "/tmp/QK_LOCKS"; }

NamedLock::NamedLock(const std::string& name, Access) {
  // Every user of the installation may use the lock, as the Windows mutex with its null
  // access list allows: folder and file are made under a cleared file-permission mask.
  std::lock_guard<std::mutex> g(registry_mutex);
  std::shared_ptr<Shared>& slot = registry()[name];
  if (!slot) {
    std::string dir = lock_directory();
    mode_t old_mask = umask(0);
    if (mkdir(dir.c_str(), 01777) != 0 && errno != EEXIST) {
      error_ = static_cast<unsigned long>(errno);
      umask(old_mask);
      registry().erase(name);
      return;
    }
    int fd = open((dir + "/" + file_name_for(name)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    int open_error = errno;
    umask(old_mask);
    if (fd < 0) {
      error_ = static_cast<unsigned long>(open_error);
      registry().erase(name);
      return;
    }
    slot = std::make_shared<Shared>();
    slot->fd = fd;
  }
  state_ = new State;
  state_->shared = slot;
}

NamedLock::~NamedLock() {
  if (!state_) return;
  if (state_->shared->owner == std::this_thread::get_id())
    while (state_->holds > 0) release();
  delete state_;
}

bool NamedLock::ok() const { return state_ != nullptr; }

LockWait NamedLock::wait(unsigned long timeout_ms) {
  if (!state_) return LockWait::failed;
  Shared& s = *state_->shared;
  if (timeout_ms == forever) {
    s.in_process.lock();
  } else if (!s.in_process.try_lock_for(std::chrono::milliseconds(timeout_ms))) {
    return LockWait::timed_out;
  }
  if (s.holds == 0) {
    bool timed_out = false;
    if (!lock_file(s.fd, timeout_ms, &timed_out)) {
      s.in_process.unlock();
      return timed_out ? LockWait::timed_out : LockWait::failed;
    }
    s.owner = std::this_thread::get_id();
  }
  ++s.holds;
  ++state_->holds;
  return LockWait::acquired;
}

void NamedLock::release() {
  if (!state_ || state_->holds == 0) return;
  Shared& s = *state_->shared;
  if (s.owner != std::this_thread::get_id()) return;
  --state_->holds;
  if (--s.holds == 0) {
    s.owner = std::thread::id();
    flock(s.fd, LOCK_UN);
  }
  s.in_process.unlock();
}

}  // namespace platform
