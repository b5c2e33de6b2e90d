// For the string module's tests: the log records written while a LogCapture lives, read
// back from standard error (where a test program without an installation key logs), each
// behind its "LoggerQK: " tag and 99-character prefix. The logger's call-stack records
// are left out.
#ifndef QK_TESTS_SUPPORT_LOG_CAPTURE_H
#define QK_TESTS_SUPPORT_LOG_CAPTURE_H

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/testsupport.h"

namespace stringtest {

struct Record {
  std::string level, source, text;
  bool operator==(const Record& o) const { return level == o.level && source == o.source && text == o.text; }
};

inline std::ostream& operator<<(std::ostream& out, const Record& r) {
  return out << r.level << " " << r.source << " " << r.text;
}

class LogCapture {
 public:
  LogCapture() { testing::internal::CaptureStderr(); }
  ~LogCapture() {
    if (!taken_) testing::internal::GetCapturedStderr();
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Record> records() {
    taken_ = true;
    std::vector<Record> found;
    const std::string out = testsupport::unix_lines(testing::internal::GetCapturedStderr());
    std::size_t pos = 0;
    while (pos < out.size()) {
      std::size_t eol = out.find('\n', pos);
      if (eol == std::string::npos) eol = out.size();
      const std::string line = out.substr(pos, eol - pos);
      pos = eol + 1;
      if (line.compare(0, 10, "LoggerQK: ") != 0 || line.size() < 10 + 99) continue;
      const std::string body = line.substr(10);
      Record r{trim(body.substr(59, 12)), trim(body.substr(72, 20)), body.substr(99)};
      if (r.text.compare(0, 11, "Call stack:") == 0 || r.text.compare(0, 6, "Stack:") == 0) continue;
      found.push_back(r);
    }
    return found;
  }

 private:
  static std::string trim(const std::string& s) {
    const std::size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
  }
  bool taken_ = false;
};

}  // namespace stringtest

#endif
