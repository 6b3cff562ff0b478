// The 2D drawing API: the state object that wraps a display graphics, the
// abstract driver and frame interfaces, and the free functions that store
// state and reduce every primitive to a local shape plus a translation.
//
// Invariant: whenever the module's current 2D graphics is not Null, the
// current 2D driver is that graphics' driver. The API functions keep no
// state of their own; everything lives in the current TRender2DGraphics.
#include "render2d/render2d.h"

#include "graphics/graphics.h"
#include "render2d/collision.h"
#include "render2d/font.h"
#include "render2d/image.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"

KX_CLASS_RECORD(TImageFrame, &TImageFrame::Paint, &TImageFrame::PaintPart)
KX_CLASS_RECORD(TRender2DDriver, &TRender2DDriver::EnumerateModes, &TRender2DDriver::AttachToWidget,
                &TRender2DDriver::CreateDisplay, &TRender2DDriver::SelectDisplay,
                &TRender2DDriver::Present, &TRender2DDriver::CreateFrame,
                &TRender2DDriver::ApplyBlend, &TRender2DDriver::ApplyAlpha,
                &TRender2DDriver::ApplyColor, &TRender2DDriver::ApplyClearColor,
                &TRender2DDriver::ApplyClipRect, &TRender2DDriver::ApplyTransform,
                &TRender2DDriver::ApplyLineThickness, &TRender2DDriver::ClearScreen,
                &TRender2DDriver::PlotPoint, &TRender2DDriver::StrokeLine,
                &TRender2DDriver::FillRect, &TRender2DDriver::FillEllipse,
                &TRender2DDriver::FillPolygon, &TRender2DDriver::WritePixmap,
                &TRender2DDriver::ReadPixmap)
KX_CLASS_RECORD(TRender2DGraphics, &TRender2DGraphics::PersistType,
                &TRender2DGraphics::DisplayDriver, &TRender2DGraphics::ReadSettings,
                &TRender2DGraphics::CloseDisplay, &TRender2DGraphics::ReapplyState,
                &TRender2DGraphics::Create)

namespace {
Ref<TRender2DGraphics> currentGraphics;
Ref<TRender2DDriver> currentDriver;
Ref<TGlyphFont> defaultTextFont;

// The driver of the state object; Render2DState() has already checked that
// the object is open, so the driver is set.
TRender2DDriver* Driver() { return currentDriver.get(); }
}  // namespace

// --- abstract interfaces ---------------------------------------------------

void TImageFrame::Paint(Float, Float, Float, Float, Float, Float) { kxRaiseAbstractCall(); }
void TImageFrame::PaintPart(Float, Float, Float, Float, Float, Float, Float, Float, Float, Float) {
  kxRaiseAbstractCall();
}

TImageFrame* TRender2DDriver::CreateFrame(TPixmap*, Int) { kxRaiseAbstractCall(); }
void TRender2DDriver::ApplyBlend(Int) { kxRaiseAbstractCall(); }
void TRender2DDriver::ApplyAlpha(Float) { kxRaiseAbstractCall(); }
void TRender2DDriver::ApplyColor(Int, Int, Int) { kxRaiseAbstractCall(); }
void TRender2DDriver::ApplyClearColor(Int, Int, Int) { kxRaiseAbstractCall(); }
void TRender2DDriver::ApplyClipRect(Int, Int, Int, Int) { kxRaiseAbstractCall(); }
void TRender2DDriver::ApplyTransform(Float, Float, Float, Float) { kxRaiseAbstractCall(); }
void TRender2DDriver::ApplyLineThickness(Float) { kxRaiseAbstractCall(); }
void TRender2DDriver::ClearScreen() { kxRaiseAbstractCall(); }
void TRender2DDriver::PlotPoint(Float, Float) { kxRaiseAbstractCall(); }
void TRender2DDriver::StrokeLine(Float, Float, Float, Float, Float, Float) {
  kxRaiseAbstractCall();
}
void TRender2DDriver::FillRect(Float, Float, Float, Float, Float, Float) { kxRaiseAbstractCall(); }
void TRender2DDriver::FillEllipse(Float, Float, Float, Float, Float, Float) {
  kxRaiseAbstractCall();
}
void TRender2DDriver::FillPolygon(Array*, Float, Float, Float, Float) { kxRaiseAbstractCall(); }
void TRender2DDriver::WritePixmap(TPixmap*, Int, Int) { kxRaiseAbstractCall(); }
TPixmap* TRender2DDriver::ReadPixmap(Int, Int, Int, Int) { kxRaiseAbstractCall(); }

