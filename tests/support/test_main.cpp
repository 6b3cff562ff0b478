// Main of every unit-test program: the collector scans the stack from
// here down, and the millisecond clock runs as it does in lifesim.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/module.h"
#include "runtime/object.h"
#include "runtime/time.h"
#include "tests/support/test_util.h"

int main(int argc, char** argv) {
  kxSetStackBase(__builtin_frame_address(0));
  InitRuntimeModule();
  kxClockStart();
  testing::InitGoogleTest(&argc, argv);
  const char* child = getenv("LIFESIM_CHILD_CASE");
  if (child && std::string(child) == kQuietChild) {  // its output is the case's own
    auto& listeners = testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
  }
  LeaveOutChildCases();
  const int status = RUN_ALL_TESTS();
  // A child started for a case that its filter does not find would pass
  // without running anything.
  if (child && testing::UnitTest::GetInstance()->test_to_run_count() == 0) return 3;
  return status;
}
