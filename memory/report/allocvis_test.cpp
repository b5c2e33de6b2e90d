// The allocator report: blocks and totals worked out by hand, the report file, the
// disabled report, and the detail step (debugging options, selection, the detail file).
#include "memory/report/allocvis.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "env/env.h"
#include "memory/lsthldr.h"
#include "platform/files/file_calls.h"
#include "platform/files/files.h"
#include "tests/support/memory_test_support.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {

using memtest::Records;

// A registry of its own, so that the report holds exactly the allocators a test enters.
struct Registry {
  Tracker tracker;
  Registry(std::initializer_list<ALLOCATOR_QK*> allocators) {
    tracker.setHolder(new ListHolderQK);
    tracker.setVisitor(new AllocatorVisitorQK);
    for (ALLOCATOR_QK* a : allocators) tracker.enter(a);
  }
  ~Registry() {
    // The allocators remove themselves from the process registry only.
    while (tracker.holder()->count()) {
      HolderItr* it = tracker.holder()->makeIterator();
      Trackable* first = it->first();
      tracker.holder()->deleteIterator(it);
      tracker.remove(first);
    }
  }
  std::string report(const char* options = nullptr) {
    std::ostringstream out;
    tracker.visit(&out, options);
    return out.str();
  }
};

// Pooling is decided at the first alloc() of the process.
bool pooling_on() {
  ALLOCATOR_QK warm(32, 1, "Warm");
  warm.free(warm.alloc());
  return fastMemoryInUse();
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
  const std::size_t a = text.find(open);
  if (a == std::string::npos) return std::string();
  const std::size_t b = text.find(close, a + open.size());
  return b == std::string::npos ? std::string() : text.substr(a + open.size(), b - a - open.size());
}

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Makes the object look like a String representation of its size class.
void fake_rep(void* object, std::uint32_t object_size, const char* text, std::int32_t refs) {
  char* p = static_cast<char*>(object);
  const std::uint32_t capacity = object_size - 14;
  const std::int32_t length = static_cast<std::int32_t>(std::strlen(text));
  std::memcpy(p, &capacity, 4);
  std::memcpy(p + 4, &length, 4);
  std::memcpy(p + 8, &refs, 4);
  p[12] = 0;
  std::memcpy(p + 13, text, std::strlen(text) + 1);
}

TEST(AllocVis, ThreeAllocatorsGiveTheirBlocksAndTheSumsAsTotals) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  ALLOCATOR_QK alpha(24, 4, "Alpha");
  ALLOCATOR_QK beta(20, 3, "Beta");
  ALLOCATOR_QK gamma(96, 10, "Gamma");
  std::vector<void*> a;
  for (int i = 0; i < 5; ++i) a.push_back(alpha.alloc());  // two hunks, three objects free
  void* b = beta.alloc();                                  // one hunk, two free
  Registry registry{&alpha, &beta, &gamma};
  const std::string text = registry.report();

  // Header: two ends of line, the process name and time, two ends of line.
  ASSERT_EQ(0u, text.find("\n\n")) << text;
  const std::string name = processName();
  if (!name.empty()) {
    EXPECT_EQ(2u, text.find(name + " -- Allocators -- ")) << text;
  }
  EXPECT_NE(std::string::npos, text.find("\n\n\nAllocator: Alpha\n")) << text;

  EXPECT_NE(std::string::npos,
            text.find("Allocator: Alpha\n"
                      "Object Size: 24  Hunk Length: 96  Objs/Hunk: 4\n\n"
                      "Hunks            : 2          Bytes: 192        Real Bytes: 192\n"
                      "Free objects     : 3          Bytes: 72\n"
                      "Objects in use   : 5          Bytes: 120\n\n\n\n"
                      "Allocator: Beta\n"))
      << text;
  // Beta's objects lie objectSize() apart, which may exceed the 20 bytes asked for: the real
  // bytes count the hunk, the other figures the requested size.
  const std::uint32_t beta_real = 3 * beta.objectSize();
  EXPECT_NE(std::string::npos,
            text.find("Allocator: Beta\n"
                      "Object Size: 20  Hunk Length: " + std::to_string(beta_real) + "  Objs/Hunk: 3\n\n"
                      "Hunks            : 1          Bytes: 60         Real Bytes: " + std::to_string(beta_real) + "\n"
                      "Free objects     : 2          Bytes: 40\n"
                      "Objects in use   : 1          Bytes: 20\n\n\n\n"
                      "Allocator: Gamma\n"
                      "Object Size: 96  Hunk Length: 960  Objs/Hunk: 10\n\n"
                      "Hunks            : 0          Bytes: 0          Real Bytes: 0\n"
                      "Free objects     : 0          Bytes: 0\n"
                      "Objects in use   : 0          Bytes: 0\n\n\n\n"))
      << text;
  const std::string totals = "         Total mem hunks           : 3\n"
                             "         Total real bytes used     : " + std::to_string(192 + beta_real) + "\n"
                             "         Total bytes avail         : 252\n"
                             "         Total objects in use      : 6\n"
                             "         Total bytes in use        : 140\n"
                             "         Total free objects        : 5\n"
                             "         Free bytes                : 112\n";
  ASSERT_GE(text.size(), totals.size());
  EXPECT_EQ(totals, text.substr(text.size() - totals.size())) << text;

  // A second report starts from 0 again.
  alpha.free(a.back());
  a.pop_back();
  const std::string again = registry.report();
  EXPECT_NE(std::string::npos, again.find("Total objects in use      : 5\n")) << again;
  EXPECT_NE(std::string::npos, again.find("Total free objects        : 6\n")) << again;

  for (void* p : a) alpha.free(p);
  beta.free(b);
}

