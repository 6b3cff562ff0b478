// Where a maximum-speed frame's time goes, in both render modes: the frame
// of the main loop made from the simulator's own code on the full-screen
// display it opens, with a clock read between its parts. The buffer swap is
// interposed here, so the time inside Flip splits into the pacing wait, the
// swap and the event pump after it; with split = 1 the swap first waits for
// the rasteriser (glFinish), which tells its work apart from the present.
//
// BM_FrameCpu compares the main thread's CPU for the drawing of one frame
// through the 2D API (the simulator's functions) with the same OpenGL calls
// issued directly: medians of each side and of the ratio within each pair.
// Both write the frame's markers, so the ratio is that of the drawing.
// api_own_us and direct_own_us are the two sides' own CPU, OpenGL's calls
// being no-op stubs. Under callgrind, --toggle-collect='*::ApiFrame()' and
// --toggle-collect='*::DirectFrame(int, long)' count each side's
// instructions; --toggle-collect='*OwnCpu*' only the frames without OpenGL.
//
// Run under tools/with-xserver.sh with --benchmark_out=FILE: the markers go
// to standard output.
#include <GL/gl.h>
#include <GL/glx.h>
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <vector>

#include "app/life.h"
#include "bench/paired.h"
#include "graphics/graphics.h"
#include "input/polled.h"
#include "input/system.h"
#include "random/random.h"
#include "render2d/font.h"
#include "render2d/gl2d.h"
#include "render2d/render2d.h"
#include "runtime/time.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Filled by the interposed swap below.
bool splitSwap = false;
Clock::time_point swapEnter, swapRasterised, swapLeave;
double flushMs = 0;  // time inside glFlush since the last frame began

}  // namespace

// The display layer's call lands here: the program's own definition wins
// over the library's, which is found behind it.
extern "C" void glXSwapBuffers(Display* display, GLXDrawable drawable) {
  using Swap = void (*)(Display*, GLXDrawable);
  static Swap real = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
  swapEnter = Clock::now();
  if (splitSwap) glFinish();
  swapRasterised = Clock::now();
  real(display, drawable);
  swapLeave = Clock::now();
}

// Handing the queued drawing over must not wait for the rasteriser.
extern "C" void glFlush() {
  using Flush = void (*)();
  static Flush real = reinterpret_cast<Flush>(dlsym(RTLD_NEXT, "glFlush"));
  const Clock::time_point t0 = Clock::now();
  real();
  flushMs += Ms(t0, Clock::now());
}

