// Image fonts and text drawing: a TGlyphFont holds one small image per
// glyph; drawing a string paints those images one after another through the
// current 2D driver. The built-in 8 x 16 font comes from the embedded block
// "zorbefont.bin".
#pragma once

#include "render2d/image.h"

enum : Int { FONT_SMOOTH = 4 };

class TImageGlyph : public Object {
  KX_CLASS(TImageGlyph, Object)
 public:
  Ref<TImage> image;
  Float advance = 0;
  Int x = 0, y = 0, width = 0, height = 0;
  virtual TImage* GlyphImage() { return image; }
  virtual Float GlyphAdvance() { return advance; }
  virtual void GlyphRect(Int* gx, Int* gy, Int* w, Int* h);
};

class TFaceGlyph : public Object {
  KX_CLASS(TFaceGlyph, Object)
 public:
  virtual Object* GlyphPixels();
  virtual Float GlyphAdvance();
  virtual void GlyphRect(Int* x, Int* y, Int* w, Int* h);
};

class TFontFace : public Object {
  KX_CLASS(TFontFace, Object)
 public:
  virtual Int FaceStyle();
  virtual Int FaceSize();
  virtual Int GlyphCount();
  virtual Int GlyphIndex(Int code);
  virtual TFaceGlyph* GetGlyph(Int index);
};

class TFontFaceLoader : public Object {
  KX_CLASS(TFontFaceLoader, Object)
 public:
  Ref<TFontFaceLoader> nextLoader;
  virtual TFontFace* LoadFace(Object* url, Int size, Int style);
};

class TGlyphFont : public Object {
  KX_CLASS(TGlyphFont, Object)
 public:
  TGlyphFont();
  Ref<TFontFace> face;
  Ref<Array> glyphs;  // ":TImageGlyph"
  // The built-in font's cells side by side, one picture, which its text is
  // drawn from: a texture per glyph would make every glyph a draw of its
  // own, and the software renderer's memory grows with the draws of a
  // frame. The glyphs' own images stay for callers that ask for them.
  Ref<TImage> sheet;
  Int imageFlags = 0;

  virtual Int FaceStyle();
  virtual Int FaceSize();
  virtual Int GlyphCount();
  virtual Int GlyphIndex(Int code);
  virtual TImageGlyph* GetGlyph(Int index);
  virtual void RenderString(String* text, Float x, Float y, Float ix, Float iy, Float jx, Float jy);
  static TGlyphFont* OpenFont(Object* url, Int size, Int style);
  static TGlyphFont* BuildDefaultFont();
};

void AddFontFaceLoader(TFontFaceLoader* loader);
TFontFace* LoadFontFace(Object* url, Int size, Int style);

void DrawText(String* text, Float x, Float y);
Int MeasureTextWidth(String* text);
Int MeasureTextHeight(String* text);
void SetTextFont(TGlyphFont* font);
TGlyphFont* GetTextFont();
TGlyphFont* LoadGlyphFont(Object* url, Int size, Int style);
TGlyphFont* DefaultTextFont();  // built on first activation; Null before

Int InitFontModule();
