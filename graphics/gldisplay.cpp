// The GL display module: the display driver and graphics objects over the
// GL display layer, texture uploads from pixmaps, and a self-contained text
// drawer for debugging that needs no 2D state.
#include "graphics/gldisplay.h"

#include <GL/gl.h>
#include <GL/glx.h>

#include <cstdint>
#include <vector>

#include "graphics/font8x16.h"
#include "graphics/gldisplay_layer.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "runtime/time.h"
#include "runtime/module.h"

KX_CLASS_RECORD(TGLDisplayDriver, &TGLDisplayDriver::EnumerateModes,
                &TGLDisplayDriver::AttachToWidget, &TGLDisplayDriver::CreateDisplay,
                &TGLDisplayDriver::SelectDisplay, &TGLDisplayDriver::Present,
                &TGLDisplayDriver::ToggleSharedContext)
KX_CLASS_RECORD(TGLDisplayGraphics, &TGLDisplayGraphics::PersistType,
                &TGLDisplayGraphics::DisplayDriver, &TGLDisplayGraphics::ReadSettings,
                &TGLDisplayGraphics::CloseDisplay)

namespace {

constexpr Int kModeRoom = 1024;          // modes fetched per listing
constexpr Int kFontBytes = 1536;         // 96 glyphs x 16 rows
constexpr Int kFontTextureWidth = 1024;  // 128 glyph cells of 8 pixels
constexpr Int kGlyphWidth = 8;
constexpr Int kGlyphHeight = 16;

TGLDisplayDriver* theDriver = nullptr;  // held for the process, never released
GLuint fontTexture = 0;

String* FontBlobName() { return KX_STR("gldrawtextfont.bin"); }

// 1024 x 16 pixmap of the embedded font; the cells past the 96 glyphs
// stay transparent.
TPixmap* FontPixmap() {
  const auto* bits = static_cast<const uint8_t*>(kxEmbeddedBlobData(FontBlobName()));
  if (!bits || kxEmbeddedBlobSize(FontBlobName()) < kFontBytes) return nullptr;
  return Font8x16Sheet(bits, kFontTextureWidth);
}

// The texture is made in the shared list so that every context sees it.
GLuint MakeFontTexture() {
  TPixmap* p = FontPixmap();
  if (!p) return 0;
  GLDisplayToggleShared();
  GLuint name = 0;
  try {
    KxTry region;
    name = TextureFromPixmap(p, 1);
  } catch (const KxThrown& e) {
    GLDisplayToggleShared();
    kxThrow(e.error.get());
  }
  GLDisplayToggleShared();
  return name;
}

}  // namespace

// --- graphics objects --------------------------------------------------------

TDisplayDriver* TGLDisplayGraphics::DisplayDriver() { return GLDisplayDriver(); }

void TGLDisplayGraphics::ReadSettings(Int* width, Int* height, Int* depth, Int* hertz, Int* flags) {
  GLDisplayQuerySettings(context, width, height, depth, hertz, flags);
}

void TGLDisplayGraphics::CloseDisplay() {
  if (!context) return;
  GLDisplayClose(context);
  context = nullptr;
}

// --- driver ------------------------------------------------------------------

Array* TGLDisplayDriver::EnumerateModes() {
  std::vector<Int> room(static_cast<size_t>(kModeRoom) * 4);
  const Int n = GLDisplayListModes(room.data(), kModeRoom);
  Array* modes = kxArrayNew(":TGraphicsMode", 1, n);
  for (Int i = 0; i < n; ++i) {
    TGraphicsMode* m = New<TGraphicsMode>();
    m->width = room[4 * i];
    m->height = room[4 * i + 1];
    m->depth = room[4 * i + 2];
    m->hertz = room[4 * i + 3];
    kxArraySetRef(modes, i, m);
  }
  return modes;
}

// The widget is an X window id passed in the object slot.
TGraphics* TGLDisplayDriver::AttachToWidget(Object* widget, Int flags) {
  const auto window = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(widget));
  if (!window) return nullptr;
  GLDisplayContext* c = GLDisplayAttach(window, flags);
  if (!c) return nullptr;
  TGLDisplayGraphics* g = New<TGLDisplayGraphics>();
  g->context = c;
  return g;
}

// A failed creation (no display, no GLX, no such mode, refused context) is
// a Null graphics object, never one without a context.
TGraphics* TGLDisplayDriver::CreateDisplay(Int width, Int height, Int depth, Int hertz, Int flags) {
  GLDisplayContext* c = GLDisplayCreate(width, height, depth, hertz, flags);
  if (!c) return nullptr;
  TGLDisplayGraphics* g = New<TGLDisplayGraphics>();
  g->context = c;
  return g;
}

void TGLDisplayDriver::SelectDisplay(TGraphics* graphics) {
  auto* g = Cast<TGLDisplayGraphics>(graphics);
  GLDisplaySelect(g ? g->context : nullptr);
}

void TGLDisplayDriver::Present(Int sync) { GLDisplayFlip(sync); }

void TGLDisplayDriver::ToggleSharedContext() { GLDisplayToggleShared(); }

