// Representations: size classes, the pools behind them, and the copy-on-write operations.
#include "string/StringRep.h"

#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "memory/allocator.h"
#include "string/String.h"
#include "string/internal/string_internal.h"

StringRep* StringRep::empty_instance = nullptr;

namespace {

String* null_instance = nullptr;
ALLOCATOR_QK* pools[StringRep::pooled_classes] = {};
const std::uint32_t objects_per_hunk[StringRep::pooled_classes] = {2048, 1024, 512, 256, 128, 64, 32};

// Size class of a block (0 for 32 bytes); block must be a power of two from 32 up.
int size_class(std::int64_t block) {
  int k = 0;
  while ((static_cast<std::int64_t>(StringRep::smallest_block) << k) < block) ++k;
  return k;
}

int normalised_length(const char* text, int n) {
  if (!text) return 0;
  if (n < 0) return static_cast<int>(std::strlen(text));
  return n;
}

// The block for n bytes, or 0 after the "String too big" report.
std::int64_t checked_block(std::int64_t n) {
  const std::int64_t block = StringRep::block_for(n);
  if (block == 0) string_error(n > INT_MAX ? INT_MAX : static_cast<int>(n), "String too big", FATAL);
  return block;
}

// A fresh representation in a block of the given size: counts 0, empty text.
StringRep* new_rep(std::int64_t block) {
  const int k = size_class(block);
  void* memory = k < StringRep::pooled_classes ? string_internal::pool(k).alloc()
                                               : ::operator new(static_cast<std::size_t>(block));
  StringRep* rep = static_cast<StringRep*>(memory);
  rep->capacity = static_cast<std::int32_t>(block - StringRep::overhead);
  rep->length = 0;
  rep->references = 0;
  rep->state = 0;
  rep->text()[0] = 0;
  return rep;
}

void free_rep(StringRep* rep) {
  ALLOCATOR_QK* pool = string_internal::pool_for_capacity(rep->capacity);
  if (pool)
    pool->free(rep);
  else
    ::operator delete(rep);
}

bool shared(const StringRep* rep) { return rep->references > 1; }

// A text that lies in the block of a representation about to change is copied aside first.
const char* outside_of(const StringRep* rep, const char* text, int n, std::string& aside) {
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(rep->text());
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(text);
  if (n > 0 && at + static_cast<std::uintptr_t>(n) > start &&
      at <= start + static_cast<std::uintptr_t>(rep->capacity)) {
    aside.assign(text, static_cast<std::size_t>(n));
    return aside.data();
  }
  return text;
}

void traced(StringRep* rep) {
  if (string_internal::trace_switch) string_internal::trace_check(rep);
}

// A counted copy of rep's text in a block with room for length + extra bytes, or nullptr
// when that is too big; rep itself is left alone.
StringRep* copy_with_room(const StringRep* rep, std::int64_t extra) {
  const std::int64_t block = checked_block(static_cast<std::int64_t>(rep->length) + (extra > 0 ? extra : 0));
  if (block == 0) return nullptr;
  StringRep* copy = new_rep(block);
  std::memcpy(copy->text(), rep->text(), static_cast<std::size_t>(rep->length) + 1);
  copy->length = rep->length;
  copy->references = 1;
  return copy;
}

}  // namespace

namespace string_internal {

const char* const pool_names[StringRep::pooled_classes] = {"String32",  "String64",   "String128", "String256",
                                                           "String556", "String1024", "String2048"};

ALLOCATOR_QK& pool(int k) {
  // The allocators' TRACE and NOREF words drive this module's switches.
  static const bool switches_follow_options = (setDebugSwitchesFunction(string_debug_switches), true);
  (void)switches_follow_options;
  if (!pools[k])
    pools[k] = new ALLOCATOR_QK(static_cast<std::uint32_t>(StringRep::smallest_block) << k, objects_per_hunk[k],
                                pool_names[k]);
  return *pools[k];
}

ALLOCATOR_QK* pool_for_capacity(std::int32_t capacity) {
  for (int k = 0; k < StringRep::pooled_classes; ++k)
    if (capacity == (StringRep::smallest_block << k) - StringRep::overhead) return pools[k];
  return nullptr;
}

}  // namespace string_internal

StringRep* StringRep::empty() {
  if (!empty_instance) {
    // 16 zero bytes: capacity, length and references 0, state 0, text "".
    empty_instance = reinterpret_cast<StringRep*>(new char[16]());
    null_instance = new String();
  }
  return empty_instance;
}

const String& String::nullString() {
  StringRep::empty();
  return *null_instance;
}

std::int64_t StringRep::block_for(std::int64_t n) {
  if (n > max_capacity) return 0;
  std::int64_t block = smallest_block;
  while (block - overhead < n) block *= 2;
  return block;
}