void report_lists_live_allocators() {
  ALLOCATOR_QK mine(48, 2, "ProcessWide48");
  void* p = mine.alloc();
  std::ostringstream out;
  EXPECT_EQ(0, allocator_report(out));
  EXPECT_NE(std::string::npos, out.str().find("Allocator: ProcessWide48\n")) << out.str();
  EXPECT_NE(std::string::npos, out.str().find("         Free bytes                : ")) << out.str();
  mine.free(p);
}

TEST(AllocVis, ReportOfTheProcessRegistryListsLiveAllocators) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  report_lists_live_allocators();
}

TEST(DISABLED_ChildScenario, ReportOfLiveAllocators) { report_lists_live_allocators(); }

// Nothing of the report is named: linking it gave the registry its visitor.
TEST(DISABLED_ChildScenario, RegistryVisitedWithoutInstalling) {
  ALLOCATOR_QK mine(48, 2, "Unasked48");
  mine.free(mine.alloc());
  std::ostringstream out;
  EXPECT_EQ(0, allocatorTracker()->visit(&out, nullptr));
  EXPECT_NE(std::string::npos, out.str().find("Allocator: Unasked48\n")) << out.str();
}

TEST(AllocVis, TheRegistryHasItsVisitorFromItsFirstUse) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  const testsupport::Run r = testsupport::run_child("RegistryVisitedWithoutInstalling");
  EXPECT_EQ(0u, r.exit_code) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("Visit called with null holder or vistor.")) << r.err;
}

TEST(AllocVis, TotalsPast4GiBDoNotWrap) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  if (sizeof(void*) == 4) GTEST_SKIP() << "a 32-bit report counts in 32 bits";
  if (freeObjectsPoisoned()) GTEST_SKIP() << "poisoning 4 GiB of hunks";
  // Two hunks of 2 GiB each, of which only the pages of the objects' links are touched.
  const std::uint32_t object = 1u << 26;
  ALLOCATOR_QK first(object, 32, "Big1");
  ALLOCATOR_QK second(object, 32, "Big2");
  void* a = first.alloc();
  void* b = second.alloc();
  Registry registry{&first, &second};
  const std::string text = registry.report();
  const std::string four_gib = std::to_string(1ull << 32);
  EXPECT_NE(std::string::npos, text.find("         Total real bytes used     : " + four_gib + "\n")) << text;
  EXPECT_NE(std::string::npos, text.find("         Total bytes avail         : " + four_gib + "\n")) << text;
  EXPECT_NE(std::string::npos, text.find("Hunks            : 1          Bytes: " + std::to_string(1ull << 31)));
  first.free(a);
  second.free(b);
}

