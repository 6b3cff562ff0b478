// Helpers for the 2D renderer's tests that draw on the test X server.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "render2d/gl2d.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"

// Opens the default graphics as a 640 x 480 window through the 2D driver
// (hertz 0: no vertical-sync test, so opening is quick).
TGraphics* OpenWindow2D();
// Opens it full-screen, 640 x 480 at 60 Hz, as lifesim does.
TGraphics* OpenFullScreen2D();

// The back buffer's pixel at screen (x, y), top-left origin, as 0xRRGGBB,
// read with glReadPixels directly (not through the driver).
uint32_t ScreenPixel(int x, int y);
// Pixel (x, y) of an RGBA32 pixmap as 0xRRGGBB.
uint32_t PixmapRgb(TPixmap* p, int x, int y);
// Screen pixels inside [x0, x1) x [y0, y1) that are not black.
int LitPixelsIn(int x0, int y0, int x1, int y1);
// Fills the back buffer with one colour, all state left as it was.
void ClearTo(int r, int g, int b);
// OpenGL's current colour (0..1 floats).
void CurrentGlColor(float rgba[4]);

// Runs f and returns the class record of the error it raised, or null.
template <class F>
const ClassRecord* RaisedClass(F f) {
  try {
    KxTry region;
    f();
  } catch (const KxThrown& e) {
    return e.error ? e.error->Class() : nullptr;
  }
  return nullptr;
}

// Each test starts with a fresh 640 x 480 window graphics and ends it.
class Window2DTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};
