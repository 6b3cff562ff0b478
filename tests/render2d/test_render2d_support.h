// Helpers for the 2D renderer's tests that draw on the test X server.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "render2d/gl2d.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"

// The default graphics through the 2D driver: a 640 x 480 window (hertz 0,
// so no vertical-sync test), or full screen at 60 Hz as lifesim opens it.
TGraphics* OpenWindow2D();
TGraphics* OpenFullScreen2D();
// Back-buffer pixel (x, y), top-left origin, as 0xRRGGBB, read with
// glReadPixels directly rather than through the driver.
uint32_t ScreenPixel(int x, int y);
uint32_t PixmapRgb(TPixmap* p, int x, int y);  // of an RGBA32 pixmap
// Every pixel of [x0, x1) x [y0, y1) lit and the one-pixel ring around dark.
::testing::AssertionResult CoversExactly(int x0, int y0, int x1, int y1);
void CurrentGlColor(float rgba[4]);
// The class record of the error f raised, or null.
const ClassRecord* RaisedClass(void (*f)());

// Each test starts with a fresh window graphics, cleared, blend opaque.
class Window2DTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override { EndGraphics(); }
};
