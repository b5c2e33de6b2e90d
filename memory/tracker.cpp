// Trackers, the objects they hold and the visitors that walk them.
#include "memory/tracker.h"

#include <cstring>

#include "log/logger.h"

namespace {

LoggerGuard logger_guard;

void log_error(int line, const char* text, std::int32_t number, bool with_number) {
  if (with_number)
    QK_LOG_AT("tracker", line, ERROR) << text << number;
  else
    QK_LOG_AT("tracker", line, ERROR) << text;
}

}  // namespace

Trackable::Trackable(const char* name) {
  std::memset(name_, 0, sizeof name_);
  if (name) std::strncpy(name_, name, sizeof name_ - 1);
}

Trackable::~Trackable() = default;

int Trackable::accept(Visitor& visitor) { return visitor.visit(this, nullptr); }

Visitor::Visitor(std::ostream* out) : out_(out), caller_stream_(out != nullptr) {}

Visitor::~Visitor() = default;

HolderItr::~HolderItr() = default;

Holder::~Holder() = default;

Tracker::Tracker() : holder_(nullptr), visitor_(nullptr) {}

Tracker::~Tracker() {
  delete holder_;
  delete visitor_;
}

int Tracker::visit(const char* options, std::ostream* out) { return visit(out, options); }

std::int32_t Tracker::enter(Trackable* object) {
  if (!holder_) {
    log_error(__LINE__, "Enter without holder.", 0, false);
    return -1;
  }
  holder_->enter(object);
  return 0;
}

std::int32_t Tracker::remove(Trackable* object) {
  if (!holder_) {
    log_error(__LINE__, "Remove without holder.", 0, false);
    return -1;
  }
  const std::int32_t result = holder_->remove(object);
  if (result != 0) log_error(__LINE__, "Error removing object:", result, true);
  return result;
}

Visitor* Tracker::exchangeVisitor(Visitor* visitor) {
  Visitor* old = visitor_;
  visitor_ = visitor;
  return old;
}

int Tracker::visit(std::ostream* out, const char* options) {
  if (!visitor_ || !holder_) {
    log_error(__LINE__, "Visit called with null holder or vistor.", 0, false);
    return -1;
  }
  visitor_->begin(out, options);
  HolderItr* it = holder_->makeIterator();
  for (Trackable* object = it->first(); !it->done(); object = it->next())
    if (object) visitor_->visit(object, options);
  holder_->deleteIterator(it);
  return visitor_->end(options);
}

void Tracker::setHolder(Holder* holder) {
  if (holder == holder_) return;
  delete holder_;
  holder_ = holder;
}

void Tracker::setVisitor(Visitor* visitor) {
  if (visitor == visitor_) return;
  delete visitor_;
  visitor_ = visitor;
}

AllocatorTrackerQK::AllocatorTrackerQK() = default;

AllocatorTrackerQK::~AllocatorTrackerQK() = default;

std::int32_t AllocatorTrackerQK::enter(Trackable* object) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return Tracker::enter(object);
}

std::int32_t AllocatorTrackerQK::remove(Trackable* object) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return Tracker::remove(object);
}

Visitor* AllocatorTrackerQK::exchangeVisitor(Visitor* visitor) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return Tracker::exchangeVisitor(visitor);
}

int AllocatorTrackerQK::visit(std::ostream* out, const char* options) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return Tracker::visit(out, options);
}
