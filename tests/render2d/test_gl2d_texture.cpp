// Texture frames: size and coordinates, padding, mipmap levels, painting
// with the bind and enable caches, and texture work in full screen.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "render2d/image.h"
#include "tests/render2d/test_render2d_support.h"

namespace {

// Width of a texture level (0: not allocated); the binding is put back so
// the driver's bind cache stays true.
GLint LevelWidth(unsigned int name, int level) {
  GLint previous = 0, width = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  glBindTexture(GL_TEXTURE_2D, name);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
  glBindTexture(GL_TEXTURE_2D, previous);
  return width;
}

TPixmap* Filled(Int w, Int h, uint32_t argb) {
  TPixmap* p = NewPixmap(w, h, PIXFMT_RGBA32, 4);
  for (Int y = 0; y < h; ++y)
    for (Int x = 0; x < w; ++x) p->SetPixel(x, y, Int(argb));
  return p;
}

TGLTextureFrame* MakeFrame(TPixmap* p, Int flags) {
  return static_cast<TGLTextureFrame*>(CurrentRender2DDriver()->CreateFrame(p, flags));
}

using GL2DTexture = Window2DTest;

TEST_F(GL2DTexture, SizeCoordinatesAndPadding) {
  TPixmap* p = Filled(100, 50, 0xffff0000u);
  for (Int y = 0; y < 50; ++y) p->SetPixel(99, y, Int(0xff00ff00u));
  for (Int x = 0; x < 100; ++x) p->SetPixel(x, 49, Int(0xff0000ffu));
  TGLTextureFrame* f = MakeFrame(p, 0);
  EXPECT_TRUE(f->rightU == 0.78125f && f->bottomV == 0.78125f && f->leftU == 0 && f->topV == 0);
  EXPECT_EQ(f->generation, GraphicsGeneration);
  EXPECT_EQ(LevelWidth(f->texture, 0), 128);
  // The last column and row are repeated once beyond the picture.
  std::vector<uint8_t> t(128 * 64 * 4);
  glBindTexture(GL_TEXTURE_2D, f->texture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, t.data());
  glBindTexture(GL_TEXTURE_2D, GL2DCachedTexture());
  auto rgb = [&](int x, int y) {
    const uint8_t* c = &t[(size_t(y) * 128 + x) * 4];
    return (uint32_t(c[0]) << 16) | (uint32_t(c[1]) << 8) | c[2];
  };
  EXPECT_EQ(rgb(10, 10), 0xff0000u);
  EXPECT_EQ(rgb(100, 10), 0x00ff00u);
  EXPECT_EQ(rgb(10, 50), 0x0000ffu);
  EXPECT_EQ(rgb(100, 50), 0x0000ffu);
  TGLTextureFrame* exact = MakeFrame(Filled(64, 64, 0xffffffffu), 0);
  EXPECT_TRUE(exact->rightU == 1 && exact->bottomV == 1);
  EXPECT_EQ(LevelWidth(exact->texture, 0), 64);
  // Wider than OpenGL takes: the picture is shrunk to the largest size.
  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  TGLTextureFrame* wide = MakeFrame(Filled(2 * limit + 1, 1, 0xffffffffu), 0);
  EXPECT_TRUE(wide->rightU == 1 && wide->bottomV == 1);
  EXPECT_EQ(LevelWidth(wide->texture, 0), limit);
  // Mipmapped (256 x 1 padded): nine levels down to 1 x 1; their content
  // comes from the upload that texture_test.cpp checks level by level.
  TGLTextureFrame* mip = MakeFrame(Filled(200, 1, 0xff808080u), IMAGE_MIPMAPPED);
  EXPECT_EQ(LevelWidth(mip->texture, 8), 1);
  EXPECT_EQ(LevelWidth(mip->texture, 9), 0);
}

TEST_F(GL2DTexture, PaintShowsThePictureAndCachesSkipRepeats) {
  const uint32_t rgb[4] = {0xff0000u, 0x00ff00u, 0x0000ffu, 0xffffffu};
  TPixmap* p = NewPixmap(2, 2, PIXFMT_RGBA32, 4);
  for (int i = 0; i < 4; ++i) p->SetPixel(i % 2, i / 2, Int(0xff000000u | rgb[i]));
  TGLTextureFrame* f = MakeFrame(p, 0);
  GL2DCallCounts before = GL2DCalls;
  f->Paint(0, 0, 2, 2, 10, 10);
  EXPECT_EQ(GL2DCalls.binds - before.binds, 1);
  EXPECT_EQ(GL2DCalls.enables - before.enables, 1);
  before = GL2DCalls;
  f->Paint(0, 0, 2, 2, 20, 10);
  DrawRect(50, 50, 1, 1);
  DrawRect(52, 50, 1, 1);
  EXPECT_EQ(GL2DCalls.binds + GL2DCalls.enables, before.binds + before.enables);
  EXPECT_EQ(GL2DCalls.disables - before.disables, 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ScreenPixel(10 + i % 2, 10 + i / 2), rgb[i]) << i;
    EXPECT_EQ(ScreenPixel(20 + i % 2, 10 + i / 2), rgb[i]) << i;
  }
  EXPECT_EQ(ScreenPixel(50, 50), 0xffffffu) << "rectangles are not textured";
  SetColor(0, 255, 255);  // textures are tinted by the colour
  f->Paint(0, 0, 2, 2, 30, 10);
  EXPECT_EQ(ScreenPixel(31, 11), 0x00ffffu);
  EXPECT_EQ(ScreenPixel(30, 10), 0u);
}

TEST(GL2DTextureFullScreen, TextureWorkKeepsTheBindCacheTrue) {
  // Full screen, textures are made and deleted in the graphics' own
  // context, where they disturb its binding.
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "this test needs an X server";
  ASSERT_NE(OpenFullScreen2D(), nullptr);
  SetBlend(BLEND_OPAQUE);
  TGLTextureFrame* cyan = MakeFrame(Filled(4, 4, 0xff00ffffu), 0);
  cyan->Paint(0, 0, 4, 4, 100, 100);
  MakeFrame(Filled(2, 2, 0xff000000u), 0);
  cyan->Paint(0, 0, 4, 4, 110, 100);
  EXPECT_EQ(ScreenPixel(111, 101), 0x00ffffu);
  // Deleting the bound texture unbinds it: the cache must not go on
  // claiming a name that OpenGL may hand out again.
  cyan->Release();
  EXPECT_FALSE(glIsTexture(cyan->texture));
  GLint bound = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(bound, 0);
  EXPECT_EQ(GL2DCachedTexture(), 0u);
  EndGraphics();
}

}  // namespace
