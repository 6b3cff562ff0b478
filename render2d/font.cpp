// Image fonts: a TGlyphFont keeps one TImageGlyph (a small image plus pen
// metrics) per glyph index and draws strings by painting those images one
// after another through the current 2D driver. The built-in font has all
// 96 glyphs made at once from the embedded 8 x 16 artwork; a face-backed
// font makes each glyph from its TFontFace the first time it is asked for.
#include "render2d/font.h"

#include <cmath>
#include <cstdint>

#include "graphics/font8x16.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"

// Cell of the built-in font, and the codes it covers.
static constexpr Int kCellWidth = 8;
static constexpr Int kCellHeight = 16;
static constexpr Int kFirstCode = 32;
static constexpr Int kGlyphTotal = 96;

// The first default font built, kept for the life of the process.
static Ref<TGlyphFont> defaultFont;
// Head of the font-face loader chain; the loader added last is asked first.
static Ref<TFontFaceLoader> loaderChain;

KX_CLASS_RECORD(TImageGlyph, &TImageGlyph::GlyphImage, &TImageGlyph::GlyphAdvance,
                &TImageGlyph::GlyphRect)
KX_CLASS_RECORD(TFaceGlyph, &TFaceGlyph::GlyphPixels, &TFaceGlyph::GlyphAdvance,
                &TFaceGlyph::GlyphRect)
KX_CLASS_RECORD(TFontFace, &TFontFace::FaceStyle, &TFontFace::FaceSize, &TFontFace::GlyphCount,
                &TFontFace::GlyphIndex, &TFontFace::GetGlyph)
KX_CLASS_RECORD(TFontFaceLoader, &TFontFaceLoader::LoadFace)
KX_CLASS_RECORD(TGlyphFont, &TGlyphFont::FaceStyle, &TGlyphFont::FaceSize, &TGlyphFont::GlyphCount,
                &TGlyphFont::GlyphIndex, &TGlyphFont::GetGlyph, &TGlyphFont::RenderString,
                &TGlyphFont::OpenFont, &TGlyphFont::BuildDefaultFont)

static String* DefaultFontBlobName() { return KX_STR("zorbefont.bin"); }

// --- glyphs and faces ------------------------------------------------------

void TImageGlyph::GlyphRect(Int* gx, Int* gy, Int* w, Int* h) {
  if (gx) *gx = x;
  if (gy) *gy = y;
  if (w) *w = width;
  if (h) *h = height;
}

Object* TFaceGlyph::GlyphPixels() { kxRaiseAbstractCall(); }
Float TFaceGlyph::GlyphAdvance() { kxRaiseAbstractCall(); }
void TFaceGlyph::GlyphRect(Int*, Int*, Int*, Int*) { kxRaiseAbstractCall(); }

Int TFontFace::FaceStyle() { kxRaiseAbstractCall(); }
Int TFontFace::FaceSize() { kxRaiseAbstractCall(); }
Int TFontFace::GlyphCount() { kxRaiseAbstractCall(); }
Int TFontFace::GlyphIndex(Int) { kxRaiseAbstractCall(); }
TFaceGlyph* TFontFace::GetGlyph(Int) { kxRaiseAbstractCall(); }

TFontFace* TFontFaceLoader::LoadFace(Object*, Int, Int) { kxRaiseAbstractCall(); }

void AddFontFaceLoader(TFontFaceLoader* loader) {
  if (!loader) return;
  for (TFontFaceLoader* l = loaderChain; l; l = l->nextLoader) {
    if (l == loader) return;
  }
  loader->nextLoader = loaderChain;
  loaderChain = loader;
}

TFontFace* LoadFontFace(Object* url, Int size, Int style) {
  for (TFontFaceLoader* l = loaderChain; l; l = l->nextLoader) {
    if (TFontFace* face = l->LoadFace(url, size, style)) return face;
  }
  return nullptr;
}

