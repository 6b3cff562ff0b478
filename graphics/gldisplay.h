// The OpenGL display on X11: the GL display driver and graphics objects,
// texture helpers and the debug text drawer. The GLX/Xlib layer itself is
// internal to graphics/ (gldisplay_layer.h).
#pragma once

#include "graphics/graphics.h"

class TPixmap;

class TGLDisplayDriver : public TDisplayDriver {
  KX_CLASS(TGLDisplayDriver, TDisplayDriver)
 public:
  Array* EnumerateModes() override;
  TGraphics* AttachToWidget(Object* widget, Int flags) override;
  TGraphics* CreateDisplay(Int width, Int height, Int depth, Int hertz, Int flags) override;
  void SelectDisplay(TGraphics* graphics) override;
  void Present(Int sync) override;
  virtual void ToggleSharedContext();
};

TGLDisplayDriver* GLDisplayDriver();
TGraphics* GLDisplayGraphics(Int width, Int height, Int depth, Int hertz, Int flags);
void DrawDebugText(String* text, Int x, Int y);
unsigned int TextureFromPixmap(TPixmap* pixmap, Int mipmapped);
void FitTextureSize(Int* width, Int* height);
Int NextPowerOfTwo(Int n);

Int InitGLDisplayModule();
