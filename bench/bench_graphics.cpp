// The display's timing on the test server (run under tools/with-xserver.sh):
// how closely software pacing presents Flip(-1) frames to their 60 Hz due
// times, and how long opening the program's full-screen display takes, with
// and without the one-second vertical-sync test.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "graphics/gldisplay.h"
#include "runtime/time.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

bool OpenDisplayModule(benchmark::State& state) {
  InitGLDisplayModule();
  UseDisplayDriver(GLDisplayDriver(), DISPLAY_BACK_BUFFER);
  if (!HasGraphicsMode(640, 480, 0, 0)) {
    state.SkipWithError("no X server with 640x480 (run under tools/with-xserver.sh)");
    return false;
  }
  return true;
}

// |presented - due| over 600 paced frames; due = i * 1000 / 60 ms after the
// display opened. Counters in ms.
void BM_SoftPacingError(benchmark::State& state) {
  if (!OpenDisplayModule(state)) return;
  constexpr int kFrames = 600;
  std::vector<double> errors;
  for (auto _ : state) {
    if (!Graphics(640, 480, 32, 60, 0) || !GraphicsSoftSync()) {
      state.SkipWithError("no software-paced display");
      break;
    }
    const Clock::time_point opened = Clock::now();
    for (int i = 1; i <= kFrames; ++i) {
      Flip(-1);
      const double due = i * 1000 / 60;
      errors.push_back(std::fabs(MillisBetween(opened, Clock::now()) - due));
    }
    EndGraphics();
  }
  if (errors.empty()) return;
  std::sort(errors.begin(), errors.end());
  state.counters["median_ms"] = errors[errors.size() / 2];
  state.counters["p99_ms"] = errors[errors.size() * 99 / 100];
  state.counters["max_ms"] = errors.back();
}
BENCHMARK(BM_SoftPacingError)->Iterations(1)->Unit(benchmark::kMillisecond);

// Graphics(640,480,32,60,0) whole, then with hertz 0, which skips the sync
// test and leaves the rest: mode switch, window, context, grabs.
void BM_OpenFullScreen(benchmark::State& state) {
  if (!OpenDisplayModule(state)) return;
  const Int hertz = static_cast<Int>(state.range(0));
  for (auto _ : state) {
    if (!Graphics(640, 480, 32, hertz, 0)) {
      state.SkipWithError("Graphics failed");
      break;
    }
    state.PauseTiming();
    EndGraphics();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenFullScreen)->Arg(60)->Arg(0)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
