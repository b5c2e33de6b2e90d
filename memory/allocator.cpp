// The fixed-size allocator: hunks carved into objects, a free chain through the objects,
// the debugging options and the allocator registry.
#include "memory/allocator.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <new>

#include "env/env.h"
#include "log/logger.h"
#include "memory/lsthldr.h"
#include "platform/debug_break/debug_break.h"
#include "platform/process/process.h"

#define QK_LOG_SOURCE "allocator"

// QK_ADDRESS_SANITIZER is defined by the build for AddressSanitizer builds.
#ifdef QK_ADDRESS_SANITIZER
#define QK_ASAN 1
#endif
#ifdef QK_ASAN
#include <sanitizer/asan_interface.h>
#endif

#if defined(__GNUC__)
#define QK_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define QK_UNLIKELY(x) (x)
#endif

namespace {

LoggerGuard logger_guard;

const unsigned char free_mark[4] = {0xDE, 0xAD, 0xBE, 0xEF};
const std::size_t mark_offset = 4;
const std::size_t link_offset = sizeof(void*) == 4 ? 0 : 8;
const std::uint32_t header_size = ALLOCATOR_QK::min_object_size;  // link and mark
const std::uint32_t pointer_size = sizeof(void*);

const char* const trace_everything = "*";

// DECIDING: the settings lookup that decides is running; it may itself allocate, and
// those requests are pooled.
enum FastMemory { UNDETERMINED, DECIDING, FAST_ON, FAST_OFF };
// Threads that make their first allocation at once may all decide; they decide alike.
// Relaxed loads: the common path reads it as a plain word.
std::atomic<FastMemory> fast_memory{UNDETERMINED};

// Made once, by the first thread that asks, under registry_creation.
std::atomic<AllocatorTrackerQK*> registry{nullptr};
std::mutex registry_creation;
std::atomic<VisitorFactory> visitor_factory{nullptr};

// A visitor made by the report's factory, for a registry that has none.
void give_visitor(AllocatorTrackerQK* tracker) {
  const VisitorFactory factory = visitor_factory.load();
  if (!factory || tracker->visitor()) return;
  if (Visitor* visitor = factory()) tracker->setVisitor(visitor);
}

// QK_FATAL_ALLOCATOR_ERROR, read by each check at its first need: -1 not read yet.
int thread_alloc_break = -1;
int thread_free_break = -1;
int corrupt_chain_level = -1;
int skipped_request_level = -1;
int double_delete_level = -1;

// FATAL when QK_FATAL_ALLOCATOR_ERROR has a value, else SEVERE_ERROR.
int error_level(int& cache) {
  if (cache < 0) {
    const char* value = env_lookup("QK_FATAL_ALLOCATOR_ERROR", 0);
    cache = value && *value ? FATAL : SEVERE_ERROR;
  }
  return cache;
}

// A debug break is asked for when QK_FATAL_ALLOCATOR_ERROR is at most one character long
// or names the operation.
bool break_wanted(int& cache, const char* operation) {
  if (cache < 0) {
    const char* value = env_lookup("QK_FATAL_ALLOCATOR_ERROR", 0);
    cache = value && (std::strlen(value) <= 1 || std::strstr(value, operation)) ? 1 : 0;
  }
  return cache == 1;
}

std::uint32_t current_thread() { return static_cast<std::uint32_t>(platform::thread_id()); }

// An address as the Windows stream prints a pointer: upper-case hexadecimal, zero-filled
// to the pointer's width, with no prefix.
struct Address {
  char text[2 * sizeof(void*) + 1];
  explicit Address(const void* pointer) {
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(pointer);
    const int digits = 2 * sizeof(void*);
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[i] = "0123456789ABCDEF"[value & 15];
    text[digits] = 0;
  }
};

std::ostream& operator<<(std::ostream& out, const Address& address) { return out << address.text; }

// Under AddressSanitizer a free object is poisoned whole; the allocator unpoisons the
// bytes it reads or writes itself, so that any other access to a free object is caught as
// it would be in a released heap block. (Poisoning may leave out a partial granule at
// either end of a region; it never reaches outside it.)
#ifdef QK_ASAN
void poison(const char* at, std::size_t size) { ASAN_POISON_MEMORY_REGION(at, size); }
void unpoison(const char* at, std::size_t size) { ASAN_UNPOISON_MEMORY_REGION(at, size); }
bool is_poisoned(const char* at, std::size_t size) {
  return __asan_region_is_poisoned(const_cast<char*>(at), size) != nullptr;
}
#else
void poison(const char*, std::size_t) {}
void unpoison(const char*, std::size_t) {}
bool is_poisoned(const char*, std::size_t) { return false; }
#endif

bool has_free_mark(const char* object) { return std::memcmp(object + mark_offset, free_mark, 4) == 0; }

char* next_free(const char* object) {
  char* next;
  std::memcpy(&next, object + link_offset, sizeof next);
  return next;
}

void set_next_free(char* object, char* next) { std::memcpy(object + link_offset, &next, sizeof next); }

// The header (link and mark) of an object that may be free, opened for reading while the
// window lives and left as poisoned or not as it was found.
class HeaderWindow {
 public:
  explicit HeaderWindow(const char* object) : object_(object), poisoned_(is_poisoned(object, header_size)) {
    if (poisoned_) unpoison(object, header_size);
  }
  ~HeaderWindow() {
    if (poisoned_) poison(object_, header_size);
  }
  HeaderWindow(const HeaderWindow&) = delete;
  HeaderWindow& operator=(const HeaderWindow&) = delete;