// --- TGlyphFont ------------------------------------------------------------

TGlyphFont::TGlyphFont() : glyphs(&kxEmptyArray) {}

Int TGlyphFont::FaceStyle() { return face ? face->FaceStyle() : 0; }

Int TGlyphFont::FaceSize() { return face ? face->FaceSize() : kCellHeight; }

Int TGlyphFont::GlyphCount() { return glyphs->Length(); }

Int TGlyphFont::GlyphIndex(Int code) {
  if (!face) {
    return code >= kFirstCode && code < kFirstCode + kGlyphTotal ? code - kFirstCode : -1;
  }
  Int index = face->GlyphIndex(code);
  // A face that answers an index beyond its own glyph count would make
  // GetGlyph read past the glyph array: treat it as "no glyph".
  return index >= 0 && index < glyphs->Length() ? index : -1;
}

// Makes glyphs[index] from the face's glyph.
static TImageGlyph* BuildFaceGlyph(TGlyphFont* font, Int index) {
  TImageGlyph* glyph = New<TImageGlyph>();
  kxArraySetRef(font->glyphs, index, glyph);
  TFaceGlyph* source = font->face->GetGlyph(index);
  if (!source) return glyph;  // a face without this glyph: nothing to draw, no advance
  glyph->advance = source->GlyphAdvance();
  source->GlyphRect(&glyph->x, &glyph->y, &glyph->width, &glyph->height);
  if (auto* pixmap = Cast<TPixmap>(source->GlyphPixels())) {
    glyph->image = TImage::FromSource(pixmap->Duplicate(), font->imageFlags, 0, 0, 0);
  }
  return glyph;
}

TImageGlyph* TGlyphFont::GetGlyph(Int index) {
  if (index < 0 || index >= glyphs->Length()) kxRaiseIndexRange();
  auto* glyph = static_cast<TImageGlyph*>(glyphs->RefElements()[index]);
  if (!glyph && face) glyph = BuildFaceGlyph(this, index);
  return glyph;
}

void TGlyphFont::RenderString(String* text, Float x, Float y, Float ix, Float iy, Float jx,
                              Float jy) {
  if (!text) return;
  // Unrotated, unscaled text (nearly all of it): the offsets are the
  // glyph's own, which the general products below give exactly.
  const bool upright = ix == 1 && iy == 0 && jx == 0 && jy == 1;
  TImageFrame* sheetFrame = sheet && text->length > 0 ? sheet->GetFrame(0) : nullptr;
  for (Int i = 0; i < text->length; ++i) {
    Int index = GlyphIndex(text->units[i]);
    if (index < 0) continue;
    TImageGlyph* glyph = GetGlyph(index);
    if (!glyph) continue;
    if (TImage* image = glyph->image) {
      Int dx = upright ? glyph->x : kxTruncateToInt(double(glyph->x) * ix + double(glyph->y) * iy);
      Int dy = upright ? glyph->y : kxTruncateToInt(double(glyph->x) * jx + double(glyph->y) * jy);
      const Float w = Float(image->width), h = Float(image->height);
      // A glyph given a picture of another size is no longer its cell.
      if (sheetFrame && image->width == kCellWidth && image->height == kCellHeight) {
        const Float cell = Float(index * kCellWidth);
        sheetFrame->PaintPart(cell, 0, cell + w, h, 0, 0, w, h, x + Float(dx), y + Float(dy));
      } else if (TImageFrame* frame = image->GetFrame(0)) {
        frame->Paint(0, 0, w, h, x + Float(dx), y + Float(dy));
      }
    }
    x += glyph->advance * ix;
    y += glyph->advance * jx;
  }
}

TGlyphFont* TGlyphFont::OpenFont(Object* url, Int size, Int style) {
  TFontFace* face = LoadFontFace(url, size, style);
  if (!face) return nullptr;
  TGlyphFont* font = New<TGlyphFont>();
  font->face = face;
  font->glyphs = kxArrayNew(":TImageGlyph", 1, face->GlyphCount());
  if (style & FONT_SMOOTH) font->imageFlags = IMAGE_FILTERED | IMAGE_MIPMAPPED;
  return font;
}