StringRep* StringRep::create(const char* text, int n) {
  // Without a text the n bytes are left for the caller to fill (zeroed meanwhile).
  if (text || n < 0) n = normalised_length(text, n);
  std::int64_t block = checked_block(n);
  if (block == 0) {
    n = 0;
    block = smallest_block;
  }
  StringRep* rep = new_rep(block);
  if (text)
    std::memmove(rep->text(), text, static_cast<std::size_t>(n));
  else
    std::memset(rep->text(), 0, static_cast<std::size_t>(n));
  rep->text()[n] = 0;
  rep->length = n;
  traced(rep);
  return rep;
}

StringRep* StringRep::replace(StringRep* rep, const char* text, int n) {
  n = normalised_length(text, n);
  if (!valid(rep)) rep = empty();
  if (rep == empty_instance && n == 0) return rep;
  if (shared(rep) || n > rep->capacity || rep == empty_instance) {
    const std::int64_t block = checked_block(n);
    if (block == 0) return rep;
    StringRep* fresh = new_rep(block);
    // The old text stays alive until the copy is made: text may lie in it.
    std::memcpy(fresh->text(), text, static_cast<std::size_t>(n));
    fresh->references = 1;
    release(rep);
    rep = fresh;
  } else {
    std::memmove(rep->text(), text, static_cast<std::size_t>(n));
  }
  rep->text()[n] = 0;
  rep->length = n;
  rep->state = 0;
  traced(rep);
  return rep;
}

StringRep* StringRep::make_private(StringRep* rep) {
  if (!valid(rep)) return empty();
  if (rep == empty_instance) return rep;
  if (shared(rep)) {
    StringRep* copy = copy_with_room(rep, 0);
    --rep->references;
    rep = copy;
    traced(rep);
  }
  rep->state = 0;
  return rep;
}

StringRep* StringRep::grow(StringRep* rep, std::int64_t extra) {
  if (!valid(rep)) rep = empty();
  if (!shared(rep) && (extra <= 0 || rep->length + extra <= rep->capacity)) return rep;
  if (rep == empty_instance && extra <= 0) return rep;
  StringRep* bigger = copy_with_room(rep, extra);
  if (!bigger) return rep;
  release(rep);
  traced(bigger);
  return bigger;
}

namespace {

// Adds n bytes of text at the start or at the end of the representation, copying a text
// that lies inside it aside first; a request that is too big leaves it unchanged.
StringRep* add_at_edge(StringRep* rep, const char* text, int n, bool at_start) {
  n = normalised_length(text, n);
  if (!StringRep::valid(rep)) rep = StringRep::empty();
  if (n == 0) return rep;
  std::string aside;
  text = outside_of(rep, text, n, aside);
  rep = StringRep::grow(rep, n);
  if (shared(rep) || rep->length + static_cast<std::int64_t>(n) > rep->capacity) return rep;  // too big
  if (at_start) {
    std::memmove(rep->text() + n, rep->text(), static_cast<std::size_t>(rep->length) + 1);
    std::memcpy(rep->text(), text, static_cast<std::size_t>(n));
    rep->length += n;
  } else {
    std::memcpy(rep->text() + rep->length, text, static_cast<std::size_t>(n));
    rep->length += n;
    rep->text()[rep->length] = 0;
  }
  rep->state = 0;
  traced(rep);
  return rep;
}

}  // namespace

StringRep* StringRep::append(StringRep* rep, const char* text, int n) {
  return add_at_edge(rep, text, n, false);
}

StringRep* StringRep::prepend(StringRep* rep, const char* text, int n) {
  return add_at_edge(rep, text, n, true);
}

StringRep* StringRep::splice(StringRep* rep, int pos, int oldlen, const char* text, int n) {
  n = normalised_length(text, n);
  if (!valid(rep)) rep = empty();
  if (pos < 0 || oldlen < 0 || static_cast<std::int64_t>(pos) + oldlen > rep->length) return rep;
  if (n == 0 && oldlen == 0) return rep;
  std::string aside;
  text = outside_of(rep, text, n, aside);
  rep = make_private(rep);
  if (n > oldlen) rep = grow(rep, n - oldlen);
  const std::int64_t new_length = static_cast<std::int64_t>(rep->length) + n - oldlen;
  if (shared(rep) || new_length > rep->capacity) return rep;  // too big
  const std::int32_t tail = rep->length - pos - oldlen;
  std::memmove(rep->text() + pos + n, rep->text() + pos + oldlen, static_cast<std::size_t>(tail));
  if (n > 0) std::memcpy(rep->text() + pos, text, static_cast<std::size_t>(n));
  rep->length = static_cast<std::int32_t>(new_length);
  rep->text()[rep->length] = 0;
  rep->state = 0;
  traced(rep);
  return rep;
}

StringRep* StringRep::enlarge(StringRep* rep, std::int64_t extra) {
  if (!valid(rep)) rep = empty();
  if (extra <= 0) return rep;
  StringRep* bigger = copy_with_room(rep, rep->capacity + extra - rep->length);
  if (!bigger) return rep;
  release(rep);
  traced(bigger);
  return bigger;
}

void StringRep::release(StringRep* rep) {
  if (!rep || rep == empty_instance || !valid(rep)) return;
  if (rep->references > 1)
    --rep->references;
  else
    free_rep(rep);
}
