// The cost of lifesim's mode-1 frame (83 grid lines with their end pixels,
// 1368 cells each with its own colour) drawn through the 2D API, against
// the same OpenGL calls issued directly, in the same process on the same
// graphics. Each frame ends with glFinish so that no work piles up between
// iterations. Run under tools/with-xserver.sh.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include "bench/display.h"
#include "bench/paired.h"

#include <time.h>

#include <cstdlib>

#include "render2d/gl2d.h"
#include "render2d/pixmap/pixmap.h"

namespace {

constexpr int kColumns = 57, kRows = 24;

// A fixed pattern of live cells, about a third of the grid.
bool Alive(int x, int y) { return (x * 7 + y * 3) % 3 == 0; }

void ApiFrame() {
  Cls();
  SetColor(20, 112, 10);
  for (int y = 20; y <= 260; y += 10) DrawLine(10, Float(y), 580, Float(y), 1);
  for (int x = 10; x <= 580; x += 10) DrawLine(Float(x), 20, Float(x), 260, 1);
  for (int px = 11; px <= 571; px += 10)
    for (int py = 21; py <= 251; py += 10) {
      if (Alive(px / 10 - 1, (py - 21) / 10)) {
        SetColor(9, 62, 253);
      } else {
        SetColor(0, 0, 0);
      }
      DrawRect(Float(px), Float(py), 9, 9);
    }
}

void DirectLine(float x1, float y1, float x2, float y2) {
  glBegin(GL_LINES);
  glVertex2f(x1 + 0.5f, y1 + 0.5f);
  glVertex2f(x2 + 0.5f, y2 + 0.5f);
  glEnd();
  glBegin(GL_POINTS);
  glVertex2f(x2 + 0.5f, y2 + 0.5f);
  glEnd();
}

void DirectFrame() {
  glClear(GL_COLOR_BUFFER_BIT);
  glColor4ub(20, 112, 10, 255);
  for (int y = 20; y <= 260; y += 10) DirectLine(10, float(y), 580, float(y));
  for (int x = 10; x <= 580; x += 10) DirectLine(float(x), 20, float(x), 260);
  for (int px = 11; px <= 571; px += 10)
    for (int py = 21; py <= 251; py += 10) {
      if (Alive(px / 10 - 1, (py - 21) / 10)) {
        glColor4ub(9, 62, 253, 255);
      } else {
        glColor4ub(0, 0, 0, 255);
      }
      const float x0 = float(px), y0 = float(py), x1 = x0 + 9, y1 = y0 + 9;
      glBegin(GL_QUADS);
      glVertex2f(x0, y0);
      glVertex2f(x1, y0);
      glVertex2f(x1, y1);
      glVertex2f(x0, y1);
      glEnd();
    }
}

bool OpenOnce(benchmark::State& state) {
  bool first = false;
  if (!OpenBenchDisplay(state, &first)) return false;
  if (!first) return true;
  // The simulator's blend state.
  SetBlend(BLEND_TRANSLUCENT);
  SetAlpha(1);
  // Warm both paths up so that whichever runs first does not pay for the
  // rasteriser's start-up.
  for (int i = 0; i < 100; ++i) {
    ApiFrame();
    DirectFrame();
    glFinish();
  }
  return true;
}

void BM_Mode1FrameApi(benchmark::State& state) {
  if (!OpenOnce(state)) return;
  for (auto _ : state) {
    ApiFrame();
    glFinish();
  }
  state.counters["cells"] = kColumns * kRows;
}

void BM_Mode1FrameDirectGL(benchmark::State& state) {
  if (!OpenOnce(state)) return;
  for (auto _ : state) {
    DirectFrame();
    glFinish();
  }
  state.counters["cells"] = kColumns * kRows;
}

double ThreadCpuMicros() { return CpuMicros(CLOCK_THREAD_CPUTIME_ID); }

// The two versions in alternating order within each iteration, each timed
// on the main thread's CPU clock: load on the machine drifts, and pairing
// keeps the drift out of the ratio.
void BM_Mode1FramePaired(benchmark::State& state) {
  if (!OpenOnce(state)) return;
  double api = 0, direct = 0;
  long frames = 0;
  for (auto _ : state) {
    const bool apiFirst = (frames & 1) == 0;
    for (int k = 0; k < 2; ++k) {
      const bool useApi = (k == 0) == apiFirst;
      const double t0 = ThreadCpuMicros();
      if (useApi) {
        ApiFrame();
      } else {
        DirectFrame();
      }
      glFinish();
      (useApi ? api : direct) += ThreadCpuMicros() - t0;
    }
    ++frames;
  }
  state.counters["api_us"] = api / frames;
  state.counters["direct_us"] = direct / frames;
  state.counters["ratio"] = api / direct;
}

// Both versions draw the same picture; the API one is checked once so the
// comparison is of equal work.
void BM_SamePicture(benchmark::State& state) {
  if (!OpenOnce(state)) return;
  for (auto _ : state) {
    ApiFrame();
    TPixmap* api = CapturePixmap(0, 0, 640, 280);
    DirectFrame();
    TPixmap* direct = CapturePixmap(0, 0, 640, 280);
    for (int y = 0; y < 280; ++y)
      for (int x = 0; x < 640; ++x)
        if (api->GetPixel(x, y) != direct->GetPixel(x, y)) {
          state.SkipWithError("the two frames differ");
          return;
        }
  }
}

// Fixed iteration counts: the minimum-time rule counts CPU time, which is a
// small part of a frame's wall time under a software rasteriser.
BENCHMARK(BM_Mode1FrameApi)->Unit(benchmark::kMicrosecond)->Iterations(1500)->Repetitions(3);
BENCHMARK(BM_Mode1FrameDirectGL)->Unit(benchmark::kMicrosecond)->Iterations(1500)->Repetitions(3);
BENCHMARK(BM_Mode1FramePaired)->Unit(benchmark::kMicrosecond)->Iterations(3000)->Repetitions(3);
BENCHMARK(BM_SamePicture)->Iterations(1);

}  // namespace
