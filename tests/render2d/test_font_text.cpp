// The built-in font: the artwork's layout rules, the embedded block, the
// default font built from it, and the font-face loader chain. Text on the
// test display: glyph placement under origin, handle, scale and rotation;
// skipped codes; measuring; fonts backed by a face.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "graphics/font8x16.h"
#include "tests/render2d/test_render2d_support.h"
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

// --- text on the test display ----------------------------------------------

using PixelMap = std::function<std::pair<Int, Int>(Int, Int, Int)>;

// Compares a captured region, whose top-left pixel is (left, top) on screen,
// with what the text should put there: `where` maps font pixel (column,
// row) of character i to the top-left of a block x block square of screen
// pixels.
::testing::AssertionResult ShowsText(TPixmap* shot, Int left, Int top, const std::string& text,
                                     PixelMap where, Int block = 1) {
  std::vector<char> expected(size_t(shot->width) * shot->height, 0);
  for (Int i = 0; i < Int(text.size()); ++i)
    for (Int r = 0; r < 16; ++r)
      for (Int k = 0; k < 8; ++k)
        if (Ink(text[i], r, k)) {
          auto [sx, sy] = where(i, k, r);
          for (Int by = 0; by < block; ++by)
            for (Int bx = 0; bx < block; ++bx) {
              Int x = sx + bx - left, y = sy + by - top;
              if (x >= 0 && y >= 0 && x < shot->width && y < shot->height)
                expected[size_t(y) * shot->width + x] = 1;
            }
        }
  for (Int y = 0; y < shot->height; ++y)
    for (Int x = 0; x < shot->width; ++x) {
      bool white = Rgb(shot, x, y) == 0xFFFFFF;
      if (white != bool(expected[size_t(y) * shot->width + x]))
        return ::testing::AssertionFailure()
               << "pixel " << left + x << "," << top + y << " is " << (white ? "ink" : "clear");
    }
  return ::testing::AssertionSuccess();
}

// Upright text of the built-in font with its first cell's top-left at (x, y).
PixelMap Upright(Int x, Int y, Int scale = 1) {
  return [=](Int i, Int k, Int r) {
    return std::pair<Int, Int>{x + (8 * i + k) * scale, y + r * scale};
  };
}

using TextDraw = DisplayTest;

// Codes without a glyph neither draw nor move the pen, nor count in the width.
TEST_F(TextDraw, GlyphCellsFollowEachOtherFromTheDrawPositionAndMeasure) {
  const struct {
    std::u16string units;
    std::string shown;
    Int width;
  } texts[] = {{u"R0g", "R0g", 24}, {u"A\nB\x01", "AB", 16}, {u"A\u00e9\u4e00B", "AB", 16},
               {u"", "", 0},        {u"   ", "", 24},        {u"0123456789", "0123456789", 80}};
  for (const auto& t : texts) {
    SCOPED_TRACE(t.shown);
    Cls();
    String* text = kxStringCopyUnits(reinterpret_cast<const uint16_t*>(t.units.data()),
                                     Int(t.units.size()));
    DrawText(text, 10, 270);
    EXPECT_TRUE(ShowsText(CapturePixmap(0, 260, 100, 40), 0, 260, t.shown, Upright(10, 270)));
    EXPECT_EQ(MeasureTextWidth(text), t.width);
  }
  EXPECT_EQ(MeasureTextHeight(Str("")), 16);

  // A glyph given a picture of another size draws that picture, not its
  // cell of the font's shared texture.
  Cls();
  TGlyphFont* font = TGlyphFont::BuildDefaultFont();
  TImage* block = TImage::CreateBlank(4, 6, 1, 0, 0, 0, 0);
  FillImage(block, Int(0xFFFFFFFFu));
  font->GetGlyph(font->GlyphIndex('A'))->image = block;
  SetTextFont(font);
  DrawText(Str("A"), 10, 270);
  SetTextFont(nullptr);
  TPixmap* shot = CapturePixmap(0, 260, 60, 40);
  EXPECT_EQ(FindColour(shot, 0xFFFFFF), (Box{10, 10, 13, 15}));
  EXPECT_EQ(Rgb(shot, 12, 12), 0xFFFFFF) << "the whole block, not the cell of 'A'";
}

