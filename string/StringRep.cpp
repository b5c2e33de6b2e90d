// Representations: size classes, the pools behind them, and the copy-on-write operations.
#include "string/StringRep.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "memory/allocator.h"
#include "platform/process/process.h"
#include "string/String.h"
#include "string/internal/string_internal.h"

StringRep* StringRep::empty_instance = nullptr;

namespace string_internal {

__thread bool plain_counting = false;

namespace {

// Counts are atomic for good once atomic_counts is set; first_thread_counting points to
// the first thread's plain_counting while that thread lives and counts plainly. Both
// change under count_switch.
bool atomic_counts = false;
bool* first_thread_counting = nullptr;
std::mutex count_switch;

// Ends plain counting when the first thread ends (strings destroyed at exit on the main
// thread count atomically).
struct FirstThreadEnd {
  ~FirstThreadEnd() {
    std::lock_guard<std::mutex> hold(count_switch);
    plain_counting = false;
    first_thread_counting = nullptr;
  }
};
thread_local FirstThreadEnd first_thread_end;

// Ends the first thread's plain counting, once, and waits for a plain change it began
// before it saw the switch (that takes nanoseconds).
void switch_to_atomic_counts() {
  std::lock_guard<std::mutex> hold(count_switch);
  if (__atomic_load_n(&atomic_counts, __ATOMIC_RELAXED)) return;
  if (first_thread_counting) __atomic_store_n(first_thread_counting, false, __ATOMIC_SEQ_CST);
  first_thread_counting = nullptr;
  __atomic_store_n(&atomic_counts, true, __ATOMIC_SEQ_CST);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void atomic_counts_wanted() {
  if (!__atomic_load_n(&atomic_counts, __ATOMIC_ACQUIRE)) switch_to_atomic_counts();
}

// Called once, by the thread that makes the first String.
void count_plainly_here() {
  std::lock_guard<std::mutex> hold(count_switch);
  if (atomic_counts) return;
  (void)&first_thread_end;  // made on this thread: its end ends plain counting
  plain_counting = true;
  first_thread_counting = &plain_counting;
}

}  // namespace

}  // namespace string_internal

namespace {

String* null_instance = nullptr;
std::mutex empty_creation;
const std::uint32_t objects_per_hunk[StringRep::pooled_classes] = {2048, 1024, 512, 256, 128, 64, 32};
// Every pool's hunk: objects per hunk × block size.
const std::uintptr_t hunk_bytes = 65536;
const unsigned hunk_shift = 16;

// The pools of one thread. A thread makes its set at its first request for a block and
// leaves it when it ends; a later thread takes over a left set (the oldest) before a new
// one is made, so that sets and their pools are never destroyed under representations
// other threads still hold.
//
// A representation released on another thread than its set's owner goes onto the set's
// returned chain of its class (a lock-free push; the link lies in the text); the owner
// takes the whole chain back into the pool at its next request for that class. A left
// set has no owner: a release into it frees into the pool under sets_mutex.
struct PoolSet {
  ALLOCATOR_QK* pools[StringRep::pooled_classes] = {};
  std::atomic<StringRep*> returned[StringRep::pooled_classes] = {};
  std::atomic<bool> left{false};
  unsigned long owner = 0;  // the owning thread's id (under sets_mutex)
  int number = 0;  // 0 for the first set, whose pools bear the plain names
  PoolSet* next = nullptr;
};

// Sets in the order they were made; made, left and taken over under sets_mutex.
std::mutex sets_mutex;
PoolSet* all_sets = nullptr;
std::atomic<PoolSet*> first_set{nullptr};
std::atomic<int> set_count{0};

thread_local PoolSet* my_set = nullptr;

// Leaves the thread's set when the thread ends. It finds the set by the thread's id: where
// thread-local objects are emulated (MinGW), the keeper's own storage may be gone when
// its destructor runs.
struct SetKeeper {
  ~SetKeeper();
};
thread_local SetKeeper keeper;

// Where the hunks of every set but the first lie, so that a representation's set is found
// from its address: an open-addressed table keyed by the 64 KiB granule a hunk starts in
// (one hunk at most starts in a granule, since hunks are 64 KiB and do not overlap). It is
// only added to (under sets_mutex); a bigger table replaces it whole and the old one stays,
// as readers may still be walking it. An address in no listed hunk belongs to the first set.
struct HunkEntry {
  std::atomic<std::uintptr_t> key{0};  // granule + 1; 0 for a free entry
  std::uintptr_t start = 0;
  PoolSet* set = nullptr;
};
struct HunkTable {
  std::size_t size;  // a power of two
  std::size_t used;
  HunkEntry* entries;
};
std::atomic<HunkTable*> hunk_table{nullptr};

std::size_t slot_of(std::uintptr_t key, std::size_t size) {
  return static_cast<std::size_t>((key * 0x9E3779B1u) ^ (key >> 7)) & (size - 1);
}

void put_entry(HunkTable* table, std::uintptr_t key, std::uintptr_t start, PoolSet* set) {
  std::size_t i = slot_of(key, table->size);
  while (table->entries[i].key.load(std::memory_order_relaxed) != 0) i = (i + 1) & (table->size - 1);
  table->entries[i].start = start;
  table->entries[i].set = set;
  table->entries[i].key.store(key, std::memory_order_release);
  ++table->used;
}

const HunkEntry* find_entry(const HunkTable* table, std::uintptr_t key) {
  for (std::size_t i = slot_of(key, table->size);; i = (i + 1) & (table->size - 1)) {
    const std::uintptr_t found = table->entries[i].key.load(std::memory_order_acquire);
    if (found == key) return &table->entries[i];
    if (found == 0) return nullptr;
  }
}

// Called by the owner right after its pool made a hunk.
void note_hunk(const char* block, PoolSet* set) {
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
  std::lock_guard<std::mutex> hold(sets_mutex);
  HunkTable* table = hunk_table.load(std::memory_order_relaxed);
  if (!table || (table->used + 1) * 2 > table->size) {
    HunkTable* bigger = new HunkTable;
    bigger->size = table ? table->size * 2 : 64;
    bigger->used = 0;
    bigger->entries = new HunkEntry[bigger->size];
    for (std::size_t i = 0; table && i < table->size; ++i)
      if (const std::uintptr_t key = table->entries[i].key.load(std::memory_order_relaxed))
        put_entry(bigger, key, table->entries[i].start, table->entries[i].set);
    hunk_table.store(bigger, std::memory_order_release);
    table = bigger;
  }
  put_entry(table, (start >> hunk_shift) + 1, start, set);
}

PoolSet* set_of(const StringRep* rep) {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(rep);
  if (const HunkTable* table = hunk_table.load(std::memory_order_acquire)) {
    const std::uintptr_t granule = at >> hunk_shift;
    // A hunk that starts in the same granule, at or before the address, or one that
    // started in the granule before and reaches it.
    const HunkEntry* e = find_entry(table, granule + 1);
    if (e && at >= e->start) return e->set;
    e = find_entry(table, granule);
    if (e && at - e->start < hunk_bytes) return e->set;
  }
  return first_set.load(std::memory_order_acquire);
}

ALLOCATOR_QK* make_pool(PoolSet* set, int k) {
  // The allocators' TRACE and NOREF words drive this module's switches.
  static const bool switches_follow_options = (setDebugSwitchesFunction(string_debug_switches), true);
  (void)switches_follow_options;
  std::string name = string_internal::pool_names[k];
  if (set->number != 0) name += "#" + std::to_string(set->number);
  set->pools[k] = new ALLOCATOR_QK(static_cast<std::uint32_t>(StringRep::smallest_block) << k, objects_per_hunk[k],
                                   name.c_str());
  return set->pools[k];
}

// The link of a returned representation lies in its text (every block has 18 bytes of it).
const std::size_t link_offset = 16;

StringRep* next_returned(const StringRep* rep) {
  StringRep* next;
  std::memcpy(&next, reinterpret_cast<const char*>(rep) + link_offset, sizeof next);
  return next;
}

// Takes back what other threads released into the set's pool of class k: by the owner, or
// under sets_mutex for a left set.
void take_back(PoolSet* set, int k) {
  StringRep* rep = set->returned[k].exchange(nullptr, std::memory_order_acquire);
  while (rep) {
    StringRep* next = next_returned(rep);
    set->pools[k]->free(rep);
    rep = next;
  }
}

void take_back_all(PoolSet* set) {
  for (int k = 0; k < StringRep::pooled_classes; ++k)
    if (set->pools[k] && set->returned[k].load(std::memory_order_relaxed)) take_back(set, k);
}

// The calling thread's set: a left one taken over, or a new one.
PoolSet* join_set() {
  PoolSet* set = nullptr;
  {
    std::lock_guard<std::mutex> hold(sets_mutex);
    for (PoolSet* each = all_sets; each && !set; each = each->next)
      if (each->left.load(std::memory_order_relaxed)) set = each;
    if (set) {
      set->owner = platform::thread_id();
      set->left.store(false, std::memory_order_relaxed);
      for (ALLOCATOR_QK* pool : set->pools)
        if (pool) pool->bindToCurrentThread();
    } else {
      set = new PoolSet;
      set->owner = platform::thread_id();
      set->number = set_count.load(std::memory_order_relaxed);
      PoolSet** end = &all_sets;
      while (*end) end = &(*end)->next;
      *end = set;
      if (set->number == 0) first_set.store(set, std::memory_order_release);
      set_count.store(set->number + 1, std::memory_order_release);
    }
  }
  my_set = set;
  (void)&keeper;  // made on this thread: its end leaves the set
  take_back_all(set);
  return set;
}

SetKeeper::~SetKeeper() {
  const unsigned long thread = platform::thread_id();
  {
    std::lock_guard<std::mutex> hold(sets_mutex);
    for (PoolSet* set = all_sets; set; set = set->next) {
      if (set->left.load(std::memory_order_relaxed) || set->owner != thread) continue;
      take_back_all(set);
      set->owner = 0;
      set->left.store(true, std::memory_order_release);
    }
  }
  my_set = nullptr;
}

// Returns a representation to its set's pool of class k from a thread that does not own
// the set.
void give_back(PoolSet* owner, int k, StringRep* rep) {
  if (owner->left.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> hold(sets_mutex);
    if (owner->left.load(std::memory_order_relaxed)) {
      owner->pools[k]->bindToCurrentThread();
      owner->pools[k]->free(rep);
      return;
    }
  }
  StringRep* head = owner->returned[k].load(std::memory_order_relaxed);
  do {
    std::memcpy(reinterpret_cast<char*>(rep) + link_offset, &head, sizeof head);
  } while (!owner->returned[k].compare_exchange_weak(head, rep, std::memory_order_release,
                                                     std::memory_order_relaxed));
}

int pool_class(std::int32_t capacity) {
  for (int k = 0; k < StringRep::pooled_classes; ++k)
    if (capacity == (StringRep::smallest_block << k) - StringRep::overhead) return k;
  return -1;
}

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
  void* memory;
  if (k < StringRep::pooled_classes) {
    PoolSet* set = my_set ? my_set : join_set();
    ALLOCATOR_QK* pool = set->pools[k] ? set->pools[k] : make_pool(set, k);
    if (set->returned[k].load(std::memory_order_relaxed)) take_back(set, k);
    if (set->number == 0) {
      memory = pool->alloc();
    } else {
      const std::uint32_t hunks = pool->hunkCount();
      memory = pool->alloc();
      if (pool->hunkCount() != hunks) note_hunk(pool->hunks()->block, set);
    }
  } else {
    memory = ::operator new(static_cast<std::size_t>(block));
  }
  StringRep* rep = static_cast<StringRep*>(memory);
  rep->capacity = static_cast<std::int32_t>(block - StringRep::overhead);
  rep->length = 0;
  rep->references = 0;
  rep->state = 0;
  rep->text()[0] = 0;
  return rep;
}

void free_rep(StringRep* rep) {
  const int k = pool_class(rep->capacity);
  if (k < 0) {
    ::operator delete(rep);
    return;
  }
  PoolSet* mine = my_set;
  // The one set there is owns every block; otherwise the block's set is looked up.
  PoolSet* owner = mine && set_count.load(std::memory_order_relaxed) == 1 ? mine : set_of(rep);
  if (owner == mine)
    owner->pools[k]->free(rep);
  else
    give_back(owner, k, rep);
}

bool shared(const StringRep* rep) { return rep->count() > 1; }

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
  PoolSet* set = my_set ? my_set : join_set();
  return set->pools[k] ? *set->pools[k] : *make_pool(set, k);
}

