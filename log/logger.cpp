// Placeholder front end: stdlog stays empty until the logger is built, so every call site
// compiles and logs nothing.
#include "log/logger.h"

#include <sstream>

LOGGER_QK* stdlog = nullptr;

namespace {
std::ostringstream placeholder_stream;
}

LOGGER_QK::LOGGER_QK() {}
LOGGER_QK::~LOGGER_QK() {}
bool LOGGER_QK::isOn(const char*, int, int) { return false; }
std::ostream& LOGGER_QK::stream() { return placeholder_stream; }
void LOGGER_QK::commit() {}

LoggerGuard::LoggerGuard() {}
LoggerGuard::~LoggerGuard() {}