 private:
  const char* object_;
  bool poisoned_;
};

bool peek_free_mark(const char* object) {
  HeaderWindow window(object);
  return has_free_mark(object);
}

char* peek_next_free(const char* object) {
  HeaderWindow window(object);
  return next_free(object);
}

void decide_fast_memory() {
  fast_memory.store(DECIDING, std::memory_order_relaxed);
  fast_memory.store(fastMemoryEnabled() ? FAST_ON : FAST_OFF, std::memory_order_relaxed);
}

FastMemory fast_memory_state() { return fast_memory.load(std::memory_order_relaxed); }

}  // namespace

bool fastMemoryEnabled() { return env_lookup("QK_NOFASTMEM", 0) == nullptr; }

bool fastMemoryInUse() { return fast_memory_state() == FAST_ON; }

#ifdef QK_ASAN
bool freeObjectsPoisoned() { return true; }
#else
bool freeObjectsPoisoned() { return false; }
#endif

AllocatorTrackerQK* allocatorTracker() {
  if (AllocatorTrackerQK* made = registry.load(std::memory_order_acquire)) return made;
  std::lock_guard<std::mutex> hold(registry_creation);
  if (!registry.load(std::memory_order_relaxed)) {
    AllocatorTrackerQK* tracker = new (std::nothrow) AllocatorTrackerQK;
    ListHolderQK* holder = tracker ? new (std::nothrow) ListHolderQK : nullptr;
    if (!holder) {
      delete tracker;
      QK_LOG(FATAL) << "Unable to create AllocatorTracker on heap.";
      return nullptr;
    }
    tracker->setHolder(holder);
    // Set before the visitor is made, which may itself allocate.
    registry.store(tracker, std::memory_order_release);
    give_visitor(tracker);
  }
  return registry.load(std::memory_order_relaxed);
}

void setAllocatorVisitorFactory(VisitorFactory factory) {
  visitor_factory.store(factory);
  if (AllocatorTrackerQK* tracker = registry.load(std::memory_order_acquire)) give_visitor(tracker);
}

void bindAllToCurrentThread() {
  AllocatorTrackerQK* tracker = allocatorTracker();
  if (!tracker || !tracker->holder()) return;
  const std::uint32_t thread = current_thread();
  std::lock_guard<AllocatorTrackerQK> hold(*tracker);
  Holder* holder = tracker->holder();
  HolderItr* it = holder->makeIterator();
  for (Trackable* object = it->first(); !it->done(); object = it->next()) {
    ALLOCATOR_QK* allocator = dynamic_cast<ALLOCATOR_QK*>(object);
    if (!allocator) continue;
    QK_LOG(MILESTONE) << "Changing binding of Allocator " << allocator->name() << " ("
                      << allocator->requested_size_ << ") from thread " << allocator->bound_thread_
                      << " to thread " << thread;
    allocator->bound_thread_ = thread;
  }
  holder->deleteIterator(it);
}

