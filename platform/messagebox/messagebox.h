// Telling the person at the console about a problem in a box of its own.
//
// Threads: boxes may be shown from any thread at once.
#ifndef QK_PLATFORM_MESSAGEBOX_MESSAGEBOX_H
#define QK_PLATFORM_MESSAGEBOX_MESSAGEBOX_H

namespace platform {

enum class BoxIcon { error, warning };

// A message box without owner (MessageBoxA); on POSIX the caption, ": " and the text on
// standard error. Returns the result of the call.
int message_box(const char* caption, const char* text, BoxIcon icon);

}  // namespace platform

#endif
