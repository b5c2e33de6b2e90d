// Shared-memory segments that the processes of an installation find by a number, with the
// calling shapes of the System V calls: get a segment by key, attach it, detach it.
//
//   int id = shm_get(key, 4096, 0);              // opens or creates; -1 and errno 12 on failure
//   void* p = shm_attach(id, nullptr, 0);        // SHM_ATTACH_FAILED on failure
//   ...
//   shm_detach(p);
//
// A key other than 0 names one segment shared by every process using it, backed by the
// file "<site>/shm/%08x" (the site folder is QK_SITE, else QK_ROOT/site) and kept alive by
// the mapping "QK_SHM%d" that this process holds until it ends. Key 0 asks for a new
// private segment backed by the paging file; its key is chosen from the clock. The
// installation's named locks keep their lock files (where the system needs them) in the
// same "<site>/shm" folder, so that only the users of the installation share them.
#ifndef QK_ENV_SHMEM_H
#define QK_ENV_SHMEM_H

#include <cstdint>
#include <string>

#include "platform/syserror/system_error.h"

// The read-only bit of the flags; every other flag bit is ignored.
const int SHM_RDONLY_FLAG = 0x1000;

// What shm_attach answers on failure: the address -1.
inline void* const SHM_ATTACH_FAILED = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));

// The segment's identifier (its key), or -1 with errno 12 (ENOMEM) when the segment can
// be neither opened nor created. A keyed request without QK_SITE and QK_ROOT is fatal.
int shm_get(int key, std::uint32_t size, int flags);

// shm_get for a program that looks at an installation from outside: the segment of the
// key (not 0) only when its backing file exists already with at least size bytes.
// Nothing is created, neither a folder nor a file. -1 with errno ENOENT when there is no
// such segment, EINVAL when its file is shorter than size (shm_get would grow it).
int shm_get_existing(int key, std::uint32_t size, int flags);

// Maps the whole segment (at address when it is not null); its address, or
// SHM_ATTACH_FAILED when the segment does not exist or cannot be mapped.
void* shm_attach(int id, const void* address, int flags);

// Removes a mapping made by shm_attach; always 0.
int shm_detach(const void* address);

// The installation's folder of shared objects, "<site>/shm", made when missing. Without
// QK_SITE and QK_ROOT: the fatal report "KVO23116 QK_ROOT not set".
std::string shm_directory();

// The backing file of the key's segment ("<site>/shm/%08x"), named without making any
// folder; "" without QK_SITE and QK_ROOT.
std::string shm_backing_file(int key);

// Why the last shm_get or shm_attach of this thread failed.
const platform::SystemError& shm_failure();

#endif
