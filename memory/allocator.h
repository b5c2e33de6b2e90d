// ALLOCATOR_QK: fixed-size objects handed out from large blocks ("hunks") taken from the
// C heap and kept for the allocator's life. Freed objects form a singly linked chain
// inside the objects themselves, so that alloc() and free() are a pop and a push.
//
//   ALLOCATOR_QK pool(64, 1024, "String64");
//   void* p = pool.alloc();
//   pool.free(p);
//
// An allocator is bound to one thread and has no lock. QK_NOFASTMEM, read at the first
// alloc() of the process, turns pooling off: every request then goes to the C heap.
// QK_MEMDEBUG switches on checks (see setDebugOptions) and QK_FATAL_ALLOCATOR_ERROR makes
// the allocator's misuse reports FATAL. Every allocator is entered in the allocator
// registry (allocatorTracker()) while it lives.
//
// A free object carries the free mark, the bytes DE AD BE EF, in bytes 4 to 7, and the
// address of the next free object in bytes 0 to 3 (32-bit builds) or 8 to 15 (64-bit
// builds). Objects are at least min_object_size bytes apart, so that both fit, and a
// multiple of the pointer size, so that every object is aligned for a pointer.
#ifndef QK_MEMORY_ALLOCATOR_H
#define QK_MEMORY_ALLOCATOR_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "memory/tracker.h"

class ALLOCATOR_QK : public Trackable {
 public:
  // One hunk: the next (older) hunk, the trace slots (one per object, or none) and the
  // memory block of hunk length bytes. Trace slot k belongs to the object at block offset
  // k × objectSize(); it is empty or holds a trace record.
  // A block of objects_per_hunk objects. Its objects are handed out in order, each on its
  // first use (so that a block's pages are touched only as they are needed): the first
  // `carved` have been in use, and only they are on the free chain or live; the rest were
  // never touched.
  struct Hunk {
    Hunk* next;
    void** trace_slots;
    char* block;
    std::uint32_t carved;
  };

  // The debug flags, one per word of the option text.
  enum DebugFlag : std::uint32_t {
    DEBUG_CLEAR = 1,    // free() zero-fills the object
    DEBUG_FREE = 2,     // free() looks for the object on the free chain
    DEBUG_TRACE = 4,    // "TRACE" or "String": String representations are traced
    DEBUG_THREAD = 8,   // alloc() and free() check the calling thread
    DEBUG_NOREF = 16,   // String copies do not share representations
    DEBUG_VERIFY = 32,  // free() rejects addresses that are no object of this allocator
  };

  // Longest name an allocator bears; longer names are cut.
  static constexpr std::size_t max_name_length = Trackable::name_size - 1;
  // The least distance between two objects: the link and the free mark.
  static constexpr std::uint32_t min_object_size = sizeof(void*) == 4 ? 8 : 16;

  ALLOCATOR_QK(std::uint32_t object_size, std::uint32_t objects_per_hunk, const char* name);
  ~ALLOCATOR_QK() override;
  ALLOCATOR_QK(const ALLOCATOR_QK&) = delete;
  ALLOCATOR_QK& operator=(const ALLOCATOR_QK&) = delete;

  // One object of the requested size. The common case (pooling on, no debug flag, a free
  // object at hand) is a pop from the free chain, here in the header; all else is alloc_slow.
  void* alloc() {
    char* object = free_head_;
    if (__builtin_expect(slow_ == 0 && object != nullptr && holds_mark(object), 1)) {
      free_head_ = link_of(object);
      const std::uint32_t cleared = 0;
      std::memcpy(object + mark_offset, &cleared, sizeof cleared);
      ++objects_in_use_;
      return object;
    }
    return alloc_slow();
  }
  // alloc() when size is the requested object size, otherwise a plain heap block of size
  // bytes (after a message).
  void* alloc(std::size_t size);
  // Releases an object; always 0. A second release of the same object is rejected. The
  // common case is a push onto the free chain, here in the header; all else is free_slow.
  std::uint32_t free(void* address) {
    char* object = static_cast<char*>(address);
    if (__builtin_expect(slow_ == 0 && object != nullptr && !holds_mark(object), 1)) {
      std::memcpy(object + mark_offset, &free_mark_word, sizeof free_mark_word);
      std::memcpy(object + link_offset, &free_head_, sizeof free_head_);
      free_head_ = object;
      --objects_in_use_;
      return 0;
    }
    return free_slow(address);
  }

  // Sets the debug flags and trace pattern from the option text (nullptr: QK_MEMDEBUG;
  // when that is not set nothing but the flags changes). The words are found anywhere in
  // the text, case-sensitive, without separators: CLEAR, FREE, NOREF, VERIFY, THREAD,
  // TRACE (also "String"). For an allocator named "String..." TRACE sets the pattern "*",
  // or with "<name>(pattern)" in the text that pattern; a text that names other String
  // allocators only leaves it none. Also sets the String module's trace and no-sharing
  // switches from TRACE and NOREF (the last parse of any allocator wins).
  void setDebugOptions(const char* options = nullptr);

  // Binds the allocator to the calling thread, quietly: for an owner that hands its
  // allocator over to another thread (bindAllToCurrentThread logs each change).
  void bindToCurrentThread();

  // Writes "@hunk:  block " for each hunk, newest first, and an end of line to standard
  // output.
  void dumpHunks() const;

