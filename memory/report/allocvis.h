// AllocatorVisitorQK: the allocator registry's report. Visiting the registry with it writes
// a header, one statistics block per allocator (in registration order) and seven lines of
// totals, to a stream of the caller's or appended to the file "allocstat" in the QK_LOG
// directory. An options text can also ask, for the String size classes, for a per-object
// detail file ("-x", a selection of names) or set their debugging options ("-d ...").
//
//   allocator_report(std::cerr);            // the report of every registered allocator
//   allocator_report_to_file();             // ... appended to QK_LOG/allocstat
//   allocator_report_to_file("-x String64"); // ... and String64's detail file
//
// A program that sets QK_ALLOCSTAT_AT_EXIT gets the report at its exit without a line of
// its own code (see install_allocator_report_at_exit). Messages are logged under "allocvis".
//
// This module belongs to the memory module but sits above the String module (it upper-cases
// names and writes String representations): it is a layer of its own, memory/report, built
// as the library qk_allocvis.
#ifndef QK_MEMORY_REPORT_ALLOCVIS_H
#define QK_MEMORY_REPORT_ALLOCVIS_H

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "memory/allocator.h"
#include "memory/tracker.h"

class AllocatorVisitorQK : public Visitor {
 public:
  // The report file's path is set from QK_LOG here (it stays empty, after a message, when
  // QK_LOG is not set or is 85 characters or longer).
  explicit AllocatorVisitorQK(std::ostream* out = nullptr);
  ~AllocatorVisitorQK() override;

  // One allocator's block and, with a non-empty options text, its detail step.
  int visit(Trackable* object, const char* options) override;
  // Starts a report: totals to 0, the stream given or (nullptr) the report file opened for
  // appending, and the header. Returns the stream used before.
  std::ostream* begin(std::ostream* out, const char* options) override;
  // The totals, and the report file closed; 0, or -1 when the report had no stream.
  int end(const char* options) override;

  // The totals and each block's figures are sums of products of the allocators' 32-bit
  // counters: 64 bits wide where the build's addresses are, 32 bits on a 32-bit build.
  typedef std::size_t Total;

  const char* reportFilePath() const { return report_path_; }
  Total totalHunks() const { return total_hunks_; }
  Total totalRealBytes() const { return total_real_bytes_; }
  Total totalBytesAvail() const { return total_bytes_avail_; }
  Total totalFreeObjects() const { return total_free_objects_; }
  Total freeBytes() const { return free_bytes_; }
  Total totalObjectsInUse() const { return total_objects_in_use_; }
  Total totalBytesInUse() const { return total_bytes_in_use_; }
  bool disabled() const { return disabled_; }

 private:
  void detail(ALLOCATOR_QK& allocator, const char* options);
  void close_own_stream();

  Total total_hunks_ = 0;
  Total total_real_bytes_ = 0;
  Total total_bytes_avail_ = 0;
  Total total_free_objects_ = 0;
  Total free_bytes_ = 0;
  Total total_objects_in_use_ = 0;
  Total total_bytes_in_use_ = 0;
  bool disabled_ = false;
  char report_path_[100];
  std::ostream* own_stream_ = nullptr;  // the report file while a report writes to it
};

// Makes an AllocatorVisitorQK the registry's visitor unless it has one already; false when
// there is no registry.
bool install_allocator_report();

// Writes the report of every registered allocator to out (options as for the visitor; nullptr
// for none). 0, or -1 when there is no registry.
int allocator_report(std::ostream& out, const char* options = nullptr);

// Appends the report to the file "allocstat" in the QK_LOG directory. 0, or -1 when there is
// no registry or the file cannot be written (logged).
int allocator_report_to_file(const char* options = nullptr);

// Asks for a report at the process's exit when QK_ALLOCSTAT_AT_EXIT is set then: its value
// "stderr" writes it to standard error, any other value appends it to the report file.
// QK_ALLOCSTAT_OPTIONS, when set, is the options text (so "-x ALL" writes detail files
// too). Linking qk_allocvis installs it; calling it again does nothing.
void install_allocator_report_at_exit();

#endif