// --- the state object ------------------------------------------------------

TRender2DGraphics* TRender2DGraphics::Create(TGraphics* graphics, TRender2DDriver* driver) {
  TRender2DGraphics* g = New<TRender2DGraphics>();
  g->graphics = graphics;
  g->driver = driver;
  return g;
}

TDisplayDriver* TRender2DGraphics::DisplayDriver() { return driver.get(); }

void TRender2DGraphics::ReadSettings(Int* width, Int* height, Int* depth, Int* hertz, Int* flags) {
  // A closed object has nothing to report; asking it is a caller error.
  if (!graphics) kxRaiseNullAccess();
  graphics->ReadSettings(width, height, depth, hertz, flags);
}

void TRender2DGraphics::CloseDisplay() {
  if (!graphics) return;
  graphics->CloseDisplay();
  graphics = nullptr;
  driver = nullptr;
}

void TRender2DGraphics::ReapplyState() {
  // Copied first: the setters write back into the current state object,
  // which may be this one.
  const Int r = colorRed, g = colorGreen, b = colorBlue;
  const Float a = alpha;
  const Int cr = clearRed, cg = clearGreen, cb = clearBlue;
  const Float thickness = lineThickness, degrees = rotation, sx = scaleX, sy = scaleY;
  const Int cx = clipX, cy = clipY, cw = clipWidth, ch = clipHeight;
  const Float ox = originX, oy = originY, hx = handleX, hy = handleY;
  TGlyphFont* font = textFont.get();
  const Int mode = blend;
  SetColor(r, g, b);
  SetAlpha(a);
  SetClearColor(cr, cg, cb);
  SetLineThickness(thickness);
  SetDrawRotation(degrees);
  SetDrawScale(sx, sy);
  SetClipRect(cx, cy, cw, ch);
  SetDrawOrigin(ox, oy);
  SetDrawHandle(hx, hy);
  SetTextFont(font);
  SetBlend(mode);
}

// --- module state ----------------------------------------------------------

TRender2DGraphics* CurrentRender2D() { return currentGraphics.get(); }
TRender2DDriver* CurrentRender2DDriver() { return currentDriver.get(); }

TRender2DGraphics* Render2DState() {
  TRender2DGraphics* g = currentGraphics.get();
  // After EndGraphics the module still names the closed object, whose
  // rendering context is gone: refuse rather than draw into nothing.
  if (!g || !g->graphics || !currentDriver) kxRaiseNullAccess();
  return g;
}

void ActivateRender2D(TGraphics* graphics) {
  currentGraphics = Cast<TRender2DGraphics>(graphics);
  if (!currentGraphics) {
    currentDriver = nullptr;
  } else {
    currentDriver = currentGraphics->driver.get();
    if (!currentDriver) currentGraphics = nullptr;
  }
  TRender2DGraphics* g = currentGraphics.get();
  if (!g || g->initialised == 1) return;

  if (!defaultTextFont) {
    // The font module keeps the first built-in font made; reuse it rather
    // than building the 96 glyph images twice.
    defaultTextFont = DefaultTextFont();
    if (!defaultTextFont) defaultTextFont = TGlyphFont::BuildDefaultFont();
  }

  SetBlend(BLEND_MASKED);
  SetColor(255, 255, 255);
  SetClearColor(0, 0, 0);
  SetImageMaskColor(0, 0, 0);
  SetAlpha(1.0f);
  SetDrawOrigin(0, 0);
  SetDrawHandle(0, 0);
  SetClipRect(0, 0, CurrentGraphicsWidth(), CurrentGraphicsHeight());
  SetDrawTransform(0, 1, 1);
  SetLineThickness(1.0f);
  SetAutoCentreHandle(0);
  SetDefaultImageFlags(IMAGE_MASKED | IMAGE_FILTERED);
  SetTextFont(defaultTextFont.get());

  // Both buffers start cleared to the clear colour.
  Cls();
  Flip(0);
  Cls();
  Flip(0);
  g->initialised = 1;
}

