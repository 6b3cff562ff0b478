// Primitives as pixels: where points, lines, rectangles, ellipses and
// polygons land under origin, handle, rotation and scale, and clipping.
#include <gtest/gtest.h>

#include "tests/render2d/test_render2d_support.h"

namespace {

constexpr uint32_t kWhite = 0xffffff;

class Draw2D : public Window2DTest {
 protected:
  void SetUp() override {
    Window2DTest::SetUp();
    SetBlend(BLEND_OPAQUE);
    Cls();
  }
};

// True when every pixel of [x0, x1) x [y0, y1) is lit and its one-pixel
// frame around it is dark.
::testing::AssertionResult CoversExactly(int x0, int y0, int x1, int y1) {
  for (int y = y0 - 1; y <= y1; ++y)
    for (int x = x0 - 1; x <= x1; ++x) {
      const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
      const bool lit = ScreenPixel(x, y) != 0;
      if (inside != lit)
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") is " << (lit ? "lit" : "dark");
    }
  return ::testing::AssertionSuccess();
}

TEST_F(Draw2D, PointAndUnitRectSetExactlyOnePixel) {
  DrawPoint(3, 4);
  EXPECT_EQ(ScreenPixel(3, 4), kWhite);
  EXPECT_EQ(LitPixelsIn(0, 0, 10, 10), 1);
  Cls();
  DrawRect(0, 0, 1, 1);
  EXPECT_EQ(ScreenPixel(0, 0), kWhite);
  EXPECT_EQ(LitPixelsIn(0, 0, 4, 4), 1);
  Cls();
  DrawRect(100, 40, 9, 9);
  EXPECT_TRUE(CoversExactly(100, 40, 109, 49));
}

TEST_F(Draw2D, LastPixelOfALine) {
  const Long before = GL2DCalls.vertices;
  DrawLine(10, 20, 30, 20, 0);
  EXPECT_EQ(GL2DCalls.vertices - before, 2) << "no point without the flag";
  EXPECT_EQ(LitPixelsIn(10, 20, 30, 21), 20);
  Cls();
  DrawLine(10, 20, 30, 20, 1);
  EXPECT_EQ(ScreenPixel(30, 20), kWhite);
  EXPECT_EQ(LitPixelsIn(0, 19, 40, 22), 21);
  Cls();
  DrawLine(50, 50, 50, 50, 1);
  EXPECT_EQ(ScreenPixel(50, 50), kWhite);
  Cls();
  // The plotted end follows the draw matrix like the line does.
  SetDrawRotation(90);
  DrawLine(100, 100, 110, 100, 1);
  EXPECT_EQ(ScreenPixel(100, 110), kWhite);
  EXPECT_EQ(ScreenPixel(110, 100), 0u);
}

TEST_F(Draw2D, HandleRotationAndScalePlaceRectangles) {
  SetDrawHandle(5, 7);
  DrawRect(100, 100, 10, 10);
  EXPECT_TRUE(CoversExactly(95, 93, 105, 103));
  Cls();
  SetDrawHandle(0, 0);
  SetDrawRotation(90);
  DrawRect(100, 100, 10, 5);
  EXPECT_TRUE(CoversExactly(95, 100, 100, 110));
  Cls();
  SetDrawRotation(0);
  SetDrawScale(2, 3);
  DrawRect(10, 10, 5, 5);
  EXPECT_TRUE(CoversExactly(10, 10, 20, 25));
  Cls();
  // Scaling happens about the handle.
  SetDrawHandle(5, 5);
  DrawRect(50, 50, 10, 10);
  EXPECT_TRUE(CoversExactly(40, 35, 60, 65));
}

TEST_F(Draw2D, OriginMovesPrimitivesButNotPixmapTransfer) {
  SetDrawOrigin(10, 20);
  DrawPoint(3, 4);
  EXPECT_EQ(ScreenPixel(13, 24), kWhite);
  EXPECT_EQ(ScreenPixel(3, 4), 0u);
  DrawRect(100, 100, 2, 2);
  EXPECT_TRUE(CoversExactly(110, 120, 112, 122));
  DrawLine(200, 0, 204, 0, 1);
  EXPECT_EQ(LitPixelsIn(210, 20, 215, 21), 5);

  TPixmap* block = NewPixmap(2, 2, PIXFMT_RGBA32, 4);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) block->SetPixel(x, y, Int(0xff00ff00u));
  PaintPixmap(block, 300, 300);
  EXPECT_EQ(ScreenPixel(300, 300), 0x00ff00u);
  EXPECT_EQ(ScreenPixel(310, 320), 0u);
  TPixmap* captured = CapturePixmap(300, 300, 2, 2);
  EXPECT_EQ(PixmapRgb(captured, 1, 1), 0x00ff00u);
}

