// <windows.h> before the framework's logger: the GDI macro ERROR must not break the
// logger's level names.
#include <windows.h>

#include "log/logger.h"

int windows_first_level() { return SEVERE_ERROR; }
