// The 2D state: defaults on first activation and fresh ones on reopening,
// the draw matrix, calls with no open graphics; and the OpenGL state the
// driver leaves: projection and defaults after the first Graphics, the blend
// cache, blend modes, clamping and capture.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "render2d/collision.h"
#include "tests/render2d/test_render2d_support.h"
#include "tests/support/test_util.h"

namespace {

void ExpectDefaults() {
  Int r, g, b, x, y, w, h;
  Float sx, sy, ox, oy, hx, hy;
  GetColor(&r, &g, &b);
  EXPECT_EQ(r + g + b, 3 * 255);
  GetClearColor(&r, &g, &b);
  EXPECT_EQ(r + g + b, 0);
  GetClipRect(&x, &y, &w, &h);
  EXPECT_TRUE(x == 0 && y == 0 && w == 640 && h == 480);
  GetDrawScale(&sx, &sy);
  GetDrawOrigin(&ox, &oy);
  GetDrawHandle(&hx, &hy);
  EXPECT_TRUE(sx == 1 && sy == 1 && ox == 0 && oy == 0 && hx == 0 && hy == 0);
  EXPECT_EQ(GetAlpha(), 1.0f);
  EXPECT_EQ(GetBlend(), BLEND_MASKED);
  EXPECT_EQ(GetLineThickness(), 1.0f);
  EXPECT_EQ(GetDefaultImageFlags(), IMAGE_MASKED | IMAGE_FILTERED);
  TImage* image = NewImage(8, 8, 1, -1);
  EXPECT_EQ(image->flags, IMAGE_MASKED | IMAGE_FILTERED | IMAGE_DYNAMIC);
  EXPECT_TRUE(image->FrameCount() == 1 && image->handleX == 0 && image->handleY == 0);
  EXPECT_NE(GetTextFont(), nullptr);
  EXPECT_EQ(GetTextFont(), DefaultTextFont());
}

TEST(Render2DState, FirstActivationGivesDefaultsReopeningFreshOnesAndClosingNone) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "this test needs an X server";
  ASSERT_NE(OpenWindow2D(), nullptr);
  TRender2DGraphics* first = CurrentRender2D();
  EXPECT_EQ(Cast<TRender2DGraphics>(CurrentGraphics()), first);
  EXPECT_EQ(CurrentRender2DDriver(), GLRender2DDriver());
  ExpectDefaults();
  SetColor(1, 2, 3);
  SetBlend(BLEND_TRANSLUCENT);
  SetDrawTransform(10, 4, 4);
  SetDrawOrigin(5, 5);
  ASSERT_NE(OpenWindow2D(), nullptr);
  EXPECT_NE(CurrentRender2D(), first);
  ExpectDefaults();
  // The closed object lets go of its display and keeps what was set on it.
  EXPECT_EQ(first->graphics.get(), nullptr);
  EXPECT_EQ(first->colorBlue, 3);
  // With no open graphics the calls raise the null object error.
  EndGraphics();
  const std::string null = ToStd(kxErrorText(New<TNullAccessError>()));
  EXPECT_EQ(Raised([] { SetColor(1, 2, 3); }), null);
  EXPECT_EQ(Raised([] { SetDrawRotation(10); }), null);
  EXPECT_EQ(Raised([] { DrawRect(0, 0, 1, 1); }), null);
  EXPECT_EQ(Raised([] { CapturePixmap(0, 0, 1, 1); }), null);
}

using Render2DMatrix = Window2DTest;

TEST_F(Render2DMatrix, RotationAndScaleMakeTheMatrixThatCollisionsShare) {
  TRender2DGraphics* g = CurrentRender2D();
  SetDrawRotation(90);
  EXPECT_NEAR(g->ix, 0, 1e-6);
  EXPECT_NEAR(g->iy, -1, 1e-6);
  EXPECT_NEAR(g->jx, 1, 1e-6);
  EXPECT_NEAR(g->jy, 0, 1e-6);
  SetDrawTransform(30, 2, -1);
  Float m[4];
  GetCollisionMatrix(&m[0], &m[1], &m[2], &m[3]);
  EXPECT_TRUE(m[0] == g->ix && m[1] == g->iy && m[2] == g->jx && m[3] == g->jy);
}

