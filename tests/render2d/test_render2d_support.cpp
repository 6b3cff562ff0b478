#include "tests/render2d/test_render2d_support.h"

#include <GL/gl.h>

#include <cstdlib>

TGraphics* OpenWindow2D() {
  InitGLRender2DModule();
  return Graphics(640, 480, 0, 0, 0);
}

TGraphics* OpenFullScreen2D() {
  InitGLRender2DModule();
  return Graphics(640, 480, 32, 60, 0);
}

uint32_t ScreenPixel(int x, int y) {
  GLubyte rgba[4] = {0, 0, 0, 0};
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, CurrentGraphicsHeight() - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  return (uint32_t(rgba[0]) << 16) | (uint32_t(rgba[1]) << 8) | rgba[2];
}

uint32_t PixmapRgb(TPixmap* p, int x, int y) {
  const uint8_t* a = p->PixelAddress(x, y);
  return (uint32_t(a[0]) << 16) | (uint32_t(a[1]) << 8) | a[2];
}

int LitPixelsIn(int x0, int y0, int x1, int y1) {
  int lit = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (ScreenPixel(x, y) != 0) ++lit;
  return lit;
}

void ClearTo(int r, int g, int b) {
  Int cr, cg, cb;
  GetClearColor(&cr, &cg, &cb);
  SetClearColor(r, g, b);
  Cls();
  SetClearColor(cr, cg, cb);
}

void CurrentGlColor(float rgba[4]) { glGetFloatv(GL_CURRENT_COLOR, rgba); }

void Window2DTest::SetUp() {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests need an X server";
  ASSERT_NE(OpenWindow2D(), nullptr);
}

void Window2DTest::TearDown() { EndGraphics(); }
