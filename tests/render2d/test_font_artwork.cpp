// The built-in font: the artwork's layout rules, the embedded block, the
// default font built from it, and the font-face loader chain.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "graphics/font8x16.h"
#include "render2d/font.h"
#include "render2d/pixmap/pixmap.h"
#include "tests/support/test_util.h"

namespace {

bool Ink(Int code, Int row, Int column) {
  return (kBuiltinFont8x16[row * 96 + (code - 32)] >> column) & 1;
}

Int InkCount(Int code) {
  Int n = 0;
  for (Int r = 0; r < 16; ++r)
    for (Int k = 0; k < 8; ++k) n += Ink(code, r, k);
  return n;
}

Int Differ(Int a, Int b) {
  Int n = 0;
  for (Int r = 0; r < 16; ++r)
    for (Int k = 0; k < 8; ++k) n += Ink(a, r, k) != Ink(b, r, k);
  return n;
}

TEST(FontArtwork, KeepsItsMarginsAndGivesEveryPrintableInkOfItsOwn) {
  for (Int code = 32; code < 128; ++code) {
    for (Int r = 0; r < 16; ++r)
      for (Int k = 0; k < 8; ++k)
        EXPECT_FALSE(Ink(code, r, k) && (k == 0 || r == 0 || r >= 13))
            << "margin pixel " << k << "," << r << " of " << code;
    EXPECT_TRUE(code == 127 || (InkCount(code) > 0) == (code != ' ')) << code;
    for (Int b = code + 1; code > ' ' && b < 128; ++b)
      EXPECT_GT(Differ(code, b), 0) << char(code) << " and " << char(b) << " are drawn alike";
  }
  // The simulator's grid is read from these two digits: they must differ
  // in much of their ink, not in a pixel or two. And zero is not the letter O.
  EXPECT_GE(Differ('0', '1'), (InkCount('0') + InkCount('1')) / 2);
  EXPECT_GE(Differ('0', 'O'), 3);
}

TEST(DefaultFont, IsTheRegisteredArtworkAsWhiteOnClear) {
  InitFontModule();
  String* name = KX_STR("zorbefont.bin");
  ASSERT_EQ(kxEmbeddedBlobSize(name), 1536);
  EXPECT_EQ(std::memcmp(kxEmbeddedBlobData(name), kBuiltinFont8x16, 1536), 0);
  TGlyphFont* font = TGlyphFont::BuildDefaultFont();
  ASSERT_EQ(font->GlyphCount(), 96);
  EXPECT_EQ(font->FaceSize(), 16);
  for (auto [code, index] : {std::pair<Int, Int>{31, -1}, {127, 95}, {128, -1}, {0x141, -1}})
    EXPECT_EQ(font->GlyphIndex(code), index) << code;
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