void UpdateDrawMatrix() {
  TRender2DGraphics* g = Render2DState();
  const Double s = kxSinDeg(g->rotation);
  const Double c = kxCosDeg(g->rotation);
  g->ix = static_cast<Float>(c * g->scaleX);
  g->iy = static_cast<Float>(-s * g->scaleY);
  g->jx = static_cast<Float>(s * g->scaleX);
  g->jy = static_cast<Float>(c * g->scaleY);
  Driver()->ApplyTransform(g->ix, g->iy, g->jx, g->jy);
  SetCollisionMatrix(g->ix, g->iy, g->jx, g->jy);
}

// --- setters and getters ---------------------------------------------------

void SetColor(Int red, Int green, Int blue) {
  TRender2DGraphics* g = Render2DState();
  g->colorRed = red;
  g->colorGreen = green;
  g->colorBlue = blue;
  Driver()->ApplyColor(red, green, blue);
}

void GetColor(Int* red, Int* green, Int* blue) {
  TRender2DGraphics* g = Render2DState();
  *red = g->colorRed;
  *green = g->colorGreen;
  *blue = g->colorBlue;
}

void SetAlpha(Float alpha) {
  Render2DState()->alpha = alpha;
  Driver()->ApplyAlpha(alpha);
}

Float GetAlpha() { return Render2DState()->alpha; }

void SetBlend(Int mode) {
  Render2DState()->blend = mode;
  Driver()->ApplyBlend(mode);
}

Int GetBlend() { return Render2DState()->blend; }

void SetClearColor(Int red, Int green, Int blue) {
  TRender2DGraphics* g = Render2DState();
  g->clearRed = red;
  g->clearGreen = green;
  g->clearBlue = blue;
  Driver()->ApplyClearColor(red, green, blue);
}

void GetClearColor(Int* red, Int* green, Int* blue) {
  TRender2DGraphics* g = Render2DState();
  *red = g->clearRed;
  *green = g->clearGreen;
  *blue = g->clearBlue;
}

void SetLineThickness(Float width) {
  Render2DState()->lineThickness = width;
  Driver()->ApplyLineThickness(width);
}

Float GetLineThickness() { return Render2DState()->lineThickness; }

void SetClipRect(Int x, Int y, Int width, Int height) {
  TRender2DGraphics* g = Render2DState();
  g->clipX = x;
  g->clipY = y;
  g->clipWidth = width;
  g->clipHeight = height;
  Driver()->ApplyClipRect(x, y, width, height);
}

void GetClipRect(Int* x, Int* y, Int* width, Int* height) {
  TRender2DGraphics* g = Render2DState();
  *x = g->clipX;
  *y = g->clipY;
  *width = g->clipWidth;
  *height = g->clipHeight;
}

void SetDrawOrigin(Float x, Float y) {
  TRender2DGraphics* g = Render2DState();
  g->originX = x;
  g->originY = y;
}

void GetDrawOrigin(Float* x, Float* y) {
  TRender2DGraphics* g = Render2DState();
  *x = g->originX;
  *y = g->originY;
}

void SetDrawHandle(Float x, Float y) {
  TRender2DGraphics* g = Render2DState();
  g->handleX = x;
  g->handleY = y;
}

