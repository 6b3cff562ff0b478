// Pixmaps: format conversion, pixel access, sizes, windows, colour keying,
// mirroring and bilinear scaling.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "tests/support/test_util.h"

namespace {

struct Rgba {
  int r, g, b, a;
};

// The byte layouts, written out from the format table.
Rgba Decode(Int f, const uint8_t* p) {
  switch (f) {
    case PIXFMT_GREY8: return {p[0], p[0], p[0], 255};
    case PIXFMT_ALPHA8: return {255, 255, 255, p[0]};
    case PIXFMT_BGR24: return {p[2], p[1], p[0], 255};
    case PIXFMT_RGB24: return {p[0], p[1], p[2], 255};
    case PIXFMT_BGRA32: return {p[2], p[1], p[0], p[3]};
    case PIXFMT_RGBA32: return {p[0], p[1], p[2], p[3]};
    default: ADD_FAILURE() << "no layout for format " << f; return {};
  }
}
std::vector<int> Encode(Int f, Rgba c) {
  switch (f) {
    case PIXFMT_GREY8: return {(c.r + c.g + c.b) / 3};
    case PIXFMT_ALPHA8: return {c.a};
    case PIXFMT_BGR24: return {c.b, c.g, c.r};
    case PIXFMT_RGB24: return {c.r, c.g, c.b};
    case PIXFMT_BGRA32: return {c.b, c.g, c.r, c.a};
    case PIXFMT_RGBA32: return {c.r, c.g, c.b, c.a};
    default: ADD_FAILURE() << "no layout for format " << f; return {};
  }
}
std::vector<int> BytesAt(TPixmap* p, Int x, Int y) {
  const uint8_t* a = p->PixelAddress(x, y);
  return std::vector<int>(a, a + PixelFormatBytes(p->format));
}
Int Argb(int a, int r, int g, int b) {
  return Int(uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b));
}

// Fills every byte, padding included, with a pattern unlike its neighbours.
TPixmap* Pattern(Int w, Int h, Int format, Int align) {
  TPixmap* p = NewPixmap(w, h, format, align);
  for (Int i = 0; i < p->capacity; ++i) p->pixels[i] = static_cast<uint8_t>(i * 37 + i / 7 + 11);
  return p;
}

class PixmapTest : public ::testing::Test {
 protected:
  void SetUp() override { InitPixmapModule(); }
};

TEST_F(PixmapTest, EveryFormatPairConvertsPixelByPixel) {
  const Int w = 31;  // whole blocks of the block-wise paths and leftovers
  for (Int from = PIXFMT_GREY8; from <= PIXFMT_RGBA32; ++from) {
    TPixmap* src = Pattern(w, 3, from, 4);
    for (Int to = PIXFMT_GREY8; to <= PIXFMT_RGBA32; ++to) {
      SCOPED_TRACE(testing::Message() << from << " -> " << to);
      TPixmap* converted = ConvertPixmapFormat(src, to);
      TPixmap* pasted = NewPixmap(w + 2, 5, to, 1);
      pasted->PasteFrom(src, 2, 1);
      for (Int y = 0; y < 3; ++y)
        for (Int x = 0; x < w; ++x) {
          std::vector<int> want = Encode(to, Decode(from, src->PixelAddress(x, y)));
          ASSERT_EQ(BytesAt(converted, x, y), want) << x << "," << y;
          ASSERT_EQ(BytesAt(pasted, x + 2, y + 1), want) << x << "," << y;
        }
    }
  }
}

TEST_F(PixmapTest, GetAndSetPixelFollowTheLayouts) {
  for (Int f = PIXFMT_GREY8; f <= PIXFMT_RGBA32; ++f)
    for (Int argb : {Int(0x11223344), Int(0xFF102030), Int(0x80FF0000), -1}) {
      SCOPED_TRACE(testing::Message() << f << " " << std::hex << argb);
      TPixmap* p = NewPixmap(3, 2, f, 4);
      uint32_t u = static_cast<uint32_t>(argb);
      SetPixmapPixel(p, 2, 1, argb);
      EXPECT_EQ(BytesAt(p, 2, 1),
                Encode(f, {int(u >> 16 & 255), int(u >> 8 & 255), int(u & 255), int(u >> 24)}));
      Rgba back = Decode(f, p->PixelAddress(2, 1));
      EXPECT_EQ(GetPixmapPixel(p, 2, 1), Argb(back.a, back.r, back.g, back.b));
    }
}