TGlyphFont* TGlyphFont::BuildDefaultFont() {
  TGlyphFont* font = New<TGlyphFont>();
  font->glyphs = kxArrayNew(":TImageGlyph", 1, kGlyphTotal);

  // The registered block is used when present; the compiled-in artwork is
  // the same bytes and stands in if the module was not initialised.
  auto* bytes = static_cast<const uint8_t*>(kxEmbeddedBlobData(DefaultFontBlobName()));
  if (!bytes || kxEmbeddedBlobSize(DefaultFontBlobName()) < Int(sizeof kBuiltinFont8x16)) {
    bytes = kBuiltinFont8x16;
  }
  TPixmap* sheet = Font8x16Sheet(bytes, kCellWidth * kGlyphTotal);

  for (Int i = 0; i < kGlyphTotal; ++i) {
    TImageGlyph* glyph = New<TImageGlyph>();
    kxArraySetRef(font->glyphs, i, glyph);
    glyph->advance = Float(kCellWidth);
    glyph->width = kCellWidth;
    glyph->height = kCellHeight;
    TPixmap* cell = sheet->SubWindow(i * kCellWidth, 0, kCellWidth, kCellHeight)->Duplicate();
    glyph->image = TImage::FromSource(cell, 0, 0, 0, 0);
  }
  font->sheet = TImage::FromSource(sheet, 0, 0, 0, 0);
  // The first font built becomes the process-wide default, whoever asked
  // for it: the 2D activation builds it once and later activations reuse it.
  if (!defaultFont) defaultFont = font;
  return font;
}

// --- text API --------------------------------------------------------------

static TGlyphFont* CurrentTextFont(TRender2DGraphics* state) {
  TGlyphFont* font = state->textFont;
  if (!font) kxRaiseNullAccess();
  return font;
}

void DrawText(String* text, Float x, Float y) {
  TRender2DGraphics* state = Render2DState();
  TGlyphFont* font = CurrentTextFont(state);
  const Float hx = state->handleX, hy = state->handleY;
  const Float ix = state->ix, iy = state->iy, jx = state->jx, jy = state->jy;
  font->RenderString(text, x + state->originX - hx * ix - hy * iy,
                     y + state->originY - hx * jx - hy * jy, ix, iy, jx, jy);
}

Int MeasureTextWidth(String* text) {
  TGlyphFont* font = CurrentTextFont(Render2DState());
  Int width = 0;
  if (!text) return 0;
  for (Int i = 0; i < text->length; ++i) {
    Int index = font->GlyphIndex(text->units[i]);
    if (index < 0) continue;
    TImageGlyph* glyph = font->GetGlyph(index);
    if (!glyph) continue;
    width = kxTruncateToInt(double(Float(width) + glyph->GlyphAdvance()));
  }
  return width;
}

Int MeasureTextHeight(String* text) { return CurrentTextFont(Render2DState())->FaceSize(); }

TGlyphFont* DefaultTextFont() { return defaultFont; }

void SetTextFont(TGlyphFont* font) {
  TRender2DGraphics* state = Render2DState();
  if (!font) {
    if (!defaultFont) TGlyphFont::BuildDefaultFont();
    font = defaultFont;
  }
  state->textFont = font;
}

TGlyphFont* GetTextFont() { return Render2DState()->textFont; }

TGlyphFont* LoadGlyphFont(Object* url, Int size, Int style) {
  return TGlyphFont::OpenFont(url, size, style);
}

Int InitFontModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitImageModule();
  kxAddEmbeddedBlob(DefaultFontBlobName(), kBuiltinFont8x16, Int(sizeof kBuiltinFont8x16));
  return 0;
}