// QK_NOFASTMEM is decided at the first alloc() of a process: the disabled report runs in a
// child of its own.
TEST(DISABLED_ChildScenario, ReportWithPoolingOff) {
  ASSERT_FALSE(fastMemoryEnabled());
  ALLOCATOR_QK one(32, 4, "One");
  ALLOCATOR_QK two(64, 4, "Two");
  one.free(one.alloc());
  Registry registry{&one, &two};
  const std::string text = registry.report("-x all");
  EXPECT_EQ(0u, text.find("\n\n")) << text;
  EXPECT_EQ(1, occurrences(text, "Allocators disabled.\n")) << text;
  EXPECT_EQ(text.size() - std::strlen("Allocators disabled.\n"), text.find("Allocators disabled.\n")) << text;
  EXPECT_EQ(std::string::npos, text.find("Total")) << text;
  EXPECT_EQ(std::string::npos, text.find("Allocator: ")) << text;
}

TEST(AllocVis, PoolingOffGivesTheHeaderAndOneDisabledLine) {
  const testsupport::Run child =
      testsupport::run_child("ReportWithPoolingOff", testsupport::ChildOptions().set("QK_NOFASTMEM", "1"));
  EXPECT_EQ(0u, child.exit_code) << child.err;
}

TEST(AllocVis, ReportFileIsAppendedAndItsFailuresAreLogged) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  ALLOCATOR_QK mine(32, 2, "Filed32");
  {
    testsupport::TempDir dir;
    testsupport::ScopedEnv log("QK_LOG", dir.path().c_str());
    Registry registry{&mine};
    const std::string path = dir / "allocstat";
    EXPECT_EQ(0, registry.tracker.visit(static_cast<std::ostream*>(nullptr), nullptr));
    EXPECT_EQ(0, registry.tracker.visit(static_cast<std::ostream*>(nullptr), nullptr));
    const std::string text = testsupport::read_file(path);
    EXPECT_EQ(2, occurrences(text, "Allocator: Filed32\n")) << text;
    EXPECT_EQ(2, occurrences(text, "         Free bytes                : 0\n")) << text;
  }
  {
    // A folder that does not exist: no stream, and each step says so.
    testsupport::TempDir dir;
    const std::string missing = dir / "missing";
    testsupport::ScopedEnv log("QK_LOG", missing.c_str());
    Records records;
    Registry registry{&mine};
    const std::string path = missing + platform::path_separator() + "allocstat";
    EXPECT_EQ(-1, registry.tracker.visit(static_cast<std::ostream*>(nullptr), nullptr));
    EXPECT_EQ(1, records.count("allocvis", "Cannot open " + path + " for allocator diagnostics"));
    EXPECT_EQ(1, records.count("allocvis", "Visit with null out stream."));
    EXPECT_EQ(1, records.count("allocvis", "Finish with null out stream."));
    EXPECT_FALSE(testsupport::file_exists(path));
  }
  {
    // 85 characters are too many for the 100-byte path.
    const std::string long_dir(85, 'd');
    testsupport::ScopedEnv log("QK_LOG", long_dir.c_str());
    Records records;
    AllocatorVisitorQK visitor;
    EXPECT_STREQ("", visitor.reportFilePath());
    EXPECT_EQ(1, records.count("allocvis", "QK_LOG path not too long:" + long_dir));
    EXPECT_EQ(nullptr, visitor.begin(nullptr, nullptr));
    EXPECT_EQ(1, records.count("allocvis", "Cannot open  for allocator diagnostics"));
    EXPECT_EQ(-1, visitor.end(nullptr));
  }
  {
    const std::string fits(84, 'd');
    testsupport::ScopedEnv log("QK_LOG", fits.c_str());
    AllocatorVisitorQK visitor;
    EXPECT_EQ(fits + platform::path_separator() + "allocstat", visitor.reportFilePath());
  }
  {
    testsupport::ScopedEnv log("QK_LOG", nullptr);
    Records records;
    AllocatorVisitorQK visitor;
    EXPECT_EQ(1, records.count("allocvis", "QK_LOG path not set"));
  }
}

// An empty QK_LOG names no folder (not the root of the file system).
TEST(DISABLED_ChildScenario, ReportWithEmptyLogFolder) {
  ASSERT_STREQ("", env_lookup("QK_LOG", 0));
  Records records;
  AllocatorVisitorQK visitor;
  EXPECT_STREQ("", visitor.reportFilePath());
  EXPECT_EQ(1, records.count("allocvis", "QK_LOG path not set"));
  EXPECT_EQ(nullptr, visitor.begin(nullptr, nullptr));
  EXPECT_EQ(1, records.count("allocvis", "Cannot open  for allocator diagnostics"));
  EXPECT_EQ(-1, visitor.end(nullptr));
}

