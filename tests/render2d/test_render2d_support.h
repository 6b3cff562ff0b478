// Helpers for the 2D renderer's tests that draw on the test X server.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/render2d/test_image_support.h"

// The default graphics through the 2D driver: a 640 x 480 window (hertz 0,
// so no vertical-sync test), or full screen at 60 Hz as lifesim opens it.
TGraphics* OpenWindow2D();
TGraphics* OpenFullScreen2D();
// Back-buffer pixel (x, y), top-left origin, as 0xRRGGBB, read with
// glReadPixels directly rather than through the driver.
uint32_t ScreenPixel(int x, int y);
// Every pixel of [x0, x1) x [y0, y1) lit and the one-pixel ring around dark.
::testing::AssertionResult CoversExactly(int x0, int y0, int x1, int y1);

// Each test starts with a fresh window graphics, cleared, blend opaque.
class Window2DTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override { EndGraphics(); }
};
