// StringRep: the shared, reference-counted representation behind String handles.
//
// A representation is one block: a 13-byte packed header (capacity, length, references,
// state) directly followed by the text and its terminating NUL. The capacity is always
// the block size minus 14. Blocks come in size classes of 32, 64, ... 1,048,576 bytes;
// the seven classes up to 2048 bytes come from ALLOCATOR_QK pools, larger ones from the
// C heap.
//
// The operations below take a representation and give back the one the caller's handle
// must hold from then on (the same one or a new, counted one). They never fail: a request
// for more than max_capacity bytes is reported as "String too big" and leaves the
// representation as it was. Source texts may overlap the representation being changed.
//
// Threads: distinct String handles may be used on different threads at the same time,
// also when they share a representation, and a representation may be released on another
// thread than the one that made it. A representation counted once belongs to its one
// handle, which changes it in place. Each thread takes its blocks from pools of its own
// (see string_internal::pool).
//
// Counts are plain integers while one thread (the one that made the first String of the
// process) is all that has used strings; from the first count change on any other thread
// on, every thread changes them atomically. That thread waits a moment before its first
// change, so that a change the first thread began before it could see the switch is
// done.
#ifndef QK_STRING_STRINGREP_H
#define QK_STRING_STRINGREP_H

#include <cstddef>
#include <cstdint>

namespace string_internal {
// True on the thread that made the first String until another thread first changes a
// count (that thread clears it) or the thread ends.
extern __thread bool plain_counting;

inline bool plain_counts() { return __builtin_expect(__atomic_load_n(&plain_counting, __ATOMIC_RELAXED), 1); }
}  // namespace string_internal

#pragma pack(push, 1)
struct StringRep {
  std::int32_t capacity;    // text bytes the block holds, not counting the NUL
  std::int32_t length;      // text bytes in use; text()[length] is 0
  std::int32_t references;  // String handles sharing this representation
  std::uint8_t state;       // 0 after every rewrite in place or make-private

  static const int header_size = 13;
  static const int overhead = 14;  // header and terminating NUL
  static const int smallest_block = 32;
  static const int largest_block = 1 << 20;
  static const int max_capacity = largest_block - overhead;  // 1,048,562
  static const int pooled_classes = 7;                       // 32 to 2048 bytes

  // The count, read so that what the handles released before is seen (acquire).
  std::int32_t count() const { return __atomic_load_n(count_word(), __ATOMIC_ACQUIRE); }
  // One handle more.
  void hold() {
    if (string_internal::plain_counts())
      ++*count_word();
    else
      hold_atomic();
  }
  // One handle less; the count before. A result of 1 leaves the block to the caller.
  std::int32_t drop() { return string_internal::plain_counts() ? (*count_word())-- : drop_atomic(); }

  char* text() { return reinterpret_cast<char*>(this) + header_size; }
  const char* text() const { return reinterpret_cast<const char*>(this) + header_size; }

  // The process-wide empty representation (capacity 0, never counted, never released).
  static StringRep* empty();

  // True for the empty representation and for a representation whose capacity is one of
  // the size classes' and not less than its length (which is not negative).
  static bool valid(const StringRep* rep) {
    if (!rep) return false;
    if (rep == empty_instance) return true;
    const std::uint32_t capacity = static_cast<std::uint32_t>(rep->capacity);
    const std::uint32_t block = capacity + overhead;
    // capacity in [18, max_capacity], block a power of two, 0 <= length <= capacity
    return capacity - (smallest_block - overhead) <= static_cast<std::uint32_t>(max_capacity - (smallest_block - overhead)) &&
           (block & (block - 1)) == 0 && static_cast<std::uint32_t>(rep->length) <= capacity;
  }

  // Block size for a text of n bytes, or 0 when n exceeds max_capacity.
  static std::int64_t block_for(std::int64_t n);

  // A new representation holding n bytes of text (n -1: strlen), counts 0. With a null
  // text the length is n (0 for n -1) and the caller fills the bytes.
  static StringRep* create(const char* text, int n);
  // The text becomes the n bytes of text; a new representation if rep is shared or small.
  static StringRep* replace(StringRep* rep, const char* text, int n);
  // A copy of rep's text in a representation of the caller's own.
  static StringRep* make_private(StringRep* rep);
  // A private representation with room for extra more bytes.
  static StringRep* grow(StringRep* rep, std::int64_t extra);
  static StringRep* append(StringRep* rep, const char* text, int n);
  static StringRep* prepend(StringRep* rep, const char* text, int n);
  // Replaces oldlen bytes at pos by the n bytes of text; pos and oldlen must lie in the text.
  static StringRep* splice(StringRep* rep, int pos, int oldlen, const char* text, int n);
  // A new representation of the size class for capacity + extra, if extra > 0.
  static StringRep* enlarge(StringRep* rep, std::int64_t extra);
  // Drops one handle's reference; the last one returns the block to its pool or heap.
  static void release(StringRep* rep);

  static StringRep* empty_instance;  // made by empty()

 private:
  // The references field, aligned as every block is.
  std::int32_t* count_word() const {
    return reinterpret_cast<std::int32_t*>(const_cast<char*>(reinterpret_cast<const char*>(this)) + 8);
  }
  void hold_atomic();
  std::int32_t drop_atomic();
};
#pragma pack(pop)

static_assert(sizeof(StringRep) == 13, "the representation header is 13 bytes");
static_assert(offsetof(StringRep, length) == 4 && offsetof(StringRep, references) == 8 &&
                  offsetof(StringRep, state) == 12,
              "header fields in their fixed places");

#endif