#ifndef _WIN32
// The environment of a POSIX process can hold an empty value (setting one through the
// framework removes the variable, as on Windows): env(1) gives the child one.
TEST(AllocVis, AnEmptyLogFolderIsNone) {
  const std::string at_root = "/allocstat";
  const bool there_before = testsupport::file_exists(at_root);
  std::string command = "/usr/bin/env QK_LOG=";
  for (const std::string& arg : testsupport::child_command("ReportWithEmptyLogFolder"))
    command += " " + testsupport::quote_arg(arg);
  const testsupport::Run r = testsupport::run(command);
  EXPECT_EQ(0u, r.exit_code) << r.err;
  EXPECT_EQ(there_before, testsupport::file_exists(at_root));
  if (!there_before) std::filesystem::remove(at_root);
}
#endif

// Two String size classes and an allocator of another kind, with a log folder under QK_ROOT.
struct StringClasses {
  testsupport::TempDir root;
  testsupport::ScopedEnv env{"QK_ROOT", root.path().c_str()};
  ALLOCATOR_QK s32{32, 4, "String32"};
  ALLOCATOR_QK s64{64, 4, "String64"};
  ALLOCATOR_QK other{64, 4, "Other64"};
  Registry registry{&s32, &s64, &other};
  StringClasses() { testsupport::make_dirs(root / "log"); }
};

TEST(AllocVis, DebugOptionsReachEveryStringAllocatorAndWriteNoFile) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  StringClasses c;
  ALLOCATOR_QK& s32 = c.s32;
  ALLOCATOR_QK& s64 = c.s64;
  ALLOCATOR_QK& other = c.other;
  Records records;
  Registry& registry = c.registry;
  const std::string text = registry.report("-d CLEAR");
  EXPECT_EQ(ALLOCATOR_QK::DEBUG_CLEAR, s32.debugFlags());
  EXPECT_EQ(ALLOCATOR_QK::DEBUG_CLEAR, s64.debugFlags());
  EXPECT_EQ(0u, other.debugFlags());
  EXPECT_EQ(1, records.count("allocvis", "Allocator debugging options for String32 set to \"CLEAR\""));
  EXPECT_EQ(1, records.count("allocvis", "Allocator debugging options for String64 set to \"CLEAR\""));
  EXPECT_EQ(0, records.count("allocvis", "Other64"));
  EXPECT_EQ(3, occurrences(text, "Objects in use   : ")) << text;
  EXPECT_EQ(std::string::npos, text.find("Detail report")) << text;
  s32.setDebugOptions("");
  s64.setDebugOptions("");
}

TEST(AllocVis, SelectionByNameStarAndAll) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  StringClasses c;
  const testsupport::TempDir& root = c.root;
  Registry& registry = c.registry;
  std::string text = registry.report("string64");
  EXPECT_EQ(1, occurrences(text, "Detail report for (")) << text;
  const std::string path = between(text, "Detail report for (String64) written to file (", ")\n\n");
  ASSERT_FALSE(path.empty()) << text;
  const std::string sep(1, platform::path_separator());
  EXPECT_EQ(0u, path.find(root.path() + sep + "log" + sep + "vexdiag_String64_")) << path;
  EXPECT_EQ(path.size() - 4, path.find(".txt")) << path;
  const std::string stamp = path.substr(path.find("vexdiag_String64_") + 17, 14);
  EXPECT_EQ(std::string::npos, stamp.find_first_not_of("0123456789")) << path;
  EXPECT_TRUE(testsupport::file_exists(path));

  for (const char* all : {"-x all", "*", "ALL", "-x string32 string64 other64"}) {
    text = registry.report(all);
    EXPECT_EQ(2, occurrences(text, "Detail report for (")) << all << "\n" << text;
    EXPECT_EQ(std::string::npos, text.find("(Other64)")) << text;
  }
  text = registry.report("nothing");
  EXPECT_EQ(std::string::npos, text.find("Detail report")) << text;

  // A ':' behind the root (here in the name) would make no file name on Windows.
  ALLOCATOR_QK colon(32, 4, "String:32");
  Registry alone{&colon};
  text = alone.report("*");
  const std::string colon_path = between(text, "Detail report for (String:32) written to file (", ")\n\n");
  EXPECT_EQ(0u, colon_path.find(root.path() + sep + "log" + sep + "vexdiag_String#32_")) << text;
  EXPECT_TRUE(testsupport::file_exists(colon_path)) << colon_path;
}

