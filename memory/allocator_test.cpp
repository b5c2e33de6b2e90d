// The fixed-size allocator: hunks, the free chain, names and double releases.
#include "memory/allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(Allocator, FirstAllocMakesAHunk) {
  if (!fastMemoryEnabled()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  ALLOCATOR_QK pool(64, 16, "Test64");
  EXPECT_EQ(0u, pool.hunkCount());
  void* p = pool.alloc();
  EXPECT_EQ(1u, pool.hunkCount());
  EXPECT_EQ(1u, pool.objectsInUse());
  EXPECT_EQ(15u, pool.freeObjects());
  EXPECT_EQ(64u * 16u, pool.hunkLength());
  const char* block = pool.hunks()->block;
  EXPECT_GE(static_cast<char*>(p), block);
  EXPECT_LT(static_cast<char*>(p), block + pool.hunkLength());
  EXPECT_EQ(0u, pool.free(p));
  EXPECT_EQ(0u, pool.objectsInUse());
  EXPECT_EQ(16u, pool.freeObjects());
}

TEST(Allocator, ObjectsAreDistinctAndHunksGrowOnDemand) {
  if (!fastMemoryEnabled()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  ALLOCATOR_QK pool(32, 8, "Test32");
  std::set<char*> seen;
  for (int i = 0; i < 20; ++i) {
    char* p = static_cast<char*>(pool.alloc());
    std::memset(p, i, 32);  // the whole requested size is usable
    EXPECT_TRUE(seen.insert(p).second);
  }
  EXPECT_EQ(3u, pool.hunkCount());
  EXPECT_EQ(20u, pool.objectsInUse());
  EXPECT_EQ(4u, pool.freeObjects());
  for (char* p : seen) pool.free(p);
  EXPECT_EQ(24u, pool.freeObjects());
  EXPECT_EQ(seen.count(static_cast<char*>(pool.alloc())), 1u);  // reuses a released object
}

TEST(Allocator, SecondReleaseIsRejected) {
  if (!fastMemoryEnabled()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  ALLOCATOR_QK pool(48, 4, "Test48");
  void* p = pool.alloc();
  void* q = pool.alloc();
  pool.free(p);
  pool.free(p);
  EXPECT_EQ(1u, pool.objectsInUse());
  EXPECT_EQ(3u, pool.freeObjects());
  void* r = pool.alloc();
  void* s = pool.alloc();
  EXPECT_NE(r, s);  // the object was linked into the chain once only
  pool.free(q);
  pool.free(r);
  pool.free(s);
  EXPECT_EQ(0u, pool.free(nullptr));
}

TEST(Allocator, NamesAreCutTo29Characters) {
  const std::string forty(40, 'n');
  ALLOCATOR_QK pool(32, 4, forty.c_str());
  EXPECT_EQ(std::string(29, 'n'), pool.name());
  EXPECT_EQ(32u, pool.requestedObjectSize());
  EXPECT_EQ(nullptr, pool.tracePattern());
}

TEST(Allocator, OtherSizesComeFromTheHeap) {
  ALLOCATOR_QK pool(32, 4, "Test32");
  void* exact = pool.alloc(32);
  void* other = pool.alloc(100);
  std::memset(other, 0, 100);
  ::operator delete(other);
  pool.free(exact);
}

}  // namespace
