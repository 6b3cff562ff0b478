// The OpenGL 2D driver and its texture frames.
//
// Three caches stand between the 2D state and OpenGL: the blend mode last
// applied, the texture last bound through the cache, and whether
// GL_TEXTURE_2D is enabled. They are reset whenever a graphics becomes
// current, and they are only right while nothing else changes that state
// in the context; texture creation and deletion restore or forget what
// they disturb so the invariant "cache says N => N is bound" holds.
//
// Coordinates: one unit is one pixel, (0, 0) the top-left corner of the
// top-left pixel, y down; pixel (px, py) has its centre at (px+.5, py+.5),
// which is why points and lines are offset by half a pixel and filled
// shapes are not.
#include "render2d/gl2d.h"

#include <GL/gl.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "graphics/gldisplay.h"
#include "render2d/image.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/time.h"

KX_CLASS_RECORD(TGLRender2DDriver, &TGLRender2DDriver::EnumerateModes,
                &TGLRender2DDriver::AttachToWidget, &TGLRender2DDriver::CreateDisplay,
                &TGLRender2DDriver::SelectDisplay, &TGLRender2DDriver::Present,
                &TGLRender2DDriver::CreateFrame, &TGLRender2DDriver::ApplyBlend,
                &TGLRender2DDriver::ApplyAlpha, &TGLRender2DDriver::ApplyColor,
                &TGLRender2DDriver::ApplyClearColor, &TGLRender2DDriver::ApplyClipRect,
                &TGLRender2DDriver::ApplyTransform, &TGLRender2DDriver::ApplyLineThickness,
                &TGLRender2DDriver::ClearScreen, &TGLRender2DDriver::PlotPoint,
                &TGLRender2DDriver::StrokeLine, &TGLRender2DDriver::FillRect,
                &TGLRender2DDriver::FillEllipse, &TGLRender2DDriver::FillPolygon,
                &TGLRender2DDriver::WritePixmap, &TGLRender2DDriver::ReadPixmap)
KX_CLASS_RECORD(TGLTextureFrame, &TGLTextureFrame::Paint, &TGLTextureFrame::PaintPart,
                &TGLTextureFrame::CreateFromPixmap)

// The counts stay in the product: each is one add beside a call into the
// OpenGL dispatcher, lost in the noise of the frame benchmarks' API against
// direct OpenGL comparison, and only they let the tests see a call that was
// not made (a cache that stopped saving state changes, tiles off the screen
// still sent, an ellipse past its segment bound).
GL2DCallCounts GL2DCalls;