TEST(AllocVis, DetailFileListsLiveRepresentationsOnly) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  testsupport::TempDir root;
  testsupport::make_dirs(root / "log");
  testsupport::ScopedEnv env("QK_ROOT", root.path().c_str());
  ALLOCATOR_QK pool(64, 4, "StringT64");
  pool.setDebugOptions("TRACE");  // hunks get trace slots
  void* kept = pool.alloc();
  void* freed = pool.alloc();
  void* traced = pool.alloc();
  void* other = pool.alloc();
  pool.setDebugOptions("");
  fake_rep(kept, 64, "kept text", 2);
  fake_rep(freed, 64, "freed text", 1);
  fake_rep(traced, 64, "traced text", 1);
  std::memset(other, 0, 64);  // no representation: capacity does not fit
  pool.free(freed);

  const ALLOCATOR_QK::Hunk* hunk = pool.hunks();
  ASSERT_NE(nullptr, hunk);
  ASSERT_NE(nullptr, hunk->trace_slots);
  const std::size_t k = static_cast<std::size_t>(static_cast<char*>(traced) - hunk->block) / pool.objectSize();
  const std::string trace = "Stack: a.cpp:1;b.cpp:2;";
  const std::uint32_t record_size = static_cast<std::uint32_t>(4 + trace.size() + 1);
  char* record = static_cast<char*>(std::malloc(record_size));
  std::memcpy(record, &record_size, 4);
  std::memcpy(record + 4, trace.c_str(), trace.size() + 1);
  hunk->trace_slots[k] = record;

  Registry registry{&pool};
  Records records;
  std::string text = registry.report("StringT64");
  std::string path = between(text, "written to file (", ")\n\n");
  ASSERT_FALSE(path.empty()) << text;
  EXPECT_EQ("\"kept text\"\n\"traced text\"\n", testsupport::read_file(path));
  EXPECT_EQ(1, records.count("allocvis", "Vex_diag trace written to file " + path));

  text = registry.report("-x StringT64");
  path = between(text, "written to file (", ")\n\n");
  const std::string detail = testsupport::read_file(path);
  char expected[200];
  std::snprintf(expected, sizeof expected, "\"kept text\" %#08llx L(9) R(2)\n\"traced text\" %#08llx L(11) R(1) %s\n",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(kept)),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(traced)), trace.c_str());
  EXPECT_EQ(expected, detail);
  EXPECT_EQ(std::string::npos, detail.find("freed")) << detail;

  // A trace record longer than the line may hold is cut: the line with its newline ends at
  // 3001 bytes.
  const std::string long_trace(5000, 't');
  const std::uint32_t long_size = static_cast<std::uint32_t>(4 + long_trace.size() + 1);
  char* long_record = static_cast<char*>(std::realloc(record, long_size));
  ASSERT_NE(nullptr, long_record);
  std::memcpy(long_record, &long_size, 4);
  std::memcpy(long_record + 4, long_trace.c_str(), long_trace.size() + 1);
  hunk->trace_slots[k] = long_record;
  text = registry.report("-x *");
  path = between(text, "written to file (", ")\n\n");
  const std::string cut = testsupport::read_file(path);
  const std::size_t start = cut.find("\"traced text\"");
  ASSERT_NE(std::string::npos, start) << cut;
  const std::string line = cut.substr(start);
  EXPECT_EQ(3001u, line.size());
  const std::size_t head = line.find(" R(1) ") + 6;
  EXPECT_EQ('\n', line.back());
  EXPECT_EQ(line.size() - 1, line.find_first_not_of('t', head));

  pool.free(kept);
  pool.free(traced);
  pool.free(other);
}

TEST(AllocVis, UnwritableDetailFileIsLoggedAndTheReportGoesOn) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  testsupport::TempDir root;  // no log folder
  testsupport::ScopedEnv env("QK_ROOT", root.path().c_str());
  ALLOCATOR_QK pool(64, 4, "String64");
  Registry registry{&pool};
  Records records;
  const std::string text = registry.report("-x String64");
  const std::string path = between(text, "Detail report for (String64) failed to write file (", ")\n\n");
  ASSERT_FALSE(path.empty()) << text;
  EXPECT_EQ(1, records.count("allocvis", "Can't write vex_diag trace - can't open file " + path));
  EXPECT_NE(std::string::npos, text.find("         Free bytes                : 0\n")) << text;
}

