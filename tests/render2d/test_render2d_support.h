// Helpers of the 2D renderer's tests on the test X server: the test display,
// solid-filled images and read-back of the back buffer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ostream>

#include "graphics/graphics.h"
#include "render2d/font.h"
#include "render2d/gl2d.h"
#include "render2d/image.h"
#include "render2d/pixmap/pixmap.h"

// The default graphics through the 2D driver: a 640 x 480 window (hertz 0,
// so no vertical-sync test), or full screen at 60 Hz as lifesim opens it.
TGraphics* OpenWindow2D();
TGraphics* OpenFullScreen2D();
// Back-buffer pixel (x, y), top-left origin, as 0xRRGGBB, read with
// glReadPixels directly rather than through the driver.
uint32_t ScreenPixel(int x, int y);
// Every pixel of [x0, x1) x [y0, y1) lit and the one-pixel ring around dark.
::testing::AssertionResult CoversExactly(int x0, int y0, int x1, int y1);

// Opens a 640 x 480 window graphics through the 2D driver if none is open
// (hertz 0: no vertical-sync test, so opening is quick). Fails the calling
// test, rather than skipping it, when there is no X server.
inline ::testing::AssertionResult OpenTestDisplay() {
  InitGLRender2DModule();
  InitFontModule();
  if (CurrentGraphics()) return ::testing::AssertionSuccess();
  if (!getenv("DISPLAY")) return ::testing::AssertionFailure() << "DISPLAY is not set";
  if (!Graphics(640, 480, 0, 0, 0)) return ::testing::AssertionFailure() << "Graphics failed";
  return ::testing::AssertionSuccess();
}

// Each test draws on a fresh graphics, which starts in the default state
// with cleared buffers, and closes it afterwards.
class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenTestDisplay()); }
  void TearDown() override { EndGraphics(); }
};

// Fills frame 0 of an image with one ARGB colour through the locked pixmap.
inline void FillImage(TImage* image, Int argb) {
  TPixmap* p = LockImagePixels(image, 0, 1, 1);
  for (Int y = 0; y < p->height; ++y)
    for (Int x = 0; x < p->width; ++x) p->SetPixel(x, y, argb);
  UnlockImagePixels(image, 0);
}

// RGB of a back-buffer pixel read earlier with CapturePixmap.
inline Int Rgb(TPixmap* shot, Int x, Int y) { return shot->GetPixel(x, y) & 0xFFFFFF; }

// Bounding box of the pixels of one RGB colour in a captured region.
struct Box {
  Int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
  bool empty() const { return right < 0; }
  bool operator==(const Box&) const = default;
};
inline void PrintTo(const Box& b, std::ostream* os) {
  *os << "(" << b.left << "," << b.top << ")-(" << b.right << "," << b.bottom << ")";
}
inline Box FindColour(TPixmap* shot, Int rgb) {
  Box b;
  for (Int y = 0; y < shot->height; ++y)
    for (Int x = 0; x < shot->width; ++x)
      if (Rgb(shot, x, y) == rgb) {
        b.left = std::min(b.left, x);
        b.right = std::max(b.right, x);
        b.top = std::min(b.top, y);
        b.bottom = std::max(b.bottom, y);
      }
  return b;
}

// The same, in blend mode opaque.
class Window2DTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    SetBlend(BLEND_OPAQUE);
  }
};