TEST_F(PixmapTest, SizesPitchesCapacitiesAndRequestsTooLarge) {
  TPixmap* p = NewPixmap(3, 2, PIXFMT_RGB24, 4);
  EXPECT_EQ(GetPixmapPitch(p), 12);
  EXPECT_EQ(p->capacity, 24);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p->pixels) % 16, 0u);
  EXPECT_EQ(NewPixmap(3, 2, PIXFMT_RGB24, 1)->pitch, 9);
  EXPECT_EQ(NewPixmap(3, 2, PIXFMT_RGB24, 0)->pitch, 9);  // no division by zero
  TPixmap* dup = ClonePixmap(Pattern(5, 3, PIXFMT_RGB24, 1));
  EXPECT_EQ(dup->pitch, 16);
  EXPECT_EQ(dup->capacity, 48);
  EXPECT_EQ(ConvertPixmapFormat(dup, PIXFMT_GREY8)->pitch, 8);
  // Negative and zero sizes give empty pixmaps that every operation accepts.
  const Int sizes[][2] = {{-3, 5}, {4, -2}, {0, 0}};
  for (const auto& size : sizes) {
    TPixmap* e = NewPixmap(size[0], size[1], PIXFMT_RGBA32, 4);
    EXPECT_TRUE(e->width >= 0 && e->height >= 0 && e->capacity == 0);
    EXPECT_EQ(MirrorPixmapX(MirrorPixmapY(ColorKeyPixmap(e->Duplicate(), 0, 0, 0)))->capacity, 0);
    TPixmap* grown = ScalePixmap(e, 2, 2);  // nothing to sample: transparent black
    for (Int i = 0; i < 4; ++i) EXPECT_EQ(grown->GetPixel(i % 2, i / 2), 0);
  }
  EXPECT_EQ(ScalePixmap(p, -4, 3)->capacity, 0);
  EXPECT_EQ(PixmapSubWindow(p, 0, 0, -1, 2)->width, 0);
  // Oversized and null requests raise.
  EXPECT_EQ(Raised([] { NewPixmap(1 << 20, 1 << 20, PIXFMT_RGBA32, 4); }).rfind("Attempt to", 0),
            0u);
  EXPECT_EQ(Raised([] { GetPixmapWidth(nullptr); }), ToStd(kxErrorText(New<TNullAccessError>())));
}

TEST_F(PixmapTest, UnknownFormatIdsTouchNoMemory) {
  for (Int f : {0, -1, 7, 1000}) {
    SCOPED_TRACE(f);
    uint8_t run[8] = {0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB, 0xAB};
    PixelsToRgba32(run, run, f, 2);  // becomes transparent black, never left as it was
    EXPECT_EQ(std::vector<uint8_t>(run, run + 8), std::vector<uint8_t>(8, 0));
    TPixmap* p = NewPixmap(4, 3, f, 4);
    EXPECT_EQ(p->capacity, 0);
    p->SetPixel(1, 1, -1);
    EXPECT_EQ(p->GetPixel(1, 1), 0);
    EXPECT_EQ(ConvertPixmapFormat(p, PIXFMT_RGBA32)->GetPixel(3, 2), 0);
    EXPECT_EQ(ScalePixmap(p, 8, 8)->capacity, 0);
    EXPECT_EQ(ColorKeyPixmap(p, 1, 2, 3)->GetPixel(3, 2), Int(0xFF000000));
    TPixmap* target = NewPixmap(4, 3, PIXFMT_RGB24, 4);
    target->SetPixel(3, 2, -1);
    target->PasteFrom(MirrorPixmapX(p), 0, 0);
    EXPECT_EQ(target->GetPixel(3, 2), Int(0xFF000000));
  }
}

