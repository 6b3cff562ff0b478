// Collisions on the test display: contact at the pixel, the alpha threshold,
// layers, ids and the quad pool, hits arrays, rectangles, mirrored and
// transformed images, frames in other pixel formats, and the scan itself.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "render2d/collision.h"
#include "runtime/error.h"
#include "tests/render2d/test_image_support.h"
#include "tests/render2d/test_render2d_support.h"
#include "tests/support/test_util.h"

namespace {

constexpr Int kOpaque = Int(0xFF00FF00u);
constexpr Int kLayer31 = Int(0x80000000u);

TImage* Solid(Int w, Int h, Int argb) {
  TImage* image = NewImage(w, h, 1, 0);
  FillImage(image, argb);
  return image;
}

// Whether a one-pixel rectangle at (x, y) touches anything in layer 0.
bool Touches(Float x, Float y) { return CollideRectLayers(x, y, 1, 1, 1, 0, nullptr)->Length(); }

class Collision : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    ResetCollisionLayers(0);
  }
};

TEST_F(Collision, OpaqueImagesMeetOnlyWhenTheyShareAPixel) {
  TImage* a = Solid(10, 10, kOpaque);
  TImage* b = Solid(10, 10, kOpaque);
  EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, 9, 0, 0), 1);
  EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, 10, 0, 0), 0) << "touching boxes, no shared pixel";
  EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, 0, 9, 0), 1);
  EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, 0, 10, 0), 0);
  EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, -9, -9, 0), 1);
  EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, 10, 10, 0), 0);
  // The handle and the origin place quads as they place drawn images.
  SetImageHandlePoint(b, 5, 5);
  EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, 14, 5, 0), 1);
  EXPECT_EQ(ImagesOverlap(a, 0, 0, 0, b, 15, 5, 0), 0);
  SetDrawOrigin(100, 50);
  ResetCollisionLayers(0);
  CollideImageLayers(a, 0, 0, 0, 0, 1, nullptr);
  EXPECT_TRUE(Touches(9, 9));
  EXPECT_FALSE(Touches(100, 50)) << "the rectangle moves with the origin as well";
  SetDrawOrigin(0, 0);
  EXPECT_TRUE(Touches(109, 59));
  EXPECT_FALSE(Touches(110, 59));
}

TEST_F(Collision, AlphaOfAtLeastOneHalfCounts) {
  TImage* opaque = Solid(4, 4, kOpaque);
  for (Int alpha : {0, 127, 128, 255}) {
    TImage* probe = Solid(4, 4, Int(uint32_t(alpha) << 24 | 0xFFFFFF));
    const Int expected = alpha >= 128;
    EXPECT_EQ(ImagesOverlap(opaque, 0, 0, 0, probe, 2, 2, 0), expected) << alpha;
    EXPECT_EQ(ImagesOverlap(probe, 0, 0, 0, opaque, 2, 2, 0), expected) << alpha;
  }
}

TEST_F(Collision, LayersReportEarlierQuadsByIdButNeverTheQuadItself) {
  TImage* image = Solid(8, 8, kOpaque);
  String* first = Str("first");
  String* second = Str("second");
  EXPECT_EQ(CollideImageLayers(image, 0, 0, 0, 1, 1, first)->Length(), 0);
  Array* hits = CollideImageLayers(image, 4, 0, 0, 1, 1, second);
  ASSERT_EQ(hits->Length(), 1);
  EXPECT_EQ(hits->RefElements()[0], first);
  // Lists are newest first; a quad in two layers is reported once per layer.
  CollideRectLayers(0, 0, 2, 2, 0, 6, Str("rect"));
  hits = CollideRectLayers(0, 0, 20, 20, 7, 0, nullptr);
  ASSERT_EQ(hits->Length(), 4);
  EXPECT_EQ(hits->RefElements()[0], second);
  EXPECT_EQ(hits->RefElements()[1], first);
  EXPECT_EQ(hits->RefElements()[2], hits->RefElements()[3]);
  EXPECT_EQ(CollideRectLayers(0, 0, 20, 20, 0, 0, nullptr)->Length(), 0);
  EXPECT_EQ(CollideRectLayers(30, 0, 5, 5, -1, 0, nullptr)->Length(), 0);
}