namespace {
// All of the module's state: the driver and the caches described above,
// the colour sent with each primitive and the draw matrix.
struct GL2DState {
  Ref<TGLRender2DDriver> driver;
  Int blendCache = 0;
  GLuint boundTexture = 0;
  Int textureEnabled = 0;
  GLubyte color[4] = {0, 0, 0, 0};
  Float ix = 0, iy = 0, jx = 0, jy = 0;
};

GL2DState gl2d;

// --- counted state calls -----------------------------------------------------

void Enable(GLenum cap) {
  ++GL2DCalls.enables;
  glEnable(cap);
}

void Disable(GLenum cap) {
  ++GL2DCalls.disables;
  glDisable(cap);
}

void BlendFunc(GLenum src, GLenum dst) {
  ++GL2DCalls.blendFuncs;
  glBlendFunc(src, dst);
}

inline __attribute__((always_inline)) void Vertex(Float x, Float y) {
  ++GL2DCalls.vertices;
  glVertex2f(x, y);
}

void SendColor() {
  ++GL2DCalls.colors;
  glColor4ubv(gl2d.color);
}

// Maps a local point through the stored draw matrix, in float arithmetic.
inline void Map(Float lx, Float ly, Float tx, Float ty, Float* x, Float* y) {
  *x = lx * gl2d.ix + ly * gl2d.iy + tx;
  *y = lx * gl2d.jx + ly * gl2d.jy + ty;
}

void BindTexture(GLuint name) {
  if (name == gl2d.boundTexture) return;
  ++GL2DCalls.binds;
  glBindTexture(GL_TEXTURE_2D, name);
  gl2d.boundTexture = name;
}

inline __attribute__((always_inline)) void TexturingOn(GLuint name) {
  BindTexture(name);
  if (gl2d.textureEnabled == 0) {
    Enable(GL_TEXTURE_2D);
    gl2d.textureEnabled = 1;
  }
}

void TexturingOff() {
  if (gl2d.textureEnabled == 1) {
    Disable(GL_TEXTURE_2D);
    gl2d.textureEnabled = 0;
  }
}

// Four of these a glyph: inlined, which the i686 build does not do by itself.
inline __attribute__((always_inline)) void TexturedVertex(Float u, Float v, Float lx, Float ly,
                                                          Float tx, Float ty) {
  Float x, y;
  glTexCoord2f(u, v);
  Map(lx, ly, tx, ty, &x, &y);
  Vertex(x, y);
}

// One quad of the bound texture, texture corners (u0, v0) - (u1, v1).
// Every glyph is one of these: inlined into its callers.
inline __attribute__((always_inline)) void TexturedQuad(Float u0, Float v0, Float u1, Float v1,
                                                        Float x0, Float y0, Float x1, Float y1,
                                                        Float tx, Float ty) {
  glBegin(GL_QUADS);
  TexturedVertex(u0, v0, x0, y0, tx, ty);
  TexturedVertex(u1, v0, x1, y0, tx, ty);
  TexturedVertex(u1, v1, x1, y1, tx, ty);
  TexturedVertex(u0, v1, x0, y1, tx, ty);
  glEnd();
}

GLubyte ClampByte(Int v) { return static_cast<GLubyte>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Runs texture work in the shared context (a no-op toggle in full-screen
// mode) and switches back even when the work raises.
struct SharedContextScope {
  SharedContextScope() { GLDisplayDriver()->ToggleSharedContext(); }
  ~SharedContextScope() { GLDisplayDriver()->ToggleSharedContext(); }
  SharedContextScope(const SharedContextScope&) = delete;
  SharedContextScope& operator=(const SharedContextScope&) = delete;
};

// --- textures ----------------------------------------------------------------

// A new texture with the frame's filtering, its levels made by the shared
// upload; left bound.
GLuint CreateTexture(TPixmap* p, Int tw, Int th, Int flags) {
  GLuint name = 0;
  ++GL2DCalls.textureCreates;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER,
                  (flags & IMAGE_FILTERED) ? GL_LINEAR : GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                  (flags & IMAGE_MIPMAPPED) ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST);
  UploadTextureLevels(p, tw, th, flags & IMAGE_MIPMAPPED);
  return name;
}

// The used picture padded to the texture size, its last column and row
// repeated once so that linear filtering at the picture's edge does not
// pull in texels from beyond it.
TPixmap* PadToTexture(TPixmap* p, Int uw, Int uh, Int tw, Int th) {
  TPixmap* padded = NewPixmap(tw, th, PIXFMT_RGBA32, 4);
  padded->PasteFrom(p, 0, 0);
  if (uw < tw) padded->PasteFrom(p->SubWindow(uw - 1, 0, 1, uh), uw, 0);
  if (uh < th) {
    padded->PasteFrom(p->SubWindow(0, uh - 1, uw, 1), 0, uh);
    if (uw < tw) padded->PasteFrom(p->SubWindow(uw - 1, uh - 1, 1, 1), uw, uh);
  }
  return padded;
}
}  // namespace

// --- frames ------------------------------------------------------------------

TGLTextureFrame* TGLTextureFrame::CreateFromPixmap(TPixmap* pixmap, Int flags) {
  if (!pixmap) kxRaiseNullAccess();
  const Int w = pixmap->width, h = pixmap->height;
  Int tw = w, th = h;
  FitTextureSize(&tw, &th);
  const Int uw = w < tw ? w : tw;
  const Int uh = h < th ? h : th;
  TPixmap* p = pixmap;
  const bool empty = uw <= 0 || uh <= 0;
  if (!empty) {
    if (uw != w || uh != h) p = ScalePixmap(p, uw, uh);
    if (uw < tw || uh < th) p = PadToTexture(p, uw, uh, tw, th);
  }

  // Creation binds directly; put back whatever was bound so the bind cache
  // stays true when this is the graphics' own context (full-screen mode).
  GLint previous = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  // An empty picture gets a texture without content.
  const GLuint name = CreateTexture(empty ? nullptr : p, tw, th, flags);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));

  TGLTextureFrame* frame = New<TGLTextureFrame>();
  frame->generation = GraphicsGeneration;
  frame->texture = name;
  frame->rightU = static_cast<Float>(uw > 0 ? uw : 0) / static_cast<Float>(tw);
  frame->bottomV = static_cast<Float>(uh > 0 ? uh : 0) / static_cast<Float>(th);
  frame->pictureWidth = w;
  frame->pictureHeight = h;
  return frame;
}