// Pixel coordinates, windows and paste positions outside the pixmap raise
// the arrays' index error before any memory is touched; calls up to the
// edges, and empty pastes anywhere, go on as before.
TEST_F(PixmapTest, OutsideCoordinatesWindowsAndPastesRaiseTheIndexError) {
  const std::string index = ToStd(kxErrorText(New<TIndexRangeError>()));
  TPixmap* p = Pattern(4, 4, PIXFMT_RGBA32, 4);
  TPixmap* big = Pattern(8, 8, PIXFMT_RGBA32, 4);
  TPixmap* two = PixmapSubWindow(big, 0, 0, 2, 2);
  TPixmap* row = Pattern(9, 2, PIXFMT_GREY8, 1);
  const std::vector<uint8_t> before(p->pixels, p->pixels + p->capacity);
  const std::function<void()> outside[] = {
      [&] { GetPixmapPixel(p, 4, 4); },
      [&] { GetPixmapPixel(p, -1, -1); },
      [&] { p->GetPixel(0, 4); },
      [&] { SetPixmapPixel(p, 1000, 1000, -1); },
      [&] { SetPixmapPixel(p, 4, 0, -1); },
      [&] { ClonePixmap(PixmapSubWindow(p, 2, 2, 10, 10)); },
      [&] { PixmapSubWindow(p, -1, 0, 2, 2); },
      [&] { PixmapSubWindow(p, 0, INT32_MAX, 1, 2); },
      [&] { PixmapSubWindow(p, 5, 0, 0, 0); },
      [&] { p->PasteFrom(big, 2, 2); },
      [&] { p->PasteFrom(two, -1, -1); },
      [&] { p->PasteFrom(two, 3, 0); },
      [&] { p->PasteFrom(two, INT32_MAX, 0); },
      [&] { MirrorPixmapX(PixmapSubWindow(row, 1, 1, 9, 1)); },
      [&] { ScalePixmap(PixmapSubWindow(p, 1, 1, 4, 4), 8, 8); },
      [&] { PixmapPixelAddress(p, 5, 0); },
  };
  for (size_t i = 0; i < std::size(outside); ++i) EXPECT_EQ(Raised(outside[i]), index) << i;
  EXPECT_EQ(std::vector<uint8_t>(p->pixels, p->pixels + p->capacity), before);

  EXPECT_EQ(PixmapSubWindow(p, 4, 4, 0, 0)->width, 0);
  EXPECT_EQ(PixmapSubWindow(p, 1, 0, -3, 4)->width, 0);  // a negative size is an empty window
  EXPECT_EQ(PixmapPixelAddress(p, 0, 4), p->pixels + 4 * p->pitch);
  p->PasteFrom(PixmapSubWindow(big, 0, 0, 0, 3), -5, -5);
  p->PasteFrom(PixmapSubWindow(big, 0, 0, 0, 3), 0, INT32_MAX);  // no row arithmetic past the top
  p->PasteFrom(two, 2, 2);
  SetPixmapPixel(p, 3, 3, Argb(1, 2, 3, 4));
  EXPECT_EQ(GetPixmapPixel(p, 3, 3), Argb(1, 2, 3, 4));
  EXPECT_EQ(GetPixmapPixel(p, 2, 2), GetPixmapPixel(big, 0, 0));
  EXPECT_EQ(MirrorPixmapX(PixmapSubWindow(row, 0, 1, 9, 1))->GetPixel(8, 0), row->GetPixel(0, 1));
}

TEST_F(PixmapTest, WindowsShareMemoryAndDuplicatesDoNot) {
  TPixmap* parent = Pattern(6, 4, PIXFMT_RGB24, 4);
  TPixmap* win = PixmapSubWindow(parent, 2, 1, 3, 2);
  EXPECT_EQ(win->capacity, -1);
  EXPECT_EQ(PixmapPixelAddress(win, 0, 0), PixmapPixelAddress(parent, 2, 1));
  win->SetPixel(2, 1, Argb(255, 9, 8, 7));
  EXPECT_EQ(parent->GetPixel(4, 2), Argb(255, 9, 8, 7));
  TPixmap* copy = win->Duplicate();
  EXPECT_EQ(copy->pitch, 12);
  Int parentPixel = parent->GetPixel(2, 1), copyPixel = copy->GetPixel(1, 1);
  EXPECT_EQ(copyPixel, win->GetPixel(1, 1));
  copy->SetPixel(0, 0, -1);    // over parent (2, 1) if memory were shared
  parent->SetPixel(3, 2, -1);  // under copy (1, 1) if memory were shared
  EXPECT_EQ(parent->GetPixel(2, 1), parentPixel);
  EXPECT_EQ(copy->GetPixel(1, 1), copyPixel);
}

