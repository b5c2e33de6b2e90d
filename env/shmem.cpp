// Shared-memory segments over named file mappings.
#include "env/shmem.h"

#include <errno.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <set>
#include <string>

#include "env/env.h"
#include "env/qkos_report.h"
#include "platform/file_mapping/file_mapping.h"
#include "platform/files/files.h"
#include "platform/named_lock/named_lock.h"

namespace {

// Serialises the creation of backing files among the processes of the installation (on
// Windows, of the machine).
const char creation_lock_name[] = "{B5E0C2BD-6805-411c-AA44-34D102AB4FFB}";
const unsigned long creation_wait_ms = 300000;
// Key 0 tries this many candidates after the clock's before giving up.
const int key_search_limit = 65536;

// The mappings got by this process; each stays open until the process ends, which keeps
// its segment alive for the processes that attach later.
std::mutex kept_mutex;
std::set<int>& kept_keys() {
  static auto* keys = new std::set<int>;
  return *keys;
}

thread_local platform::SystemError last_failure;

std::string mapping_name(int key) { return "QK_SHM" + std::to_string(key); }

bool is_read_only(int flags) { return (flags & SHM_RDONLY_FLAG) != 0; }

int fail(const platform::SystemError& why) {
  last_failure = why;
  errno = ENOMEM;
  return -1;
}

// Makes the folder when it is missing; a failure shows later as a file that cannot be made.
void ensure_directory(const std::string& path) {
  platform::FileStatus status;
  if (!platform::file_status(path.c_str(), &status)) platform::make_directory(path.c_str());
}

// The site folder, made when missing; without QK_SITE and QK_ROOT, empty.
std::string site_directory(bool make) {
  if (const char* site = env_lookup("QK_SITE", 0)) {
    if (make) ensure_directory(site);
    return site;
  }
  const char* root = env_lookup("QK_ROOT", 0);
  if (!root) return std::string();
  if (make) ensure_directory(root);
  std::string site = std::string(root) + "/site";
  if (make) ensure_directory(site);
  return site;
}

std::string file_name(int key) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(key));
  return digits;
}

// Where another process keeps the segment of the key, without making any folder.
std::string existing_backing_file_path(int key) {
  std::string site = site_directory(false);
  return site.empty() ? site : site + "/shm/" + file_name(key);
}

// Opens or creates the backing file under the creation lock. A lock that cannot be made
// or waited for is done without; one whose holder died is taken over, since the holder
// can no longer finish, and making the file twice is harmless. Only a lock held for the
// whole wait stops the creation: its holder is stuck.
platform::SharedFile open_under_creation_lock(const std::string& folder, const std::string& path) {
  platform::NamedLock lock(creation_lock_name, platform::NamedLock::default_access, folder);
  if (!lock.ok()) return platform::open_backing_file(path);
  platform::LockWait waited = lock.wait(creation_wait_ms);
  if (waited == platform::LockWait::failed) return platform::open_backing_file(path);
  if (waited == platform::LockWait::timed_out) {
    last_failure = platform::SystemError{
        static_cast<unsigned long>(ETIMEDOUT), std::string("lock ") + creation_lock_name + " in " + folder,
        "another process of the installation has held it for 5 minutes; end that process", true, true};
    return platform::SharedFile();
  }
  platform::SharedFile file = platform::open_backing_file(path);
  lock.release();
  return file;
}

void keep(int key, platform::Mapping mapping) {
  std::lock_guard<std::mutex> g(kept_mutex);
  if (!kept_keys().insert(key).second) platform::close_mapping(mapping);  // one is enough
}

int get_keyed(int key, std::uint32_t size, bool read_only) {
  last_failure = platform::SystemError();
  const std::string folder = shm_directory();
  platform::FileStatus status;
  if (!platform::file_status(folder.c_str(), &status) || !status.is_directory)
    return fail(platform::SystemError{ENOTDIR, "open " + folder,
                                      "it is not a folder, or a part of its path is not; remove it", true, true});
  platform::SharedFile file = open_under_creation_lock(folder, folder + "/" + file_name(key));
  if (!file.valid()) return fail(last_failure.failed() ? last_failure : platform::mapping_failure());
  platform::Mapping mapping = platform::create_mapping(file, mapping_name(key), size, read_only);
  platform::close_file(file);
  if (!mapping.valid()) return fail(platform::mapping_failure());
  keep(key, mapping);
  return key;
}

// A new segment over the paging file under the first key from the clock that no mapping
// uses yet. A candidate that another process takes between the test and the creation is
// passed over, so two callers never share a private segment.
int get_private(std::uint32_t size, bool read_only) {
  const long long now = static_cast<long long>(std::time(nullptr));
  for (int n = 0; n < key_search_limit; ++n) {
    int key = static_cast<int>((now * 256 + n) & 0x7FFFFFFF);
    if (key == 0) continue;
    std::string name = mapping_name(key);
    if (platform::mapping_exists(name)) continue;
    bool existed = false;
    platform::Mapping mapping =
        platform::create_mapping(platform::SharedFile(), name, size, read_only, &existed);
    if (!mapping.valid()) return fail(platform::mapping_failure());
    if (existed) {
      platform::close_mapping(mapping);
      continue;
    }
    keep(key, mapping);
    return key;
  }
  return fail(platform::SystemError{EEXIST, "shm_get 0", "every key of this second is taken", false, true});
}

}  // namespace

int shm_get(int key, std::uint32_t size, int flags) {
  return key == 0 ? get_private(size, is_read_only(flags)) : get_keyed(key, size, is_read_only(flags));
}

int shm_get_existing(int key, std::uint32_t size, int flags) {
  std::string site;
  if (const char* named = env_lookup("QK_SITE", 0)) {
    site = named;
  } else if (const char* root = env_lookup("QK_ROOT", 0)) {
    site = std::string(root) + "/site";
  }
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(key));
  platform::FileStatus status;
  if (key == 0 || site.empty() || !platform::file_status((site + "/shm/" + digits).c_str(), &status) ||
      status.is_directory) {
    errno = ENOENT;
    return -1;
  }
  if (status.size < static_cast<long long>(size)) {
    errno = EINVAL;
    return -1;
  }
  return get_keyed(key, size, is_read_only(flags));
}

void* shm_attach(int id, const void* address, int flags) {
  bool read_only = is_read_only(flags);
  platform::Mapping mapping =
      platform::open_mapping(mapping_name(id), read_only, existing_backing_file_path(id));
  if (!mapping.valid()) {
    last_failure = platform::mapping_failure();
    return SHM_ATTACH_FAILED;
  }
  void* view = platform::map_view(mapping, const_cast<void*>(address), read_only);
  if (!view) last_failure = platform::mapping_failure();
  platform::close_mapping(mapping);  // the view keeps the segment alive
  return view ? view : SHM_ATTACH_FAILED;
}

int shm_detach(const void* address) {
  platform::unmap_view(const_cast<void*>(address));
  return 0;
}

std::string shm_directory() {
  std::string site = site_directory(true);
  if (site.empty()) report_message("KVO23116 QK_ROOT not set", REPORT_FATAL, 0);
  std::string shm = site + "/shm";
  platform::make_directory(shm.c_str());  // an existing folder is no error
  return shm;
}

std::string shm_backing_file(int key) { return existing_backing_file_path(key); }

const platform::SystemError& shm_failure() { return last_failure; }
