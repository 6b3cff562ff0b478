// Main of every unit-test program: the collector scans the stack from
// here down, and the millisecond clock runs as it does in lifesim.
#include <gtest/gtest.h>

#include "runtime/module.h"
#include "runtime/object.h"
#include "runtime/time.h"
#include "tests/support/test_util.h"

int main(int argc, char** argv) {
  kxSetStackBase(__builtin_frame_address(0));
  InitRuntimeModule();
  kxClockStart();
  testing::InitGoogleTest(&argc, argv);
  LeaveOutChildCases();
  return RUN_ALL_TESTS();
}