// Made in a frame of its own, so that only the window refers to the parent.
__attribute__((noinline)) Ref<TPixmap> OrphanWindow() {
  return Ref<TPixmap>(
      Pattern(64, 64, PIXFMT_RGBA32, 4)->SubWindow(10, 10, 8, 8)->SubWindow(1, 1, 4, 4));
}

TEST_F(PixmapTest, WindowKeepsItsMemoryAliveAndWrappedMemoryIsBorrowed) {
  Ref<TPixmap> win = OrphanWindow();
  std::vector<uint8_t> memory(40, 0);
  Ref<TPixmap> wrap = WrapPixmapMemory(memory.data() + 4, 3, 2, 20, PIXFMT_BGRA32);
  wrap->SetPixel(1, 1, Argb(4, 3, 2, 1));
  wrap = nullptr;
  CollectAll();  // must neither free the parent nor the vector's memory
  for (Int i = 0; i < 8; ++i)
    memset(NewPixmap(64, 64, PIXFMT_RGBA32, 4)->pixels, 0xEE, 64 * 64 * 4);
  for (Int y = 0; y < 4; ++y)
    for (Int x = 0; x < 16; ++x) {
      Int i = (11 + y) * 256 + 44 + x;
      ASSERT_EQ(win->PixelAddress(0, y)[x], uint8_t(i * 37 + i / 7 + 11));
    }
  EXPECT_EQ(std::vector<uint8_t>(memory.begin() + 28, memory.begin() + 32),
            (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(PixmapTest, ColorKeyAveragesNonKeyNeighbours) {
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
  // Source alpha is discarded; the key at (1,1) sees three colours among
  // five keys; the key at (3,0) sees only keys and becomes black.
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

TEST_F(PixmapTest, MirrorsEveryFormatOnBothAxes) {
  for (Int f = PIXFMT_GREY8; f <= PIXFMT_RGBA32; ++f) {
    TPixmap* p = Pattern(5, 3, f, 1);
    TPixmap* mx = MirrorPixmapX(p);
    TPixmap* my = MirrorPixmapY(p);
    EXPECT_EQ(my->pitch, (5 * FormatBytes[f] + 3) / 4 * 4);
    for (Int y = 0; y < 3; ++y)
      for (Int x = 0; x < 5; ++x) {
        EXPECT_EQ(BytesAt(mx, x, y), BytesAt(p, 4 - x, y)) << f;
        EXPECT_EQ(BytesAt(my, x, y), BytesAt(p, x, 2 - y)) << f;
      }
  }
}

TEST_F(PixmapTest, ScalingIsBilinearWithClampedEdges) {
  TPixmap* row = NewPixmap(4, 1, PIXFMT_RGBA32, 4);
  const int v[4] = {0, 85, 170, 255};
  for (Int x = 0; x < 4; ++x) row->SetPixel(x, 0, Argb(255, v[x], 255 - v[x], 7));
  TPixmap* half = ScalePixmap(row, 2, 1);
  EXPECT_EQ(half->GetPixel(0, 0), Argb(255, 42, 212, 7));
  EXPECT_EQ(half->GetPixel(1, 0), Argb(255, 212, 42, 7));
  for (Int f : {PIXFMT_GREY8, PIXFMT_BGR24, PIXFMT_RGBA32}) {
    TPixmap* one = NewPixmap(1, 1, f, 4);
    one->SetPixel(0, 0, Argb(255, 90, 90, 90));
    TPixmap* big = ScalePixmap(one, 4, 4);
    EXPECT_EQ(big->format, f);
    for (Int i = 0; i < 16; ++i) EXPECT_EQ(big->GetPixel(i % 4, i / 4), Argb(255, 90, 90, 90));
  }
  // Rows padded to 16 bytes: the step to the next row must be the pitch.
  TPixmap* sq = NewPixmap(2, 2, PIXFMT_RGBA32, 16);
  for (Int i = 0; i < 4; ++i) sq->SetPixel(i % 2, i / 2, Argb(255, 80 * i, 0, 0));
  TPixmap* big = ScalePixmap(sq, 4, 4);
  const int want[4][4] = {
      {0, 20, 60, 80}, {40, 60, 100, 120}, {120, 140, 180, 200}, {160, 180, 220, 240}};
  for (Int y = 0; y < 4; ++y)
    for (Int x = 0; x < 4; ++x)
      EXPECT_EQ(big->GetPixel(x, y), Argb(255, want[y][x], 0, 0)) << x << "," << y;
}

}  // namespace
