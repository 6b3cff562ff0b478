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
  GLubyte c[4] = {0, 0, 0, 0};
  glReadPixels(x, CurrentGraphicsHeight() - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, c);
  return (uint32_t(c[0]) << 16) | (uint32_t(c[1]) << 8) | c[2];
}

::testing::AssertionResult CoversExactly(int x0, int y0, int x1, int y1) {
  for (int y = y0 - 1; y <= y1; ++y)
    for (int x = x0 - 1; x <= x1; ++x) {
      const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
      if (inside != (ScreenPixel(x, y) != 0))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ")";
    }
  return ::testing::AssertionSuccess();
}