ALLOCATOR_QK::ALLOCATOR_QK(std::uint32_t object_size, std::uint32_t objects_per_hunk, const char* name)
    : Trackable(name),
      objects_per_hunk_(objects_per_hunk == 0 ? 1 : objects_per_hunk),
      object_size_(object_size),
      requested_size_(object_size),
      hunk_length_(0),
      bound_thread_(current_thread()),
      creating_thread_(bound_thread_) {
  if (AllocatorTrackerQK* tracker = allocatorTracker()) tracker->enter(this);
  // Room for the link and the free mark in every object, objects aligned for a pointer,
  // and a hunk length that fits. A size that has no such multiple within 32 bits makes no
  // hunk at all (hunk length 0): every request of that allocator goes to the heap.
  if (object_size_ < min_object_size) object_size_ = min_object_size;
  if (object_size_ > UINT32_MAX - (pointer_size - 1)) {
    QK_LOG(error_level(skipped_request_level))
        << "ALLOCATOR " << Trackable::name() << " (" << requested_size_
        << ") object size too large for a hunk: every request goes to the heap";
  } else {
    if (object_size_ % pointer_size) object_size_ += pointer_size - object_size_ % pointer_size;
    if (objects_per_hunk_ > UINT32_MAX / object_size_) objects_per_hunk_ = UINT32_MAX / object_size_;
    hunk_length_ = object_size_ * objects_per_hunk_;
  }
  setDebugOptions();
}

ALLOCATOR_QK::~ALLOCATOR_QK() {
  while (hunks_) {
    Hunk* next = hunks_->next;
    unpoison(hunks_->block, hunk_length_);
    ::operator delete(hunks_->block);
    if (hunks_->trace_slots) {
      for (std::uint32_t k = 0; k < objects_per_hunk_; ++k) std::free(hunks_->trace_slots[k]);
      delete[] hunks_->trace_slots;
    }
    delete hunks_;
    hunks_ = next;
  }
  drop_trace_pattern();
  if (AllocatorTrackerQK* tracker = registry.load(std::memory_order_acquire)) tracker->remove(this);
}

void ALLOCATOR_QK::drop_trace_pattern() {
  if (trace_pattern_ != trace_everything) delete[] trace_pattern_;
  trace_pattern_ = nullptr;
}

namespace {
DebugSwitchesFunction debug_switches = nullptr;
}  // namespace

void setDebugSwitchesFunction(DebugSwitchesFunction function) { debug_switches = function; }

void ALLOCATOR_QK::refresh_slow() {
  const std::uint32_t slow =
      debug_flags_ != 0 || fast_memory_state() != FAST_ON || hunk_length_ == 0 || freeObjectsPoisoned();
  if (slow != slow_) slow_ = slow;  // written by the owner only when it changes
}

void ALLOCATOR_QK::setDebugOptions(const char* options) {
  debug_flags_ = 0;
  const char* text = options ? options : env_lookup("QK_MEMDEBUG", 0);
  if (!text) {
    refresh_slow();
    return;
  }
  static const struct {
    const char* word;
    std::uint32_t flag;
  } words[] = {{"CLEAR", DEBUG_CLEAR},   {"FREE", DEBUG_FREE},     {"NOREF", DEBUG_NOREF},
               {"VERIFY", DEBUG_VERIFY}, {"THREAD", DEBUG_THREAD}, {"TRACE", DEBUG_TRACE},
               {"String", DEBUG_TRACE}};
  for (const auto& w : words)
    if (std::strstr(text, w.word)) debug_flags_ |= w.flag;
  refresh_slow();
  if (debug_switches) debug_switches((debug_flags_ & DEBUG_TRACE) != 0, (debug_flags_ & DEBUG_NOREF) != 0);
  if (!(debug_flags_ & DEBUG_TRACE)) {
    drop_trace_pattern();
    return;
  }
  const std::size_t length = std::strlen(name());
  if (length < 7 || std::strncmp(name(), "String", 6) != 0) return;
  drop_trace_pattern();
  trace_pattern_ = trace_everything;
  // Hunks made before tracing was asked for get their slots now.
  for (Hunk* hunk = hunks_; hunk; hunk = hunk->next)
    if (!hunk->trace_slots) hunk->trace_slots = new void*[objects_per_hunk_]();
  if (!std::strstr(text, "String")) return;
  const char* named = std::strstr(text, name());
  if (!named) {
    trace_pattern_ = nullptr;
    return;
  }
  const char* open = named + length;
  if (*open != '(') return;
  const char* close = std::strchr(open + 1, ')');
  if (!close) return;
  const std::size_t pattern_length = static_cast<std::size_t>(close - open - 1);
  if (pattern_length == 0 || (pattern_length == 1 && open[1] == '*')) return;
  char* pattern = new char[pattern_length + 1];
  std::memcpy(pattern, open + 1, pattern_length);
  pattern[pattern_length] = 0;
  trace_pattern_ = pattern;
}