TEST(AllocVis, DetailFilesStayInTheLogFolder) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  testsupport::TempDir root;
  testsupport::make_dirs(root / "log");
  testsupport::make_dirs(root / "log/vexdiag_String");
  testsupport::ScopedEnv env("QK_ROOT", root.path().c_str());
  ALLOCATOR_QK slash(64, 4, "String/../../x");
  ALLOCATOR_QK backslash(64, 4, "String\\..\\..\\y");
  Registry registry{&slash, &backslash};
  const std::string text = registry.report("*");
  const std::string sep(1, platform::path_separator());
  const std::string folder = root.path() + sep + "log" + sep;
  for (const char* name : {"String/../../x", "String\\..\\..\\y"}) {
    const std::string path = between(text, std::string("Detail report for (") + name + ") written to file (", ")\n\n");
    ASSERT_EQ(0u, path.find(folder)) << text;
    EXPECT_EQ(std::string::npos, path.find_first_of("/\\", folder.size())) << path;
    EXPECT_TRUE(testsupport::file_exists(path)) << path;
  }
}

#ifndef _WIN32
TEST(DISABLED_ChildScenario, DetailFileMode) {
  namespace fs = std::filesystem;
  testsupport::TempDir root;
  testsupport::make_dirs(root / "log");
  testsupport::ScopedEnv env("QK_ROOT", root.path().c_str());
  // A file made for everyone shows what the file-creation mask leaves.
  testsupport::write_file(root / "everyone", "");
  const fs::perms masked = fs::status(root / "everyone").permissions();
  ASSERT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write |
                fs::perms::others_read | fs::perms::others_write,
            masked);
  ALLOCATOR_QK pool(64, 4, "String64");
  pool.free(pool.alloc());
  Registry registry{&pool};
  const std::string text = registry.report("String64");
  const std::string path = between(text, "written to file (", ")\n\n");
  ASSERT_FALSE(path.empty()) << text;
  const fs::perms group_writable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                   fs::perms::group_write | fs::perms::others_read;
  EXPECT_EQ(group_writable, fs::status(path).permissions() & fs::perms::all);
}

// Under a mask that takes nothing away, the detail file is 0664.
TEST(AllocVis, DetailFilesAreNotWritableByOthers) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  std::string child;
  for (const std::string& arg : testsupport::child_command("DetailFileMode")) child += " " + testsupport::quote_arg(arg);
  const testsupport::Run r = testsupport::run("/bin/sh -c " + testsupport::quote_arg("umask 000; exec" + child));
  EXPECT_EQ(0u, r.exit_code) << r.err;
}
#endif

// Writes to the detail file (the one whose first bytes begin a listed text) stop with a
// full disk in the middle of its first line.
int detail_fd = -1;
long (*real_write)(int, const void*, std::size_t) = nullptr;
long write_until_full(int fd, const void* data, std::size_t size) {
  if (detail_fd < 0 && size > 3 && static_cast<const char*>(data)[0] == '"') {
    detail_fd = fd;
    return real_write(fd, data, 3);
  }
  if (fd != detail_fd) return real_write(fd, data, size);
  errno = ENOSPC;
  return -1;
}

TEST(AllocVis, AFullDiskMakesTheDetailStepFail) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  testsupport::TempDir root;
  testsupport::make_dirs(root / "log");
  testsupport::ScopedEnv env("QK_ROOT", root.path().c_str());
  ALLOCATOR_QK pool(64, 4, "String64");
  void* rep = pool.alloc();
  fake_rep(rep, 64, "a listed text", 1);
  Registry registry{&pool};
  Records records;
  std::string text;
  {
    platform::ScopedSystemCalls faults;
    real_write = faults.original().files.write;
    detail_fd = -1;
    faults.files().write = write_until_full;
    text = registry.report("String64");
  }
  ASSERT_GE(detail_fd, 0) << text;
  const std::string path = between(text, "Detail report for (String64) failed to write file (", ")\n\n");
  ASSERT_FALSE(path.empty()) << text;
  EXPECT_EQ("\"a ", testsupport::read_file(path));
  EXPECT_EQ(1, records.count("allocvis", "Can't write vex_diag trace - write to file " + path + " failed"));
  EXPECT_EQ(0, records.count("allocvis", "Vex_diag trace written"));
  EXPECT_EQ(std::string::npos, text.find("written to file")) << text;
  pool.free(rep);
}