namespace {

// The same random grid each time, then the given number of generations.
void SeedGrid(int generations) {
  SeedRnd(4321);
  for (Int x = 0; x < kGridColumns; ++x)
    for (Int y = 0; y < kGridRows; ++y)
      Cell(cellules, x, y) = Cell(cellules_copie, x, y) = Rand(0, 1);
  for (int i = 0; i < generations; ++i) {
    StepGeneration();
    CopyBack();
  }
}

// The collector scans the stack from its base down. lifesim's base is its
// program's entry, a few frames above the main loop; here main() is under
// some 15 KiB of the benchmark library's frames, which hold no object of
// ours. A benchmark function makes its own frame the base for its run.
struct StackBaseHere {
  void* saved = kxStackBase();
  explicit StackBaseHere(void* base) { kxSetStackBase(base); }
  ~StackBaseHere() { kxSetStackBase(saved); }
};

bool OpenLikeLifesim(benchmark::State& state) {
  static int open = -1;
  if (open < 0) {
    open = 0;
    InitGLRender2DModule();
    InitFontModule();
    if (Graphics(640, 480, 32, 60, 0)) {
      HideMouse();
      SetBlend(3);
      SetAlpha(1.0f);
      CreateGrids();
      SeedGrid(0);
      open = 1;
    }
  }
  if (!open) state.SkipWithError("no full-screen display: run under tools/with-xserver.sh");
  return open == 1;
}

String* StatusLine330() {
  String* line = kxStringConcat(KX_STR("Mode de rendu : "), kxStringFromInt(iModeRendu));
  line = kxStringConcat(line, KX_STR(" -- Generation number "));
  return kxStringConcat(line, kxStringFromLong(iComptBoucles));
}

// The frame's drawing before its delay, as the main loop makes it.
void DrawApiFrame() {
  Cls();
  afficherTexte(KX_STR("== Version 1.1.1 - 05/08/2007 =="), KX_STR("blanc"), 1, 10, 270);
  afficherTexte(KX_STR("This life simulator uses John Horton Conway's algorithm."), KX_STR("blanc"),
                1, 10, 290);
  afficherTexte(KX_STR("[ESC] to quit - [SPACE] to restart"), KX_STR("blanc"), 1, 10, 310);
  afficherTexte(StatusLine330(), KX_STR("blanc"), 1, 10, 330);
  demarrerRendu(iModeRendu);
}

// Measured frames go through here, the warm-up does not.
__attribute__((noinline)) void ApiFrame() { DrawApiFrame(); }

struct Phases {
  std::vector<double> input, life, emit, delay, flush, flipWait, raster, present, pump, frame;
};

void Record(std::vector<double>& v, Clock::time_point a, Clock::time_point b) {
  v.push_back(Ms(a, b));
}

void RunTimedFrame(Phases& p) {
  flushMs = 0;
  const Clock::time_point t0 = Clock::now();
  for (Int key : {27, 32, 49, 50, 83}) benchmark::DoNotOptimize(KeyHit(key));
  const Clock::time_point t1 = Clock::now();
  StepGeneration();
  CopyBack();
  kxLongAdd(&iComptBoucles, iComptBoucles, 1);
  const Clock::time_point t2 = Clock::now();
  ApiFrame();
  const Clock::time_point t3 = Clock::now();
  kxDelay(5);
  const Clock::time_point t4 = Clock::now();
  afficherTexte(KX_STR("Simulation speed : MAX"), KX_STR("blanc"), 1, 10, 350);
  const Clock::time_point t5 = Clock::now();
  Flip(-1);
  const Clock::time_point t6 = Clock::now();
  Record(p.input, t0, t1);
  Record(p.life, t1, t2);
  // Both pieces of drawing count as emitting.
  p.emit.push_back(Ms(t2, t3) + Ms(t4, t5));
  Record(p.delay, t3, t4);
  p.flush.push_back(flushMs);
  Record(p.flipWait, t5, swapEnter);
  Record(p.raster, swapEnter, swapRasterised);
  Record(p.present, swapRasterised, swapLeave);
  Record(p.pump, swapLeave, t6);
}

// A positive count from the environment, else the default.
int EnvCount(const char* name, int otherwise) {
  const char* n = std::getenv(name);
  return n && std::atoi(n) > 0 ? std::atoi(n) : otherwise;
}

// Args: render mode, split (1: wait for the rasteriser before the present).
// worst_<part> gives the parts of the frame that ended the longest interval.
void BM_FrameBreakdown(benchmark::State& state) {
  if (!OpenLikeLifesim(state)) return;
  StackBaseHere base(__builtin_frame_address(0));
  iModeRendu = static_cast<uint16_t>(state.range(0));
  splitSwap = state.range(1) != 0;
  // BENCH_FRAME_FRAMES lengthens the run to catch rare long frames.
  const int kFrames = EnvCount("BENCH_FRAME_FRAMES", 600);
  Phases p;
  for (int i = 0; i < 30; ++i) RunTimedFrame(p);  // settle the pacing and the JIT
  p = Phases();
  std::vector<Clock::time_point> ends;
  for (auto _ : state) {
    for (int i = 0; i < kFrames; ++i) {
      RunTimedFrame(p);
      ends.push_back(Clock::now());
    }
  }
  for (size_t i = 1; i < ends.size(); ++i) p.frame.push_back(Ms(ends[i - 1], ends[i]));
  // Interval k ends with frame k + 1 of the timed ones.
  const size_t worst = size_t(std::max_element(p.frame.begin(), p.frame.end()) - p.frame.begin()) +
                       1;
  const auto put = [&](const char* name, const std::vector<double>& v) {
    state.counters[std::string(name) + "_med"] = Percentile(v, 0.5);
    state.counters[std::string(name) + "_p99"] = Percentile(v, 0.99);
  };
  const auto part = [&](const char* name, const std::vector<double>& v) {
    put(name, v);
    state.counters[std::string("worst_") + name] = v[worst];
  };
  part("input", p.input);
  part("life", p.life);
  part("emit", p.emit);
  part("delay", p.delay);
  part("flush", p.flush);
  part("flip_wait", p.flipWait);
  part("raster", p.raster);
  part("present", p.present);
  part("pump", p.pump);
  put("frame", p.frame);
  state.counters["frame_max"] = *std::max_element(p.frame.begin(), p.frame.end());
  // On the monotonic clock, to match against bench/stallwatch's gaps.
  state.counters["worst_end_s"] =
      std::chrono::duration<double>(ends[worst].time_since_epoch()).count();
  state.counters["per_second"] = double(ends.size() - 1) / (Ms(ends.front(), ends.back()) / 1e3);
  splitSwap = false;
}
BENCHMARK(BM_FrameBreakdown)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"mode", "split"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// --- the same drawing issued straight to OpenGL ------------------------------

// A glyph's cell in the font's sheet texture.
struct GlyphQuad {
  GLuint texture;
  Float u0, u1, v;
};
GlyphQuad glyphQuads[96];

void Marker(const char* text) {
  fputs(text, stdout);
  fflush(stdout);
}

inline void Bind(GLuint texture, GLuint& bound, bool& textured) {
  if (texture != bound) {
    glBindTexture(GL_TEXTURE_2D, texture);
    bound = texture;
  }
  if (!textured) {
    glEnable(GL_TEXTURE_2D);
    textured = true;
  }
}

void DirectText(const char* text, Float x, Float y, GLuint& bound, bool& textured) {
  for (const char* c = text; *c; ++c, x += 8) {
    const GlyphQuad& q = glyphQuads[*c - 32];
    Bind(q.texture, bound, textured);
    glBegin(GL_QUADS);
    glTexCoord2f(q.u0, 0);
    glVertex2f(x, y);
    glTexCoord2f(q.u1, 0);
    glVertex2f(x + 8, y);
    glTexCoord2f(q.u1, q.v);
    glVertex2f(x + 8, y + 16);
    glTexCoord2f(q.u0, q.v);
    glVertex2f(x, y + 16);
    glEnd();
  }
}

// White text over its black shadow, the colour sent back afterwards.
void DirectShadowed(const char* text, Int x, Int y, const GLubyte* restore, GLuint& bound,
                    bool& textured) {
  glColor4ub(0, 0, 0, 255);
  DirectText(text, Float(x + 1), Float(y + 1), bound, textured);
  glColor4ub(255, 255, 255, 255);
  DirectText(text, Float(x), Float(y), bound, textured);
  glColor4ubv(restore);
}

inline void Untextured(bool& textured) {
  if (textured) {
    glDisable(GL_TEXTURE_2D);
    textured = false;
  }
}

__attribute__((noinline)) void DirectFrame(int mode, Long generation) {
  GLuint bound = 0;
  bool textured = false;
  glDisable(GL_TEXTURE_2D);
  GLubyte colour[4] = {255, 255, 255, 255};
  glClear(GL_COLOR_BUFFER_BIT);
  DirectShadowed("== Version 1.1.1 - 05/08/2007 ==", 10, 270, colour, bound, textured);
  DirectShadowed("This life simulator uses John Horton Conway's algorithm.", 10, 290, colour, bound,
                 textured);
  DirectShadowed("[ESC] to quit - [SPACE] to restart", 10, 310, colour, bound, textured);
  char line[96];
  snprintf(line, sizeof line, "Mode de rendu : %d -- Generation number %lld", mode,
           static_cast<long long>(generation));
  DirectShadowed(line, 10, 330, colour, bound, textured);
  if (mode == 1) {
    Marker("      <TRACETABLEAU IN>      ");
    glColor4ub(20, 112, 10, 255);
    Untextured(textured);
    for (int k = 0; k < 83; ++k) {
      const bool across = k < 25;
      const float a = across ? 10.5f : 10.5f + 10 * (k - 25), b = across ? 20.5f + 10 * k : 20.5f;
      const float ex = across ? 580.5f : a, ey = across ? b : 260.5f;
      glBegin(GL_LINES);
      glVertex2f(a, b);
      glVertex2f(ex, ey);
      glEnd();
      glBegin(GL_POINTS);
      glVertex2f(ex, ey);
      glEnd();
    }
    Marker("      <TRACETABLEAU OUT>      ");
    Marker("      <REFRESHCELLS IN>      ");
    for (int x = 0; x < kGridColumns; ++x)
      for (int y = 0; y < kGridRows; ++y) {
        if (Cell(cellules, x, y) == 0)
          glColor4ub(0, 0, 0, 255);
        else
          glColor4ub(9, 62, 253, 255);
        const float x0 = float(11 + 10 * x), y0 = float(21 + 10 * y), x1 = x0 + 9, y1 = y0 + 9;
        glBegin(GL_QUADS);
        glVertex2f(x0, y0);
        glVertex2f(x1, y0);
        glVertex2f(x1, y1);
        glVertex2f(x0, y1);
        glEnd();
      }
    Marker("      <REFRESHCELLS OUT>      ");
  } else {
    Marker("      <AFFICHEBINAIRE IN>      ");
    char digit[2] = {0, 0};
    for (int x = 0; x < kGridColumns; ++x)
      for (int y = 0; y < kGridRows; ++y) {
        digit[0] = char('0' + Cell(cellules, x, y));
        DirectShadowed(digit, 10 + 10 * x, 20 + 10 * y, colour, bound, textured);
      }
    Marker("      <AFFICHEBINAIRE OUT>      ");
  }
}

bool FetchGlyphQuads(benchmark::State& state) {
  TGlyphFont* font = DefaultTextFont();
  auto* frame = font->sheet ? Cast<TGLTextureFrame>(font->sheet->GetFrame(0)) : nullptr;
  if (!frame) {
    state.SkipWithError("the font's sheet is not an OpenGL texture");
    return false;
  }
  const Float perPixel = frame->rightU / Float(frame->pictureWidth);
  for (Int i = 0; i < 96; ++i)
    glyphQuads[i] = {frame->texture, Float(8 * i) * perPixel, Float(8 * i + 8) * perPixel,
                     frame->bottomV};
  return true;
}

double ThreadCpuMicros() { return CpuMicros(CLOCK_THREAD_CPUTIME_ID); }

// Each side's own CPU, apart from OpenGL's: the same frames drawn with no
// current context, where every gl call is the dispatcher's no-op stub for
// both sides alike. Nothing is drawn, so nothing else runs meanwhile.
__attribute__((noinline)) void OwnCpu(benchmark::State& state) {
  Display* display = glXGetCurrentDisplay();
  const GLXDrawable drawable = glXGetCurrentDrawable();
  const GLXContext context = glXGetCurrentContext();
  glFinish();  // the rasteriser's threads idle from here on
  glXMakeCurrent(display, None, nullptr);
  std::vector<double> api, direct;
  for (int i = 0; i < 100; ++i) ApiFrame(), DirectFrame(iModeRendu, iComptBoucles);
  for (int i = 0; i < 1000; ++i) {
    const double t0 = ThreadCpuMicros();
    ApiFrame();
    const double t1 = ThreadCpuMicros();
    DirectFrame(iModeRendu, iComptBoucles);
    direct.push_back(ThreadCpuMicros() - t1);
    api.push_back(t1 - t0);
  }
  glXMakeCurrent(display, drawable, context);
  MakeGraphicsCurrent(CurrentGraphics());
  state.counters["api_own_us"] = Percentile(api, 0.5);
  state.counters["direct_own_us"] = Percentile(direct, 0.5);
}

// Alternating order within each iteration, each side on the main thread's
// CPU clock, each frame finished before the next starts. The figures are
// medians over the iterations: a thread's CPU clock goes on running while the
// host holds the virtual CPU (tens of milliseconds at times, not shown as
// steal), and one such pause in a 2 ms frame would otherwise move a mean of
// 300 frames by several per cent towards whichever side it fell in.
//
// Args: render mode, and the grid: 0 as seeded (half the cells alive, so
// in mode 2 the glyph texture changes at nearly every digit), 1 after 600
// generations (mostly dead cells, few texture changes: the state lifesim
// spends most of a run in, where Mesa's share of the frame is smaller).
void BM_FrameCpu(benchmark::State& state) {
  if (!OpenLikeLifesim(state)) return;
  StackBaseHere base(__builtin_frame_address(0));
  iModeRendu = static_cast<uint16_t>(state.range(0));
  SeedGrid(state.range(1) ? 600 : 0);
  DrawApiFrame();  // every glyph drawn once, so each has its texture
  if (!FetchGlyphQuads(state)) return;
  PairedTimes times;
  for (auto _ : state) {
    times.Pair(
        CLOCK_THREAD_CPUTIME_ID,
        [] {
          ApiFrame();
          glFinish();
        },
        [] {
          DirectFrame(iModeRendu, iComptBoucles);
          glFinish();
        },
        [] { MakeGraphicsCurrent(CurrentGraphics()); });  // the driver's caches again
    Flip(0);  // presented as in the program, outside the timed drawing
  }
  OwnCpu(state);
  times.Report(state);
  state.counters["mean_ratio"] = std::accumulate(times.api.begin(), times.api.end(), 0.0) /
                                 std::accumulate(times.direct.begin(), times.direct.end(), 0.0);
}
// BENCH_FRAME_CPU_ITERATIONS shortens the run under callgrind.
BENCHMARK(BM_FrameCpu)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"mode", "settled"})
    ->Iterations(EnvCount("BENCH_FRAME_CPU_ITERATIONS", 300))
    ->Unit(benchmark::kMicrosecond);

}  // namespace
