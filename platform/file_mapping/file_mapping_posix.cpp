// POSIX backend of file mappings. A mapping over a file is the file itself, mapped shared;
// a process that did not make it finds it by its backing file, which the caller names. A
// mapping over the paging file is the POSIX shared-memory object "/<name>"; every process
// that uses one holds a read lock on it, and the object is removed when its last user has
// gone: by that user at its exit, or by the next process that makes such a mapping and
// finds no lock left. Open mapping handles are descriptors kept in a process-wide table,
// as the views are (munmap needs their length).
#include "platform/file_mapping/file_mapping.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <set>

#include "platform/files/shared_file_posix.h"

namespace platform {

namespace {

// Where the system keeps its shared-memory objects, and how old a still empty object
// must be before it counts as left over by a maker that died before giving it a size.
const char shm_folder[] = "/dev/shm";
const char paging_prefix[] = "QK_SHM";
const time_t unfinished_grace_seconds = 60;

thread_local SystemError last_failure;

struct MappingObject {
  int fd = -1;
  std::size_t size = 0;
  bool read_only = false;
  bool paging = false;
  std::string name;
};

struct View {
  std::size_t size = 0;
  int fd = -1;  // a paging object's: keeps this process's read lock while the view lives
  std::string name;
};

struct Tables {
  std::mutex mutex;
  std::map<std::intptr_t, MappingObject> mappings;
  std::intptr_t next_handle = 1;
  std::map<void*, View> views;
  std::set<std::string> paging_names;  // used by this process; offered for removal at exit
};

Tables& tables() {
  static Tables* t = new Tables;  // lives until the process ends, like the kernel's objects
  return *t;
}

Mapping fail(int error, const std::string& call, const std::string& advice = std::string(),
             bool in_the_way = false) {
  last_failure = SystemError{static_cast<unsigned long>(error), call, advice, in_the_way};
  errno = error;
  return Mapping();
}

std::string object_name(const std::string& name) { return "/" + name; }

struct flock whole_file(short type) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  return range;
}

// A user of a paging object holds a read lock on it for as long as it uses it.
bool hold_as_user(int fd) {
  struct flock range = whole_file(F_RDLCK);
  return fcntl(fd, F_OFD_SETLK, &range) == 0;
}

void let_go(int fd) {
  struct flock range = whole_file(F_UNLCK);
  fcntl(fd, F_OFD_SETLK, &range);
}

// Removes the object of that name when no process holds it as a user.
void remove_if_unused(const std::string& name) {
  int fd = shm_open(object_name(name).c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return;
  struct stat st;
  struct flock range = whole_file(F_WRLCK);
  bool unused = fstat(fd, &st) == 0 && st.st_uid == geteuid() && S_ISREG(st.st_mode) &&
                fcntl(fd, F_OFD_SETLK, &range) == 0;
  // Where objects are made by name, a maker gives one its size only after taking its own
  // lock: an empty one may be in the making, unless it has been empty for long.
  if (unused && st.st_size == 0 && time(nullptr) - st.st_ctime < unfinished_grace_seconds) unused = false;
  if (unused) shm_unlink(object_name(name).c_str());
  close(fd);
}

// The paging objects of this user whose processes have all gone.
void sweep_unused() {
  DIR* dir = opendir(shm_folder);
  if (!dir) return;
  std::set<std::string> names;
  while (struct dirent* entry = readdir(dir))
    if (std::string(entry->d_name).compare(0, sizeof paging_prefix - 1, paging_prefix) == 0)
      names.insert(entry->d_name);
  closedir(dir);
  for (const std::string& name : names) remove_if_unused(name);
}

// At exit this process stops using its paging objects, and removes those nobody else uses.
void leave_paging_objects() {
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  for (auto& entry : t.mappings)
    if (entry.second.paging) let_go(entry.second.fd);
  for (auto& entry : t.views)
    if (entry.second.fd >= 0) let_go(entry.second.fd);
  for (const std::string& name : t.paging_names) remove_if_unused(name);
}

void note_paging_name(Tables& t, const std::string& name) {
  static std::once_flag once;
  std::call_once(once, [] { atexit(leave_paging_objects); });
  t.paging_names.insert(name);
}

Mapping add_mapping(Tables& t, const MappingObject& object) {
  Mapping m;
  m.value = t.next_handle++;
  t.mappings[m.value] = object;
  if (object.paging) note_paging_name(t, object.name);
  return m;
}

// A second handle on a mapping this process has open under that name, if any.
bool duplicate_named(Tables& t, const std::string& name, Mapping* result) {
  for (auto& entry : t.mappings) {
    if (entry.second.name != name) continue;
    int fd = fcntl(entry.second.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
      *result = fail(errno, "dup " + name);
    } else {
      MappingObject copy = entry.second;
      copy.fd = fd;
      *result = add_mapping(t, copy);
    }
    return true;
  }
  return false;
}

// Opens an existing paging object made by this user (or root); -1 when there is none.
int open_paging_object(const std::string& name, bool read_only) {
  int fd = shm_open(object_name(name).c_str(), (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC, 0);
  if (fd < 0) {
    fail(errno, "shm_open " + object_name(name));
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_uid != geteuid() && st.st_uid != 0)) {
    close(fd);
    fail(EPERM, "shm_open " + object_name(name), "it is not a shared-memory object of this user", true);
    return -1;
  }
  if (!hold_as_user(fd)) {
    int error = errno;
    close(fd);
    fail(error, "fcntl " + object_name(name));
    return -1;
  }
  return fd;
}

// Makes the object whole (sized, and held by this process) before it gets its name, so
// that no other process ever finds it half made: an unnamed file in the shared-memory
// folder, linked under the name only when the name is free. -1 with errno EEXIST when the
// name is taken, another errno when the system cannot make unnamed files there (then the
// caller makes the object by name).
int named_when_ready(const std::string& name, std::uint32_t size) {
  int fd = open(shm_folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const std::string target = std::string(shm_folder) + "/" + name;
  if (ftruncate(fd, size) != 0 || !hold_as_user(fd) ||
      linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

Mapping create_paging_mapping(Tables& t, const std::string& name, std::uint32_t size, bool read_only,
                              bool* existed) {
  if (size == 0) return fail(EINVAL, "shm_open " + object_name(name), "a paging-file mapping needs a size");
  sweep_unused();
  const std::string object = object_name(name);
  int fd = named_when_ready(name, size);
  if (fd >= 0) return add_mapping(t, MappingObject{fd, size, read_only, true, name});
  if (errno == EEXIST) {
    fd = -1;  // taken: open it below
  } else {
    fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }
  if (fd >= 0) {
    if (!hold_as_user(fd) || ftruncate(fd, size) != 0) {
      int error = errno;
      shm_unlink(object.c_str());
      close(fd);
      return fail(error, "ftruncate " + object);
    }
    return add_mapping(t, MappingObject{fd, size, read_only, true, name});
  }
  if (fd < 0 && errno != EEXIST) return fail(errno, "shm_open " + object);
  *existed = true;
  fd = open_paging_object(name, false);
  if (fd < 0) return Mapping();
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size == 0) {
    int error = st.st_size == 0 ? EAGAIN : errno;
    close(fd);
    return fail(error, "fstat " + object);
  }
  return add_mapping(t, MappingObject{fd, static_cast<std::size_t>(st.st_size), read_only, true, name});
}

}  // namespace

SharedFile open_backing_file(const std::string& path) {
  SharedFile file;
  SystemError error;
  int fd = posix::open_shared_file(path, O_RDWR | O_CREAT, 0666, &error);
  if (fd < 0) {
    last_failure = error;
    return file;
  }
  file.value = fd;
  return file;
}

void close_file(SharedFile file) {
  if (file.valid()) close(static_cast<int>(file.value));
}

Mapping create_mapping(SharedFile file, const std::string& name, std::uint32_t size, bool read_only,
                       bool* already_existed) {
  bool ignored;
  bool& existed = already_existed ? *already_existed : ignored;
  existed = false;
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  Mapping existing;
  if (duplicate_named(t, name, &existing)) {
    existed = existing.valid();
    return existing;
  }
  if (!file.valid()) return create_paging_mapping(t, name, size, read_only, &existed);

  int source = static_cast<int>(file.value);
  struct stat st;
  if (fstat(source, &st) != 0) return fail(errno, "fstat " + name);
  std::size_t length = size;
  if (size == 0) {  // the whole file, which must not be empty
    if (st.st_size == 0) return fail(EINVAL, "map " + name, "the file is empty");
    length = static_cast<std::size_t>(st.st_size);
  } else if (static_cast<std::uintmax_t>(st.st_size) < size) {
    if (read_only) return fail(EACCES, "map " + name, "a read-only mapping cannot grow its file");
    if (ftruncate(source, size) != 0) return fail(errno, "ftruncate " + name);
  }
  int fd = fcntl(source, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return fail(errno, "dup " + name);
  return add_mapping(t, MappingObject{fd, length, read_only, false, name});
}

bool mapping_exists(const std::string& name) {
  Tables& t = tables();
  {
    std::lock_guard<std::mutex> g(t.mutex);
    for (auto& entry : t.mappings)
      if (entry.second.name == name) return true;
  }
  int fd = shm_open(object_name(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd >= 0) close(fd);
  return fd >= 0 || errno != ENOENT;  // one this process may not open exists all the same
}

Mapping open_mapping(const std::string& name, bool read_only, const std::string& backing_path) {
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  Mapping existing;
  if (duplicate_named(t, name, &existing)) return existing;

  bool paging = true;
  int fd = open_paging_object(name, read_only);
  // A shared-memory object of that name that another user made is not this installation's.
  if (fd < 0 && (errno == ENOENT || errno == EPERM || errno == EACCES) && !backing_path.empty()) {
    paging = false;
    SystemError error;
    fd = posix::open_shared_file(backing_path, read_only ? O_RDONLY : O_RDWR, 0, &error);
    if (fd < 0) last_failure = error;
  }
  if (fd < 0) return Mapping();
  struct stat st;
  bool readable = fstat(fd, &st) == 0;
  if (!readable || st.st_size <= 0) {
    int error = readable ? EINVAL : errno;
    close(fd);
    return fail(error, "map " + name, readable ? "the file is empty" : std::string());
  }
  return add_mapping(t, MappingObject{fd, static_cast<std::size_t>(st.st_size), read_only, paging, name});
}

void close_mapping(Mapping mapping) {
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  auto it = t.mappings.find(mapping.value);
  if (it == t.mappings.end()) return;
  close(it->second.fd);
  t.mappings.erase(it);
}

void* map_view(Mapping mapping, void* address, bool read_only) {
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  auto it = t.mappings.find(mapping.value);
  if (it == t.mappings.end()) {
    fail(EINVAL, "map view", "no such mapping");
    return nullptr;
  }
  const MappingObject& object = it->second;
  if (!read_only && object.read_only) {
    fail(EACCES, "map view of " + object.name, "the mapping is read-only");
    return nullptr;
  }
  int protection = read_only ? PROT_READ : PROT_READ | PROT_WRITE;
  void* view = mmap(address, object.size, protection, MAP_SHARED, object.fd, 0);
  if (view == MAP_FAILED) {
    fail(errno, "mmap " + object.name);
    return nullptr;
  }
  if (address && view != address) {  // the place asked for was taken
    munmap(view, object.size);
    fail(EINVAL, "mmap " + object.name, "the address asked for is taken");
    return nullptr;
  }
  int lock_keeper = object.paging ? fcntl(object.fd, F_DUPFD_CLOEXEC, 0) : -1;
  t.views[view] = View{object.size, lock_keeper, object.name};
  return view;
}

bool unmap_view(void* address) {
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  auto it = t.views.find(address);
  if (it == t.views.end()) return false;
  munmap(it->first, it->second.size);
  if (it->second.fd >= 0) close(it->second.fd);
  t.views.erase(it);
  return true;
}

void remove_paging_mapping(const std::string& name) { shm_unlink(object_name(name).c_str()); }

unsigned long mapping_error() { return last_failure.code; }

const SystemError& mapping_failure() { return last_failure; }

}  // namespace platform