void TGLTextureFrame::Paint(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty) {
  TexturingOn(texture);
  TexturedQuad(leftU, topV, rightU, bottomV, x0, y0, x1, y1, tx, ty);
}

// Picture pixel s of `size` as a texture coordinate between `low` and
// `high`. Multiplying first keeps it exact for an unscaled picture, whose
// span is a fraction with a power-of-two denominator.
static Float PartCoordinate(Float s, Int size, Float low, Float high) {
  return size > 0 ? low + s * (high - low) / static_cast<Float>(size) : low;
}

void TGLTextureFrame::PaintPart(Float sx0, Float sy0, Float sx1, Float sy1, Float x0, Float y0,
                                Float x1, Float y1, Float tx, Float ty) {
  TexturingOn(texture);
  TexturedQuad(PartCoordinate(sx0, pictureWidth, leftU, rightU),
               PartCoordinate(sy0, pictureHeight, topV, bottomV),
               PartCoordinate(sx1, pictureWidth, leftU, rightU),
               PartCoordinate(sy1, pictureHeight, topV, bottomV), x0, y0, x1, y1, tx, ty);
}

void TGLTextureFrame::Release() {
  if (generation == 0) return;
  ++GL2DCalls.textureDeletes;
  {
    SharedContextScope shared;
    glDeleteTextures(1, &texture);
  }
  if (generation == GraphicsGeneration) glDeleteTextures(1, &texture);
  // A deleted name may be handed out again: the cache must not claim it.
  if (gl2d.boundTexture == texture) gl2d.boundTexture = 0;
  generation = 0;
}

TGLTextureFrame::~TGLTextureFrame() { Release(); }

namespace {

// llvmpipe compiles code for each combination of drawing states the first
// time it draws with it, inside that draw: some 25 ms of a program's first
// frame. The first flip of the vertical-sync test, which waits up to a
// second anyway, first draws with each blend mode, untextured and textured
// with each filter, one quad in one colour and then two quads whose colour
// changes between them (the colour then travels with each vertex, which is
// other code), inside an empty scissor box: the code is made and no pixel
// changes. The quads have a real size, since llvmpipe drops empty ones
// before compiling anything. The work stops after kWarmUpMillis, so that
// on a display with vertical sync the test keeps most of its second for
// the flips it times. It earns its place: without it the program's first
// frames stall on the compiler, and on other OpenGL drivers it is a few
// draws into an empty box inside a second spent waiting anyway.
constexpr Int kWarmUpMillis = 300;

void WarmUp(TGLRender2DDriver* driver, TRender2DGraphics* g) {
  static const GLubyte kColors[2][4] = {{255, 255, 255, 255}, {0, 0, 0, 255}};
  const uint32_t start = static_cast<uint32_t>(kxMilliSecs());
  Enable(GL_SCISSOR_TEST);
  glScissor(0, 0, 0, 0);
  const GLuint textures[3] = {0, CreateTexture(nullptr, 8, 8, 0),
                              CreateTexture(nullptr, 8, 8, IMAGE_FILTERED)};
  for (Int i = 0; i < 3 * 5; ++i) {
    if (static_cast<uint32_t>(kxMilliSecs()) - start >= uint32_t(kWarmUpMillis)) break;
    driver->ApplyBlend(BLEND_MASKED + i % 5);
    const GLuint texture = textures[i / 5];
    for (Int quads = 1; quads <= 2; ++quads) {
      if (texture) TexturingOn(texture);
      for (Int q = 0; q < quads; ++q) {
        glColor4ubv(kColors[q]);
        if (texture) {
          TexturedQuad(0, 0, 1, 1, 0, 0, 8, 8, 0, 0);
        } else {
          driver->FillRect(0, 0, 8, 8, 0, 0);
          driver->StrokeLine(0, 0, 8, 8, 0, 0);
        }
      }
      glFlush();  // ends the batch: the next one starts with one colour again
    }
    TexturingOff();
  }
  glDeleteTextures(2, textures + 1);
  gl2d.boundTexture = 0;
  SendColor();
  driver->ApplyBlend(g->blend);
  driver->ApplyClipRect(g->clipX, g->clipY, g->clipWidth, g->clipHeight);
}
}  // namespace

