// The logger's settings: the threshold, the log-file limits and the source-file filters.
#include "log/internal/record.h"
#include "log/detail/logstate.h"

void LOGGER_QK::setLevel(int level) {
  if (!sink_) sink_ = defaultLogSink();
  if (sink_) sink_->threshold = level;
}

int LOGGER_QK::level() const { return sink_ ? sink_->threshold : -1; }

void LOGGER_QK::setFileLimit(int bytes) {
  if (sink_ && sink_->file) sink_->file->setFileLimit(bytes);
}

void LOGGER_QK::setMaxRecords(int count) {
  if (sink_ && sink_->file) sink_->file->setMaxRecords(count);
}

void LOGGER_QK::setFileDays(int days) {
  if (sink_ && sink_->file) sink_->file->setFileDays(days);
}

int LOGGER_QK::fileLimit() const { return sink_ && sink_->file ? sink_->file->fileLimit() : -1; }

int LOGGER_QK::maxRecords() const {
  return sink_ && sink_->file ? sink_->file->maxRecords() : -1;
}

int LOGGER_QK::fileDays() const { return sink_ && sink_->file ? sink_->file->fileDays() : -1; }

const char* LOGGER_QK::fileDirectory() const {
  return sink_ && sink_->file ? sink_->file->directory() : nullptr;
}

const char* LOGGER_QK::filePattern() const {
  return sink_ && sink_->file ? sink_->file->pattern() : nullptr;
}

bool LOGGER_QK::removeFileFilter(const char* source_file, int kind) {
  if (kind != 0 && kind != 3) return false;
  return logimpl::removeSourceFilter(source_file);
}