TEST_F(TextDraw, OriginHandleScaleAndRotationPlaceGlyphsAndPen) {
  const struct {
    Float origin, handle, rotation, scale;
    const char* text;
    Int x, y;
    PixelMap where;
  } cases[] = {
      {10, 0, 0, 1, "0", 100, 200, Upright(110, 210)},
      // A handle at half the width of "10" centres the text on x.
      {0, 8, 0, 1, "10", 300, 300, Upright(292, 292)},
      {0, 0, 0, 2, "01", 100, 100, Upright(100, 100, 2)},
      // Turned by 90 degrees the pen runs down the screen and each glyph
      // turns about its own top-left corner: font pixel (k, r) lands left of x.
      {0, 0, 90, 1, "01", 200, 100,
       [](Int i, Int k, Int r) {
         return std::pair<Int, Int>{200 - 1 - r, 100 + 8 * i + k};
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Cls();
    SetDrawOrigin(c.origin, c.origin);
    SetDrawHandle(c.handle, c.handle);
    SetDrawTransform(c.rotation, c.scale, c.scale);
    DrawText(Str(c.text), Float(c.x), Float(c.y));
    const Int left = c.x - 40, top = c.y - 40;
    EXPECT_TRUE(
        ShowsText(CapturePixmap(left, top, 100, 100), left, top, c.text, c.where, Int(c.scale)));
  }
  SetDrawTransform(45, 2, 3);
  SetDrawOrigin(7, 7);
  EXPECT_EQ(MeasureTextWidth(Str("abc")), 24) << "the transform does not change it";
}

TEST_F(TextDraw, SameTextTwiceMakesNoNewTexturesUntilTheGenerationChanges) {
  DrawText(Str("Qz"), 10, 10);  // gives these glyphs frames in this generation
  Long textures = GL2DCalls.textureCreates;
  DrawText(Str("Qz"), 10, 10);
  EXPECT_EQ(GL2DCalls.textureCreates, textures);

  EndGraphics();
  ASSERT_TRUE(OpenTestDisplay());
  textures = GL2DCalls.textureCreates;
  DrawText(Str("QzQ"), 10, 10);
  EXPECT_EQ(GL2DCalls.textureCreates - textures, 1) << "the built-in glyphs share one texture";
  // A texture change between glyphs would end the renderer's batch at
  // every glyph.
  const Long binds = GL2DCalls.binds;
  DrawText(Str("zQz"), 10, 30);
  EXPECT_LE(GL2DCalls.binds - binds, 1);
  EXPECT_TRUE(ShowsText(CapturePixmap(0, 0, 50, 50), 0, 0, "QzQzQz", [](Int i, Int k, Int r) {
    return std::pair<Int, Int>{10 + 8 * (i % 3) + k, 10 + 20 * (i / 3) + r};
  }));
}

// --- a font backed by a face defined here ----------------------------------

class TTestGlyph : public TFaceGlyph {
  KX_CLASS(TTestGlyph, TFaceGlyph)
 public:
  Ref<Object> pixels;
  Object* GlyphPixels() override { return pixels; }
  Float GlyphAdvance() override { return 5.5f; }
  void GlyphRect(Int* x, Int* y, Int* w, Int* h) override { *x = 1, *y = 2, *w = 4, *h = 6; }
};
KX_CLASS_RECORD(TTestGlyph)

// Glyphs 'a' and 'b' are white 4 x 6 blocks, 'c' has no picture, and 'z'
// answers an index beyond the face's glyph count.
class TTestFace : public TFontFace {
  KX_CLASS(TTestFace, TFontFace)
 public:
  Int style = 0;
  Int glyphsMade = 0;
  Int FaceStyle() override { return style; }
  Int FaceSize() override { return 20; }
  Int GlyphCount() override { return 3; }
  Int GlyphIndex(Int code) override {
    if (code == 'z') return 7;
    return code >= 'a' && code <= 'c' ? code - 'a' : -1;
  }
  TFaceGlyph* GetGlyph(Int index) override {
    ++glyphsMade;
    TTestGlyph* g = New<TTestGlyph>();
    if (index < 2) {
      TPixmap* p = TPixmap::Allocate(4, 6, PIXFMT_RGBA32, 4);
      for (Int i = 0; i < 24; ++i) p->SetPixel(i % 4, i / 4, -1);
      g->pixels = p;
    } else {
      g->pixels = KX_STR("not a pixmap");
    }
    return g;
  }
};
KX_CLASS_RECORD(TTestFace)

class TTestFaceLoader : public TFontFaceLoader {
  KX_CLASS(TTestFaceLoader, TFontFaceLoader)
 public:
  TFontFace* LoadFace(Object* url, Int size, Int style) override {
    String* s = Cast<String>(url);
    if (!s || ToStd(s) != "test:blocks") return nullptr;
    TTestFace* face = New<TTestFace>();
    face->style = style;
    return face;
  }
};
KX_CLASS_RECORD(TTestFaceLoader)

TGlyphFont* LoadBlocks(Int style) {
  static Ref<TTestFaceLoader> loader;
  if (!loader) {
    loader = New<TTestFaceLoader>();
    AddFontFaceLoader(loader);
  }
  return LoadGlyphFont(Str("test:blocks"), 20, style);
}

TEST_F(TextDraw, FaceFontBuildsEachGlyphOnFirstUse) {
  TGlyphFont* smooth = LoadBlocks(FONT_SMOOTH | 1);
  ASSERT_NE(smooth, nullptr);
  EXPECT_EQ(smooth->imageFlags, 6);
  EXPECT_EQ(smooth->FaceStyle(), FONT_SMOOTH | 1) << "style bits reach the face unchanged";
  EXPECT_EQ(smooth->GlyphCount(), 3);
  for (Int i = 0; i < 3; ++i) EXPECT_EQ(smooth->glyphs->RefElements()[i], nullptr);
  TImageGlyph* a = smooth->GetGlyph(0);
  ASSERT_NE(a->image.get(), nullptr);
  EXPECT_EQ(a->image->flags, 6);
  EXPECT_EQ(smooth->GetGlyph(0), a);
  EXPECT_EQ(static_cast<TTestFace*>(smooth->face.get())->glyphsMade, 1);
  EXPECT_EQ(smooth->GlyphIndex('z'), -1) << "an index beyond the glyphs is no glyph";

  TGlyphFont* font = LoadBlocks(0);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->imageFlags, 0);
  SetTextFont(font);
  EXPECT_EQ(GetTextFont(), font);
  EXPECT_EQ(MeasureTextHeight(Str("ab")), 20);
  // 5.5 per glyph, truncated after each step: 5, 10, 15, 20.
  EXPECT_EQ(MeasureTextWidth(Str("abzab")), 20);

  // 'c' has no picture but moves the pen; ' ' and 'z' have no glyph.
  DrawText(Str("ac bz"), 100, 100);
  TPixmap* shot = CapturePixmap(90, 90, 40, 30);
  EXPECT_EQ(FindColour(CapturePixmap(90, 90, 16, 30), 0xFFFFFF),
            (Box{101 - 90, 102 - 90, 104 - 90, 107 - 90}));
  EXPECT_EQ(FindColour(shot, 0xFFFFFF).right + 90, 115) << "b starts at pen 111 plus its offset 1";
  EXPECT_EQ(Rgb(shot, 112 - 90, 104 - 90), 0xFFFFFF);
  EXPECT_EQ(Rgb(shot, 108 - 90, 104 - 90), 0) << "c draws nothing";
  auto* face = static_cast<TTestFace*>(font->face.get());
  Int made = face->glyphsMade;
  EXPECT_EQ(made, 3);
  DrawText(Str("abc"), 100, 150);
  EXPECT_EQ(face->glyphsMade, made);

  // Scaled, the glyph's offset (1, 2) is scaled with it: (2, 6), where
  // upright text would use it as it is.
  Cls();
  SetDrawScale(2, 3);
  DrawText(Str("a"), 100, 100);
  EXPECT_EQ(FindColour(CapturePixmap(90, 90, 40, 50), 0xFFFFFF),
            (Box{102 - 90, 106 - 90, 109 - 90, 123 - 90}));
  SetDrawScale(1, 1);

  SetTextFont(nullptr);
  EXPECT_EQ(GetTextFont(), DefaultTextFont());
  EXPECT_NE(GetTextFont(), nullptr);
}

}  // namespace
