// The built-in font: the artwork's layout rules, the embedded block, the
// default font built from it, and the font-face loader chain.
#include <gtest/gtest.h>

#include <cstring>

#include "graphics/font8x16.h"
#include "render2d/font.h"
#include "render2d/pixmap/pixmap.h"
#include "tests/support/test_util.h"

namespace {

bool Ink(Int code, Int row, Int column) {
  return (kBuiltinFont8x16[row * 96 + (code - 32)] >> column) & 1;
}

Int InkCount(Int code, Int firstRow, Int lastRow) {
  Int n = 0;
  for (Int r = firstRow; r <= lastRow; ++r)
    for (Int k = 0; k < 8; ++k) n += Ink(code, r, k);
  return n;
}

TEST(FontArtwork, KeepsItsMarginsAndEveryPrintableHasInk) {
  for (Int code = 32; code < 128; ++code) {
    for (Int r = 0; r < 16; ++r) EXPECT_FALSE(Ink(code, r, 0)) << "column 0 of " << code;
    for (Int r : {0, 13, 14, 15}) {
      for (Int k = 0; k < 8; ++k) EXPECT_FALSE(Ink(code, r, k)) << "row " << r << " of " << code;
    }
  }
  EXPECT_EQ(InkCount(32, 0, 15), 0) << "space";
  for (Int code = 33; code <= 126; ++code) EXPECT_GT(InkCount(code, 0, 15), 0) << code;
}

TEST(FontArtwork, GlyphsAreDistinctAndZeroIsUnlikeOne) {
  for (Int a = 33; a < 128; ++a) {
    for (Int b = a + 1; b < 128; ++b) {
      Int differ = 0;
      for (Int r = 0; r < 16; ++r)
        for (Int k = 0; k < 8; ++k) differ += Ink(a, r, k) != Ink(b, r, k);
      EXPECT_GT(differ, 0) << char(a) << " and " << char(b) << " are drawn alike";
    }
  }
  // The simulator's grid is read from these two digits: they must differ
  // in much of their ink, not in a pixel or two.
  Int differ = 0, zeroInk = InkCount('0', 0, 15), oneInk = InkCount('1', 0, 15);
  for (Int r = 0; r < 16; ++r)
    for (Int k = 0; k < 8; ++k) differ += Ink('0', r, k) != Ink('1', r, k);
  EXPECT_GE(differ, (zeroInk + oneInk) / 2);
  // And zero is not the letter O.
  Int fromO = 0;
  for (Int r = 0; r < 16; ++r)
    for (Int k = 0; k < 8; ++k) fromO += Ink('0', r, k) != Ink('O', r, k);
  EXPECT_GE(fromO, 3);
}

TEST(FontArtwork, ModuleRegistersTheBlockOnce) {
  InitFontModule();
  String* name = KX_STR("zorbefont.bin");
  ASSERT_EQ(kxEmbeddedBlobSize(name), 1536);
  EXPECT_EQ(std::memcmp(kxEmbeddedBlobData(name), kBuiltinFont8x16, 1536), 0);
}

TEST(DefaultFont, GlyphImagesCarryTheArtworkAsWhiteOnClear) {
  InitFontModule();
  TGlyphFont* font = TGlyphFont::BuildDefaultFont();
  ASSERT_EQ(font->GlyphCount(), 96);
  EXPECT_EQ(font->FaceSize(), 16);
  EXPECT_EQ(font->GlyphIndex(31), -1);
  EXPECT_EQ(font->GlyphIndex(127), 95);
  EXPECT_EQ(font->GlyphIndex(128), -1);
  EXPECT_EQ(font->GlyphIndex(0x141), -1);
  TGlyphFont* first = DefaultTextFont();
  ASSERT_NE(first, nullptr) << "the first font built is the default";

  TPixmap* seen[96] = {};
  for (Int code = 32; code < 128; ++code) {
    TImageGlyph* glyph = font->GetGlyph(code - 32);
    EXPECT_EQ(glyph->advance, 8.0f);
    EXPECT_EQ(glyph->width * 100 + glyph->height, 816);
    TImage* image = glyph->image;
    ASSERT_EQ(image->FrameCount(), 1);
    EXPECT_EQ(image->flags, 0);
    auto* p = static_cast<TPixmap*>(image->pixmaps->RefElements()[0]);
    ASSERT_EQ(p->format, PIXFMT_RGBA32);
    ASSERT_EQ(p->width * 100 + p->height, 816);
    EXPECT_EQ(p->owner.get(), nullptr) << "each glyph owns its own pixels";
    for (TPixmap* earlier : seen) EXPECT_NE(earlier, p);
    seen[code - 32] = p;
    for (Int r = 0; r < 16; ++r)
      for (Int k = 0; k < 8; ++k)
        ASSERT_EQ(uint32_t(p->GetPixel(k, r)), Ink(code, r, k) ? 0xFFFFFFFFu : 0u)
            << "glyph " << code << " pixel " << k << "," << r;
  }
  EXPECT_NE(TGlyphFont::BuildDefaultFont(), first);
  EXPECT_EQ(DefaultTextFont(), first) << "later builds leave the default alone";
}

// A loader that accepts one name and counts the questions it is asked.
class TNamedLoader : public TFontFaceLoader {
  KX_CLASS(TNamedLoader, TFontFaceLoader)
 public:
  const char* accepts = "";
  Int asked = 0;
  TFontFace* LoadFace(Object* url, Int size, Int style) override {
    ++asked;
    String* s = Cast<String>(url);
    return s && ToStd(s) == accepts ? New<TFontFace>() : nullptr;
  }
};
KX_CLASS_RECORD(TNamedLoader)

TEST(FontFaceLoaders, ChainAsksTheLastAddedFirstAndNeverLoops) {
  Ref<TNamedLoader> first = New<TNamedLoader>();
  Ref<TNamedLoader> second = New<TNamedLoader>();
  first->accepts = "shared";
  second->accepts = "shared";
  AddFontFaceLoader(first);
  AddFontFaceLoader(second);
  AddFontFaceLoader(first);  // already chained: no change, no cycle
  EXPECT_EQ(second->nextLoader.get(), first.get());

  ASSERT_NE(LoadFontFace(Str("shared"), 10, 0), nullptr);
  EXPECT_EQ(second->asked, 1);
  EXPECT_EQ(first->asked, 0) << "the answer of the head ends the search";
  EXPECT_EQ(LoadFontFace(Str("unknown"), 10, 0), nullptr);
  EXPECT_EQ(first->asked, 1);
  EXPECT_EQ(LoadGlyphFont(Str("unknown"), 10, 0), nullptr);
  first->accepts = second->accepts = "";  // later tests add their own loaders
}

}  // namespace
