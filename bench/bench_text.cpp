// Text drawing cost: the simulator's digit-grid frame (57 x 24 cells, each a
// shadowed "0" or "1") drawn through the 2D API, against the same OpenGL
// call stream (colours, one textured quad per glyph from the same texture)
// issued directly. The two alternate within each iteration, each timed on
// the process's CPU clock (the rasteriser's threads included) up to its
// glFinish; the figures are medians over the iterations, so that a pause of
// the host's in one frame cannot move them. Run under tools/with-xserver.sh.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include "bench/paired.h"
#include "graphics/graphics.h"
#include "render2d/font.h"
#include "render2d/gl2d.h"
#include "runtime/kxstring.h"

namespace {

constexpr Int kColumns = 57, kRows = 24;
Int cells[kColumns][kRows];

bool OpenDisplay() {
  static bool open = false;
  if (open) return true;
  InitGLRender2DModule();
  InitFontModule();
  if (!Graphics(640, 480, 32, 60, 0)) return false;
  uint32_t seed = 12345;
  for (auto& column : cells)
    for (Int& cell : column) {
      seed = seed * 1103515245u + 12345u;
      cell = Int((seed >> 16) & 1u);
    }
  open = true;
  return true;
}

// The simulator's shadowed white text: shadow first, colour restored after.
void ShadowedText(String* text, Int x, Int y) {
  Int r = 0, g = 0, b = 0;
  GetColor(&r, &g, &b);
  SetColor(0, 0, 0);
  DrawText(text, Float(x + 1), Float(y + 1));
  SetColor(255, 255, 255);
  DrawText(text, Float(x), Float(y));
  SetColor(r, g, b);
}

// One glyph quad as the driver sends it: the glyph's cell in the font's
// sheet texture, already bound.
struct GlyphQuad {
  GLuint texture;
  Float u0, u1, v;
};

inline void Quad(const GlyphQuad& q, Float x, Float y) {
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

void ApiGrid() {
  Cls();
  for (Int x = 0; x < kColumns; ++x)
    for (Int y = 0; y < kRows; ++y)
      ShadowedText(kxStringFromInt(cells[x][y]), 10 + 10 * x, 20 + 10 * y);
  glFinish();
}

void DirectGrid(const GlyphQuad* digits) {
  glEnable(GL_TEXTURE_2D);
  GLuint bound = 0;
  glClear(GL_COLOR_BUFFER_BIT);
  for (Int x = 0; x < kColumns; ++x)
    for (Int y = 0; y < kRows; ++y) {
      const GlyphQuad& q = digits[cells[x][y]];
      if (q.texture != bound) {
        glBindTexture(GL_TEXTURE_2D, q.texture);
        bound = q.texture;
      }
      Float px = Float(10 + 10 * x), py = Float(20 + 10 * y);
      glColor4ub(0, 0, 0, 255);
      Quad(q, px + 1, py + 1);
      glColor4ub(255, 255, 255, 255);
      Quad(q, px, py);
      glColor4ub(255, 255, 255, 255);  // the API's colour restore sends it too
    }
  glFinish();
}

void BM_DigitGridPaired(benchmark::State& state) {
  if (!OpenDisplay()) {
    state.SkipWithError("no display");
    return;
  }
  ApiGrid();  // the font's texture, made in this generation
  TGlyphFont* font = DefaultTextFont();
  auto* frame = font->sheet ? Cast<TGLTextureFrame>(font->sheet->GetFrame(0)) : nullptr;
  if (!frame) {
    state.SkipWithError("the font's sheet is not an OpenGL texture");
    return;
  }
  const Float perPixel = frame->rightU / Float(frame->pictureWidth);
  GlyphQuad digits[2];
  for (Int d = 0; d < 2; ++d) {
    const Int cell = 8 * font->GlyphIndex('0' + d);
    digits[d] = {frame->texture, Float(cell) * perPixel, Float(cell + 8) * perPixel,
                 frame->bottomV};
  }
  const Long verticesBefore = GL2DCalls.vertices;
  PairedTimes times;
  for (auto _ : state) {
    // Selecting the graphics again resets the driver's caches, which no
    // longer describe the context after the direct calls.
    times.Pair(
        CLOCK_PROCESS_CPUTIME_ID, ApiGrid, [&] { DirectGrid(digits); },
        [] { MakeGraphicsCurrent(CurrentGraphics()); });
  }
  state.counters["glyphs"] = kColumns * kRows * 2;
  // Four per glyph quad when every glyph really went to OpenGL.
  state.counters["vertices"] = double(GL2DCalls.vertices - verticesBefore) /
                               double(times.api.size());
  times.Report(state);
}
BENCHMARK(BM_DigitGridPaired)->Unit(benchmark::kMicrosecond)->Iterations(300);

}  // namespace
