// Collisions on the test display: contact at the pixel and the alpha
// threshold, layers with ids and the quad pool, rectangles against holes,
// mirrored images, and frames in other pixel formats.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "render2d/collision.h"
#include "tests/render2d/test_render2d_support.h"
#include "tests/support/test_util.h"

namespace {

constexpr Int kOpaque = Int(0xFF00FF00u);

TImage* Solid(Int w, Int h, Int argb) {
  TImage* image = NewImage(w, h, 1, 0);
  FillImage(image, argb);
  return image;
}

Int Hits(Float x, Float y, Float w, Float h, Int mask) {
  return CollideRectLayers(x, y, w, h, mask, 0, nullptr)->Length();
}

class Collision : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    ResetCollisionLayers(0);
  }
};

TEST_F(Collision, ImagesMeetOnlyWhereBothHaveAlphaOfOneHalf) {
  TImage* a = Solid(10, 10, kOpaque);
  // Boxes that only touch share no pixel.
  for (auto [x, y, meet] : {std::tuple{9, 0, 1}, {10, 0, 0}, {-9, 9, 1}, {0, 10, 0}})
    EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, a, Float(x), Float(y), 0), meet) << x << "," << y;
  for (Int alpha : {127, 128}) {
    TImage* b = Solid(4, 4, Int(uint32_t(alpha) << 24 | 0xFFFFFF));
    EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, 2, 2, 0), alpha == 128);
    EXPECT_EQ(ImagesOverlap(b, 2, 2, 0, a, 0, 0, 0), alpha == 128);
  }
  // The span scratch grows to the longest overlap and keeps that length.
  TImage* wide = Solid(300, 2, 0);
  EXPECT_EQ(ImagesOverlap(wide, 0, 0, 0, wide, 10, 0, 0), 0);
  const Int grown = CollisionScratchLength();
  EXPECT_GE(grown, 290);
  EXPECT_EQ(ImagesOverlap(wide, 0, 0, 0, wide, 200, 0, 0) + CollisionScratchLength(), grown);
}

TEST_F(Collision, LayersReportOtherQuadsByIdAndResetIntoThePool) {
  TImage* image = Solid(8, 8, kOpaque);
  String* first = Str("first");
  EXPECT_EQ(CollideImageLayers(image, 0, 0, 0, 1, 1, first)->Length(), 0) << "not itself";
  Array* hits = CollideImageLayers(image, 4, 0, 0, 1, 1, Str("second"));
  ASSERT_EQ(hits->Length(), 1);
  EXPECT_EQ(hits->RefElements()[0], first);
  // Exactly one entry per hit, newest first, once per layer tested.
  std::vector<Object*> ids;
  for (Int k = 0; k < 5; ++k) {
    ids.push_back(Str("id"));
    CollideRectLayers(Float(20 + k), 0, 2, 2, 0, 1 << 3 | 1 << 5, ids.back());
  }
  hits = CollideRectLayers(20, 0, 10, 2, 1 << 3, 0, nullptr);
  ASSERT_EQ(hits->Length(), 5);
  for (Int k = 0; k < 5; ++k) EXPECT_EQ(hits->RefElements()[k], ids[4 - k]);
  EXPECT_EQ(Hits(20, 0, 10, 2, -1), 10);

  CollideRectLayers(0, 0, 1, 1, 0, -1, nullptr);  // one more quad in every layer
  TQuad* behind = CollisionLayerHead(0)->next.get();
  TQuad* layer2 = CollisionLayerHead(2);
  ResetCollisionLayers(5);
  for (Int i = 0; i < 32; ++i) EXPECT_EQ(CollisionLayerHead(i) == nullptr, i == 0 || i == 2) << i;
  ASSERT_EQ(CollisionQuadPool(), layer2);
  EXPECT_EQ(Hits(0, 0, 30, 8, 5), 0);                 // its test quad is layer 2's old one
  CollideRectLayers(0, 0, 1, 1, 0, 1 << 4, nullptr);  // test quad and copy from the pool
  EXPECT_EQ(CollisionLayerHead(4), behind);
  ResetCollisionLayers(0);
  for (Int i = 0; i < 32; ++i) EXPECT_EQ(CollisionLayerHead(i), nullptr) << i;
  EXPECT_EQ(Hits(0, 0, 30, 8, -1), 0);
}

