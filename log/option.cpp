// The logger's settings: the threshold, the log-file limits and the source-file filters.
#include "log/internal/record.h"
#include "log/detail/logstate.h"

void LOGGER_QK::setLevel(int level) {
  LogSink* none = nullptr;
  if (!sink()) sink_.compare_exchange_strong(none, defaultLogSink(), std::memory_order_acq_rel);
  if (LogSink* s = sink()) s->threshold.store(level, std::memory_order_relaxed);
}

int LOGGER_QK::level() const {
  LogSink* s = sink();
  return s ? s->threshold.load(std::memory_order_relaxed) : -1;
}

void LOGGER_QK::setFileLimit(int bytes) {
  if (sink() && sink()->file) sink()->file->setFileLimit(bytes);
}

void LOGGER_QK::setMaxRecords(int count) {
  if (sink() && sink()->file) sink()->file->setMaxRecords(count);
}

void LOGGER_QK::setFileDays(int days) {
  if (sink() && sink()->file) sink()->file->setFileDays(days);
}

int LOGGER_QK::fileLimit() const { return sink() && sink()->file ? sink()->file->fileLimit() : -1; }

int LOGGER_QK::maxRecords() const {
  return sink() && sink()->file ? sink()->file->maxRecords() : -1;
}

int LOGGER_QK::fileDays() const { return sink() && sink()->file ? sink()->file->fileDays() : -1; }

const char* LOGGER_QK::fileDirectory() const {
  return sink() && sink()->file ? sink()->file->directory() : nullptr;
}

const char* LOGGER_QK::filePattern() const {
  return sink() && sink()->file ? sink()->file->pattern() : nullptr;
}

bool LOGGER_QK::removeFileFilter(const char* source_file, int kind) {
  if (kind != 0 && kind != 3) return false;
  return logimpl::removeSourceFilter(source_file);
}
