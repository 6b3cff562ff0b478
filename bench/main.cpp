// Main of every benchmark program: registers the collector's stack base and
// starts the clock, as lifesim's start-up does.
#include <benchmark/benchmark.h>

#include "runtime/module.h"
#include "runtime/object.h"
#include "runtime/time.h"

int main(int argc, char** argv) {
  kxSetStackBase(__builtin_frame_address(0));
  InitRuntimeModule();
  kxClockStart();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