void GetDrawHandle(Float* x, Float* y) {
  TRender2DGraphics* g = Render2DState();
  *x = g->handleX;
  *y = g->handleY;
}

void SetDrawRotation(Float degrees) {
  Render2DState()->rotation = degrees;
  UpdateDrawMatrix();
}

Float GetDrawRotation() { return Render2DState()->rotation; }

void SetDrawScale(Float sx, Float sy) {
  TRender2DGraphics* g = Render2DState();
  g->scaleX = sx;
  g->scaleY = sy;
  UpdateDrawMatrix();
}

void GetDrawScale(Float* sx, Float* sy) {
  TRender2DGraphics* g = Render2DState();
  *sx = g->scaleX;
  *sy = g->scaleY;
}

void SetDrawTransform(Float degrees, Float sx, Float sy) {
  TRender2DGraphics* g = Render2DState();
  g->rotation = degrees;
  g->scaleX = sx;
  g->scaleY = sy;
  UpdateDrawMatrix();
}

// --- primitives ------------------------------------------------------------
// Each value handed to the driver is computed in double and then rounded to
// a 32-bit float once, so sums of origin and position do not lose a bit to
// an intermediate float rounding.

namespace {
inline Float F(Double v) { return static_cast<Float>(v); }
}  // namespace

void Cls() {
  Render2DState();
  Driver()->ClearScreen();
}

void DrawPoint(Float x, Float y) {
  TRender2DGraphics* g = Render2DState();
  Driver()->PlotPoint(F(Double(x) + g->originX), F(Double(y) + g->originY));
}

void DrawLine(Float x1, Float y1, Float x2, Float y2, Int lastPixel) {
  TRender2DGraphics* g = Render2DState();
  const Double hx = g->handleX, hy = g->handleY;
  const Float dx = F(Double(x2) - x1 - hx);
  const Float dy = F(Double(y2) - y1 - hy);
  Driver()->StrokeLine(F(-hx), F(-hy), dx, dy, F(Double(x1) + g->originX),
                       F(Double(y1) + g->originY));
  if (lastPixel == 0) return;
  // The line rasteriser may leave the end pixel out; plot the point that
  // StrokeLine mapped its second end to.
  Driver()->PlotPoint(F(Double(x1) + Double(dx) * g->ix + Double(dy) * g->iy + g->originX),
                      F(Double(y1) + Double(dx) * g->jx + Double(dy) * g->jy + g->originY));
}

void DrawRect(Float x, Float y, Float width, Float height) {
  TRender2DGraphics* g = Render2DState();
  const Double hx = g->handleX, hy = g->handleY;
  Driver()->FillRect(F(-hx), F(-hy), F(width - hx), F(height - hy), F(Double(x) + g->originX),
                     F(Double(y) + g->originY));
}

void DrawEllipse(Float x, Float y, Float width, Float height) {
  TRender2DGraphics* g = Render2DState();
  const Double hx = g->handleX, hy = g->handleY;
  Driver()->FillEllipse(F(-hx), F(-hy), F(width - hx), F(height - hy), F(Double(x) + g->originX),
                        F(Double(y) + g->originY));
}

void DrawPolygon(Array* xy) {
  TRender2DGraphics* g = Render2DState();
  Driver()->FillPolygon(xy, F(-Double(g->handleX)), F(-Double(g->handleY)), g->originX, g->originY);
}

void PaintPixmap(TPixmap* pixmap, Int x, Int y) {
  Render2DState();
  Driver()->WritePixmap(pixmap, x, y);
}

TPixmap* CapturePixmap(Int x, Int y, Int width, Int height) {
  Render2DState();
  return Driver()->ReadPixmap(x, y, width, height);
}

Int InitRender2DModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitGraphicsModule();
  InitPixmapModule();
  InitImageModule();
  InitFontModule();
  InitCollisionLayers();
  return 0;
}
