// The OpenGL 2D driver: renders the 2D API with fixed-function OpenGL into
// the back buffer of an OpenGL display graphics, and backs image frames
// with textures. Display work (modes, contexts, flipping) is forwarded to
// the OpenGL display driver.
#pragma once

#include "render2d/render2d.h"

class TGLRender2DDriver : public TRender2DDriver {
  KX_CLASS(TGLRender2DDriver, TRender2DDriver)
 public:
  String* AsText() override;  // "OpenGL"

  Array* EnumerateModes() override;
  TGraphics* AttachToWidget(Object* widget, Int flags) override;
  TGraphics* CreateDisplay(Int width, Int height, Int depth, Int hertz, Int flags) override;
  void SelectDisplay(TGraphics* graphics) override;
  void Present(Int sync) override;

  TImageFrame* CreateFrame(TPixmap* pixmap, Int flags) override;
  void ApplyBlend(Int mode) override;
  void ApplyAlpha(Float alpha) override;
  void ApplyColor(Int red, Int green, Int blue) override;
  void ApplyClearColor(Int red, Int green, Int blue) override;
  void ApplyClipRect(Int x, Int y, Int width, Int height) override;
  void ApplyTransform(Float ix, Float iy, Float jx, Float jy) override;
  void ApplyLineThickness(Float width) override;
  void ClearScreen() override;
  void PlotPoint(Float x, Float y) override;
  void StrokeLine(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty) override;
  void FillRect(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty) override;
  void FillEllipse(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty) override;
  void FillPolygon(Array* xy, Float hx, Float hy, Float tx, Float ty) override;
  void WritePixmap(TPixmap* pixmap, Int x, Int y) override;
  TPixmap* ReadPixmap(Int x, Int y, Int width, Int height) override;
};

// An image frame held as an OpenGL texture. The texture may be larger than
// the picture (sizes are powers of two); right u and bottom v mark where the
// picture ends in it.
class TGLTextureFrame : public TImageFrame {
  KX_CLASS(TGLTextureFrame, TImageFrame)
 public:
  Float leftU = 0, topV = 0, rightU = 0, bottomV = 0;
  Int pictureWidth = 0, pictureHeight = 0;  // of the pixmap it was made from
  unsigned int texture = 0;
  Int generation = 0;  // GraphicsGeneration at creation; 0 once released

  ~TGLTextureFrame() override;
  void Paint(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty) override;
  void PaintPart(Float sx0, Float sy0, Float sx1, Float sy1, Float x0, Float y0, Float x1, Float y1,
                 Float tx, Float ty) override;
  static TGLTextureFrame* CreateFromPixmap(TPixmap* pixmap, Int flags);
  // Deletes the texture now; the destructor does the same for a frame
  // that still holds one.
  void Release();
};

TGLRender2DDriver* GLRender2DDriver();

// Segments of the polygon that stands for an ellipse with radii rx, ry:
// trunc(|rx| + |ry|), at least 12, rounded down to a multiple of 4.
Int EllipseSegments(Float rx, Float ry);

// Counts of the OpenGL calls the driver's caches exist to avoid, and of the
// texture work it does, so that tests can see a call that was not made.
struct GL2DCallCounts {
  Long enables = 0;         // glEnable
  Long disables = 0;        // glDisable
  Long blendFuncs = 0;      // glBlendFunc
  Long alphaFuncs = 0;      // glAlphaFunc
  Long binds = 0;           // glBindTexture
  Long colors = 0;          // glColor4ubv
  Long vertices = 0;        // glVertex2f
  Long textureCreates = 0;  // glGenTextures
  Long textureDeletes = 0;  // glDeleteTextures
};
extern GL2DCallCounts GL2DCalls;
// The texture the bind cache believes is bound (0: none); whenever it is
// not 0 it must be the binding of the current context.
unsigned int GL2DCachedTexture();

Int InitGLRender2DModule();
