// LOGGER_QK: the level test, the message frames and commit.
#include <clocale>
#include <cstring>
#include <sstream>
#include <string>

#include "log/internal/record.h"
#include "log/detail/logstate.h"
#include "platform/stackwalk/stacktrace_seam.h"

namespace {

LoggerGuard logger_guard;

constexpr int kMagic = 54321;
constexpr int kDefaultBufsize = 1024;

// The frames of one thread: its open messages, newest first, and the closed frames kept
// for its next messages.
struct ThreadFrames {
  LogFrame* open = nullptr;
  LogFrame* spare = nullptr;
  std::ostringstream nowhere;  // the stream of a thread without an open message

  ~ThreadFrames() {
    for (LogFrame* list : {open, spare}) {
      while (list) {
        LogFrame* previous = list->previous;
        delete list;
        list = previous;
      }
    }
  }
};

// The calling thread's frames, made at its first record. The pointer outlives the frames
// (it has no destructor), so that a record written after the thread's thread-local objects
// are gone (from an exit-time destructor, say) finds none and makes new ones, which the
// thread then keeps for the rest of its life.
thread_local ThreadFrames* thread_frames = nullptr;

struct ThreadFramesOwner {
  ~ThreadFramesOwner() {
    delete thread_frames;
    thread_frames = nullptr;
  }
};

ThreadFrames& threadFrames() {
  if (!thread_frames) {
    thread_frames = new ThreadFrames();
    thread_local ThreadFramesOwner owner;  // made once per thread, at its first frames
    (void)owner;
  }
  return *thread_frames;
}

// The calling thread's newest open frame of the logger, with the link that points at it.
LogFrame** openFrameOf(ThreadFrames& frames, const LOGGER_QK* logger) {
  for (LogFrame** link = &frames.open; *link; link = &(*link)->previous)
    if ((*link)->logger == logger) return link;
  return nullptr;
}

// The link that points at an open frame.
LogFrame** linkTo(ThreadFrames& frames, LogFrame* frame) {
  LogFrame** link = &frames.open;
  while (*link && *link != frame) link = &(*link)->previous;
  return *link ? link : nullptr;
}

// Takes the frame off the open list (at link) and keeps it, emptied, for the next message.
void closeFrame(ThreadFrames& frames, LogFrame** link) {
  LogFrame* frame = *link;
  *link = frame->previous;
  frame->logger = nullptr;
  frame->text.str(std::string());
  frame->text.clear();
  frame->previous = frames.spare;
  frames.spare = frame;
}

}  // namespace

LOGGER_QK::LOGGER_QK(StdlogTag)
    : magic_(kMagic),
      sink_(nullptr),
      bufsize_(kDefaultBufsize),
      echo_fd_(-1),
      echo_stream_(nullptr),
      echo_flags_(0) {}

LOGGER_QK::LOGGER_QK() : LOGGER_QK(StdlogTag{}) {
  std::setlocale(LC_ALL, "");
  sink_.store(defaultLogSink(), std::memory_order_release);
}

LOGGER_QK::LOGGER_QK(const char* directory, const char* pattern, int options)
    : LOGGER_QK(StdlogTag{}) {
  std::setlocale(LC_ALL, "");
  defaultLogSink();  // the process settings come first
  sink_.store(new LogSink(directory, pattern, options), std::memory_order_release);
}

LOGGER_QK::~LOGGER_QK() {
  // Messages of this logger still open on this thread are dropped.
  if (thread_frames)
    while (LogFrame** link = openFrameOf(*thread_frames, this)) closeFrame(*thread_frames, link);
  LogSink* own = sink();
  if (own && own != existingDefaultSink()) delete own;
  magic_ = 0;
}

// The level test runs at every call site, and nearly always fails: the failing path reads
// the magic, the sink, the threshold and the filter view, and calls nothing.
bool LOGGER_QK::isOn(const char* source_file, int line, int level) {
  if (magic_ != kMagic) return false;
  LogSink* sink = this->sink();
  if (!sink) return firstTest(source_file, line, level);
  if (!source_file) source_file = "";
  if (!sink->wants(source_file, line, level)) return false;
  return open(source_file, line, level);
}

bool LOGGER_QK::firstTest(const char* source_file, int line, int level) {
  // The first level test in the process makes the default sink; a logger without a sink
  // of its own writes there.
  LogSink* sink = defaultLogSink();
  if (!sink) return false;
  LogSink* none = nullptr;
  if (stdlog) stdlog->sink_.compare_exchange_strong(none, sink, std::memory_order_acq_rel);
  none = nullptr;
  if (!sink_.compare_exchange_strong(none, sink, std::memory_order_acq_rel)) sink = none;
  if (!source_file) source_file = "";
  if (!sink->wants(source_file, line, level)) return false;
  return open(source_file, line, level);
}

bool LOGGER_QK::open(const char* source_file, int line, int level) {
  ThreadFrames& frames = threadFrames();
  LogFrame* frame = frames.spare;
  if (frame)
    frames.spare = frame->previous;
  else
    frame = new LogFrame();
  frame->previous = frames.open;
  frames.open = frame;
  frame->logger = this;
  frame->source_file = source_file;
  frame->line = line;
  frame->level = level;
  return true;
}

std::ostream& LOGGER_QK::stream() {
  ThreadFrames& frames = threadFrames();
  if (LogFrame** link = openFrameOf(frames, this)) return (*link)->text;
  frames.nowhere.str(std::string());
  frames.nowhere.clear();
  return frames.nowhere;
}

void LOGGER_QK::commit() {
  if (!thread_frames) return;
  LogFrame** link = openFrameOf(*thread_frames, this);
  if (!link) return;  // no open message
  LogFrame* frame = *link;
  std::string text = frame->text.str();
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  LogSink* sink = this->sink();

  if (frame->level == SEVERE_ERROR) {
    // The trace shows where the error was found when its first frame lies in the logger.
    const char* trace = platform::stack_text("%f:%l;");
    if (std::strncmp(trace, "logger", 6) == 0)
      writeRecord(sink, SIGNIFICANT, frame->source_file.c_str(), frame->line, trace,
                  std::strlen(trace), echo_fd_, echo_stream_, echo_flags_);
  }
  writeRecord(sink, frame->level, frame->source_file.c_str(), frame->line, text.c_str(),
              text.size(), echo_fd_, echo_stream_, echo_flags_);
  // Messages opened while the record was written (by a log exit function) are closed by
  // then, so the frame is found again where it was.
  if (LogFrame** at = linkTo(*thread_frames, frame)) closeFrame(*thread_frames, at);
}

void LOGGER_QK::setBufsize(int size) {
  if (thread_frames && openFrameOf(*thread_frames, this)) {
    if (size != bufsize_)
      QK_LOG_AT("logger", 529, ERROR) << "Attempt to set logger bufsize to " << size
                                      << " while buffer in use with a size of " << bufsize_;
    return;
  }
  bufsize_ = size;
}
