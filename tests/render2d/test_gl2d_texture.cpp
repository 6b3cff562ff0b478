// Texture frames: sizes and coordinates, padding, mipmap levels, painting,
// the bind and enable caches, and release across graphics generations.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "render2d/image.h"
#include "tests/render2d/test_render2d_support.h"

namespace {

// Level sizes of a texture, read in the context current now; the binding
// is put back so the driver's bind cache stays true.
struct LevelSize {
  GLint width, height;
};
LevelSize TextureLevel(unsigned int name, int level) {
  GLint previous = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  glBindTexture(GL_TEXTURE_2D, name);
  LevelSize s{0, 0};
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &s.width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &s.height);
  glBindTexture(GL_TEXTURE_2D, previous);
  return s;
}

std::vector<uint32_t> TexelsOfLevel0(unsigned int name, int w, int h) {
  std::vector<uint32_t> texels(size_t(w) * h);
  GLint previous = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  glBindTexture(GL_TEXTURE_2D, name);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  glBindTexture(GL_TEXTURE_2D, previous);
  return texels;
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

TEST_F(GL2DTexture, SizesCoordinatesAndPadding) {
  TPixmap* p = Filled(100, 50, 0xffff0000u);
  for (Int y = 0; y < 50; ++y) p->SetPixel(99, y, Int(0xff00ff00u));  // last column green
  for (Int x = 0; x < 100; ++x) p->SetPixel(x, 49, Int(0xff0000ffu));  // last row blue
  const GL2DCallCounts before = GL2DCalls;
  TGLTextureFrame* f = MakeFrame(p, 0);
  EXPECT_EQ(GL2DCalls.textureCreates, before.textureCreates + 1);
  EXPECT_EQ(f->rightU, 0.78125f);
  EXPECT_EQ(f->bottomV, 0.78125f);
  EXPECT_EQ(f->leftU, 0.0f);
  EXPECT_EQ(f->topV, 0.0f);
  EXPECT_EQ(f->generation, GraphicsGeneration);
  const LevelSize s = TextureLevel(f->texture, 0);
  EXPECT_EQ(s.width, 128);
  EXPECT_EQ(s.height, 64);
  // The last column and row are repeated once beyond the picture.
  std::vector<uint32_t> t = TexelsOfLevel0(f->texture, 128, 64);
  auto at = [&](int x, int y) { return t[size_t(y) * 128 + x] & 0xffffffu; };  // bytes R,G,B
  EXPECT_EQ(at(10, 10), 0x0000ffu);    // red: byte 0
  EXPECT_EQ(at(100, 10), 0x00ff00u);   // copy of column 99
  EXPECT_EQ(at(10, 50), 0xff0000u);    // copy of row 49 (blue)
  EXPECT_EQ(at(100, 50), at(99, 49));  // the corner

  TGLTextureFrame* exact = MakeFrame(Filled(64, 64, 0xffffffffu), 0);
  EXPECT_EQ(exact->rightU, 1.0f);
  EXPECT_EQ(exact->bottomV, 1.0f);
  EXPECT_EQ(TextureLevel(exact->texture, 0).width, 64);
}

TEST_F(GL2DTexture, MipmapLevelsComeFromThePixmap) {
  GL2DCallCounts before = GL2DCalls;
  TGLTextureFrame* one = MakeFrame(Filled(1, 1, 0xffffffffu), IMAGE_MIPMAPPED);
  EXPECT_EQ(GL2DCalls.levelsAllocated - before.levelsAllocated, 1);
  EXPECT_EQ(GL2DCalls.levelsUploaded - before.levelsUploaded, 1);
  EXPECT_EQ(TextureLevel(one->texture, 0).width, 1);
  EXPECT_EQ(TextureLevel(one->texture, 1).width, 0);

  before = GL2DCalls;
  TGLTextureFrame* row = MakeFrame(Filled(200, 1, 0xff808080u), IMAGE_MIPMAPPED);
  EXPECT_EQ(GL2DCalls.levelsAllocated - before.levelsAllocated, 9);
  EXPECT_EQ(GL2DCalls.levelsUploaded - before.levelsUploaded, 9);
  for (int level = 0; level < 9; ++level) {
    const LevelSize s = TextureLevel(row->texture, level);
    EXPECT_EQ(s.width, 256 >> level) << "level " << level;
    EXPECT_EQ(s.height, 1);
  }
  EXPECT_EQ(TextureLevel(row->texture, 9).width, 0);

  before = GL2DCalls;
  MakeFrame(Filled(5, 3, 0xffffffffu), 0);
  EXPECT_EQ(GL2DCalls.levelsAllocated - before.levelsAllocated, 1);
}

TEST_F(GL2DTexture, PaintDrawsThePictureAndTheCachesSkipRepeats) {
  SetBlend(BLEND_OPAQUE);
  Cls();
  TPixmap* p = NewPixmap(2, 2, PIXFMT_RGBA32, 4);
  p->SetPixel(0, 0, Int(0xffff0000u));
  p->SetPixel(1, 0, Int(0xff00ff00u));
  p->SetPixel(0, 1, Int(0xff0000ffu));
  p->SetPixel(1, 1, Int(0xffffffffu));
  TGLTextureFrame* f = MakeFrame(p, 0);
  TGLTextureFrame* other = MakeFrame(Filled(4, 4, 0xff00ffffu), 0);

  GL2DCallCounts before = GL2DCalls;
  f->Paint(0, 0, 2, 2, 10, 10);
  EXPECT_EQ(GL2DCalls.binds - before.binds, 1);
  EXPECT_EQ(GL2DCalls.enables - before.enables, 1);
  before = GL2DCalls;
  f->Paint(0, 0, 2, 2, 20, 10);
  EXPECT_EQ(GL2DCalls.binds, before.binds);
  EXPECT_EQ(GL2DCalls.enables, before.enables);
  EXPECT_EQ(ScreenPixel(10, 10), 0xff0000u);
  EXPECT_EQ(ScreenPixel(11, 10), 0x00ff00u);
  EXPECT_EQ(ScreenPixel(10, 11), 0x0000ffu);
  EXPECT_EQ(ScreenPixel(21, 11), 0xffffffu);
  EXPECT_EQ(ScreenPixel(12, 10), 0u);

  // A primitive turns texturing off once; a second one makes no call.
  before = GL2DCalls;
  DrawRect(50, 50, 1, 1);
  DrawRect(52, 50, 1, 1);
  EXPECT_EQ(GL2DCalls.disables - before.disables, 1);
  EXPECT_EQ(ScreenPixel(50, 50), 0xffffffu) << "the rectangle is not textured";

  // Making a texture while one is bound through the cache keeps the bind
  // cache true: the next paint of the first frame still shows its picture.
  other->Paint(0, 0, 4, 4, 100, 100);
  TGLTextureFrame* third = MakeFrame(Filled(2, 2, 0xff000000u), 0);
  other->Paint(0, 0, 4, 4, 110, 100);
  EXPECT_EQ(ScreenPixel(111, 101), 0x00ffffu);
  EXPECT_NE(third->texture, other->texture);

  // The texture is tinted by the current colour.
  SetColor(255, 0, 0);
  other->Paint(0, 0, 4, 4, 120, 100);
  EXPECT_EQ(ScreenPixel(121, 101), 0u);
}

TEST_F(GL2DTexture, ReleaseDeletesOnceAndForgetsTheBinding) {
  TGLTextureFrame* f = MakeFrame(Filled(8, 8, 0xffffffffu), 0);
  const unsigned int name = f->texture;
  f->Paint(0, 0, 8, 8, 0, 0);  // bound through the cache
  const GL2DCallCounts before = GL2DCalls;
  f->Release();
  EXPECT_EQ(GL2DCalls.textureDeletes - before.textureDeletes, 1);
  EXPECT_EQ(f->generation, 0);
  EXPECT_FALSE(glIsTexture(name));
  f->Release();
  EXPECT_EQ(GL2DCalls.textureDeletes - before.textureDeletes, 1);
  // A new texture may reuse the name; painting it must bind it.
  TGLTextureFrame* g = MakeFrame(Filled(8, 8, 0xff00ff00u), 0);
  SetBlend(BLEND_OPAQUE);
  g->Paint(0, 0, 8, 8, 30, 30);
  EXPECT_EQ(ScreenPixel(33, 33), 0x00ff00u);
}

TEST_F(GL2DTexture, FramesFromAnEarlierGraphicsAreRebuilt) {
  TImage* image = NewImage(4, 4, 1, 0);
  TPixmap* p = LockImagePixels(image, 0, 0, 1);
  for (Int y = 0; y < 4; ++y)
    for (Int x = 0; x < 4; ++x) p->SetPixel(x, y, Int(0xffff8000u));
  SetBlend(BLEND_OPAQUE);
  DrawImageFrame(image, 10, 10, 0);
  EXPECT_EQ(ScreenPixel(12, 12), 0xff8000u);
  TImageFrame* old = image->GetFrame(0);
  const Int oldGeneration = Cast<TGLTextureFrame>(old)->generation;

  ASSERT_NE(OpenWindow2D(), nullptr);
  EXPECT_NE(GraphicsGeneration, oldGeneration);
  SetBlend(BLEND_OPAQUE);
  const GL2DCallCounts before = GL2DCalls;
  DrawImageFrame(image, 10, 10, 0);
  EXPECT_EQ(GL2DCalls.textureCreates - before.textureCreates, 1);
  EXPECT_NE(image->GetFrame(0), old);
  EXPECT_EQ(ScreenPixel(13, 13), 0xff8000u);
  // The stale frame still gives its texture back when released.
  Cast<TGLTextureFrame>(old)->Release();
  EXPECT_EQ(GL2DCalls.textureDeletes - before.textureDeletes, 1);
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

  // Deleting the bound texture unbinds it; the cache must not go on
  // claiming a name that OpenGL may hand out again.
  TGLTextureFrame* doomed = MakeFrame(Filled(4, 4, 0xffff0000u), 0);
  doomed->Paint(0, 0, 4, 4, 120, 100);
  doomed->Release();
  GLint bound = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  if (GL2DCachedTexture() != 0) EXPECT_EQ(GLint(GL2DCachedTexture()), bound);
  TGLTextureFrame* yellow = MakeFrame(Filled(4, 4, 0xffffff00u), 0);
  yellow->Paint(0, 0, 4, 4, 130, 100);
  EXPECT_EQ(ScreenPixel(131, 101), 0xffff00u);
  EndGraphics();
}

}  // namespace