// --- the driver: display work ------------------------------------------------

String* TGLRender2DDriver::AsText() { return KX_STR("OpenGL"); }

Array* TGLRender2DDriver::EnumerateModes() { return GLDisplayDriver()->EnumerateModes(); }

TGraphics* TGLRender2DDriver::AttachToWidget(Object* widget, Int flags) {
  TGraphics* g = GLDisplayDriver()->AttachToWidget(widget, flags);
  if (!g) return nullptr;
  return TRender2DGraphics::Create(g, this);
}

TGraphics* TGLRender2DDriver::CreateDisplay(Int width, Int height, Int depth, Int hertz,
                                            Int flags) {
  TGraphics* g = GLDisplayDriver()->CreateDisplay(width, height, depth, hertz, flags);
  if (!g) return nullptr;
  return TRender2DGraphics::Create(g, this);
}

void TGLRender2DDriver::SelectDisplay(TGraphics* graphics) {
  if (!graphics) {
    GLDisplayDriver()->SelectDisplay(nullptr);
    return;
  }
  TRender2DGraphics* g = Cast<TRender2DGraphics>(graphics);
  // Only wrapped graphics have a context of this driver behind them; a
  // closed wrapper has none.
  if (!g || !g->graphics) kxRaiseNullAccess();
  GLDisplayDriver()->SelectDisplay(g->graphics.get());

  gl2d.blendCache = 0;
  gl2d.boundTexture = 0;
  gl2d.textureEnabled = 0;
  Disable(GL_TEXTURE_2D);

  const Int w = CurrentGraphicsWidth(), h = CurrentGraphicsHeight();
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, w, h, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glViewport(0, 0, w, h);

  ActivateRender2D(g);

  ApplyClipRect(g->clipX, g->clipY, g->clipWidth, g->clipHeight);
  ApplyTransform(g->ix, g->iy, g->jx, g->jy);
  ApplyColor(g->colorRed, g->colorGreen, g->colorBlue);
  ApplyAlpha(g->alpha);
}

void TGLRender2DDriver::Present(Int sync) {
  if (VerticalSyncTestFlip() == 1) WarmUp(this, Render2DState());
  GLDisplayDriver()->Present(sync);
}

TImageFrame* TGLRender2DDriver::CreateFrame(TPixmap* pixmap, Int flags) {
  SharedContextScope shared;
  return TGLTextureFrame::CreateFromPixmap(pixmap, flags);
}

// --- the driver: state ---------------------------------------------------------

void TGLRender2DDriver::ApplyBlend(Int mode) {
  if (mode == gl2d.blendCache) return;
  gl2d.blendCache = mode;
  switch (mode) {
    case BLEND_MASKED:
      Disable(GL_BLEND);
      Enable(GL_ALPHA_TEST);
      ++GL2DCalls.alphaFuncs;
      glAlphaFunc(GL_GEQUAL, 0.5f);
      break;
    case BLEND_TRANSLUCENT:
      Enable(GL_BLEND);
      BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      Disable(GL_ALPHA_TEST);
      break;
    case BLEND_ADDITIVE:
      Enable(GL_BLEND);
      BlendFunc(GL_SRC_ALPHA, GL_ONE);
      Disable(GL_ALPHA_TEST);
      break;
    case BLEND_MULTIPLY:
      Enable(GL_BLEND);
      BlendFunc(GL_DST_COLOR, GL_ZERO);
      Disable(GL_ALPHA_TEST);
      break;
    default:  // BLEND_OPAQUE and every unknown mode
      Disable(GL_BLEND);
      Disable(GL_ALPHA_TEST);
      break;
  }
}

