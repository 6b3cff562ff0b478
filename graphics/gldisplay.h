// The OpenGL display on X11: the GL display driver and graphics objects,
// texture helpers and the debug text drawer. The GLX/Xlib layer itself is
// internal to graphics/ (gldisplay_layer.h).
#pragma once

#include "graphics/graphics.h"

class TPixmap;
struct GLDisplayContext;

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

// A graphics object of this driver: it owns one context of the layer, until
// CloseDisplay. Dropping the object without closing it leaves the context
// (window, video mode) as it is.
class TGLDisplayGraphics : public TGraphics {
  KX_CLASS(TGLDisplayGraphics, TGraphics)
 public:
  TDisplayDriver* DisplayDriver() override;
  void ReadSettings(Int* width, Int* height, Int* depth, Int* hertz, Int* flags) override;
  void CloseDisplay() override;
  GLDisplayContext* context = nullptr;  // null after CloseDisplay
};

TGLDisplayDriver* GLDisplayDriver();
TGraphics* GLDisplayGraphics(Int width, Int height, Int depth, Int hertz, Int flags);
void DrawDebugText(String* text, Int x, Int y);
unsigned int TextureFromPixmap(TPixmap* pixmap, Int mipmapped);
// The texture size for a picture: each side rounded up to a power of two,
// then both halved until OpenGL accepts it (never asked about a side above
// GL_MAX_TEXTURE_SIZE). Raises "Unable to calculate tex size" when not even
// 1 x 1 is accepted, as without a context.
void FitTextureSize(Int* width, Int* height);
Int NextPowerOfTwo(Int n);
// Fills the bound texture: level 0 from the pixmap, which must be width x
// height, and when mipmapped each level below it, halved down to 1 x 1 and
// scaled from the one above. A null pixmap makes the levels without
// content. The unpack row length is put back. Answers the levels made.
Int UploadTextureLevels(TPixmap* pixmap, Int width, Int height, Int mipmapped);
// True when the X server offers the video-mode extension that full screen
// needs (Xvfb, for one, does not).
bool GLDisplayHasVideoModes();

Int InitGLDisplayModule();
