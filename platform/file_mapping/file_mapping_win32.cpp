// Win32 backend of file mappings: CreateFileA, CreateFileMappingA, OpenFileMappingA,
// MapViewOfFile(Ex), UnmapViewOfFile.
#include "platform/file_mapping/file_mapping.h"

#include <windows.h>

#include "platform/security/win32_security.h"

namespace platform {

namespace {

thread_local SystemError last_failure;

void note_failure(const std::string& call) {
  last_failure = SystemError{GetLastError(), call, std::string(), false};
}

using win32::SharedKind;
using win32::SharedObjectSecurity;

HANDLE handle_of(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

Mapping keep(HANDLE h, const std::string& call) {
  Mapping m;
  if (h) {
    m.value = reinterpret_cast<std::intptr_t>(h);
  } else {
    note_failure(call);
  }
  return m;
}

}  // namespace

SharedFile open_backing_file(const std::string& path) {
  SharedObjectSecurity security(SharedKind::file);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, security.attributes(), OPEN_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_RANDOM_ACCESS, nullptr);
  SharedFile file;
  if (h == INVALID_HANDLE_VALUE) {
    note_failure("CreateFileA " + path);
  } else {
    file.value = reinterpret_cast<std::intptr_t>(h);
  }
  return file;
}

void close_file(SharedFile file) {
  if (file.valid()) CloseHandle(handle_of(file.value));
}

Mapping create_mapping(SharedFile file, const std::string& name, std::uint32_t size, bool read_only,
                       bool* already_existed) {
  SharedObjectSecurity security(SharedKind::mapping);
  HANDLE backing = file.valid() ? handle_of(file.value) : INVALID_HANDLE_VALUE;
  HANDLE h = CreateFileMappingA(backing, security.attributes(), read_only ? PAGE_READONLY : PAGE_READWRITE,
                                0, size, name.c_str());
  bool existed = h && GetLastError() == ERROR_ALREADY_EXISTS;
  // Opening an existing mapping this way asks for the rights to change its access list as
  // well, which a mapping that another user made does not grant: it is opened for mapping.
  if (!h && GetLastError() == ERROR_ACCESS_DENIED) {
    h = OpenFileMappingA(read_only ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
    existed = h != nullptr;
    if (!h) SetLastError(ERROR_ACCESS_DENIED);
  }
  if (already_existed) *already_existed = existed;
  return keep(h, "CreateFileMappingA " + name);
}

bool mapping_exists(const std::string& name) {
  HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  if (h) {
    CloseHandle(h);
    return true;
  }
  // A mapping this process may not read exists all the same.
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

Mapping open_mapping(const std::string& name, bool read_only, const std::string&) {
  return keep(OpenFileMappingA(read_only ? FILE_MAP_READ : FILE_MAP_WRITE, FALSE, name.c_str()),
              "OpenFileMappingA " + name);
}

void close_mapping(Mapping mapping) {
  if (mapping.valid()) CloseHandle(handle_of(mapping.value));
}

void* map_view(Mapping mapping, void* address, bool read_only) {
  if (!mapping.valid()) return nullptr;
  DWORD access = read_only ? FILE_MAP_READ : FILE_MAP_WRITE;
  void* view = address ? MapViewOfFileEx(handle_of(mapping.value), access, 0, 0, 0, address)
                       : MapViewOfFile(handle_of(mapping.value), access, 0, 0, 0);
  if (!view) note_failure("MapViewOfFile");
  return view;
}

bool unmap_view(void* address) { return UnmapViewOfFile(address) != 0; }

void remove_paging_mapping(const std::string&) {}

unsigned long mapping_error() { return last_failure.code; }

const SystemError& mapping_failure() { return last_failure; }

}  // namespace platform
