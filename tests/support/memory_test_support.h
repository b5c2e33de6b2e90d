// What the memory module's tests share: the records the module logs, and the paths that
// end the process run in a child copy of the test program (run_child).
#ifndef QK_TESTS_SUPPORT_MEMORY_TEST_SUPPORT_H
#define QK_TESTS_SUPPORT_MEMORY_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "log/logfile.h"
#include "log/logger.h"
#include "tests/support/test_child.h"

namespace memtest {

struct Record {
  std::string source;
  int level;
  std::string text;
};

// Collects every record written while it lives (the threshold is raised to VERBOSE, so
// that TRACE and MILESTONE records are written too).
class Records {
 public:
  Records() : saved_level_(stdlog->level()) {
    seen().clear();
    stdlog->setLevel(VERBOSE);
    setLogExitFunction(&Records::note);
  }
  ~Records() {
    setLogExitFunction(nullptr);
    stdlog->setLevel(saved_level_);
  }
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;

  const std::vector<Record>& all() const { return seen(); }
  // How many records of the source hold the text.
  int count(const std::string& source, const std::string& text) const {
    int n = 0;
    for (const Record& r : seen())
      if (r.source == source && r.text.find(text) != std::string::npos) ++n;
    return n;
  }
  void clear() { seen().clear(); }

 private:
  static std::vector<Record>& seen() {
    static std::vector<Record> records;
    return records;
  }
  static void note(const char* source, int, int level, const char* text) {
    seen().push_back(Record{source, level, text});
  }
  int saved_level_;
};

// The exit code of a process that ended on a FATAL or EXIT record.
inline int fatalExit() { return testsupport::observed_exit_code(999); }

}  // namespace memtest

#endif
