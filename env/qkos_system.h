// The operating system's name and thin wrappers over the C library and the platform:
// sleeping, file size and access, starting a program without waiting, the UTF-8 byte
// order mark. Part of the operating-system services of env/qkos.h.
//
//   if (qk_access("logs/", 0) == 0) ...       // the folder "logs" exists
//   spawn_no_wait("notepad report.txt");      // started; not waited for
#ifndef QK_ENV_QKOS_SYSTEM_H
#define QK_ENV_QKOS_SYSTEM_H

#include <iosfwd>

// The operating system's name in lower case ("windows"; "linux" on Linux).
const char* operating_system_name();

void qk_sleep(unsigned milliseconds);
int qk_chsize(int fd, long size);                 // 0 or -1
int qk_access(const char* path, int mode);        // one trailing "/" or "\" is ignored
int spawn_no_wait(const char* command);           // "program rest": 0, or -1
void write_utf8_bom(std::ostream& out);           // the bytes EF BB BF

#endif
