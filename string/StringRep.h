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
#ifndef QK_STRING_STRINGREP_H
#define QK_STRING_STRINGREP_H

#include <cstddef>
#include <cstdint>

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
};
#pragma pack(pop)

static_assert(sizeof(StringRep) == 13, "the representation header is 13 bytes");
static_assert(offsetof(StringRep, length) == 4 && offsetof(StringRep, references) == 8 &&
                  offsetof(StringRep, state) == 12,
              "header fields in their fixed places");

#endif