// A child with twenty allocators in use that tells it is ready and ends when told to, so
// that many end at the same moment.
TEST(DISABLED_ChildScenario, ReportAtExitTogether) {
  for (int i = 0; i < 20; ++i) (new ALLOCATOR_QK(32, 2, ("Together" + std::to_string(i)).c_str()))->alloc();
  const std::string folder = env_lookup("QK_LOG", 0);
  const std::vector<std::string> args = testsupport::child_arguments();
  ASSERT_EQ(1u, args.size());
  testsupport::write_file(folder + "/ready." + args[0], "");
  for (int waited = 0; !testsupport::file_exists(folder + "/go") && waited < 60000; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(AllocVis, ReportsAtExitOfManyProcessesStayWhole) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
#ifdef _WIN32
  const int children = 16;  // process starts are slow there
#else
  const int children = 64;
#endif
  testsupport::TempDir dir;
  std::string text;
  {
    // Set here, so that the children, which have no variables of their own, run at once.
    testsupport::ScopedEnv log("QK_LOG", dir.path().c_str());
    testsupport::ScopedEnv at_exit("QK_ALLOCSTAT_AT_EXIT", "1");
    std::vector<std::thread> threads;
    std::vector<testsupport::Run> runs(children);
    for (int i = 0; i < children; ++i)
      threads.emplace_back([&runs, i] {
        runs[static_cast<std::size_t>(i)] =
            testsupport::run_child("ReportAtExitTogether", testsupport::ChildOptions().argument(std::to_string(i)));
      });
    for (int waited = 0; waited < 120000; ++waited) {
      int ready = 0;
      for (int i = 0; i < children; ++i) ready += testsupport::file_exists(dir / ("ready." + std::to_string(i)));
      if (ready == children) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    testsupport::write_file(dir / "go", "");
    for (std::thread& t : threads) t.join();
    for (const testsupport::Run& r : runs) EXPECT_EQ(0u, r.exit_code) << r.err;
    text = testsupport::read_file(dir / "allocstat");
  }
  // Each report: two ends of line, its header, its blocks and its totals, the last line
  // "Free bytes"; the next report begins right after it.
  const std::string last = "         Free bytes                : ";
  int reports = 0;
  for (std::size_t at = 0; at < text.size(); ++reports) {
    ASSERT_EQ(at, text.find("\n\n", at)) << text.substr(at, 400);
    const std::size_t header = text.find(" -- Allocators -- ", at);
    ASSERT_NE(std::string::npos, header) << text.substr(at, 400);
    const std::size_t end = text.find(last, at);
    ASSERT_NE(std::string::npos, end) << text.substr(at, 400);
    const std::size_t next_header = text.find(" -- Allocators -- ", header + 1);
    EXPECT_TRUE(next_header == std::string::npos || next_header > end) << text.substr(at, end - at);
    EXPECT_EQ(20, occurrences(text.substr(at, end - at), "Allocator: Together")) << text.substr(at, end - at);
    at = text.find('\n', end);
    ASSERT_NE(std::string::npos, at);
    ++at;
  }
  EXPECT_EQ(children, reports);
}

// A program asks for the report at its exit by QK_ALLOCSTAT_AT_EXIT alone.
TEST(AllocVis, ReportAtExitOnRequest) {
  if (!pooling_on()) GTEST_SKIP() << "QK_NOFASTMEM is set";
  using testsupport::ChildOptions;
  const std::string child = "ReportOfLiveAllocators";
  {
    const testsupport::Run r = testsupport::run_child(child, ChildOptions().set("QK_ALLOCSTAT_AT_EXIT", "stderr"));
    EXPECT_EQ(0u, r.exit_code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(" -- Allocators -- ")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("Total mem hunks")) << r.err;
  }
  {
    testsupport::TempDir dir;
    const testsupport::Run r =
        testsupport::run_child(child, ChildOptions().set("QK_LOG", dir.path()).set("QK_ALLOCSTAT_AT_EXIT", "1"));
    EXPECT_EQ(0u, r.exit_code) << r.err;
    EXPECT_NE(std::string::npos, testsupport::read_file(dir / "allocstat").find("Total mem hunks"));
  }
  {
    const testsupport::Run r = testsupport::run_child(child, ChildOptions().unset("QK_ALLOCSTAT_AT_EXIT"));
    EXPECT_EQ(std::string::npos, r.err.find(" -- Allocators -- ")) << r.err;
  }
}

}  // namespace
