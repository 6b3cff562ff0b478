// Windows, pasting, colour keying, mirroring and bilinear scaling.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render2d/pixmap/pixmap.h"
#include "runtime/module.h"
#include "tests/support/test_util.h"

namespace {

Int Argb(int a, int r, int g, int b) { return Int(uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b)); }

class TransformTest : public ::testing::Test {
 protected:
  void SetUp() override { InitPixmapModule(); }
};

TEST_F(TransformTest, WindowsShareMemoryAndDuplicatesDoNot) {
  TPixmap* parent = NewPixmap(6, 4, PIXFMT_RGB24, 4);
  for (Int i = 0; i < 24; ++i) parent->SetPixel(i % 6, i / 6, Argb(255, i, 2 * i, 3 * i));
  TPixmap* win = PixmapSubWindow(parent, 2, 1, 3, 2);
  EXPECT_EQ(win->pitch, parent->pitch);
  EXPECT_EQ(win->capacity, -1);
  EXPECT_EQ(PixmapPixelAddress(win, 0, 0), PixmapPixelAddress(parent, 2, 1));
  EXPECT_EQ(win->GetPixel(1, 1), parent->GetPixel(3, 2));
  win->SetPixel(2, 1, Argb(255, 9, 8, 7));
  EXPECT_EQ(parent->GetPixel(4, 2), Argb(255, 9, 8, 7));
  TPixmap* copy = ClonePixmap(win);
  EXPECT_EQ(copy->pitch, 12);
  EXPECT_EQ(copy->GetPixel(2, 1), Argb(255, 9, 8, 7));
  copy->SetPixel(0, 0, Argb(255, 1, 1, 1));
  parent->SetPixel(3, 2, Argb(255, 5, 5, 5));
  EXPECT_EQ(parent->GetPixel(2, 1), Argb(255, 8, 16, 24));
  EXPECT_EQ(copy->GetPixel(1, 1), Argb(255, 15, 30, 45));
}

// Made in a frame of its own, so only the window refers to the parent.
__attribute__((noinline)) Ref<TPixmap> OrphanWindow() {
  TPixmap* parent = NewPixmap(64, 64, PIXFMT_RGBA32, 4);
  for (Int i = 0; i < parent->capacity; ++i) parent->pixels[i] = static_cast<uint8_t>(i * 7);
  return Ref<TPixmap>(parent->SubWindow(10, 10, 8, 8)->SubWindow(1, 1, 4, 4));
}

TEST_F(TransformTest, WindowKeepsItsMemoryAlive) {
  Ref<TPixmap> win = OrphanWindow();
  CollectAll();
  // Reuse freed blocks, if the parent's memory had been given back.
  for (Int i = 0; i < 8; ++i) memset(NewPixmap(64, 64, PIXFMT_RGBA32, 4)->pixels, 0xEE, 64 * 64 * 4);
  for (Int y = 0; y < 4; ++y)
    for (Int x = 0; x < 16; ++x) EXPECT_EQ(win->PixelAddress(0, y)[x], uint8_t(((11 + y) * 256 + 44 + x) * 7));
  EXPECT_TRUE(win->owner && win->owner->owner == nullptr);
}