void ALLOCATOR_QK::bindToCurrentThread() { bound_thread_ = current_thread(); }

void ALLOCATOR_QK::dumpHunks() const {
  for (const Hunk* hunk = hunks_; hunk; hunk = hunk->next)
    std::cout << "@" << Address(hunk) << ":  " << Address(hunk->block) << " ";
  std::cout << std::endl;
}

void ALLOCATOR_QK::make_hunk() {
  Hunk* hunk = new Hunk;
  hunk->block = static_cast<char*>(::operator new(hunk_length_));
  hunk->trace_slots = trace_pattern_ ? new void*[objects_per_hunk_]() : nullptr;
  hunk->carved = 0;
  poison(hunk->block, hunk_length_);
  hunk->next = hunks_;
  hunks_ = hunk;
  ++hunk_count_;
}

bool ALLOCATOR_QK::is_object(const char* address) const {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(address);
  for (const Hunk* hunk = hunks_; hunk; hunk = hunk->next) {
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(hunk->block);
    if (at >= start && at - start < static_cast<std::uintptr_t>(object_size_) * hunk->carved)
      return (at - start) % object_size_ == 0;
  }
  return false;
}

bool ALLOCATOR_QK::on_free_chain(const char* address) const {
  for (const char* object = free_head_; object; object = peek_next_free(object))
    if (object == address) return true;
  return false;
}

bool ALLOCATOR_QK::holdsFreeMark(const void* object) const {
  return peek_free_mark(static_cast<const char*>(object));
}

const void* ALLOCATOR_QK::nextFree(const void* object) const {
  return peek_next_free(static_cast<const char*>(object));
}

bool ALLOCATOR_QK::thread_is_wrong(bool freeing) const {
  const std::uint32_t thread = current_thread();
  return thread != bound_thread_ && (!freeing || thread != creating_thread_);
}

void ALLOCATOR_QK::report_thread(int line, const char* operation) {
  QK_LOG_AT("allocator", line, SEVERE_ERROR)
      << "ALLOCATOR " << name() << " (" << requested_size_ << ") " << operation
      << "() function called from thread " << current_thread() << " but is bound to thread " << bound_thread_;
  const bool freeing = operation[0] == 'f';
  if (freeing ? break_wanted(thread_free_break, "FREE") : break_wanted(thread_alloc_break, "ALLOC"))
    platform::debug_break_if_attached();
}

// Everything the pop in the header leaves: the thread check, the pooling decision, a new
// hunk, a corrupted chain, and the pop itself under AddressSanitizer.
void* ALLOCATOR_QK::alloc_slow() {
  // An allocator made before pooling was decided takes the pop and push from its first
  // call after the decision on.
  refresh_slow();
  if (QK_UNLIKELY(debug_flags_ & DEBUG_THREAD) && thread_is_wrong(false)) report_thread(__LINE__, "alloc");
  if (QK_UNLIKELY(fast_memory_state() != FAST_ON)) {
    if (fast_memory_state() == UNDETERMINED) decide_fast_memory();
    if (fast_memory_state() == FAST_OFF) return ::operator new(requested_size_);
    refresh_slow();  // decided just now
  }
  if (QK_UNLIKELY(!free_head_)) {
    if (hunk_length_ == 0) return ::operator new(requested_size_);
    // The next object never used, of the newest hunk (the older ones are all in use or
    // on the chain), or of a new one.
    if (!hunks_ || hunks_->carved == objects_per_hunk_) make_hunk();
    char* object = hunks_->block + static_cast<std::size_t>(object_size_) * hunks_->carved++;
    unpoison(object, object_size_);
    std::memset(object + mark_offset, 0, 4);
    ++objects_in_use_;
    return object;
  }
  char* object = free_head_;
  unpoison(object, object_size_);
  if (QK_UNLIKELY(!has_free_mark(object))) return report_corrupt_chain();
  free_head_ = next_free(object);
  std::memset(object + mark_offset, 0, 4);
  ++objects_in_use_;
  return object;
}

