// The pooled allocator against the C library's malloc/free and against a bare intrusive
// free list, in the same run: batches of 1,000 alloc() then 1,000 free() of 32-byte
// objects from a warm pool, and 100,000 live objects released in allocation order. The
// "pair" counter is the time of one alloc() and one free(). Also a String made from a
// 20-byte text and destroyed, against std::string.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "memory/allocator.h"
#include "string/String.h"

namespace {

const int batch = 1000;
const int many = 100000;

void count_pairs(benchmark::State& state, int per_iteration) {
  state.counters["pair"] = benchmark::Counter(per_iteration, benchmark::Counter::kIsIterationInvariantRate |
                                                                 benchmark::Counter::kInvert);
}

ALLOCATOR_QK& pool32() {
  static ALLOCATOR_QK* pool = new ALLOCATOR_QK(32, 2048, "Bench32");
  return *pool;
}

// Allocates n objects from the pool and releases them in allocation order.
void pool_round(ALLOCATOR_QK& pool, void** slots, int n) {
  for (int i = 0; i < n; ++i) slots[i] = pool.alloc();
  benchmark::DoNotOptimize(slots);
  benchmark::ClobberMemory();
  for (int i = 0; i < n; ++i) pool.free(slots[i]);
}

void malloc_round(void** slots, int n) {
  for (int i = 0; i < n; ++i) slots[i] = std::malloc(32);
  benchmark::DoNotOptimize(slots);
  benchmark::ClobberMemory();
  for (int i = 0; i < n; ++i) std::free(slots[i]);
}

// The floor: pop and push on an intrusive singly linked list, nothing else.
struct Node {
  Node* next;
  char payload[24];
};

struct BareList {
  explicit BareList(int n) : nodes(static_cast<std::size_t>(n)) {
    for (int i = n - 1; i >= 0; --i) {
      nodes[static_cast<std::size_t>(i)].next = head;
      head = &nodes[static_cast<std::size_t>(i)];
    }
  }
  Node* pop() {
    Node* n = head;
    head = n->next;
    return n;
  }
  void push(Node* n) {
    n->next = head;
    head = n;
  }
  std::vector<Node> nodes;
  Node* head = nullptr;
};

void bare_round(BareList& list, void** slots, int n) {
  for (int i = 0; i < n; ++i) slots[i] = list.pop();
  benchmark::DoNotOptimize(slots);
  benchmark::ClobberMemory();
  for (int i = 0; i < n; ++i) list.push(static_cast<Node*>(slots[i]));
}

void BM_PoolBatch(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<void*> slots(static_cast<std::size_t>(n));
  ALLOCATOR_QK& pool = pool32();
  pool_round(pool, slots.data(), n);  // warm: the hunks exist
  for (auto _ : state) pool_round(pool, slots.data(), n);
  count_pairs(state, n);
}
BENCHMARK(BM_PoolBatch)->Arg(batch)->Arg(many);

void BM_MallocBatch(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<void*> slots(static_cast<std::size_t>(n));
  malloc_round(slots.data(), n);
  for (auto _ : state) malloc_round(slots.data(), n);
  count_pairs(state, n);
}
BENCHMARK(BM_MallocBatch)->Arg(batch)->Arg(many);

void BM_BareListBatch(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<void*> slots(static_cast<std::size_t>(n));
  BareList list(n);
  for (auto _ : state) bare_round(list, slots.data(), n);
  count_pairs(state, n);
}
BENCHMARK(BM_BareListBatch)->Arg(batch)->Arg(many);

// The same batches with the debugging checks of free() switched on, to show their cost.
void BM_PoolBatchClearVerify(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<void*> slots(static_cast<std::size_t>(n));
  ALLOCATOR_QK pool(32, 2048, "Bench32Checked");
  pool.setDebugOptions("CLEAR VERIFY");
  pool_round(pool, slots.data(), n);
  for (auto _ : state) pool_round(pool, slots.data(), n);
  count_pairs(state, n);
  pool.setDebugOptions("");
}
BENCHMARK(BM_PoolBatchClearVerify)->Arg(batch);

const char twenty[] = "twenty bytes of text";  // 20 bytes: past std::string's inline buffer

void BM_StringMakeDestroy(benchmark::State& state) {
  for (auto _ : state) {
    String s(twenty);
    benchmark::DoNotOptimize(s.rep());
  }
}
BENCHMARK(BM_StringMakeDestroy);

void BM_StdStringMakeDestroy(benchmark::State& state) {
  for (auto _ : state) {
    std::string s(twenty);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_StdStringMakeDestroy);

}  // namespace

BENCHMARK_MAIN();