TEST_F(TransformTest, WrappedMemoryIsBorrowed) {
  std::vector<uint8_t> memory(40, 0);
  {
    Ref<TPixmap> p = WrapPixmapMemory(memory.data() + 4, 3, 2, 20, PIXFMT_BGRA32);
    p->SetPixel(1, 1, Argb(4, 3, 2, 1));
    EXPECT_EQ(p->capacity, -1);
  }
  CollectAll();  // must not free the vector's memory
  EXPECT_EQ(std::vector<uint8_t>(memory.begin() + 28, memory.begin() + 32), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(TransformTest, ColorKeyAveragesNonKeyNeighbours) {
  TPixmap* row = NewPixmap(3, 1, PIXFMT_RGB24, 4);
  row->SetPixel(0, 0, Argb(255, 255, 0, 0));
  row->SetPixel(1, 0, Argb(255, 255, 0, 255));
  row->SetPixel(2, 0, Argb(255, 0, 0, 255));
  TPixmap* out = ColorKeyPixmap(row, 255, 0, 255);
  EXPECT_EQ(out->format, PIXFMT_RGBA32);
  EXPECT_EQ(out->GetPixel(0, 0), Argb(255, 255, 0, 0));
  EXPECT_EQ(out->GetPixel(1, 0), Argb(0, 127, 0, 127));
  EXPECT_EQ(out->GetPixel(2, 0), Argb(255, 0, 0, 255));
  EXPECT_EQ(row->GetPixel(1, 0), Argb(255, 255, 0, 255));  // source unchanged

  // 3 x 3 RGBA: source alpha is discarded; the centre key sees 3 colours
  // and 5 key pixels; a corner key surrounded by keys becomes black.
  TPixmap* sq = NewPixmap(4, 3, PIXFMT_RGBA32, 4);
  for (Int i = 0; i < 12; ++i) sq->SetPixel(i % 4, i / 4, Argb(10, 1, 2, 3));
  sq->SetPixel(0, 0, Argb(10, 30, 60, 90));
  sq->SetPixel(1, 0, Argb(10, 10, 20, 30));
  sq->SetPixel(2, 2, Argb(10, 20, 41, 60));
  out = ColorKeyPixmap(sq, 1, 2, 3);
  EXPECT_EQ(out->GetPixel(0, 0), Argb(255, 30, 60, 90));
  EXPECT_EQ(out->GetPixel(1, 1), Argb(0, 20, 40, 60));
  EXPECT_EQ(out->GetPixel(3, 0), Argb(0, 0, 0, 0));
  EXPECT_EQ(out->GetPixel(3, 2), Argb(0, 20, 41, 60));
}

TEST_F(TransformTest, MirrorsEveryFormatOnBothAxes) {
  for (Int f = PIXFMT_GREY8; f <= PIXFMT_RGBA32; ++f) {
    SCOPED_TRACE(f);
    const Int bpp = FormatBytes[f];
    TPixmap* p = NewPixmap(5, 3, f, 1);
    for (Int i = 0; i < p->capacity; ++i) p->pixels[i] = static_cast<uint8_t>(i * 13 + 1);
    TPixmap* mx = MirrorPixmapX(p);
    TPixmap* my = MirrorPixmapY(p);
    EXPECT_EQ(mx->format, f);
    EXPECT_EQ(my->pitch, (5 * bpp + 3) / 4 * 4);
    for (Int y = 0; y < 3; ++y)
      for (Int x = 0; x < 5; ++x)
        for (Int k = 0; k < bpp; ++k) {
          EXPECT_EQ(mx->PixelAddress(x, y)[k], p->PixelAddress(4 - x, y)[k]);
          EXPECT_EQ(my->PixelAddress(x, y)[k], p->PixelAddress(x, 2 - y)[k]);
        }
  }
}

TEST_F(TransformTest, ScaleDownAveragesPairs) {
  TPixmap* row = NewPixmap(4, 1, PIXFMT_RGBA32, 4);
  const int v[4] = {0, 85, 170, 255};
  for (Int x = 0; x < 4; ++x) row->SetPixel(x, 0, Argb(255, v[x], 255 - v[x], 7));
  TPixmap* half = ScalePixmap(row, 2, 1);
  EXPECT_EQ(half->GetPixel(0, 0), Argb(255, 42, 212, 7));
  EXPECT_EQ(half->GetPixel(1, 0), Argb(255, 212, 42, 7));
}

TEST_F(TransformTest, ScaleUpInterpolatesAndClampsEdges) {
  for (Int f : {PIXFMT_GREY8, PIXFMT_BGR24, PIXFMT_RGBA32}) {
    TPixmap* one = NewPixmap(1, 1, f, 4);
    one->SetPixel(0, 0, Argb(255, 90, 90, 90));
    TPixmap* big = ScalePixmap(one, 4, 4);
    EXPECT_EQ(big->format, f);
    for (Int i = 0; i < 16; ++i) EXPECT_EQ(big->GetPixel(i % 4, i / 4), Argb(255, 90, 90, 90));
  }
  // Rows padded to 16 bytes: the step to the next row must be the pitch.
  TPixmap* sq = NewPixmap(2, 2, PIXFMT_RGBA32, 16);
  const int corner[4] = {0, 80, 160, 240};
  for (Int i = 0; i < 4; ++i) sq->SetPixel(i % 2, i / 2, Argb(255, corner[i], 0, 0));
  TPixmap* big = ScalePixmap(sq, 4, 4);
  const int want[4][4] = {{0, 20, 60, 80}, {40, 60, 100, 120}, {120, 140, 180, 200}, {160, 180, 220, 240}};
  for (Int y = 0; y < 4; ++y)
    for (Int x = 0; x < 4; ++x) EXPECT_EQ(big->GetPixel(x, y), Argb(255, want[y][x], 0, 0)) << x << "," << y;
}

}  // namespace