TEST_F(Collision, ResetEmptiesTheSelectedLayersIntoThePool) {
  CollideRectLayers(0, 0, 5, 5, 0, -1, nullptr);  // one quad in each of the 32 layers
  for (Int i = 0; i < 32; ++i) ASSERT_NE(CollisionLayerHead(i), nullptr) << i;
  TQuad* layer0 = CollisionLayerHead(0);
  TQuad* layer2 = CollisionLayerHead(2);
  ResetCollisionLayers(5);
  for (Int i = 0; i < 32; ++i) EXPECT_EQ(CollisionLayerHead(i) == nullptr, i == 0 || i == 2) << i;
  ASSERT_EQ(CollisionQuadPool(), layer2) << "the last layer emptied heads the pool";
  EXPECT_EQ(CollisionQuadPool()->next, layer0);
  // Making the test quad and writing its copy both draw from the pool.
  CollideRectLayers(0, 0, 5, 5, 0, 1 << 4, nullptr);
  EXPECT_EQ(CollisionLayerHead(4), layer0);
  EXPECT_EQ(CollisionQuadPool(), nullptr);
  EXPECT_EQ(CollideRectLayers(0, 0, 5, 5, 5, 0, nullptr)->Length(), 0);
  EXPECT_EQ(CollideRectLayers(0, 0, 5, 5, 0x1A, 0, nullptr)->Length(), 4);
  ResetCollisionLayers(kLayer31);
  EXPECT_EQ(CollisionLayerHead(31), nullptr);
  EXPECT_NE(CollisionLayerHead(30), nullptr);
  std::vector<TQuad*> stored;
  for (Int i = 0; i < 32; ++i)
    for (TQuad* q = CollisionLayerHead(i); q; q = q->next.get()) stored.push_back(q);
  ResetCollisionLayers(0);
  for (Int i = 0; i < 32; ++i) EXPECT_EQ(CollisionLayerHead(i), nullptr) << i;
  for (TQuad* q = CollisionQuadPool(); q; q = q->next.get()) std::erase(stored, q);
  EXPECT_TRUE(stored.empty()) << "every stored quad went to the pool";
}

TEST_F(Collision, HitsArrayHasExactlyOneEntryPerHit) {
  for (Int count : {1, 4, 5, 9, 10, 16, 23}) {
    ResetCollisionLayers(0);
    std::vector<Object*> ids;
    for (Int k = 0; k < count; ++k) {
      ids.push_back(Str("id"));
      CollideRectLayers(Float(k), 0, 3, 3, 0, 8, ids.back());
    }
    Array* hits = CollideRectLayers(0, 0, 40, 3, 8, 0, nullptr);
    ASSERT_EQ(hits->Length(), count);
    for (Int k = 0; k < count; ++k) EXPECT_EQ(hits->RefElements()[k], ids[count - 1 - k]);
  }
}

TEST_F(Collision, RectanglesMeetOnlyTheOpaquePixelsOfAnImage) {
  // Opaque but for a 4 x 4 hole at columns and rows 3..6 and a clear corner.
  TImage* image = Solid(10, 10, kOpaque);
  TPixmap* p = LockImagePixels(image, 0, 1, 1);
  for (Int y = 3; y <= 6; ++y)
    for (Int x = 3; x <= 6; ++x) p->SetPixel(x, y, 0x7FFFFFFF);
  p->SetPixel(9, 0, 0);
  CollideImageLayers(image, 20, 30, 0, 0, 1, nullptr);
  for (Int y = -1; y <= 10; ++y)
    for (Int x = -1; x <= 10; ++x) {
      const bool inside = x >= 0 && x < 10 && y >= 0 && y < 10;
      const bool solid = inside && (p->GetPixel(x, y) & 0x80000000u);
      EXPECT_EQ(Touches(Float(20 + x), Float(30 + y)), solid) << x << ", " << y;
    }
  EXPECT_FALSE(CollideRectLayers(23, 33, 4, 4, 1, 0, nullptr)->Length()) << "the hole";
  EXPECT_TRUE(CollideRectLayers(24, 34, 4, 4, 1, 0, nullptr)->Length());
}

TEST_F(Collision, MirroredImagesAreRewoundAndStillScanned) {
  // Only column 0 is opaque: after mirroring it is the rightmost column.
  TImage* image = Solid(10, 10, 0);
  TPixmap* p = LockImagePixels(image, 0, 1, 1);
  for (Int y = 0; y < 10; ++y) p->SetPixel(0, y, kOpaque);
  TImage* dot = Solid(1, 1, kOpaque);
  auto hit = [&](Float sx, Float sy, Float x, Float y) {
    return ImagesOverlapTransformed(image, 50, 50, 0, 0, sx, sy, dot, x, y, 0, 0, 1, 1);
  };
  EXPECT_EQ(hit(-1, 1, 49, 55), 1);
  EXPECT_EQ(hit(-1, 1, 48, 55), 0);
  EXPECT_EQ(hit(-1, 1, 50, 55), 0);
  // The stored quad was reversed in place: its first corner is the last one made.
  const Float* c = CollisionLayerHead(31)->corners->Elements<Float>();
  EXPECT_EQ(c[2], 0.0f);
  EXPECT_EQ(c[3], 1.0f);
  EXPECT_EQ(hit(1, -1, 50, 45), 1);
  EXPECT_EQ(hit(1, -1, 51, 45), 0);
  EXPECT_EQ(hit(-2, -2, 48, 40), 1) << "both axes: a half turn at twice the size";
  EXPECT_EQ(hit(-2, -2, 47, 40), 0);
}

