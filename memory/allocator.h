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
#ifndef QK_MEMORY_ALLOCATOR_H
#define QK_MEMORY_ALLOCATOR_H

#include <cstddef>
#include <cstdint>

class ALLOCATOR_QK {
 public:
  // One hunk: the next (older) hunk, the trace slots (one per object, or none) and the
  // memory block of hunk length bytes.
  struct Hunk {
    Hunk* next;
    void** trace_slots;
    char* block;
  };

  // Longest name an allocator bears; longer names are cut.
  static const std::size_t max_name_length = 29;

  ALLOCATOR_QK(std::uint32_t object_size, std::uint32_t objects_per_hunk, const char* name);
  virtual ~ALLOCATOR_QK();
  ALLOCATOR_QK(const ALLOCATOR_QK&) = delete;
  ALLOCATOR_QK& operator=(const ALLOCATOR_QK&) = delete;

  // One object of the requested size.
  void* alloc();
  // alloc() when size is the requested object size, otherwise a plain heap block of size
  // bytes (after a message).
  void* alloc(std::size_t size);
  // Releases an object; always 0. A second release of the same object is rejected.
  std::uint32_t free(void* address);

  const char* name() const { return name_; }
  std::uint32_t requestedObjectSize() const { return requested_size_; }
  std::uint32_t objectSize() const { return object_size_; }
  std::uint32_t hunkLength() const { return hunk_length_; }
  std::uint32_t objectsPerHunk() const { return objects_per_hunk_; }
  std::uint32_t hunkCount() const { return hunk_count_; }
  std::uint32_t freeObjects() const { return free_objects_; }
  std::uint32_t objectsInUse() const { return objects_in_use_; }
  // Which String representations of this allocator are traced, or nullptr.
  const char* tracePattern() const { return trace_pattern_; }
  // Newest hunk first.
  const Hunk* hunks() const { return hunks_; }

 private:
  void make_hunk();

  Hunk* hunks_ = nullptr;
  std::uint32_t objects_per_hunk_;
  std::uint32_t object_size_;
  std::uint32_t requested_size_;
  std::uint32_t hunk_length_;
  const char* trace_pattern_ = nullptr;
  char* free_head_ = nullptr;
  std::uint32_t hunk_count_ = 0;
  std::uint32_t free_objects_ = 0;
  std::uint32_t objects_in_use_ = 0;
  char name_[max_name_length + 1];
};

// True unless QK_NOFASTMEM is set; reads the environment at each call.
bool fastMemoryEnabled();

#endif
