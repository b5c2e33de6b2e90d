// qklog's reading and changing of the block, on blocks in memory.
#include "qklog/view.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

#include "log/logger.h"

namespace {

using qklog::FilterChange;
using qklog::FilterSelector;

std::unique_ptr<MEMORY_LGQK> zero_block() { return std::unique_ptr<MEMORY_LGQK>(new MEMORY_LGQK()); }

FilterSelector source(const std::string& name) {
  FilterSelector s;
  s.kind = LOG_FILTER_SOURCE_FILE;
  s.name = name;
  return s;
}

TEST(QklogLevels, NamesAndNumbersGiveRanks) {
  int rank = -1;
  EXPECT_TRUE(qklog::parse_level("MILESTONE", &rank));
  EXPECT_EQ(rank, 90);
  EXPECT_TRUE(qklog::parse_level("milestone", &rank));
  EXPECT_EQ(rank, 90);
  EXPECT_TRUE(qklog::parse_level("Severe_Error", &rank));
  EXPECT_EQ(rank, 35);
  EXPECT_TRUE(qklog::parse_level("32808", &rank));  // ERROR with its flag bit
  EXPECT_EQ(rank, 40);
  EXPECT_TRUE(qklog::parse_level("0", &rank));
  EXPECT_EQ(rank, 0);
  for (const char* bad : {"", "MILESTONES", "-1", "+5", "65536", "1e3", "9 ", "0x10"})
    EXPECT_FALSE(qklog::parse_level(bad, &rank)) << bad;
}

TEST(QklogLevels, AStoredLevelNamesTheLeastImportantLevelThatPasses) {
  EXPECT_EQ(qklog::level_meaning(91), "ranks below 91 (MILESTONE and more important)");
  EXPECT_EQ(qklog::level_meaning(90), "ranks below 90 (INFORMATION and more important)");
  EXPECT_EQ(qklog::level_meaning(1), "ranks below 1 (FATAL and more important)");
  EXPECT_EQ(qklog::level_meaning(0), "nothing passes");
  EXPECT_EQ(qklog::level_meaning(-7), "nothing passes");
}

TEST(QklogLevels, WhatTheLoggerWritesOfALevelReadsBackAsItsRank) {
  for (const LogLevelName& level : log_level_names) {
    int rank = -1;
    EXPECT_TRUE(qklog::parse_level(level.name, &rank)) << level.name;
    EXPECT_EQ(rank, level.level & 0x7FFF) << level.name;
    EXPECT_EQ(rank, parseLevel(level.name)) << level.name;
  }
  // A record's level field: the message levels by name, the threshold levels as numbers.
  const std::initializer_list<int> levels = {FATAL,     EXIT,     RESTART, SIGNIFICANT, SEVERE_ERROR,
                                             ERROR,     WARNING,  INFORMATION, MILESTONE, TRACE,
                                             VERBOSE,   MINIMUM,  ABS_MINIMUM, 123};
  for (int level : levels) {
    int rank = -1;
    EXPECT_TRUE(qklog::parse_level(levelName(level), &rank)) << level;
    EXPECT_EQ(rank, level & 0x7FFF) << level;
  }
  EXPECT_STREQ(levelName(MINIMUM), "60");
  EXPECT_STREQ(levelName(WARNING), "WARNING");
}

TEST(QklogOffset, SecondsWithUpToThreeDecimalsBothSigned) {
  std::int32_t s = 0, ms = 0;
  ASSERT_TRUE(qklog::parse_offset("3600", &s, &ms));
  EXPECT_EQ(s, 3600);
  EXPECT_EQ(ms, 0);
  ASSERT_TRUE(qklog::parse_offset("1.5", &s, &ms));
  EXPECT_EQ(ms, 500);
  ASSERT_TRUE(qklog::parse_offset("-0.025", &s, &ms));
  EXPECT_EQ(s, 0);
  EXPECT_EQ(ms, -25);
  ASSERT_TRUE(qklog::parse_offset("-12.34", &s, &ms));
  EXPECT_EQ(s, -12);
  EXPECT_EQ(ms, -340);
  ASSERT_TRUE(qklog::parse_offset("2147483647.999", &s, &ms));
  EXPECT_EQ(s, 2147483647);
  for (const char* bad : {"", ".", "1.", "1.2345", "2147483648", "1,5", "--1", "1e3", " 1", "0x10", "-"})
    EXPECT_FALSE(qklog::parse_offset(bad, &s, &ms)) << bad;
}

TEST(QklogFiles, NumberedNamesCycleThroughTheirRing) {
  EXPECT_EQ(qklog::numbered_file_name("stdlog.%1", 13), "stdlog.3");
  EXPECT_EQ(qklog::numbered_file_name("boot.%0", 3), "boot.1");
  EXPECT_EQ(qklog::numbered_file_name("x%3.log", 12345), "x345.log");
  EXPECT_EQ(qklog::numbered_file_name("x%2", -1), "x99");
  EXPECT_EQ(qklog::numbered_file_name("a%pb%", 4), "a%pb%");
  EXPECT_EQ(qklog::pattern_ring("stdlog.%1"), 10);
  EXPECT_EQ(qklog::pattern_ring("plain"), 2);

  auto block = zero_block();
  std::strcpy(block->log_directory, "/var/log/qk");
  std::strcpy(block->files[2].directory, ".");
  std::strcpy(block->files[2].pattern, "stdlog.%1");
  block->files[2].file_number = 27;
  EXPECT_EQ(qklog::stdlog_entry(*block), 2);
  EXPECT_EQ(qklog::current_file_path(*block, 2), "/var/log/qk/./stdlog.7");
  EXPECT_EQ(qklog::current_file_path(*block, 40), "");
  EXPECT_EQ(qklog::current_file_path(*block, 0), "");  // a free entry
}

TEST(QklogText, FieldsAreReadWithinThemAndShownEscaped) {
  char field[4] = {'a', 'b', 'c', 'd'};  // no zero byte
  EXPECT_EQ(field_text(field, sizeof field), "abcd");
  EXPECT_EQ(qklog::printable("a\nb\\c\x7f\xff"), "a\\x0ab\\x5cc\\x7f\\xff");
  EXPECT_EQ(qklog::printable("gr\xc3\xbc\xc3\x9f"), "gr\xc3\xbc\xc3\x9f");
  EXPECT_EQ(qklog::printable("\xed\xa0\x80"), "\\xed\\xa0\\x80");  // a surrogate is no character
  EXPECT_EQ(qklog::json_string("q\"b\\\t\xc3\xbc\xc3"), "\"q\\\"b\\\\\\u0009\xc3\xbc\\u00c3\"");
}

TEST(QklogFilters, AddUpdatesRemovesAndClears) {
  auto block = zero_block();
  int index = -1;
  EXPECT_EQ(qklog::add_filter(block.get(), source("Brimvale"), 91, &index), FilterChange::added);
  EXPECT_EQ(index, 0);
  FilterSelector pid;
  pid.kind = LOG_FILTER_PROCESS_ID;
  pid.process_id = memlgqk_reduced_process_id(1234567);
  EXPECT_EQ(pid.process_id, 34567);
  EXPECT_EQ(qklog::add_filter(block.get(), pid, 41, &index), FilterChange::added);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(qklog::add_filter(block.get(), source("Brimvale"), 251, &index), FilterChange::updated);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(block->filters[0].level, 251);
  EXPECT_EQ(block->filter_busy, 0u);
  EXPECT_EQ(block->filter_generation, 3u) << "each change is told to the processes";

  // The logger's own test sees what was written.
  EXPECT_TRUE(memlgqk_filter_passes(block.get(), "Brimvale", 250, 1, "x"));
  EXPECT_TRUE(memlgqk_filter_passes(block.get(), "other", 40, 34567, "x"));
  EXPECT_FALSE(memlgqk_filter_passes(block.get(), "other", 41, 34567, "x"));

  int count = 0;
  EXPECT_EQ(qklog::remove_filters(block.get(), source("Brimvale"), &count), FilterChange::removed);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(qklog::remove_filters(block.get(), source("Brimvale"), &count), FilterChange::not_found);
  EXPECT_EQ(block->filter_generation, 4u) << "a removal of nothing changes nothing";
  LogFilterEntry free_entry{};
  EXPECT_EQ(std::memcmp(&block->filters[0], &free_entry, sizeof free_entry), 0);
  EXPECT_EQ(qklog::remove_filter_at(block.get(), 0), FilterChange::not_found);
  EXPECT_EQ(qklog::remove_filter_at(block.get(), 20), FilterChange::not_found);
  EXPECT_EQ(qklog::remove_filter_at(block.get(), 1), FilterChange::removed);
  EXPECT_EQ(block->filter_generation, 5u);

  // A free slot is reused; a full table refuses and changes nothing.
  for (int i = 0; i < LOG_FILTER_ENTRIES; ++i)
    ASSERT_EQ(qklog::add_filter(block.get(), source("m" + std::to_string(i)), 81, &index), FilterChange::added);
  MEMORY_LGQK before;
  std::memcpy(&before, block.get(), sizeof before);
  EXPECT_EQ(qklog::add_filter(block.get(), source("one more"), 81, &index), FilterChange::table_full);
  EXPECT_EQ(std::memcmp(&before, block.get(), sizeof before), 0);

  block->filter_busy = 5;  // left set by a party that died
  const std::uint32_t generation = block->filter_generation;
  qklog::clear_filters(block.get());
  EXPECT_EQ(block->filter_busy, 0u);
  EXPECT_EQ(block->filter_generation, generation + 1);
  for (const LogFilterEntry& e : block->filters) EXPECT_EQ(e.kind, 0u);
}

// A word left at its highest value must neither wrap to 0 while the change runs nor be
// lowered by a change that could not raise it; one below it is raised and put back.
TEST(QklogFilters, ABusyWordAtItsHighestValueStaysSetThroughEveryChange) {
  for (const std::uint32_t left : {0xFFFFFFFFu, 0xFFFFFFFEu, 7u}) {
    auto block = zero_block();
    block->filter_busy = left;
    int index = 0, count = 0;
    ASSERT_EQ(qklog::add_filter(block.get(), source("Brimvale"), 91, &index), FilterChange::added);
    EXPECT_EQ(block->filter_busy, left);
    ASSERT_EQ(qklog::add_filter(block.get(), source("Brimvale"), 81, &index), FilterChange::updated);
    EXPECT_EQ(block->filter_busy, left);
    ASSERT_EQ(qklog::remove_filters(block.get(), source("Brimvale"), &count), FilterChange::removed);
    EXPECT_EQ(block->filter_busy, left);
    ASSERT_EQ(qklog::add_filter(block.get(), source("x"), 91, &index), FilterChange::added);
    ASSERT_EQ(qklog::remove_filter_at(block.get(), index), FilterChange::removed);
    EXPECT_EQ(block->filter_busy, left);
  }
}

TEST(QklogFilters, DuplicateEntriesFromAnotherProducerAreAllRemoved) {
  auto block = zero_block();
  for (int i : {3, 7}) {
    block->filters[i].kind = LOG_FILTER_PROCESS_NAME;
    block->filters[i].level = 91;
    std::strcpy(block->filters[i].name, "Loader");
  }
  FilterSelector name;
  name.kind = LOG_FILTER_PROCESS_NAME;
  name.name = "Loader";
  int count = 0;
  EXPECT_EQ(qklog::remove_filters(block.get(), name, &count), FilterChange::removed);
  EXPECT_EQ(count, 2);
}

// A logging thread judges a standing entry while another thread adds and removes entries
// around it: the standing entry must pass every time, and no half-written entry may let
// a message through that no entry selects.
TEST(QklogFilters, ChangesNeverShowAHalfWrittenEntryToTheLevelTest) {
  auto block = zero_block();
  int index = 0;
  ASSERT_EQ(qklog::add_filter(block.get(), source("steady"), 81, &index), FilterChange::added);
  std::atomic<bool> stop{false};
  std::atomic<long> misses{0}, false_passes{0}, checks{0};
  std::thread logger([&] {
    while (!stop) {
      if (!memlgqk_filter_passes(block.get(), "steady", 80, 7, "proc")) ++misses;
      // "churn" entries name "churn"; a message of "chur" must never pass unless busy.
      const bool busy = block->filter_busy != 0;
      if (memlgqk_filter_matches(block.get(), "chur", 10, 8, "proc") && !busy) ++false_passes;
      ++checks;
    }
  });
  for (int round = 0; round < 20000; ++round) {
    ASSERT_NE(qklog::add_filter(block.get(), source("churn"), 251, &index), FilterChange::table_full);
    int count = 0;
    qklog::remove_filters(block.get(), source("churn"), &count);
  }
  while (checks < 1000) std::this_thread::yield();
  stop = true;
  logger.join();
  EXPECT_EQ(misses, 0);
  EXPECT_EQ(false_passes, 0);
  EXPECT_EQ(block->filter_busy, 0u);
}

// Status and lists of a block whose every byte is random: texts stay within their fields
// and every byte shown is printable.
TEST(QklogText, AGarbageBlockIsShownSafely) {
  std::mt19937 random(42);
  for (int round = 0; round < 20; ++round) {
    auto block = zero_block();
    auto* bytes = reinterpret_cast<unsigned char*>(block.get());
    for (std::size_t i = 0; i < sizeof(MEMORY_LGQK); ++i) bytes[i] = static_cast<unsigned char>(random() % 255 + 1);
    qklog::StatusContext context;
    context.key_text = "\x01key";
    const std::string text = qklog::status_text(*block, context) + qklog::filters_text(*block);
    for (char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 32) << static_cast<int>(c);
    const std::string json = qklog::status_json(*block, context);
    EXPECT_EQ(json.front(), '{');
    for (char c : json) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 32);
    EXPECT_LT(qklog::current_file_path(*block, 0).size(), 276u + 64 + 64 + 64);
  }
}

}  // namespace
