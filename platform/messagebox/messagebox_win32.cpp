// Windows backend of the message box.
#include "platform/messagebox/messagebox.h"

#include <windows.h>

namespace platform {

int message_box(const char* caption, const char* text, BoxIcon icon) {
  UINT style = MB_OK | (icon == BoxIcon::error ? MB_ICONERROR : MB_ICONWARNING);
  return MessageBoxA(nullptr, text ? text : "", caption ? caption : "", style);
}

}  // namespace platform
