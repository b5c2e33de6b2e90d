// File mappings: memory that processes share by a name, over a backing file or over the
// system's paging file.
//
// On Windows these are the kernel's named file mappings. On POSIX a mapping over a file is
// that file mapped shared, and another process opens it through its backing file, which
// the caller names; a mapping over the paging file is a POSIX shared-memory object named
// "/<name>", removed when the last process that uses it has gone.
//
//   platform::SharedFile file = platform::open_backing_file(path);
//   platform::Mapping m = platform::create_mapping(file, "QK_SHM255", 4096, false);
//   platform::close_file(file);
//   void* view = platform::map_view(platform::open_mapping("QK_SHM255", false, path), nullptr, false);
//
// Threads: every call may come from any thread at once; the failure tells the calling thread's own.
#ifndef QK_PLATFORM_FILE_MAPPING_FILE_MAPPING_H
#define QK_PLATFORM_FILE_MAPPING_FILE_MAPPING_H

#include <cstdint>
#include <string>

#include "platform/syserror/system_error.h"

namespace platform {

// An open backing file; invalid when value is -1.
struct SharedFile {
  std::intptr_t value = -1;
  bool valid() const { return value != -1; }
};

// An open mapping object; invalid when value is 0.
struct Mapping {
  std::intptr_t value = 0;
  bool valid() const { return value != 0; }
};

// Opens the file for reading and writing, shared with other processes, creating it when
// missing; the handle is not inherited by children. On Windows the file is open to every
// user; on POSIX it gets the permissions of the file-creation mask, and a symbolic link,
// anything but a regular file, or a file whose owner may not write its folder is refused.
SharedFile open_backing_file(const std::string& path);
void close_file(SharedFile file);

// Creates the mapping of that name over the file (an invalid file: over the paging file),
// or opens it when it exists already (then it is returned unchanged, whatever the size).
// A file shorter than size is grown to it. Read-only mappings give read-only views only.
// already_existed, when given, tells whether the mapping was there before the call.
Mapping create_mapping(SharedFile file, const std::string& name, std::uint32_t size, bool read_only,
                       bool* already_existed = nullptr);

// True when a mapping of that name exists.
bool mapping_exists(const std::string& name);

// Opens the existing mapping of that name; invalid when there is none. Where mappings over
// files have no names of their own (POSIX), the existing backing file at backing_path (when
// one is given) serves as the mapping of that name; Windows finds mappings by name only.
Mapping open_mapping(const std::string& name, bool read_only, const std::string& backing_path = std::string());
void close_mapping(Mapping mapping);

// Maps the whole mapping, at the address when one is given; nullptr on failure.
void* map_view(Mapping mapping, void* address, bool read_only);
// Removes a view made by map_view; false when the address is not one.
bool unmap_view(void* address);

// Removes the name of a paging-file mapping at once, whoever still uses it. POSIX removes
// such an object by itself when its last user has gone, as Windows drops it with its last
// handle; Windows needs nothing here.
void remove_paging_mapping(const std::string& name);

// The system error code of the last failed call of this concept in this thread.
unsigned long mapping_error();
// The same failure with the call, its object and what the user can do about it.
const SystemError& mapping_failure();

}  // namespace platform

#endif
