// The fixed-size allocator: hunks carved into objects, a free chain through the objects.
//
// A free object carries the free mark, the bytes DE AD BE EF, in bytes 4 to 7 and the
// address of the next free object in bytes 0 to 3 (32-bit builds) or 8 to 15 (64-bit
// builds); an object handed out has its mark cleared.
#include "memory/allocator.h"

#include <cstring>
#include <new>

#include "env/env.h"
#include "log/logger.h"

#if defined(__SANITIZE_ADDRESS__)
#define QK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QK_ASAN 1
#endif
#endif
#ifdef QK_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

LoggerGuard logger_guard;

const unsigned char free_mark[4] = {0xDE, 0xAD, 0xBE, 0xEF};
const std::size_t mark_offset = 4;
const std::size_t link_offset = sizeof(void*) == 4 ? 0 : 8;
const std::uint32_t smallest_object = static_cast<std::uint32_t>(link_offset + sizeof(void*));

enum FastMemory { UNDETERMINED, FAST_ON, FAST_OFF };
FastMemory fast_memory = UNDETERMINED;

bool has_free_mark(const char* object) { return std::memcmp(object + mark_offset, free_mark, 4) == 0; }

char* next_free(const char* object) {
  char* next;
  std::memcpy(&next, object + link_offset, sizeof next);
  return next;
}

void set_next_free(char* object, char* next) { std::memcpy(object + link_offset, &next, sizeof next); }

// Under AddressSanitizer a free object is poisoned behind its link and mark, so that a
// stray access to it is caught as it would be in a heap block.
void poison_free_object(char* object, std::uint32_t size) {
#ifdef QK_ASAN
  ASAN_POISON_MEMORY_REGION(object + smallest_object, size - smallest_object);
#else
  (void)object;
  (void)size;
#endif
}

void unpoison_object(char* object, std::uint32_t size) {
#ifdef QK_ASAN
  ASAN_UNPOISON_MEMORY_REGION(object, size);
#else
  (void)object;
  (void)size;
#endif
}

}  // namespace

bool fastMemoryEnabled() { return env_lookup("QK_NOFASTMEM", 0) == nullptr; }

ALLOCATOR_QK::ALLOCATOR_QK(std::uint32_t object_size, std::uint32_t objects_per_hunk, const char* name)
    : objects_per_hunk_(objects_per_hunk == 0 ? 1 : objects_per_hunk),
      object_size_(object_size < smallest_object ? smallest_object : object_size),
      requested_size_(object_size),
      hunk_length_(0) {
  hunk_length_ = object_size_ * objects_per_hunk_;
  std::size_t n = 0;
  if (name) {
    while (n < max_name_length && name[n]) ++n;
    std::memcpy(name_, name, n);
  }
  name_[n] = 0;
}

ALLOCATOR_QK::~ALLOCATOR_QK() {
  while (hunks_) {
    Hunk* next = hunks_->next;
    unpoison_object(hunks_->block, hunk_length_);
    ::operator delete(hunks_->block);
    delete[] hunks_->trace_slots;
    delete hunks_;
    hunks_ = next;
  }
}

void ALLOCATOR_QK::make_hunk() {
  Hunk* hunk = new Hunk;
  hunk->block = static_cast<char*>(::operator new(hunk_length_));
  hunk->trace_slots = nullptr;
  if (trace_pattern_) hunk->trace_slots = new void*[objects_per_hunk_]();
  char* last = hunk->block + static_cast<std::size_t>(object_size_) * (objects_per_hunk_ - 1);
  for (char* object = hunk->block; object <= last; object += object_size_) {
    set_next_free(object, object == last ? nullptr : object + object_size_);
    std::memcpy(object + mark_offset, free_mark, 4);
    poison_free_object(object, object_size_);
  }
  free_head_ = hunk->block;
  hunk->next = hunks_;
  hunks_ = hunk;
  ++hunk_count_;
  free_objects_ += objects_per_hunk_;
}

void* ALLOCATOR_QK::alloc() {
  if (fast_memory == UNDETERMINED) fast_memory = fastMemoryEnabled() ? FAST_ON : FAST_OFF;
  if (fast_memory == FAST_OFF) return ::operator new(requested_size_);
  if (!free_head_) make_hunk();
  char* object = free_head_;
  if (!has_free_mark(object)) {
    if (stdlog && stdlog->isOn("allocator", __LINE__, SEVERE_ERROR)) {
      stdlog->stream() << "Allocator " << name_ << " free chain pointer " << static_cast<void*>(object)
                       << " references a corrupted allocator";
      stdlog->commit();
    }
    return ::operator new(requested_size_);
  }
  free_head_ = next_free(object);
  unpoison_object(object, object_size_);
  std::memset(object + mark_offset, 0, 4);
  ++objects_in_use_;
  --free_objects_;
  return object;
}

void* ALLOCATOR_QK::alloc(std::size_t size) {
  if (size == requested_size_) return alloc();
  if (stdlog && stdlog->isOn("allocator", __LINE__, SEVERE_ERROR)) {
    stdlog->stream() << requested_size_ << " allocator skipped for request for " << size;
    stdlog->commit();
  }
  return ::operator new(size);
}

std::uint32_t ALLOCATOR_QK::free(void* address) {
  if (!address) return 0;
  if (fast_memory == UNDETERMINED) {
    if (stdlog && stdlog->isOn("allocator", __LINE__, FATAL)) {
      stdlog->stream() << "Free called befor alloc";
      stdlog->commit();
    }
  }
  if (fast_memory != FAST_ON) {
    ::operator delete(address);
    return 0;
  }
  char* object = static_cast<char*>(address);
  if (has_free_mark(object)) {
    if (stdlog && stdlog->isOn("allocator", __LINE__, SEVERE_ERROR)) {
      stdlog->stream() << "Attempt to free Allocator " << name_ << " 0x" << address
                       << " rejected - probable double delete";
      stdlog->commit();
    }
    return 0;
  }
  std::memcpy(object + mark_offset, free_mark, 4);
  set_next_free(object, free_head_);
  poison_free_object(object, object_size_);
  free_head_ = object;
  --objects_in_use_;
  ++free_objects_;
  return 0;
}
