// POSIX backend of the message box: there is no desktop to show it on, so it goes to
// standard error.
#include "platform/messagebox/messagebox.h"

#include <stdio.h>

namespace platform {

int message_box(const char* caption, const char* text, BoxIcon) {
  return fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
}

}  // namespace platform