TEST_F(Draw2D, ClipRectLimitsClearingAndDrawing) {
  SetClipRect(10, 20, 100, 50);
  SetClearColor(255, 0, 0);
  Cls();
  EXPECT_EQ(ScreenPixel(10, 20), 0xff0000u);
  EXPECT_EQ(ScreenPixel(109, 69), 0xff0000u);
  EXPECT_EQ(ScreenPixel(9, 20), 0u);
  EXPECT_EQ(ScreenPixel(110, 20), 0u);
  EXPECT_EQ(ScreenPixel(10, 19), 0u);
  EXPECT_EQ(ScreenPixel(10, 70), 0u);
  DrawRect(0, 0, 640, 480);
  EXPECT_EQ(ScreenPixel(50, 50), kWhite);
  EXPECT_EQ(ScreenPixel(5, 5), 0u);
  // A negative size clips everything instead of keeping the last box.
  SetClipRect(0, 0, -1, 10);
  SetClearColor(0, 0, 255);
  Cls();
  EXPECT_EQ(ScreenPixel(50, 50), kWhite);
  EXPECT_EQ(ScreenPixel(0, 0), 0u);
  // The whole screen switches clipping off again.
  SetClipRect(0, 0, 640, 480);
  Cls();
  EXPECT_EQ(ScreenPixel(639, 479), 0x0000ffu);
}

TEST_F(Draw2D, EllipseSegmentsAndPlacement) {
  const struct {
    Float w, h;
    Long segments;
  } cases[] = {{9, 9, 12}, {100, 60, 80}, {101, 60, 80}, {-40, 20, 28}, {0, 0, 12}};
  for (const auto& c : cases) {
    const Long before = GL2DCalls.vertices;
    DrawEllipse(200, 200, c.w, c.h);
    EXPECT_EQ(GL2DCalls.vertices - before, c.segments) << c.w << " x " << c.h;
    EXPECT_EQ(EllipseSegments(c.w * 0.5f, c.h * 0.5f), c.segments);
  }
  Cls();
  DrawEllipse(100, 100, 100, 60);
  EXPECT_EQ(ScreenPixel(150, 130), kWhite);  // centre
  EXPECT_EQ(ScreenPixel(101, 130), kWhite);
  EXPECT_EQ(ScreenPixel(198, 130), kWhite);
  EXPECT_EQ(ScreenPixel(102, 102), 0u);  // outside, inside the box
  EXPECT_EQ(ScreenPixel(150, 95), 0u);
  EXPECT_EQ(EllipseSegments(std::numeric_limits<Float>::quiet_NaN(), 1), 12);
  EXPECT_EQ(EllipseSegments(3e9f, 3e9f), 12);
}

TEST_F(Draw2D, PolygonNeedsThreeWholePairsOfFloats) {
  auto floats = [](std::initializer_list<Float> v) {
    Array* a = kxArrayNew("f", 1, Int(v.size()));
    Int i = 0;
    for (Float f : v) a->Elements<Float>()[i++] = f;
    return a;
  };
  Long before = GL2DCalls.vertices;
  DrawPolygon(floats({10, 10, 50, 10, 50}));
  DrawPolygon(floats({10, 10, 50, 10}));
  DrawPolygon(floats({10, 10, 50, 10, 50, 50, 7}));
  DrawPolygon(nullptr);
  Array* ints = kxArrayNew("i", 1, 6);
  DrawPolygon(ints);
  EXPECT_EQ(GL2DCalls.vertices, before);
  EXPECT_EQ(LitPixelsIn(0, 0, 60, 60), 0);

  SetDrawOrigin(100, 100);
  SetDrawHandle(10, 10);
  DrawPolygon(floats({10, 10, 30, 10, 30, 30, 10, 30}));
  EXPECT_EQ(GL2DCalls.vertices - before, 4);
  EXPECT_TRUE(CoversExactly(100, 100, 120, 120));
}

}  // namespace
