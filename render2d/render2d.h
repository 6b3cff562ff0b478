// The 2D drawing API and its state. All state lives in the current
// TRender2DGraphics; every setter stores its value there as passed and hands
// it to the current TRender2DDriver, which clamps for display and does the
// pixel work. Calls made while no 2D graphics is open raise the runtime's
// null-object error.
#pragma once

#include "graphics/graphics.h"
#include "runtime/array.h"

class TPixmap;
class TGlyphFont;

enum : Int {
  BLEND_MASKED = 1,
  BLEND_OPAQUE = 2,
  BLEND_TRANSLUCENT = 3,
  BLEND_ADDITIVE = 4,
  BLEND_MULTIPLY = 5,
};

// One driver-side picture of an image frame.
class TImageFrame : public Object {
  KX_CLASS(TImageFrame, Object)
 public:
  virtual void Paint(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty);
  // Paints only the part (sx0, sy0) - (sx1, sy1) of the picture, in its
  // pixels, onto the rectangle as Paint does: many small pictures kept in
  // one frame are drawn without a change of frame between them.
  virtual void PaintPart(Float sx0, Float sy0, Float sx1, Float sy1, Float x0, Float y0, Float x1,
                         Float y1, Float tx, Float ty);
};

class TRender2DDriver : public TDisplayDriver {
  KX_CLASS(TRender2DDriver, TDisplayDriver)
 public:
  virtual TImageFrame* CreateFrame(TPixmap* pixmap, Int flags);
  virtual void ApplyBlend(Int mode);
  virtual void ApplyAlpha(Float alpha);
  virtual void ApplyColor(Int red, Int green, Int blue);
  virtual void ApplyClearColor(Int red, Int green, Int blue);
  virtual void ApplyClipRect(Int x, Int y, Int width, Int height);
  virtual void ApplyTransform(Float ix, Float iy, Float jx, Float jy);
  virtual void ApplyLineThickness(Float width);
  virtual void ClearScreen();
  virtual void PlotPoint(Float x, Float y);
  virtual void StrokeLine(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty);
  virtual void FillRect(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty);
  virtual void FillEllipse(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty);
  virtual void FillPolygon(Array* xy, Float hx, Float hy, Float tx, Float ty);
  virtual void WritePixmap(TPixmap* pixmap, Int x, Int y);
  virtual TPixmap* ReadPixmap(Int x, Int y, Int width, Int height);
};

class TRender2DGraphics : public TGraphics {
  KX_CLASS(TRender2DGraphics, TGraphics)
 public:
  Int colorRed = 0, colorGreen = 0, colorBlue = 0;
  Float alpha = 0;
  Int clearRed = 0, clearGreen = 0, clearBlue = 0;
  Float lineThickness = 0;
  Float rotation = 0;
  Float scaleX = 0, scaleY = 0;
  Float ix = 0, iy = 0, jx = 0, jy = 0;
  Int clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;
  Float originX = 0, originY = 0;
  Float handleX = 0, handleY = 0;
  Ref<TGlyphFont> textFont;
  Int blend = 0;
  Ref<TGraphics> graphics;
  Ref<TRender2DDriver> driver;
  Int initialised = 0;

  TDisplayDriver* DisplayDriver() override;
  void ReadSettings(Int* width, Int* height, Int* depth, Int* hertz, Int* flags) override;
  void CloseDisplay() override;
  virtual void ReapplyState();
  static TRender2DGraphics* Create(TGraphics* graphics, TRender2DDriver* driver);
};

// Current 2D state; Null when no 2D graphics is current.
TRender2DGraphics* CurrentRender2D();
TRender2DDriver* CurrentRender2DDriver();
// The state object, raising the null-object error when there is none.
TRender2DGraphics* Render2DState();

void ActivateRender2D(TGraphics* graphics);
void UpdateDrawMatrix();

void SetColor(Int red, Int green, Int blue);
void GetColor(Int* red, Int* green, Int* blue);
void SetAlpha(Float alpha);
Float GetAlpha();
void SetBlend(Int mode);
Int GetBlend();
void SetClearColor(Int red, Int green, Int blue);
void GetClearColor(Int* red, Int* green, Int* blue);
void SetLineThickness(Float width);
Float GetLineThickness();
void SetClipRect(Int x, Int y, Int width, Int height);
void GetClipRect(Int* x, Int* y, Int* width, Int* height);
void SetDrawOrigin(Float x, Float y);
void GetDrawOrigin(Float* x, Float* y);
void SetDrawHandle(Float x, Float y);
void GetDrawHandle(Float* x, Float* y);
void SetDrawRotation(Float degrees);
Float GetDrawRotation();
void SetDrawScale(Float sx, Float sy);
void GetDrawScale(Float* sx, Float* sy);
void SetDrawTransform(Float degrees, Float sx, Float sy);

void Cls();
void DrawPoint(Float x, Float y);
void DrawLine(Float x1, Float y1, Float x2, Float y2, Int lastPixel);
void DrawRect(Float x, Float y, Float width, Float height);
void DrawEllipse(Float x, Float y, Float width, Float height);
void DrawPolygon(Array* xy);
void PaintPixmap(TPixmap* pixmap, Int x, Int y);
TPixmap* CapturePixmap(Int x, Int y, Int width, Int height);

Int InitRender2DModule();
