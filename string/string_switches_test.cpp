// The String module's switches as the allocator's options drive them: traced
// representations get trace records in their pool's trace slots, and under NOREF copies
// stop sharing. Also: a use after free of a pooled representation is caught by the
// AddressSanitizer build.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "memory/allocator.h"
#include "tests/support/memory_test_support.h"
#include "string/String.h"
#include "string/StringRep.h"
#include "string/internal/string_internal.h"
#include "platform/stackwalk/stacktrace_seam.h"
#include "tests/support/testsupport.h"
#include "tests/support/scoped_override.h"

namespace {

const int string64 = 1;  // the size class of 64-byte blocks

// The trace slot of a pooled representation, or nullptr.
void** slot_of(const ALLOCATOR_QK& pool, const StringRep* rep) {
  const char* at = reinterpret_cast<const char*>(rep);
  for (const ALLOCATOR_QK::Hunk* h = pool.hunks(); h; h = h->next)
    if (at >= h->block && at < h->block + pool.hunkLength())
      return h->trace_slots ? &h->trace_slots[(at - h->block) / pool.objectSize()] : nullptr;
  return nullptr;
}

const char* fixed_stack_text(const char*) { return "sym_engine:12;caller:34;main:56;"; }

// Sets one pool's options for the test's life, and puts everything back afterwards.
struct PoolOptions {
  PoolOptions(ALLOCATOR_QK& pool, const char* options) : pool_(pool) { pool.setDebugOptions(options); }
  ~PoolOptions() { pool_.setDebugOptions(""); }
  ALLOCATOR_QK& pool_;
};

TEST(StringSwitches, NorefCopiesInsteadOfSharing) {
  ALLOCATOR_QK options_carrier(32, 4, "Carrier");
  const String a("shared text");
  {
    PoolOptions noref(options_carrier, "NOREF");
    String b(a);
    EXPECT_NE(a.rep(), b.rep());
    EXPECT_STREQ("shared text", b);
    String c;
    c = a;
    EXPECT_NE(a.rep(), c.rep());
    EXPECT_EQ(1, a.rep()->references);
  }
  String d(a);  // the last parse switched it off again
  EXPECT_EQ(a.rep(), d.rep());
}

TEST(StringSwitches, TracedRepresentationsGetTraceRecords) {
  if (!fastMemoryEnabled()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  ALLOCATOR_QK& pool = string_internal::pool(string64);
  PoolOptions trace(pool, "TRACE String64(abc*)");
  ASSERT_STREQ("abc*", pool.tracePattern());
  testsupport::ScopedOverride<platform::StackTextSource> fixed(platform::set_stack_text_source, fixed_stack_text);
  String traced("abcdefghijklmnopqrstuvwxyz");  // 26 bytes: the 64-byte class
  void** slot = slot_of(pool, traced.rep());
  ASSERT_NE(nullptr, slot);
  ASSERT_NE(nullptr, *slot);
  EXPECT_STREQ("caller:34;main:56;", ALLOCATOR_QK::traceText(*slot));  // the tracer's own frame dropped
  std::uint32_t size;
  std::memcpy(&size, *slot, sizeof size);
  EXPECT_EQ(std::strlen("caller:34;main:56;") + 8, size);

  String other("xyzdefghijklmnopqrstuvwxyz");  // same class, no match
  void** other_slot = slot_of(pool, other.rep());
  ASSERT_NE(nullptr, other_slot);
  EXPECT_EQ(nullptr, *other_slot);

  void* record = *slot;
  traced = "ab";  // rewritten in place and used up before the pattern: emptied, kept
  EXPECT_EQ(record, *slot);
  EXPECT_STREQ("", ALLOCATOR_QK::traceText(*slot));
  traced = "abc, matching once again";
  EXPECT_EQ(record, *slot);  // big enough: reused
  EXPECT_STREQ("caller:34;main:56;", ALLOCATOR_QK::traceText(*slot));

  platform::set_stack_text_source(nullptr);  // no stack-trace engine: an empty text
  traced = "abc without a stack";
  EXPECT_STREQ("", ALLOCATOR_QK::traceText(*slot));
}

// QK_MEMDEBUG reaches the String pools as they are made.
TEST(DISABLED_ChildScenario, TraceFromTheEnvironment) {
  platform::set_stack_text_source(fixed_stack_text);
  String traced("abcdefghijklmnopqrstuvwxyz");
  String copy(traced);
  ALLOCATOR_QK& pool = string_internal::pool(string64);
  void** slot = slot_of(pool, traced.rep());
  std::fprintf(stderr, "pattern %s switches %d %d shared %d record %s\n",
               pool.tracePattern() ? pool.tracePattern() : "none", string_internal::trace_switch,
               string_internal::no_sharing_switch, copy.rep() == traced.rep(),
               slot && *slot ? ALLOCATOR_QK::traceText(*slot) : "none");
}

TEST(StringSwitches, QkMemdebugReachesTheStringPools) {
  const testsupport::Run r = testsupport::run_child(
      "TraceFromTheEnvironment", testsupport::ChildOptions().set("QK_MEMDEBUG", "NOREF TRACE String64(abc*)"));
  EXPECT_EQ(0u, r.exit_code) << r.err;
  const bool pooling = fastMemoryEnabled();
  EXPECT_NE(std::string::npos, r.err.find(std::string("pattern abc* switches 1 1 shared 0 record ") +
                                          (pooling ? "caller:34;main:56;" : "none")))
      << r.err;
}

TEST(DISABLED_ChildScenario, PooledStringReadAfterRelease) {
  const char* text;
  {
    String gone("released before it is read");
    text = gone;
  }
  std::fprintf(stderr, "read after release: %c\n", *static_cast<const volatile char*>(text));
}

TEST(PooledString, UseAfterFreeIsReported) {
  if (!freeObjectsPoisoned()) GTEST_SKIP() << "only the AddressSanitizer build poisons free objects";
  if (!fastMemoryEnabled()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  const testsupport::Run r = testsupport::run_child("PooledStringReadAfterRelease");
  EXPECT_NE(0u, r.exit_code);
  EXPECT_NE(std::string::npos, r.err.find("ERROR: AddressSanitizer: use-after-poison")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("read after release")) << r.err;
}

}  // namespace