ALLOCATOR_QK* pool_for_capacity(std::int32_t capacity) {
  const int k = pool_class(capacity);
  PoolSet* set = my_set;
  return k < 0 || !set ? nullptr : set->pools[k];
}

ALLOCATOR_QK* pool_of(const StringRep* rep) {
  const int k = pool_class(rep->capacity);
  if (k < 0) return nullptr;
  PoolSet* set = set_of(rep);
  return set ? set->pools[k] : nullptr;
}

}  // namespace string_internal

void StringRep::hold_atomic() {
  string_internal::atomic_counts_wanted();
  __atomic_fetch_add(count_word(), 1, __ATOMIC_RELAXED);
}

std::int32_t StringRep::drop_atomic() {
  string_internal::atomic_counts_wanted();
  return __atomic_fetch_sub(count_word(), 1, __ATOMIC_ACQ_REL);
}

StringRep* StringRep::empty() {
  if (StringRep* made = __atomic_load_n(&empty_instance, __ATOMIC_ACQUIRE)) return made;
  std::lock_guard<std::mutex> hold(empty_creation);
  if (!empty_instance) {
    // 16 zero bytes: capacity, length and references 0, state 0, text "".
    StringRep* made = reinterpret_cast<StringRep*>(new char[16]());
    string_internal::count_plainly_here();
    // The null string refers to it: it is published first, so that String() finds it.
    __atomic_store_n(&empty_instance, made, __ATOMIC_RELEASE);
    __atomic_store_n(&null_instance, new String(), __ATOMIC_RELEASE);
  }
  return empty_instance;
}

const String& String::nullString() {
  StringRep::empty();
  if (String* made = __atomic_load_n(&null_instance, __ATOMIC_ACQUIRE)) return *made;
  std::lock_guard<std::mutex> hold(empty_creation);  // another thread is making it
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
    release(rep);  // the other handles may have let go meanwhile
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
  // Counted once: the caller's handle is the only one, and the block goes back with its
  // count 1. Otherwise the handle that takes the count from 1 returns it.
  if (rep->count() <= 1 || rep->drop() == 1) free_rep(rep);
}
