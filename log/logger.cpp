// LOGGER_QK: the level test, the message frames and commit.
#include <clocale>
#include <cstring>
#include <string>

#include "log/internal/record.h"
#include "log/detail/logstate.h"
#include "platform/stacktrace_seam.h"

namespace {

LoggerGuard logger_guard;

constexpr int kMagic = 54321;
constexpr int kDefaultBufsize = 1024;

}  // namespace

LOGGER_QK::LOGGER_QK(StdlogTag)
    : magic_(kMagic),
      sink_(nullptr),
      frame_(new LogFrame()),
      bufsize_(kDefaultBufsize),
      echo_fd_(-1),
      echo_stream_(nullptr),
      echo_flags_(0) {}

LOGGER_QK::LOGGER_QK() : LOGGER_QK(StdlogTag{}) {
  std::setlocale(LC_ALL, "");
  sink_ = defaultLogSink();
}

LOGGER_QK::LOGGER_QK(const char* directory, const char* pattern, int options)
    : LOGGER_QK(StdlogTag{}) {
  std::setlocale(LC_ALL, "");
  defaultLogSink();  // the process settings come first
  sink_ = new LogSink(directory, pattern, options);
}

LOGGER_QK::~LOGGER_QK() {
  while (frame_) {
    LogFrame* previous = frame_->previous;
    delete frame_;
    frame_ = previous;
  }
  if (sink_ && sink_ != existingDefaultSink()) delete sink_;
  magic_ = 0;
}

bool LOGGER_QK::isOn(const char* source_file, int line, int level) {
  if (magic_ != kMagic) return false;
  if (!sink_) {
    // The first level test in the process makes the default sink; a logger without a
    // sink of its own writes there.
    LogSink* sink = defaultLogSink();
    if (!sink) return false;
    if (stdlog && !stdlog->sink_) stdlog->sink_ = sink;
    if (!sink_) sink_ = sink;
  }
  if (!source_file) source_file = "";
  if (!sink_->wants(source_file, line, level)) return false;
  if (frame_->in_use) frame_ = new LogFrame(frame_);
  frame_->in_use = true;
  frame_->source_file = source_file;
  frame_->line = line;
  frame_->level = level;
  return true;
}

std::ostream& LOGGER_QK::stream() { return frame_->text; }

void LOGGER_QK::commit() {
  LogFrame* frame = frame_;
  if (!frame->in_use) return;  // no open message
  std::string text = frame->text.str();
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';

  if (frame->level == SEVERE_ERROR) {
    // The trace shows where the error was found when its first frame lies in the logger.
    const char* trace = platform::stack_text("%f:%l;");
    if (std::strncmp(trace, "logger", 6) == 0)
      writeRecord(sink_, SIGNIFICANT, frame->source_file.c_str(), frame->line, trace,
                  std::strlen(trace), echo_fd_, echo_stream_, echo_flags_);
  }
  writeRecord(sink_, frame->level, frame->source_file.c_str(), frame->line, text.c_str(),
              text.size(), echo_fd_, echo_stream_, echo_flags_);

  if (frame->previous) {
    frame_ = frame->previous;
    delete frame;
  } else {
    frame->in_use = false;
    frame->text.str(std::string());
    frame->text.clear();
  }
}

void LOGGER_QK::setBufsize(int size) {
  if (frame_->in_use) {
    if (size != bufsize_)
      QK_LOG_AT("logger", 529, ERROR) << "Attempt to set logger bufsize to " << size
                                      << " while buffer in use with a size of " << bufsize_;
    return;
  }
  delete frame_;
  bufsize_ = size;
  frame_ = new LogFrame();
}
