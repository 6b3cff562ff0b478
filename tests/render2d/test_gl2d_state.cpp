// The OpenGL state the 2D driver leaves behind: projection and defaults,
// the state caches, clamping for display, scissor and blend modes.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "tests/render2d/test_render2d_support.h"

namespace {

GLint Integer(GLenum what) {
  GLint v = 0;
  glGetIntegerv(what, &v);
  return v;
}

TEST(GL2DDriver, NameAndInstance) {
  InitGLRender2DModule();
  EXPECT_EQ(GLRender2DDriver(), GLRender2DDriver());
  String* name = GLRender2DDriver()->AsText();
  ASSERT_EQ(name->length, 6);
  const char* expected = "OpenGL";
  for (int i = 0; i < 6; ++i) EXPECT_EQ(name->units[i], expected[i]);
  EXPECT_EQ(CurrentDisplayDriver(), GLRender2DDriver());
  EXPECT_EQ(DefaultDisplayFlags(), DISPLAY_BACK_BUFFER);
}

TEST(GL2DFullScreen, StateAfterTheFirstGraphics) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "this test needs an X server";
  ASSERT_NE(OpenFullScreen2D(), nullptr);
  GLfloat m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  // glOrtho(0, 640, 480, 0, -1, 1)
  const GLfloat expected[16] = {2.0f / 640, 0, 0, 0, 0, -2.0f / 480, 0, 0,
                                0,          0, -1, 0, -1, 1,          0, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], expected[i], 1e-6f) << "element " << i;
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], (i % 5 == 0) ? 1.0f : 0.0f);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[0], 0);
  EXPECT_EQ(viewport[1], 0);
  EXPECT_EQ(viewport[2], 640);
  EXPECT_EQ(viewport[3], 480);
  EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
  EXPECT_EQ(Integer(GL_ALPHA_TEST_FUNC), GL_GEQUAL);
  GLfloat ref = 0;
  glGetFloatv(GL_ALPHA_TEST_REF, &ref);
  EXPECT_EQ(ref, 0.5f);
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_EQ(clear[0] + clear[1] + clear[2], 0.0f);
  EXPECT_EQ(clear[3], 1.0f);
  GLfloat colour[4];
  CurrentGlColor(colour);
  for (float c : colour) EXPECT_EQ(c, 1.0f);
  GLfloat width = 0;
  glGetFloatv(GL_LINE_WIDTH, &width);
  EXPECT_EQ(width, 1.0f);
  // Both buffers were cleared to the clear colour.
  EXPECT_EQ(LitPixelsIn(0, 0, 8, 8), 0);
  glReadBuffer(GL_FRONT);
  EXPECT_EQ(LitPixelsIn(300, 200, 308, 208), 0);
  glReadBuffer(GL_BACK);
  EndGraphics();
}

using GL2DState = Window2DTest;