TEST_F(Collision, TransformedTestPutsTheDrawStateBack) {
  TImage* a = Solid(6, 2, kOpaque);
  SetDrawTransform(30, 2, 3);
  Float before[4], after[4];
  GetCollisionMatrix(&before[0], &before[1], &before[2], &before[3]);
  CollideRectLayers(0, 0, 1, 1, 0, 1, nullptr);
  // A 6 x 2 bar turned by 90 degrees stands upright.
  EXPECT_EQ(ImagesOverlapTransformed(a, 100, 100, 0, 90, 1, 1, a, 97, 104, 0, 0, 1, 1), 1);
  EXPECT_EQ(ImagesOverlapTransformed(a, 100, 100, 0, 0, 1, 1, a, 97, 104, 0, 0, 1, 1), 0);
  EXPECT_EQ(GetDrawRotation(), 30.0f);
  Float sx, sy;
  GetDrawScale(&sx, &sy);
  EXPECT_EQ(sx, 2.0f);
  EXPECT_EQ(sy, 3.0f);
  GetCollisionMatrix(&after[0], &after[1], &after[2], &after[3]);
  for (Int k = 0; k < 4; ++k) EXPECT_EQ(after[k], before[k]);
  ASSERT_NE(CollisionLayerHead(31), nullptr) << "layer 31 keeps the first image";
  EXPECT_EQ(CollisionLayerHead(31)->pixmap, LockImagePixels(a, 0, 1, 0));
  EXPECT_NE(CollisionLayerHead(0), nullptr) << "other layers are left alone";
  // A NaN placement touches nothing, and returns at once.
  EXPECT_EQ(ImagesOverlapTransformed(a, 0, 0, 0, NAN, 1, 1, a, 0, 0, 0, 0, 1, 1), 0);
  EXPECT_EQ(ImagesOverlapTransformed(a, 0, 0, 0, 0, 1, 1e30f, a, 0, 0, 0, 0, 1, 1), 0);
}

TEST_F(Collision, FramesInOtherFormatsAreReadInBounds) {
  struct Case { Int format; bool leftOnly; };
  for (Case k : {Case{PIXFMT_ALPHA8, true}, Case{PIXFMT_BGRA32, true}, Case{PIXFMT_GREY8, false},
                 Case{PIXFMT_RGB24, false}, Case{PIXFMT_BGR24, false}}) {
    // Left half opaque, right half clear where the format carries alpha.
    TPixmap* p = NewPixmap(10, 3, k.format, 1);
    for (Int y = 0; y < 3; ++y)
      for (Int x = 0; x < 10; ++x) p->SetPixel(x, y, x < 5 ? -1 : 0x00FFFFFF);
    TImage* image = NewImage(10, 3, 2, 0);
    image->AssignPixmap(1, p);
    ResetCollisionLayers(1);
    CollideImageLayers(image, 0, 0, 1, 0, 1, nullptr);
    EXPECT_TRUE(Touches(4, 2)) << k.format;
    EXPECT_EQ(Touches(5, 2), !k.leftOnly) << k.format;
    EXPECT_EQ(LockImagePixels(image, 1, 1, 0), p) << "the frame keeps its own pixmap";
    EXPECT_EQ(p->format, k.format);
  }
}

TEST_F(Collision, BadArgumentsRaiseAndNoGraphicsRaises) {
  EXPECT_EQ(RaisedClass([] { CollideImageLayers(nullptr, 0, 0, 0, 1, 1, nullptr); }),
            &TNullAccessError::classRecord);
  EXPECT_EQ(RaisedClass([] { CollideImageLayers(NewImage(2, 2, 1, 0), 0, 0, 1, 1, 1, nullptr); }),
            &TIndexRangeError::classRecord);
  SetDrawTransform(45, 1, 1);
  EXPECT_EQ(RaisedClass([] {
              TImage* i = NewImage(2, 2, 1, 0);
              ImagesOverlapTransformed(i, 0, 0, 0, 0, 1, 1, i, 0, 0, 3, 0, 1, 1);
            }),
            &TIndexRangeError::classRecord);
  EXPECT_EQ(GetDrawRotation(), 45.0f);
  EndGraphics();
  EXPECT_EQ(RaisedClass([] { CollideRectLayers(0, 0, 1, 1, 1, 0, nullptr); }),
            &TNullAccessError::classRecord);
}

