// Pixel formats: conversions between every pair of formats, pixel access,
// allocation sizes, and the safety of empty sizes and unknown format ids.
#include <gtest/gtest.h>

#include <vector>

#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "runtime/module.h"
#include "tests/support/test_util.h"

namespace {

struct Rgba {
  int r, g, b, a;
};

// The byte layouts, written out from the format table.
Rgba Decode(Int format, const uint8_t* p) {
  switch (format) {
    case PIXFMT_GREY8: return {p[0], p[0], p[0], 255};
    case PIXFMT_ALPHA8: return {255, 255, 255, p[0]};
    case PIXFMT_BGR24: return {p[2], p[1], p[0], 255};
    case PIXFMT_RGB24: return {p[0], p[1], p[2], 255};
    case PIXFMT_BGRA32: return {p[2], p[1], p[0], p[3]};
    default: return {p[0], p[1], p[2], p[3]};
  }
}

std::vector<int> Encode(Int format, Rgba c) {
  switch (format) {
    case PIXFMT_GREY8: return {(c.r + c.g + c.b) / 3};
    case PIXFMT_ALPHA8: return {c.a};
    case PIXFMT_BGR24: return {c.b, c.g, c.r};
    case PIXFMT_RGB24: return {c.r, c.g, c.b};
    case PIXFMT_BGRA32: return {c.b, c.g, c.r, c.a};
    default: return {c.r, c.g, c.b, c.a};
  }
}

std::vector<int> BytesAt(TPixmap* p, Int x, Int y) {
  const uint8_t* a = p->PixelAddress(x, y);
  return std::vector<int>(a, a + PixelFormatBytes(p->format));
}

// Rows of 31 pixels (padded) whose every byte differs from its neighbours:
// long enough for the block-wise conversion paths and their leftovers.
constexpr Int kWide = 31;
TPixmap* Pattern(Int format) {
  TPixmap* p = NewPixmap(kWide, 3, format, 4);
  for (Int y = 0; y < 3; ++y)
    for (Int i = 0; i < kWide * FormatBytes[format]; ++i) p->PixelAddress(0, y)[i] = static_cast<uint8_t>(y * 89 + i * 37 + 11);
  return p;
}

class PixelTest : public ::testing::Test {
 protected:
  void SetUp() override { InitPixmapModule(); }
};

TEST_F(PixelTest, EveryFormatPairConvertsPixelByPixel) {
  for (Int from = PIXFMT_GREY8; from <= PIXFMT_RGBA32; ++from) {
    TPixmap* src = Pattern(from);
    for (Int to = PIXFMT_GREY8; to <= PIXFMT_RGBA32; ++to) {
      SCOPED_TRACE(testing::Message() << from << " -> " << to);
      TPixmap* converted = src->ConvertTo(to);
      TPixmap* pasted = NewPixmap(kWide + 2, 5, to, 1);
      pasted->PasteFrom(src, 2, 1);
      ASSERT_EQ(converted->format, to);
      for (Int y = 0; y < 3; ++y)
        for (Int x = 0; x < kWide; ++x) {
          std::vector<int> want = Encode(to, Decode(from, src->PixelAddress(x, y)));
          EXPECT_EQ(BytesAt(converted, x, y), want) << x << "," << y;
          EXPECT_EQ(BytesAt(pasted, x + 2, y + 1), want) << x << "," << y;
        }
    }
  }
}

TEST_F(PixelTest, DocumentedByteOrders) {
  const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
  uint8_t out[6];
  ConvertPixels(rgb, PIXFMT_RGB24, out, PIXFMT_BGR24, 2);  // through the scratch run
  EXPECT_EQ(std::vector<int>(out, out + 6), (std::vector<int>{3, 2, 1, 6, 5, 4}));
  const uint8_t rgba[4] = {16, 32, 48, 99};
  ConvertPixels(rgba, PIXFMT_RGBA32, out, PIXFMT_GREY8, 1);
  EXPECT_EQ(out[0], 32);
}

TEST_F(PixelTest, GetAndSetPixelFollowTheLayouts) {
  const Int colours[] = {Int(0x11223344), Int(0xFF102030), Int(0x80FF0000), 0, -1};
  for (Int f = PIXFMT_GREY8; f <= PIXFMT_RGBA32; ++f) {
    TPixmap* p = NewPixmap(3, 2, f, 4);
    for (Int argb : colours) {
      SCOPED_TRACE(testing::Message() << f << " " << std::hex << argb);
      uint32_t u = static_cast<uint32_t>(argb);
      Rgba c{int(u >> 16 & 255), int(u >> 8 & 255), int(u & 255), int(u >> 24)};
      p->SetPixel(2, 1, argb);
      EXPECT_EQ(BytesAt(p, 2, 1), Encode(f, c));
      Rgba back = Decode(f, p->PixelAddress(2, 1));
      EXPECT_EQ(static_cast<uint32_t>(p->GetPixel(2, 1)),
                uint32_t(back.a) << 24 | uint32_t(back.r) << 16 | uint32_t(back.g) << 8 | uint32_t(back.b));
    }
  }
  TPixmap* grey = NewPixmap(1, 1, PIXFMT_GREY8, 4);
  SetPixmapPixel(grey, 0, 0, Int(0xFF102030));
  EXPECT_EQ(grey->pixels[0], 32);
  EXPECT_EQ(GetPixmapPixel(grey, 0, 0), Int(0xFF202020));
  TPixmap* alpha = NewPixmap(1, 1, PIXFMT_ALPHA8, 4);
  SetPixmapPixel(alpha, 0, 0, Int(0x80FF0000));
  EXPECT_EQ(alpha->pixels[0], 128);
  EXPECT_EQ(GetPixmapPixel(alpha, 0, 0), Int(0x80FFFFFF));
  TPixmap* bgra = NewPixmap(1, 1, PIXFMT_BGRA32, 4);
  bgra->SetPixel(0, 0, 0x11223344);
  EXPECT_EQ(BytesAt(bgra, 0, 0), (std::vector<int>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(bgra->GetPixel(0, 0), 0x11223344);
}

TEST_F(PixelTest, AllocationSizes) {
  TPixmap* p = NewPixmap(3, 2, PIXFMT_RGB24, 4);
  EXPECT_EQ(GetPixmapPitch(p), 12);
  EXPECT_EQ(p->capacity, 24);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p->pixels) % 16, 0u);
  EXPECT_EQ(NewPixmap(3, 2, PIXFMT_RGB24, 1)->pitch, 9);
  EXPECT_EQ(NewPixmap(5, 1, PIXFMT_RGB24, 4)->pitch, 16);
  EXPECT_EQ(NewPixmap(3, 2, PIXFMT_RGB24, 0)->pitch, 9);  // no division by zero
  TPixmap* dup = NewPixmap(5, 3, PIXFMT_RGB24, 1)->Duplicate();
  EXPECT_EQ(dup->pitch, 16);
  EXPECT_EQ(dup->capacity, 48);
  EXPECT_EQ(ConvertPixmapFormat(dup, PIXFMT_GREY8)->pitch, 8);
}

TEST_F(PixelTest, EmptyAndNegativeSizesGiveEmptyPixmaps) {
  const Int sizes[][2] = {{-3, 5}, {4, -2}, {0, 0}, {-1, -1}};
  for (const auto& size : sizes) {
    TPixmap* p = NewPixmap(size[0], size[1], PIXFMT_RGBA32, 4);
    EXPECT_GE(p->width, 0);
    EXPECT_GE(p->height, 0);
    EXPECT_EQ(p->capacity, 0);
    EXPECT_EQ(p->Duplicate()->capacity, 0);
    EXPECT_EQ(MirrorPixmapX(MirrorPixmapY(p))->capacity, 0);
    EXPECT_EQ(ColorKeyPixmap(p, 0, 0, 0)->capacity, 0);
    // Scaling nothing up gives transparent black, not reads outside the source.
    TPixmap* grown = ScalePixmap(p, 2, 2);
    for (Int i = 0; i < 4; ++i) EXPECT_EQ(grown->GetPixel(i % 2, i / 2), 0);
  }
  EXPECT_EQ(ScalePixmap(NewPixmap(2, 2, PIXFMT_GREY8, 4), -4, 3)->capacity, 0);
  EXPECT_EQ(PixmapSubWindow(NewPixmap(2, 2, PIXFMT_GREY8, 4), 0, 0, -1, 2)->width, 0);
}

TEST_F(PixelTest, UnknownFormatIdsTouchNoMemory) {
  for (Int f : {0, -1, 7, 1000}) {
    SCOPED_TRACE(f);
    EXPECT_EQ(PixelFormatBytes(f), 0);
    TPixmap* p = NewPixmap(4, 3, f, 4);
    EXPECT_EQ(p->pitch, 0);
    EXPECT_EQ(p->capacity, 0);
    p->SetPixel(1, 1, -1);
    EXPECT_EQ(p->GetPixel(1, 1), 0);
    TPixmap* rgba = p->ConvertTo(PIXFMT_RGBA32);
    for (Int y = 0; y < 3; ++y)
      for (Int x = 0; x < 4; ++x) EXPECT_EQ(rgba->GetPixel(x, y), 0);
    EXPECT_EQ(rgba->ConvertTo(f)->capacity, 0);
    EXPECT_EQ(ScalePixmap(p, 8, 8)->capacity, 0);
    EXPECT_EQ(ColorKeyPixmap(p, 1, 2, 3)->GetPixel(3, 2), Int(0xFF000000));
    TPixmap* target = NewPixmap(4, 3, PIXFMT_RGB24, 4);
    target->SetPixel(3, 2, -1);
    target->PasteFrom(MirrorPixmapX(p), 0, 0);
    EXPECT_EQ(target->GetPixel(3, 2), Int(0xFF000000));
  }
}

TEST_F(PixelTest, OversizedAndNullRequestsRaise) {
  try {
    KxTry region;
    NewPixmap(1 << 20, 1 << 20, PIXFMT_RGBA32, 4);
    ADD_FAILURE() << "no error raised";
  } catch (const KxThrown& e) {
    EXPECT_EQ(ToStd(kxErrorText(e.error)).rfind("Attempt to", 0), 0u);
  }
  try {
    KxTry region;
    GetPixmapWidth(nullptr);
    ADD_FAILURE() << "no error raised";
  } catch (const KxThrown& e) {
    EXPECT_NE(Cast<TNullAccessError>(e.error), nullptr);
  }
}

}  // namespace