GLint Integer(GLenum what) {
  GLint v = 0;
  glGetIntegerv(what, &v);
  return v;
}

// The first Graphics of a process: run in a child of its own.
TEST(GL2DChildCase, StateAfterTheFirstGraphics) {
  ASSERT_NE(OpenFullScreen2D(), nullptr);
  EXPECT_EQ(ToStd(CurrentDisplayDriver()->AsText()), "OpenGL");
  GLfloat m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  const GLfloat ortho[16] = {2.0f / 640, 0, 0, 0, 0, -2.0f / 480, 0, 0, 0, 0, -1, 0, -1, 1, 0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], ortho[i], 1e-6f) << "element " << i;
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_TRUE(viewport[0] == 0 && viewport[1] == 0 && viewport[2] == 640 && viewport[3] == 480);
  EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
  EXPECT_EQ(Integer(GL_ALPHA_TEST_FUNC), GL_GEQUAL);
  GLfloat ref = 0, clear[4], colour[4];
  glGetFloatv(GL_ALPHA_TEST_REF, &ref);
  EXPECT_EQ(ref, 0.5f);
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_TRUE(clear[0] == 0 && clear[1] == 0 && clear[2] == 0 && clear[3] == 1);
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_TRUE(colour[0] == 1 && colour[1] == 1 && colour[2] == 1 && colour[3] == 1);
  // The drawing made during the sync test to prepare the first frame's
  // code left no texture behind, none bound and texturing off.
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), 0);
  for (GLuint name = 1; name <= 8; ++name) EXPECT_FALSE(glIsTexture(name)) << name;
  EXPECT_EQ(VerticalSyncTestFlip(), 0);
  // Both buffers were cleared.
  for (GLenum buffer : {GL_FRONT, GL_BACK}) {
    glReadBuffer(buffer);
    EXPECT_EQ(ScreenPixel(0, 0) | ScreenPixel(320, 240) | ScreenPixel(639, 479), 0u);
  }
  EndGraphics();
}

TEST(GL2DFullScreen, StateAfterTheFirstGraphics) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "this test needs an X server";
  EXPECT_EQ(RunChildCase("StateAfterTheFirstGraphics", {}), 0);
}

using GL2DState = Window2DTest;

TEST_F(GL2DState, BlendCacheSkipsRepeatsAndReselectionKeepsTheRestOfTheState) {
  SetBlend(BLEND_TRANSLUCENT);
  auto calls = [] { return GL2DCalls.enables + GL2DCalls.disables + GL2DCalls.blendFuncs; };
  Long before = calls();
  SetBlend(BLEND_TRANSLUCENT);
  EXPECT_EQ(calls(), before);
  // Reselection keeps the state and pushes the colour to OpenGL again, but
  // empties the blend cache: SetBlend(0) then makes no call and the next
  // mode always reaches OpenGL.
  SetColor(10, 20, 30);
  SetDrawRotation(30);
  TGraphics* g = CurrentGraphics();
  MakeGraphicsCurrent(nullptr);
  glColor4f(0, 0, 0, 0);
  MakeGraphicsCurrent(g);
  EXPECT_EQ(GetDrawRotation(), 30.0f);
  float rgba[4];
  glGetFloatv(GL_CURRENT_COLOR, rgba);
  EXPECT_NEAR(rgba[2], 30 / 255.0f, 1e-6);
  before = calls();
  const Long funcs = GL2DCalls.blendFuncs;
  SetBlend(0);
  EXPECT_EQ(calls(), before);
  SetBlend(BLEND_TRANSLUCENT);
  EXPECT_EQ(GL2DCalls.blendFuncs, funcs + 1);
}