  std::uint32_t requestedObjectSize() const { return requested_size_; }
  std::uint32_t objectSize() const { return object_size_; }
  std::uint32_t hunkLength() const { return hunk_length_; }
  std::uint32_t objectsPerHunk() const { return objects_per_hunk_; }
  std::uint32_t hunkCount() const { return hunk_count_; }
  // Every object of the hunks is either free or in use.
  std::uint32_t freeObjects() const { return hunk_count_ * objects_per_hunk_ - objects_in_use_; }
  std::uint32_t objectsInUse() const { return objects_in_use_; }
  std::uint32_t debugFlags() const { return debug_flags_; }
  std::uint32_t boundThread() const { return bound_thread_; }
  std::uint32_t creatingThread() const { return creating_thread_; }
  // Which String representations of this allocator are traced, or nullptr.
  const char* tracePattern() const { return trace_pattern_; }
  // Newest hunk first.
  const Hunk* hunks() const { return hunks_; }
  // True when the object (the start of an object in one of this allocator's hunks) is on
  // the free chain's side: it carries the free mark. Safe under AddressSanitizer, where
  // free objects are poisoned; reports use it before they read an object.
  bool holdsFreeMark(const void* object) const;

  // The free chain, for checks and reports: its first object and the object after one
  // (nullptr at the end). Safe under AddressSanitizer.
  const void* freeChainHead() const { return free_head_; }
  const void* nextFree(const void* object) const;

  // Trace records: a C heap block (malloc) whose first 32-bit word is the block's size,
  // followed by a NUL-terminated text. The String module writes them into the slots; the
  // allocator frees them with its hunks.
  static const char* traceText(const void* record) {
    return static_cast<const char*>(record) + sizeof(std::uint32_t);
  }

 private:
  friend void bindAllToCurrentThread();

  // The free mark as the word it makes in memory.
  static constexpr std::uint32_t free_mark_word = 0xEFBEADDEu;
  static constexpr std::size_t mark_offset = 4;
  static constexpr std::size_t link_offset = sizeof(void*) == 4 ? 0 : 8;

  static bool holds_mark(const char* object) {
    std::uint32_t mark;
    std::memcpy(&mark, object + mark_offset, sizeof mark);
    return mark == free_mark_word;
  }
  static char* link_of(const char* object) {
    char* next;
    std::memcpy(&next, object + link_offset, sizeof next);
    return next;
  }
  // Sets slow_ from the debug flags, the process's pooling decision and the hunk length.
  void refresh_slow();

  void make_hunk();
  void* alloc_slow();
  std::uint32_t free_slow(void* address);
  void* report_corrupt_chain();
  bool free_checks(char* object);
  // free_object: the object is known to be free (it is poisoned again under ASan).
  void report_double_delete(int line, char* object, bool free_object);
  bool thread_is_wrong(bool freeing) const;
  void report_thread(int line, const char* operation);
  // The address is the start of an object in one of the hunks.
  bool is_object(const char* address) const;
  bool on_free_chain(const char* address) const;
  void drop_trace_pattern();

  Hunk* hunks_ = nullptr;
  std::uint32_t objects_per_hunk_;
  std::uint32_t object_size_;
  std::uint32_t requested_size_;
  std::uint32_t hunk_length_;
  const char* trace_pattern_ = nullptr;  // "*" (a constant) or a heap copy
  char* free_head_ = nullptr;
  // Nonzero while anything but a plain pop or push is due: a debug flag, pooling not (yet)
  // decided on, no hunks possible, or a build that poisons free objects.
  std::uint32_t slow_ = 1;
  std::uint32_t debug_flags_ = 0;
  std::uint32_t hunk_count_ = 0;
  std::uint32_t objects_in_use_ = 0;
  std::uint32_t bound_thread_;
  std::uint32_t creating_thread_;
};

// The allocator registry, made at first use (nullptr when it cannot be made), once, also
// when several threads ask at the same time. Every ALLOCATOR_QK is entered at construction
// and removed at destruction, under the registry's lock, so allocators may be made and
// destroyed on any thread; alloc() and free() never take that lock.
AllocatorTrackerQK* allocatorTracker();

// The registry's visitor is the allocator report's (AllocatorVisitorQK), which sits above
// this module; linking the report installs the function that makes one. The registry
// gets its visitor from it when it is made, or at the installation if it was made before
// without one. nullptr removes the function (the visitor given stays).
using VisitorFactory = Visitor* (*)();
void setAllocatorVisitorFactory(VisitorFactory factory);

// Binds every registered allocator to the calling thread (each change is logged), under
// the registry's lock.
void bindAllToCurrentThread();

// The String module's trace and no-sharing switches follow the TRACE and NOREF words each
// time an allocator reads its options. String sits above the allocators, so it installs
// the function that sets them (when it makes its first pool); until then there is nothing
// to switch. nullptr removes it.
using DebugSwitchesFunction = void (*)(int trace, int no_sharing);
void setDebugSwitchesFunction(DebugSwitchesFunction function);

// True unless QK_NOFASTMEM is set; reads the environment at each call.
bool fastMemoryEnabled();

// True once the first alloc() of the process has decided that objects are pooled; false
// before that and when QK_NOFASTMEM turned pooling off.
bool fastMemoryInUse();

// True in the builds that poison free objects (AddressSanitizer), where any access to a
// free object of a hunk is reported as it would be for a released heap block.
bool freeObjectsPoisoned();

#endif