TGLDisplayDriver* GLDisplayDriver() {
  if (!theDriver) {
    theDriver = New<TGLDisplayDriver>();
    kxRetain(theDriver);
  }
  return theDriver;
}

TGraphics* GLDisplayGraphics(Int width, Int height, Int depth, Int hertz, Int flags) {
  UseDisplayDriver(GLDisplayDriver(), DISPLAY_BACK_BUFFER);
  return Graphics(width, height, depth, hertz, flags);
}

// --- textures ----------------------------------------------------------------

Int NextPowerOfTwo(Int n) {
  constexpr Int kLargest = 1 << 30;  // the largest power of two an Int holds
  if (n >= kLargest) return kLargest;
  Int p = 1;
  while (p < n) p <<= 1;
  return p;
}

// A size above GL_MAX_TEXTURE_SIZE is refused by every proxy query, so it
// is halved without asking: the result is the same, and the driver is never
// handed sizes it mishandles (the 32-bit llvmpipe overruns its stack on a
// 2^24-wide proxy). Without a context the limit reads 0 and nothing is
// accepted, as the proxy queries would answer.
void FitTextureSize(Int* width, Int* height) {
  Int w = NextPowerOfTwo(*width);
  Int h = NextPowerOfTwo(*height);
  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  for (;;) {
    GLint accepted = 0;
    if (w <= limit && h <= limit) {
      glTexImage2D(GL_PROXY_TEXTURE_2D, 0, 4, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
      glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &accepted);
    }
    if (accepted != 0) break;
    if (w == 1 && h == 1) kxRaiseError(KX_STR("Unable to calculate tex size"));
    if (w > 1) w /= 2;
    if (h > 1) h /= 2;
  }
  *width = w;
  *height = h;
}

Int UploadTextureLevels(TPixmap* pixmap, Int width, Int height, Int mipmapped) {
  GLint oldRowLength = 0;
  glGetIntegerv(GL_UNPACK_ROW_LENGTH, &oldRowLength);
  TPixmap* p = pixmap;
  Int levels = 0;
  for (GLint level = 0;; ++level) {
    const void* pixels = nullptr;
    if (p) {
      if (p->format != PIXFMT_RGBA32) p = p->ConvertTo(PIXFMT_RGBA32);
      glPixelStorei(GL_UNPACK_ROW_LENGTH, p->pitch / 4);
      pixels = p->pixels;
    }
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 pixels);
    ++levels;
    if (!mipmapped || (width == 1 && height == 1)) break;
    if (width > 1) width /= 2;
    if (height > 1) height /= 2;
    if (p) p = ScalePixmap(p, width, height);
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, oldRowLength);
  return levels;
}

unsigned int TextureFromPixmap(TPixmap* pixmap, Int mipmapped) {
  if (!pixmap) kxRaiseNullAccess();
  // An empty pixmap has no pixels to scale from.
  if (pixmap->width <= 0 || pixmap->height <= 0) return 0;
  TPixmap* p = pixmap->format == PIXFMT_RGBA32 ? pixmap : pixmap->ConvertTo(PIXFMT_RGBA32);
  Int w = p->width;
  Int h = p->height;
  FitTextureSize(&w, &h);
  if (w != p->width || h != p->height) p = ScalePixmap(p, w, h);

  GLint oldBinding = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &oldBinding);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  UploadTextureLevels(p, w, h, mipmapped);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(oldBinding));
  return name;
}

// --- debug text ----------------------------------------------------------------

void DrawDebugText(String* text, Int x, Int y) {
  // Without a bound context there is nothing to draw into, and a texture
  // name made then would be kept for the process.
  if (!text || !GLDisplayCurrent() || !glXGetCurrentContext()) return;
  if (!fontTexture) fontTexture = MakeFontTexture();
  if (!fontTexture) return;

  glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT);
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, viewport[2], viewport[3], 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_CULL_FACE);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_DEPTH_TEST);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, fontTexture);

  const float cell = 1.0f / 128.0f;
  glBegin(GL_QUADS);
  for (Int i = 0; i < text->length; ++i, x += kGlyphWidth) {
    const Int c = text->units[i];
    if (c < 32 || c >= 128) continue;
    const float u0 = static_cast<float>(c - 32) * cell;
    const float u1 = u0 + cell;
    glTexCoord2f(u0, 0);
    glVertex2i(x, y);
    glTexCoord2f(u1, 0);
    glVertex2i(x + kGlyphWidth, y);
    glTexCoord2f(u1, 1);
    glVertex2i(x + kGlyphWidth, y + kGlyphHeight);
    glTexCoord2f(u0, 1);
    glVertex2i(x, y + kGlyphHeight);
  }
  glEnd();

  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopAttrib();
}

Int InitGLDisplayModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitGraphicsModule();
  InitPixmapModule();
  kxAddEmbeddedBlob(FontBlobName(), kBuiltinFont8x16, kFontBytes);
  UseDisplayDriver(GLDisplayDriver(), DISPLAY_BACK_BUFFER);
  kxSetDelayStartHook(&GLDisplayStartQueuedWork);
  SetSwapIntervalReport(&GLDisplaySwapIntervalInForce);
  return 0;
}