void* ALLOCATOR_QK::report_corrupt_chain() {
  const int level = error_level(corrupt_chain_level);
  QK_LOG(level) << "Allocator " << name() << " free chain pointer " << Address(free_head_)
                << " references a corrupted allocator";
  return ::operator new(requested_size_);
}

void* ALLOCATOR_QK::alloc(std::size_t size) {
  if (size == requested_size_) return alloc();
  const int level = error_level(skipped_request_level);
  QK_LOG(level) << requested_size_ << " allocator skipped for request for " << size;
  return ::operator new(size);
}

// Everything the push in the header leaves: the thread check, objects of the heap, the
// debug checks, a double release, and the push itself under AddressSanitizer.
std::uint32_t ALLOCATOR_QK::free_slow(void* address) {
  refresh_slow();
  if (QK_UNLIKELY(debug_flags_ & DEBUG_THREAD) && thread_is_wrong(true)) report_thread(__LINE__, "free");
  if (!address) return 0;
  char* object = static_cast<char*>(address);
  if (QK_UNLIKELY(fast_memory_state() != FAST_ON)) {
    const FastMemory state = fast_memory_state();
    if (state == UNDETERMINED)
      QK_LOG(FATAL) << "Free called befor alloc";
    // Objects pooled while the first alloc() was deciding go back to their hunk.
    if (state == UNDETERMINED || (state == FAST_OFF && !is_object(object))) {
      ::operator delete(address);
      return 0;
    }
  }
  if (QK_UNLIKELY(hunk_length_ == 0)) {  // no hunk: the object came from the heap
    ::operator delete(address);
    return 0;
  }
  if (QK_UNLIKELY(debug_flags_ != 0) && !free_checks(object)) return 0;
  const bool was_poisoned = is_poisoned(object, header_size);
  unpoison(object, header_size);
  if (QK_UNLIKELY(has_free_mark(object))) {
    report_double_delete(__LINE__, object, was_poisoned);
    return 0;
  }
  std::memcpy(object + mark_offset, free_mark, 4);
  set_next_free(object, free_head_);
  poison(object, object_size_);
  free_head_ = object;
  --objects_in_use_;
  return 0;
}

// The checks of the debug flags before a release; false when the release is refused.
bool ALLOCATOR_QK::free_checks(char* object) {
  if ((debug_flags_ & DEBUG_VERIFY) && !is_object(object)) {
    QK_LOG(SEVERE_ERROR) << "Attempt to free Allocator " << name() << " 0x" << Address(object)
                         << " rejected - address not allocated";
    return false;
  }
  // An object that is free already keeps its mark, so that its second release is
  // rejected and never links it into the chain twice.
  if ((debug_flags_ & DEBUG_CLEAR) && !peek_free_mark(object)) std::memset(object, 0, requested_size_);
  if ((debug_flags_ & DEBUG_FREE) && on_free_chain(object)) {
    QK_LOG(FATAL) << "Address " << Address(object) << " freed more than once";
    // Linked already: whatever became of its mark, it is not linked again.
    report_double_delete(__LINE__, object, true);
    return false;
  }
  return true;
}

void ALLOCATOR_QK::report_double_delete(int line, char* object, bool free_object) {
  if (free_object) poison(object, object_size_);
  const int level = error_level(double_delete_level);
  QK_LOG_AT("allocator", line, level) << "Attempt to free Allocator " << name() << " 0x" << Address(object)
                                      << " rejected - probable double delete";
}