TEST_F(Collision, RectanglesMeetOnlyOpaquePixels) {
  TImage* image = Solid(10, 10, kOpaque);
  TPixmap* p = LockImagePixels(image, 0, 1, 1);
  for (Int y = 3; y <= 6; ++y)
    for (Int x = 3; x <= 6; ++x) p->SetPixel(x, y, 0x7FFFFFFF);
  p->SetPixel(9, 0, 0);
  CollideImageLayers(image, 20, 30, 0, 0, 1, nullptr);
  for (Int y = -1; y <= 10; ++y)
    for (Int x = -1; x <= 10; ++x) {
      const bool solid = x >= 0 && x < 10 && y >= 0 && y < 10 && p->GetPixel(x, y) < 0;
      EXPECT_EQ(Hits(Float(20 + x), Float(30 + y), 1, 1, 1), solid) << x << ", " << y;
    }
  EXPECT_EQ(Hits(23, 33, 4, 4, 1), 0) << "inside the hole";
  EXPECT_EQ(Hits(24, 34, 4, 4, 1), 1);
}

TEST_F(Collision, MirroredImagesScanAndTheDrawStateComesBack) {
  TImage* image = Solid(10, 10, 0);  // only column 0 is opaque
  TPixmap* p = LockImagePixels(image, 0, 1, 1);
  for (Int y = 0; y < 10; ++y) p->SetPixel(0, y, kOpaque);
  TImage* dot = Solid(1, 1, kOpaque);
  SetDrawTransform(30, 2, 3);
  auto hit = [&](Float sx, Float sy, Float x, Float y) {
    return ImagesOverlapTransformed(image, 50, 50, 0, 0, sx, sy, dot, x, y, 0, 0, 1, 1);
  };
  EXPECT_EQ(hit(-1, 1, 49, 55), 1);
  EXPECT_EQ(hit(-1, 1, 48, 55), 0);
  // The stored quad was rewound in place: it now starts at the last corner.
  EXPECT_EQ(CollisionLayerHead(31)->corners->Elements<Float>()[3], 1.0f);
  EXPECT_EQ(hit(1, -1, 50, 45), 1);
  EXPECT_EQ(hit(-2, -2, 48, 40), 1) << "a half turn at twice the size";
  EXPECT_EQ(hit(-2, -2, 47, 40), 0);
  // 50000 pixels a side: the winding test must not overflow into the
  // wrong order.
  for (Float s : {-5000.0f, 5000.0f}) {
    EXPECT_EQ(hit(-5000, s, 49, s > 0 ? 55 : 45), 1) << s;
    EXPECT_EQ(hit(-5000, s, 51, s > 0 ? 55 : 45), 0) << s;
  }
  EXPECT_EQ(EdgeCross(0, 0, 0, 5e4f, 5e4f, 5e4f), INT32_MAX);
  EXPECT_EQ(EdgeCross(0, 0, 5e4f, 0, 5e4f, 5e4f), INT32_MIN);
  Float sx, sy;
  GetDrawScale(&sx, &sy);
  EXPECT_EQ(GetDrawRotation(), 30.0f);
  EXPECT_EQ(sx, 2.0f);
  EXPECT_EQ(sy, 3.0f);
  // NaN or huge placements touch nothing (and do not scan 2^31 rows).
  EXPECT_EQ(hit(NAN, 1, 50, 50), 0);
  EXPECT_EQ(hit(1, 1e30f, 50, 50), 0);
}

TEST_F(Collision, FramesInOtherFormatsAreConvertedFirst) {
  for (Int format : {PIXFMT_ALPHA8, PIXFMT_BGRA32, PIXFMT_GREY8, PIXFMT_RGB24}) {
    // Left half opaque, right half clear where the format carries alpha.
    TPixmap* p = NewPixmap(10, 3, format, 1);
    for (Int y = 0; y < 3; ++y)
      for (Int x = 0; x < 10; ++x) p->SetPixel(x, y, x < 5 ? -1 : 0x00FFFFFF);
    TImage* image = NewImage(10, 3, 2, 0);
    image->AssignPixmap(1, p);
    ResetCollisionLayers(1);
    CollideImageLayers(image, 0, 0, 1, 0, 1, nullptr);
    EXPECT_EQ(Hits(4, 2, 1, 1, 1), 1) << format;
    EXPECT_EQ(Hits(5, 2, 1, 1, 1), FormatAlphaBits[format] == 0) << format;
    EXPECT_EQ(LockImagePixels(image, 1, 1, 0)->format, format) << "the frame is left alone";
  }
}

}  // namespace
