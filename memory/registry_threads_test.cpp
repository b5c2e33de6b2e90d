// The allocator registry with allocators made, used and destroyed on several threads at
// once, each thread with allocators of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "memory/allocator.h"
#include "memory/lsthldr.h"
#include "tests/support/test_child.h"
#include "tests/support/thread_sanitizer.h"
#include "tests/support/testsupport.h"

namespace {

// Fewer rounds under ThreadSanitizer, which sees a race in a few.
const int rounds_divisor = testsupport::under_thread_sanitizer ? 20 : 1;

std::uint32_t registered_count() { return allocatorTracker()->holder()->count(); }

// Each thread makes and destroys allocators of its own; the registry sees them all.
void churn_allocators(int threads, int rounds) {
  std::atomic<bool> go{false};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&go, rounds, t] {
      while (!go.load()) std::this_thread::yield();
      const std::string name = "Churn" + std::to_string(t);
      for (int i = 0; i < rounds; ++i) {
        ALLOCATOR_QK a(48, 16, name.c_str());
        ALLOCATOR_QK b(64, 8, name.c_str());
        void* p = a.alloc();
        void* q = b.alloc();
        a.free(p);
        b.free(q);
      }
    });
  go = true;
  for (std::thread& w : workers) w.join();
}

}  // namespace

// The registry made by threads that all reach it first: one registry, everything entered
// in it and removed again.
TEST(DISABLED_ChildScenario, RegistryMadeOnManyThreads) {
  std::atomic<bool> go{false};
  std::atomic<AllocatorTrackerQK*> seen[8] = {};
  std::vector<std::thread> workers;
  for (int t = 0; t < 8; ++t)
    workers.emplace_back([&go, &seen, t] {
      while (!go.load()) std::this_thread::yield();
      seen[t] = allocatorTracker();
    });
  go = true;
  for (std::thread& w : workers) w.join();
  for (int t = 1; t < 8; ++t) EXPECT_EQ(seen[0].load(), seen[t].load()) << t;
  const std::uint32_t before = registered_count();
  churn_allocators(4, 2000 / rounds_divisor);
  EXPECT_EQ(before, registered_count());
}

TEST(DISABLED_ChildScenario, AllocatorsOnFourThreads) { churn_allocators(4, 20000 / rounds_divisor); }

TEST(RegistryThreads, AllocatorsMadeAndDestroyedOnFourThreads) {
  const testsupport::Run r = testsupport::run_child("AllocatorsOnFourThreads");
  EXPECT_EQ(0u, r.exit_code) << r.err.substr(0, 600);
  EXPECT_EQ("", r.err.substr(0, 600));
}

TEST(RegistryThreads, ThreadsThatReachTheRegistryFirstShareOne) {
  const testsupport::Run r = testsupport::run_child("RegistryMadeOnManyThreads");
  EXPECT_EQ(0u, r.exit_code) << r.err.substr(0, 600);
  EXPECT_EQ("", r.err.substr(0, 600));
}