void TGLRender2DDriver::ApplyAlpha(Float alpha) {
  if (alpha > 1.0f) {
    alpha = 1.0f;
  } else if (!(alpha >= 0.0f)) {  // NaN too
    alpha = 0.0f;
  }
  gl2d.color[3] = static_cast<GLubyte>(static_cast<Int>(alpha * 255.0f));
  SendColor();
}

void TGLRender2DDriver::ApplyColor(Int red, Int green, Int blue) {
  gl2d.color[0] = ClampByte(red);
  gl2d.color[1] = ClampByte(green);
  gl2d.color[2] = ClampByte(blue);
  SendColor();
}

void TGLRender2DDriver::ApplyClearColor(Int red, Int green, Int blue) {
  glClearColor(ClampByte(red) / 255.0f, ClampByte(green) / 255.0f, ClampByte(blue) / 255.0f, 1);
}

void TGLRender2DDriver::ApplyClipRect(Int x, Int y, Int width, Int height) {
  const Int w = CurrentGraphicsWidth(), h = CurrentGraphicsHeight();
  if (x == 0 && y == 0 && width == w && height == h) {
    Disable(GL_SCISSOR_TEST);
    return;
  }
  Enable(GL_SCISSOR_TEST);
  // A negative size would be refused by OpenGL and leave the previous box
  // in force; an empty box clips everything, as the rectangle asks.
  const Long sw = width < 0 ? 0 : width;
  const Long sh = height < 0 ? 0 : height;
  Long sy = Long(h) - y - sh;
  if (sy < INT_MIN) sy = INT_MIN;
  if (sy > INT_MAX) sy = INT_MAX;
  glScissor(x, static_cast<GLint>(sy), static_cast<GLsizei>(sw), static_cast<GLsizei>(sh));
}

void TGLRender2DDriver::ApplyTransform(Float ix, Float iy, Float jx, Float jy) {
  gl2d.ix = ix;
  gl2d.iy = iy;
  gl2d.jx = jx;
  gl2d.jy = jy;
}

void TGLRender2DDriver::ApplyLineThickness(Float width) { glLineWidth(width); }

void TGLRender2DDriver::ClearScreen() { glClear(GL_COLOR_BUFFER_BIT); }

// --- the driver: primitives ----------------------------------------------------

void TGLRender2DDriver::PlotPoint(Float x, Float y) {
  TexturingOff();
  glBegin(GL_POINTS);
  Vertex(x + 0.5f, y + 0.5f);
  glEnd();
}

void TGLRender2DDriver::StrokeLine(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty) {
  TexturingOff();
  Float ax, ay, bx, by;
  Map(x0, y0, tx, ty, &ax, &ay);
  Map(x1, y1, tx, ty, &bx, &by);
  glBegin(GL_LINES);
  Vertex(ax + 0.5f, ay + 0.5f);
  Vertex(bx + 0.5f, by + 0.5f);
  glEnd();
}

void TGLRender2DDriver::FillRect(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty) {
  TexturingOff();
  Float x, y;
  glBegin(GL_QUADS);
  Map(x0, y0, tx, ty, &x, &y);
  Vertex(x, y);
  Map(x1, y0, tx, ty, &x, &y);
  Vertex(x, y);
  Map(x1, y1, tx, ty, &x, &y);
  Vertex(x, y);
  Map(x0, y1, tx, ty, &x, &y);
  Vertex(x, y);
  glEnd();
}

// More segments than this cannot be told apart on any screen, and without
// a bound a radius of 2e9 would send two billion vertices in one call.
constexpr Int kMaxEllipseSegments = 4096;

Int EllipseSegments(Float rx, Float ry) {
  const Float sum = std::fabs(rx) + std::fabs(ry);
  if (!(sum >= 12.0f)) return 12;  // NaN included
  if (sum >= Float(kMaxEllipseSegments)) return kMaxEllipseSegments;
  return static_cast<Int>(sum) & ~3;
}