TEST_F(GL2DState, FiveBlendModesOnAKnownBackground) {
  const float bg[3] = {200, 100, 50}, src[3] = {100, 200, 50};
  const float a = 127 / 255.0f;  // SetAlpha(0.5) sends 127
  const Int modes[] = {BLEND_MASKED,   BLEND_OPAQUE,   BLEND_TRANSLUCENT,
                       BLEND_ADDITIVE, BLEND_MULTIPLY, 7};
  for (Int mode : modes) {
    SetBlend(BLEND_OPAQUE);
    SetClearColor(Int(bg[0]), Int(bg[1]), Int(bg[2]));
    Cls();
    SetBlend(mode);
    SetColor(Int(src[0]), Int(src[1]), Int(src[2]));
    SetAlpha(0.5f);
    DrawRect(10, 10, 4, 4);
    const uint32_t p = ScreenPixel(11, 11);
    for (int k = 0; k < 3; ++k) {
      float want = src[k];                     // opaque, and any unknown mode
      if (mode == BLEND_MASKED) want = bg[k];  // alpha below one half: discarded
      if (mode == BLEND_TRANSLUCENT) want = src[k] * a + bg[k] * (1 - a);
      if (mode == BLEND_ADDITIVE) want = std::min(255.0f, src[k] * a + bg[k]);
      if (mode == BLEND_MULTIPLY) want = bg[k] * src[k] / 255;
      EXPECT_NEAR(int((p >> (16 - 8 * k)) & 255), want, 1.5) << "mode " << mode << " channel " << k;
    }
  }
}

TEST_F(GL2DState, ColourAndAlphaAreClampedForDisplayOnly) {
  SetColor(300, -5, 20);
  DrawPoint(5, 5);
  EXPECT_EQ(ScreenPixel(5, 5), 0xff0014u);
  Int r, g, b;
  GetColor(&r, &g, &b);
  EXPECT_TRUE(r == 300 && g == -5 && b == 20);
  float rgba[4];
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  const std::pair<Float, float> alphas[] = {{1.5f, 1}, {-0.2f, 0}, {nan, 0}, {0.5f, 127 / 255.0f}};
  for (const auto& [in, out] : alphas) {
    SetAlpha(in);
    glGetFloatv(GL_CURRENT_COLOR, rgba);
    EXPECT_NEAR(rgba[3], out, 1e-6f) << "alpha " << in;
    EXPECT_EQ(rgba[0], 1.0f) << "the colour bytes keep their values";
  }
  EXPECT_EQ(GetAlpha(), 0.5f);
  SetColor(0, 0, 0);  // keeps the alpha byte
  glGetFloatv(GL_CURRENT_COLOR, rgba);
  EXPECT_NEAR(rgba[3], 127 / 255.0f, 1e-6f);
  SetClearColor(255, 128, -4);
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_TRUE(clear[0] == 1 && clear[2] == 0);
  EXPECT_NEAR(clear[1], 0.50196f, 1e-5f);
  SetClipRect(10, 20, 100, 50);
  GLint box[4];
  glGetIntegerv(GL_SCISSOR_BOX, box);
  EXPECT_TRUE(box[0] == 10 && box[1] == 410 && box[2] == 100 && box[3] == 50);
}

TEST_F(GL2DState, CaptureGivesTheTopRowFirstAndPaintWritesItUpright) {
  const Int colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
  for (int i = 0; i < 4; ++i) {
    SetColor(colours[i][0], colours[i][1], colours[i][2]);
    DrawPoint(Float(i % 2), Float(i / 2));
  }
  TPixmap* p = CapturePixmap(0, 0, 2, 2);
  EXPECT_TRUE(p->width == 2 && p->height == 2 && p->format == PIXFMT_RGBA32);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Rgb(p, i % 2, i / 2), colours[i][0] << 16 | colours[i][1] << 8 | colours[i][2]);
  TPixmap* edge = CapturePixmap(-1, 0, 2, 1);  // half outside the window
  EXPECT_EQ(edge->GetPixel(0, 0), 0);
  EXPECT_EQ(Rgb(edge, 1, 0), 0xff0000);
  SetBlend(BLEND_TRANSLUCENT);
  PaintPixmap(CapturePixmap(0, 0, 3, 2), 200, 100);
  EXPECT_EQ(ScreenPixel(200, 100), 0xff0000u);
  EXPECT_EQ(ScreenPixel(201, 101), 0xffff00u);
  EXPECT_EQ(ScreenPixel(202, 101), 0u);
  EXPECT_TRUE(glIsEnabled(GL_BLEND)) << "transfer leaves the blend mode in force";
}

}  // namespace
