// The main function of every test program. Run by run_child, the program is a child that
// runs one scenario of ChildScenario: GoogleTest's own reports are silenced, so that the
// child's standard output and standard error hold what the scenario wrote, and only a
// failed check is reported, on standard error.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/test_child.h"

namespace {

class ScenarioFailures : public testing::EmptyTestEventListener {
  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (!result.failed()) return;
    std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "", result.line_number(),
                 result.message());
    std::fflush(stderr);
  }
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!testsupport::internal::start_child_scenario(argc, argv)) return RUN_ALL_TESTS();
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  delete listeners.Release(listeners.default_result_printer());
  listeners.Append(new ScenarioFailures);
  const int result = RUN_ALL_TESTS();
  if (testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
    std::fprintf(stderr, "no scenario %s in this program\n", GTEST_FLAG_GET(filter).c_str());
    return static_cast<int>(testsupport::kNoSuchScenario);
  }
  return result;
}
