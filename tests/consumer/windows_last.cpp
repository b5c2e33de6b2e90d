// The framework's logger before <windows.h>.
#include "log/logger.h"

#include <windows.h>

int windows_last_level() { return MILESTONE + GetCurrentProcessId() * 0; }