// Scan conversion seen from a recording callback.
struct Row {
  Int y, count;
  Float left, right;
};
std::vector<Row> rows;
Int Record(Array* active, Int count, Int y) {
  auto* p = static_cast<rpoly*>(active->RefElements()[0]);
  rows.push_back({y, count, p->leftValues->Elements<Float>()[0],
                  p->rightValues->Elements<Float>()[0]});
  return y == 100 ? -7 : 0;
}

Int Scan(std::vector<std::vector<Float>> polygons) {
  const Int n = Int(polygons.size());
  Array* data = kxArrayNewOneDim("[f", n);
  Array* channels = kxArrayNewOneDim("i", n);
  Array* pixmaps = kxArrayNewOneDim(":TPixmap", n);
  for (Int j = 0; j < n; ++j) {
    Array* v = kxArrayFromValues("f", Int(polygons[j].size()), polygons[j].data());
    kxArraySetRef(data, j, v);
    channels->Elements<Int>()[j] = 2;
  }
  rows.clear();
  return RasterisePolygons(data, channels, pixmaps, &Record);
}

TEST(CollisionScan, EdgesAreSampledHalfARowPastTheirStart) {
  // A right triangle: left edge x = 0, right edge from (8, 0) to (0, 8).
  EXPECT_EQ(Scan({{0, 0, 8, 0, 0, 8}}), 0);
  ASSERT_EQ(rows.size(), 8u) << "rows 0..7: the last vertex row is not visited";
  for (Int y = 0; y < 8; ++y) {
    EXPECT_EQ(rows[y].y, y);
    EXPECT_EQ(rows[y].left, 0.0f);
    EXPECT_FLOAT_EQ(rows[y].right, 7.5f - Float(y));
  }
  // Listed the other way round it is rewound first, with the same result.
  EXPECT_EQ(Scan({{0, 8, 8, 0, 0, 0}}), 0);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_FLOAT_EQ(rows[3].right, 4.5f);
  // A flat polygon is never active; a second one starts when its top row comes.
  EXPECT_EQ(Scan({{0, 3.9f, 5, 3.2f, 9, 3}, {0, 5, 4, 5, 4, 7, 0, 7}}), 0);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].y, 5);
  EXPECT_EQ(rows[0].count, 1);
  // Negative results end the scan at once.
  EXPECT_EQ(Scan({{0, 90, 5, 90, 5, 120, 0, 120}}), -7);
  EXPECT_EQ(rows.back().y, 100);
}

TEST(CollisionScan, WindingIsMadeClockwiseOnScreen) {
  EXPECT_LT(EdgeCross(0, 0, 10, 0, 10, 10), 0) << "clockwise with y down";
  EXPECT_EQ(EdgeCross(0, 0, 1, 0, 1, 0.5f), 0) << "truncated toward zero";
  const Float ccw[] = {0, 0, 7, 0, 10, 1, 8, 10, 2, 10, 9, 0};
  Array* v = kxArrayFromValues("f", 12, ccw);
  NormaliseWinding(v, 3);
  const Float expected[] = {10, 9, 0, 8, 10, 2, 0, 10, 1, 0, 0, 7};
  for (Int k = 0; k < 12; ++k) EXPECT_EQ(v->Elements<Float>()[k], expected[k]) << k;
  NormaliseWinding(v, 3);
  for (Int k = 0; k < 12; ++k) EXPECT_EQ(v->Elements<Float>()[k], expected[k]) << "kept " << k;
}

TEST_F(Collision, ScratchSpanGrowsToTheLongestSpanAndStays) {
  TImage* wide = Solid(300, 2, kOpaque);
  TImage* clear = Solid(300, 2, 0);
  EXPECT_EQ(ImagesOverlap(wide, 0, 0, 0, clear, 10, 0, 0), 0);
  EXPECT_EQ(CollisionScratchLength(), 290);
  EXPECT_EQ(ImagesOverlap(wide, 0, 0, 0, clear, 200, 0, 0), 0);
  EXPECT_EQ(CollisionScratchLength(), 290);
  EXPECT_EQ(ImagesOverlap(wide, 0, 0, 0, wide, 200, 1, 0), 1);
}

}  // namespace
