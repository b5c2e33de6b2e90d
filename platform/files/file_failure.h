// How the files backends record a failure for last_file_failure(): calls on a path write it
// out at once; descriptor calls only note the code, the call and the descriptor, and the
// text is made when it is asked for. Each sets errno to the code.
//
// Threads: each thread records and reads its own failure.
#ifndef QK_PLATFORM_FILES_FILE_FAILURE_H
#define QK_PLATFORM_FILES_FILE_FAILURE_H

#include "platform/syserror/system_error.h"

namespace platform {
namespace files {

// The call ("stat") failed on the path ("" for none) with the C library's error code; false.
bool path_failed(int code, const char* call, const char* path);
// The same with advice on what is in the way; false.
bool path_refused(int code, const char* call, const char* path, const char* advice);
// The call ("write") failed on the descriptor with the C library's error code.
void descriptor_failed(int code, const char* call, int fd);
// The thread's failure, to be filled by a call that explains itself (code and all); errno
// is the filler's to set.
SystemError& failure_to_fill();

}  // namespace files
}  // namespace platform

#endif