void TGLRender2DDriver::FillEllipse(Float x0, Float y0, Float x1, Float y1, Float tx, Float ty) {
  const Float rx = (x1 - x0) * 0.5f;
  const Float ry = (y1 - y0) * 0.5f;
  const Int segments = EllipseSegments(rx, ry);
  const Float cx = x0 + rx, cy = y0 + ry;
  TexturingOff();
  glBegin(GL_POLYGON);
  for (Int i = 0; i < segments; ++i) {
    const Double theta = Double(i) * 360.0 / segments;
    const Float lx = static_cast<Float>(cx + rx * kxCosDeg(theta));
    const Float ly = static_cast<Float>(cy - ry * kxSinDeg(theta));
    Float x, y;
    Map(lx, ly, tx, ty, &x, &y);
    Vertex(x, y);
  }
  glEnd();
}

void TGLRender2DDriver::FillPolygon(Array* xy, Float hx, Float hy, Float tx, Float ty) {
  // Only a float array of at least three whole pairs makes a polygon.
  if (!xy || !xy->tag || xy->tag[0] != 'f') return;
  const Int count = xy->dataSize / static_cast<Int>(sizeof(Float));
  if (count < 6 || (count & 1) != 0) return;
  const Float* v = xy->Elements<Float>();
  TexturingOff();
  glBegin(GL_POLYGON);
  for (Int k = 0; k < count; k += 2) {
    Float x, y;
    Map(v[k] + hx, v[k + 1] + hy, tx, ty, &x, &y);
    Vertex(x, y);
  }
  glEnd();
}

// --- the driver: pixel transfer ------------------------------------------------

void TGLRender2DDriver::WritePixmap(TPixmap* pixmap, Int x, Int y) {
  if (!pixmap) kxRaiseNullAccess();
  const Int remembered = gl2d.blendCache;
  TexturingOff();
  ApplyBlend(BLEND_OPAQUE);
  TPixmap* flipped = MirrorPixmapY(pixmap);
  if (flipped->format != PIXFMT_RGBA32) flipped = flipped->ConvertTo(PIXFMT_RGBA32);
  if (flipped->width > 0 && flipped->height > 0) {
    glRasterPos2i(0, 0);
    glBitmap(0, 0, 0, 0, static_cast<GLfloat>(x),
             static_cast<GLfloat>(-Double(y) - flipped->height), nullptr);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, flipped->pitch / FormatBytes[PIXFMT_RGBA32]);
    glDrawPixels(flipped->width, flipped->height, GL_RGBA, GL_UNSIGNED_BYTE, flipped->pixels);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  }
  ApplyBlend(remembered);
}

TPixmap* TGLRender2DDriver::ReadPixmap(Int x, Int y, Int width, Int height) {
  const Int remembered = gl2d.blendCache;
  ApplyBlend(BLEND_OPAQUE);
  TPixmap* p = NewPixmap(width, height, PIXFMT_RGBA32, 4);
  if (width > 0 && height > 0 && p->pixels) {
    // OpenGL leaves pixels outside the window untouched: make them
    // transparent black rather than whatever the memory held.
    std::memset(p->pixels, 0, size_t(p->pitch) * size_t(height));
    const Long glY = Long(CurrentGraphicsHeight()) - height - y;
    glPixelStorei(GL_PACK_ROW_LENGTH, p->pitch / FormatBytes[PIXFMT_RGBA32]);
    glReadPixels(x, static_cast<GLint>(glY), width, height, GL_RGBA, GL_UNSIGNED_BYTE, p->pixels);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  }
  TPixmap* flipped = MirrorPixmapY(p);
  ApplyBlend(remembered);
  return flipped;
}

// --- module --------------------------------------------------------------------

unsigned int GL2DCachedTexture() { return gl2d.boundTexture; }

TGLRender2DDriver* GLRender2DDriver() {
  if (!gl2d.driver) gl2d.driver = New<TGLRender2DDriver>();
  return gl2d.driver.get();
}

Int InitGLRender2DModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitRender2DModule();
  InitGLDisplayModule();
  UseDisplayDriver(GLRender2DDriver(), DISPLAY_BACK_BUFFER);
  return 0;
}
