// Opens the windowed 640 x 480 2D display that the drawing benchmarks
// measure on, once per program; run them under tools/with-xserver.sh.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "graphics/graphics.h"
#include "render2d/gl2d.h"

// True when the display is open; otherwise the benchmark is skipped with the
// reason. `first` tells the caller that this call opened it.
inline bool OpenBenchDisplay(benchmark::State& state, bool* first = nullptr) {
  static bool opened = false;
  if (first) *first = !opened;
  if (opened) return true;
  if (!std::getenv("DISPLAY")) {
    state.SkipWithError("no DISPLAY: run under tools/with-xserver.sh");
    return false;
  }
  InitGLRender2DModule();
  if (!Graphics(640, 480, 0, 0, 0)) {
    state.SkipWithError("Graphics(640, 480) failed");
    return false;
  }
  opened = true;
  return true;
}