TEST_F(GL2DState, BlendCacheSkipsRepeatedModes) {
  SetBlend(BLEND_TRANSLUCENT);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(Integer(GL_BLEND_SRC), GL_SRC_ALPHA);
  EXPECT_EQ(Integer(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_FALSE(glIsEnabled(GL_ALPHA_TEST));
  GL2DCallCounts before = GL2DCalls;
  SetBlend(BLEND_TRANSLUCENT);
  EXPECT_EQ(GL2DCalls.enables, before.enables);
  EXPECT_EQ(GL2DCalls.disables, before.disables);
  EXPECT_EQ(GL2DCalls.blendFuncs, before.blendFuncs);
  // After reselection the cache holds 0, so SetBlend(0) makes no call and
  // the next real mode always reaches OpenGL.
  TGraphics* g = CurrentGraphics();
  MakeGraphicsCurrent(nullptr);
  MakeGraphicsCurrent(g);
  before = GL2DCalls;
  SetBlend(0);
  EXPECT_EQ(GL2DCalls.enables + GL2DCalls.disables + GL2DCalls.blendFuncs,
            before.enables + before.disables + before.blendFuncs);
  SetBlend(BLEND_TRANSLUCENT);
  EXPECT_EQ(GL2DCalls.blendFuncs, before.blendFuncs + 1);
}

TEST_F(GL2DState, BlendModesSetTheirOpenGLState) {
  SetBlend(BLEND_ADDITIVE);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(Integer(GL_BLEND_SRC), GL_SRC_ALPHA);
  EXPECT_EQ(Integer(GL_BLEND_DST), GL_ONE);
  SetBlend(BLEND_MULTIPLY);
  EXPECT_EQ(Integer(GL_BLEND_SRC), GL_DST_COLOR);
  EXPECT_EQ(Integer(GL_BLEND_DST), GL_ZERO);
  EXPECT_FALSE(glIsEnabled(GL_ALPHA_TEST));
  SetBlend(BLEND_MASKED);
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
  SetBlend(7);  // unknown modes draw as opaque
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_FALSE(glIsEnabled(GL_ALPHA_TEST));
}

TEST_F(GL2DState, FiveBlendModesOnAKnownBackground) {
  const int bg[3] = {200, 100, 50}, src[3] = {100, 200, 50};
  const float a = 127 / 255.0f;  // SetAlpha(0.5) sends 127
  struct Case {
    Int mode;
    float expected[3];
  } cases[] = {
      {BLEND_MASKED, {200, 100, 50}},  // alpha below one half: discarded
      {BLEND_OPAQUE, {100, 200, 50}},
      {BLEND_TRANSLUCENT,
       {src[0] * a + bg[0] * (1 - a), src[1] * a + bg[1] * (1 - a), src[2] * a + bg[2] * (1 - a)}},
      {BLEND_ADDITIVE, {src[0] * a + bg[0], src[1] * a + bg[1], src[2] * a + bg[2]}},
      {BLEND_MULTIPLY, {bg[0] * src[0] / 255.0f, bg[1] * src[1] / 255.0f, bg[2] * src[2] / 255.0f}},
  };
  for (const Case& c : cases) {
    SetBlend(BLEND_OPAQUE);
    ClearTo(bg[0], bg[1], bg[2]);
    SetBlend(c.mode);
    SetColor(src[0], src[1], src[2]);
    SetAlpha(0.5f);
    DrawRect(10, 10, 4, 4);
    const uint32_t p = ScreenPixel(11, 11);
    const int got[3] = {int(p >> 16), int((p >> 8) & 255), int(p & 255)};
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(got[k], std::min(c.expected[k], 255.0f), 1.5) << "mode " << c.mode << " channel " << k;
  }
  // Masked with full alpha draws.
  SetBlend(BLEND_MASKED);
  SetAlpha(1);
  DrawRect(20, 20, 2, 2);
  EXPECT_EQ(ScreenPixel(20, 20), 0x64c832u);
}

TEST_F(GL2DState, ColourAndAlphaAreClampedForDisplayOnly) {
  SetBlend(BLEND_OPAQUE);
  SetColor(300, -5, 20);
  float rgba[4];
  CurrentGlColor(rgba);
  EXPECT_EQ(rgba[0], 1.0f);
  EXPECT_EQ(rgba[1], 0.0f);
  EXPECT_NEAR(rgba[2], 20 / 255.0f, 1e-6f);
  DrawPoint(5, 5);
  EXPECT_EQ(ScreenPixel(5, 5), 0xff0014u);
  Int r, g, b;
  GetColor(&r, &g, &b);
  EXPECT_EQ(r, 300);
  EXPECT_EQ(g, -5);

  const struct {
    Float in;
    float out;
  } alphas[] = {{1.5f, 1.0f},
                {-0.2f, 0.0f},
                {std::numeric_limits<Float>::quiet_NaN(), 0.0f},
                {0.5f, 127 / 255.0f},
                {1.0f, 1.0f}};
  for (const auto& c : alphas) {
    SetAlpha(c.in);
    CurrentGlColor(rgba);
    EXPECT_NEAR(rgba[3], c.out, 1e-6f) << "alpha " << c.in;
    EXPECT_EQ(rgba[0], 1.0f) << "the colour bytes keep their values";
  }
  // A colour change keeps the alpha byte.
  SetAlpha(0.5f);
  SetColor(0, 0, 0);
  CurrentGlColor(rgba);
  EXPECT_NEAR(rgba[3], 127 / 255.0f, 1e-6f);

  SetClearColor(255, 128, 0);
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_EQ(clear[0], 1.0f);
  EXPECT_NEAR(clear[1], 0.50196f, 1e-5f);
  EXPECT_EQ(clear[2], 0.0f);
  SetClearColor(-4, 1000, 0);
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_EQ(clear[0], 0.0f);
  EXPECT_EQ(clear[1], 1.0f);
}

TEST_F(GL2DState, ScissorBoxIsFlippedToOpenGLRows) {
  SetClipRect(10, 20, 100, 50);
  EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
  GLint box[4];
  glGetIntegerv(GL_SCISSOR_BOX, box);
  EXPECT_EQ(box[0], 10);
  EXPECT_EQ(box[1], 410);
  EXPECT_EQ(box[2], 100);
  EXPECT_EQ(box[3], 50);
  SetClipRect(0, 0, 640, 480);
  EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
  // Reselection pushes the stored rectangle again.
  SetClipRect(1, 2, 3, 4);
  TGraphics* g = CurrentGraphics();
  MakeGraphicsCurrent(nullptr);
  glDisable(GL_SCISSOR_TEST);
  MakeGraphicsCurrent(g);
  EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
  glGetIntegerv(GL_SCISSOR_BOX, box);
  EXPECT_EQ(box[1], 474);
}

TEST_F(GL2DState, LineThicknessReachesOpenGL) {
  SetLineThickness(3);
  GLfloat width = 0;
  glGetFloatv(GL_LINE_WIDTH, &width);
  EXPECT_EQ(width, 3.0f);
}

TEST_F(GL2DState, CaptureReturnsTheTopRowFirst) {
  SetBlend(BLEND_OPAQUE);
  Cls();
  const Int colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
  for (int i = 0; i < 4; ++i) {
    SetColor(colours[i][0], colours[i][1], colours[i][2]);
    DrawPoint(Float(i % 2), Float(i / 2));
  }
  TPixmap* p = CapturePixmap(0, 0, 2, 2);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->width, 2);
  EXPECT_EQ(p->height, 2);
  EXPECT_EQ(p->format, PIXFMT_RGBA32);
  EXPECT_EQ(PixmapRgb(p, 0, 0), 0xff0000u);
  EXPECT_EQ(PixmapRgb(p, 1, 0), 0x00ff00u);
  EXPECT_EQ(PixmapRgb(p, 0, 1), 0x0000ffu);
  EXPECT_EQ(PixmapRgb(p, 1, 1), 0xffff00u);
  // Away from the corner, and written back elsewhere upright.
  TPixmap* q = CapturePixmap(0, 0, 3, 2);
  PaintPixmap(q, 200, 100);
  EXPECT_EQ(ScreenPixel(200, 100), 0xff0000u);
  EXPECT_EQ(ScreenPixel(201, 101), 0xffff00u);
  EXPECT_EQ(ScreenPixel(202, 101), 0u);
  // Pixmap transfer leaves the blend mode in force.
  SetBlend(BLEND_TRANSLUCENT);
  CapturePixmap(0, 0, 1, 1);
  PaintPixmap(q, 300, 300);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
}

}  // namespace
