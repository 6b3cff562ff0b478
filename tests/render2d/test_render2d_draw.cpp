// Primitives as pixels: where they land under origin, handle, rotation and
// scale, the last pixel of lines, clipping, ellipses and polygons.
#include <gtest/gtest.h>

#include <initializer_list>
#include <iterator>
#include <limits>

#include "tests/render2d/test_render2d_support.h"

namespace {

Array* Floats(std::initializer_list<Float> v) {
  Array* a = kxArrayNew("f", 1, Int(v.size()));
  Int i = 0;
  for (Float f : v) a->Elements<Float>()[i++] = f;
  return a;
}

using Draw2D = Window2DTest;

// Each shape, drawn alone under its draw state, lights exactly one box.
TEST_F(Draw2D, ShapesUnderHandleRotationScaleAndOriginCoverExactPixels) {
  const struct {
    Float handleX, handleY, rotation, scaleX, scaleY, origin;
    void (*draw)();
    int x0, y0, x1, y1;
  } cases[] = {
      {0, 0, 0, 1, 1, 0, [] { DrawPoint(3, 4); }, 3, 4, 4, 5},
      {0, 0, 0, 1, 1, 0, [] { DrawRect(0, 0, 1, 1); }, 0, 0, 1, 1},
      {0, 0, 0, 1, 1, 0, [] { DrawRect(100, 40, 9, 9); }, 100, 40, 109, 49},
      {5, 7, 0, 1, 1, 0, [] { DrawRect(100, 100, 10, 10); }, 95, 93, 105, 103},
      {0, 0, 90, 1, 1, 0, [] { DrawRect(100, 100, 10, 5); }, 95, 100, 100, 110},
      {5, 5, 0, 2, 3, 0, [] { DrawRect(50, 50, 10, 10); }, 40, 35, 60, 65},  // about the handle
      {0, 0, 0, 1, 1, 10, [] { DrawPoint(3, 4); }, 13, 14, 14, 15},
      // Lines end on their last pixel only when asked; the plotted end
      // follows the draw matrix like the line.
      {0, 0, 0, 1, 1, 0, [] { DrawLine(10, 20, 30, 20, 0); }, 10, 20, 30, 21},
      {0, 0, 0, 1, 1, 0, [] { DrawLine(10, 30, 30, 30, 1); }, 10, 30, 31, 31},
      {0, 0, 0, 1, 1, 0, [] { DrawLine(50, 50, 50, 50, 1); }, 50, 50, 51, 51},
      {0, 0, 90, 1, 1, 0, [] { DrawLine(100, 100, 110, 100, 1); }, 100, 100, 101, 111},
      {10, 10, 0, 1, 1, 100,
       [] {
         DrawPolygon(Floats({10, 10, 30, 10, 30, 30, 10, 30}));
       },
       100, 100, 120, 120},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    Cls();
    SetDrawHandle(c.handleX, c.handleY);
    SetDrawTransform(c.rotation, c.scaleX, c.scaleY);
    SetDrawOrigin(c.origin, c.origin);
    c.draw();
    EXPECT_TRUE(CoversExactly(c.x0, c.y0, c.x1, c.y1)) << "case " << i;
  }
  // Pixmap transfer ignores the origin.
  TPixmap* block = NewPixmap(2, 1, PIXFMT_RGBA32, 4);
  block->SetPixel(0, 0, Int(0xff00ff00u));
  block->SetPixel(1, 0, Int(0xff00ff00u));
  PaintPixmap(block, 300, 300);
  EXPECT_EQ(ScreenPixel(300, 300), 0x00ff00u);
  EXPECT_EQ(Rgb(CapturePixmap(301, 300, 1, 1), 0, 0), 0x00ff00);
}

TEST_F(Draw2D, ClipRectLimitsClearingAndDrawing) {
  SetClipRect(10, 20, 100, 50);
  SetClearColor(255, 0, 0);
  Cls();
  EXPECT_TRUE(CoversExactly(10, 20, 110, 70));
  DrawRect(0, 0, 640, 480);
  EXPECT_EQ(ScreenPixel(50, 50), 0xffffffu);
  EXPECT_EQ(ScreenPixel(5, 5), 0u);
  // A negative size clips everything rather than keeping the last box.
  SetClipRect(0, 0, -1, 10);
  SetClearColor(0, 0, 255);
  Cls();
  EXPECT_EQ(ScreenPixel(50, 50), 0xffffffu);
  EXPECT_EQ(ScreenPixel(0, 0), 0u);
  SetClipRect(0, 0, 640, 480);
  Cls();
  EXPECT_EQ(ScreenPixel(639, 479), 0x0000ffu);
}

TEST_F(Draw2D, VertexCountsOfLinesEllipsesAndRejectedPolygons) {
  Long before = GL2DCalls.vertices;
  DrawLine(10, 20, 30, 20, 0);
  EXPECT_EQ(GL2DCalls.vertices - before, 2);  // no point
  const struct {
    Float w, h;
    Long segments;
  } cases[] = {{9, 9, 12}, {100, 60, 80}, {101, 60, 80}, {-40, 20, 28}};
  for (const auto& c : cases) {
    before = GL2DCalls.vertices;
    DrawEllipse(200, 200, c.w, c.h);
    EXPECT_EQ(GL2DCalls.vertices - before, c.segments) << c.w << " x " << c.h;
  }
  EXPECT_EQ(EllipseSegments(std::numeric_limits<Float>::quiet_NaN(), 1), 12);
  // Bounded: huge and infinite radii cost no more than a few thousand vertices.
  for (Float r : {3e3f, 2e9f, 3e9f, std::numeric_limits<Float>::infinity()})
    EXPECT_EQ(EllipseSegments(r, -r), 4096) << r;
  EXPECT_EQ(EllipseSegments(2047.5f, 2047.f), 4092);
  Cls();
  DrawEllipse(100, 100, 100, 60);
  EXPECT_EQ(ScreenPixel(101, 130), 0xffffffu);
  EXPECT_EQ(ScreenPixel(198, 130), 0xffffffu);
  EXPECT_EQ(ScreenPixel(102, 102), 0u);
  // Polygons need three whole pairs of floats.
  before = GL2DCalls.vertices;
  DrawPolygon(Floats({10, 10, 50, 10}));
  DrawPolygon(Floats({10, 10, 50, 10, 50, 50, 7}));
  DrawPolygon(kxArrayNew("i", 1, 6));
  DrawPolygon(nullptr);
  EXPECT_EQ(GL2DCalls.vertices, before);
}

}  // namespace
