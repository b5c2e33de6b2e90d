// POSIX backend of file mappings. A mapping over a file is the file itself, mapped shared;
// its name is registered as a symbolic link to the file in one machine-wide folder, so
// that another process opens it by name while the file exists. A mapping over the paging
// file is the POSIX shared-memory object "/<name>". Open mapping handles are duplicated
// descriptors kept in a process-wide table, as the views are (munmap needs their length).
#include "platform/file_mapping.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace platform {

namespace {

const char names_folder[] = "/tmp/QK_MAPPINGS";

thread_local unsigned long last_error_code = 0;

struct MappingObject {
  int fd = -1;
  std::size_t size = 0;
  bool read_only = false;
  std::string name;
};

struct Tables {
  std::mutex mutex;
  std::map<int, std::string> file_paths;      // backing file descriptor -> path
  std::map<std::intptr_t, MappingObject> mappings;
  std::intptr_t next_handle = 1;
  std::map<void*, std::size_t> views;
};

Tables& tables() {
  static Tables* t = new Tables;  // lives until the process ends, like the kernel's objects
  return *t;
}

Mapping fail(int error) {
  last_error_code = static_cast<unsigned long>(error);
  return Mapping();
}

Mapping add_mapping(Tables& t, int fd, std::size_t size, bool read_only, const std::string& name) {
  Mapping m;
  m.value = t.next_handle++;
  t.mappings[m.value] = MappingObject{fd, size, read_only, name};
  return m;
}

// A second handle on a mapping this process has open under that name, if any.
bool duplicate_named(Tables& t, const std::string& name, Mapping* result) {
  for (auto& entry : t.mappings) {
    if (entry.second.name != name) continue;
    int fd = fcntl(entry.second.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
      *result = fail(errno);
    } else {
      *result = add_mapping(t, fd, entry.second.size, entry.second.read_only, name);
    }
    return true;
  }
  return false;
}

std::string registration_of(const std::string& name) { return std::string(names_folder) + "/" + name; }

// Points the machine-wide name at the file; a failure only means that other processes
// cannot open the mapping by name without getting it themselves.
void register_name(const std::string& name, const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return;
  mode_t old_mask = umask(0);
  mkdir(names_folder, 01777);
  umask(old_mask);
  std::string link = registration_of(name);
  std::string temporary = link + "." + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(resolved, temporary.c_str()) == 0 && rename(temporary.c_str(), link.c_str()) != 0)
    unlink(temporary.c_str());
}

int open_shm_object(const std::string& name, int flags) {
  mode_t old_mask = umask(0);
  int fd = shm_open(("/" + name).c_str(), flags | O_CLOEXEC, 0666);
  umask(old_mask);
  return fd;
}

}  // namespace

SharedFile open_backing_file(const std::string& path) {
  mode_t old_mask = umask(0);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  int error = errno;
  umask(old_mask);
  SharedFile file;
  if (fd < 0) {
    last_error_code = static_cast<unsigned long>(error);
    return file;
  }
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  t.file_paths[fd] = path;
  file.value = fd;
  return file;
}

void close_file(SharedFile file) {
  if (!file.valid()) return;
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  t.file_paths.erase(static_cast<int>(file.value));
  close(static_cast<int>(file.value));
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

  if (!file.valid()) {
    if (size == 0) return fail(EINVAL);  // a paging-file mapping needs a size
    int fd = open_shm_object(name, O_RDWR | O_CREAT | O_EXCL);
    if (fd < 0 && errno == EEXIST) {
      existed = true;
      fd = open_shm_object(name, O_RDWR);
    }
    if (fd < 0) return fail(errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || (st.st_size == 0 && ftruncate(fd, size) != 0)) {
      int error = errno;
      close(fd);
      return fail(error);
    }
    std::size_t whole = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : size;
    return add_mapping(t, fd, whole, read_only, name);
  }

  int source = static_cast<int>(file.value);
  struct stat st;
  if (fstat(source, &st) != 0) return fail(errno);
  std::size_t length = size;
  if (size == 0) {  // the whole file, which must not be empty
    if (st.st_size == 0) return fail(EINVAL);
    length = static_cast<std::size_t>(st.st_size);
  } else if (static_cast<std::uintmax_t>(st.st_size) < size) {
    if (read_only) return fail(EACCES);  // a read-only mapping cannot grow its file
    if (ftruncate(source, size) != 0) return fail(errno);
  }
  int fd = fcntl(source, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return fail(errno);
  auto path = t.file_paths.find(source);
  if (path != t.file_paths.end()) register_name(name, path->second);
  return add_mapping(t, fd, length, read_only, name);
}

bool mapping_exists(const std::string& name) {
  Mapping m = open_mapping(name, true);
  close_mapping(m);
  return m.valid();
}

Mapping open_mapping(const std::string& name, bool read_only) {
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  Mapping existing;
  if (duplicate_named(t, name, &existing)) return existing;

  int access = read_only ? O_RDONLY : O_RDWR;
  int fd = open_shm_object(name, access);
  if (fd < 0) {
    char target[PATH_MAX];
    ssize_t n = readlink(registration_of(name).c_str(), target, sizeof target - 1);
    if (n <= 0) return fail(ENOENT);
    target[n] = '\0';
    fd = open(target, access | O_CLOEXEC);
    if (fd < 0) return fail(errno);
  }
  struct stat st;
  bool readable = fstat(fd, &st) == 0;
  if (!readable || st.st_size <= 0) {
    int error = readable ? EINVAL : errno;
    close(fd);
    return fail(error);
  }
  return add_mapping(t, fd, static_cast<std::size_t>(st.st_size), read_only, name);
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
    last_error_code = EINVAL;
    return nullptr;
  }
  const MappingObject& object = it->second;
  if (!read_only && object.read_only) {
    last_error_code = EACCES;
    return nullptr;
  }
  int protection = read_only ? PROT_READ : PROT_READ | PROT_WRITE;
  void* view = mmap(address, object.size, protection, MAP_SHARED, object.fd, 0);
  if (view == MAP_FAILED) {
    last_error_code = static_cast<unsigned long>(errno);
    return nullptr;
  }
  if (address && view != address) {  // the place asked for was taken
    munmap(view, object.size);
    last_error_code = EINVAL;
    return nullptr;
  }
  t.views[view] = object.size;
  return view;
}

bool unmap_view(void* address) {
  Tables& t = tables();
  std::lock_guard<std::mutex> g(t.mutex);
  auto it = t.views.find(address);
  if (it == t.views.end()) return false;
  munmap(it->first, it->second);
  t.views.erase(it);
  return true;
}

void remove_paging_mapping(const std::string& name) { shm_unlink(("/" + name).c_str()); }

unsigned long mapping_error() { return last_error_code; }

}  // namespace platform
