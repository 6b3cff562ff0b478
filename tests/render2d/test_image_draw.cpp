// Images on the test display: placement about the handle, rotation, tiling
// over the clipping rectangle, and driver frames following the graphics
// generation.
#include <gtest/gtest.h>

#include "tests/render2d/test_render2d_support.h"

namespace {

constexpr Int kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

using ImageDraw = DisplayTest;

// Left half red, right half blue: the halves show which way it turned.
TEST_F(ImageDraw, FrameIsPlacedStretchedAndTurnedAboutItsHandle) {
  TImage* image = NewImage(32, 32, 1, 0);
  TPixmap* p = LockImagePixels(image, 0, 1, 1);
  for (Int y = 0; y < 32; ++y)
    for (Int x = 0; x < 32; ++x) p->SetPixel(x, y, Int(0xFF000000u) | (x < 16 ? kRed : kBlue));
  SetImageHandlePoint(image, 16, 16);
  const struct {
    Float rotation, originX, originY, drawHandle, stretch;
    Box red, blue;
  } cases[] = {
      {0, 0, 0, 0, 0, {84, 84, 99, 115}, {100, 84, 115, 115}},
      // Local x runs down the screen now: the left half lands on top.
      {90, 0, 0, 0, 0, {84, 84, 115, 99}, {84, 100, 115, 115}},
      // The draw origin moves it; the 2D draw handle does not.
      {0, 10, 20, 50, 0, {94, 104, 109, 135}, {110, 104, 125, 135}},
      // Stretched to 40 x 20, the image's handle is not scaled with it.
      {0, 0, 0, 0, 1, {84, 84, 103, 103}, {104, 84, 123, 103}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "rotation " << c.rotation << " stretch " << c.stretch);
    Cls();
    SetDrawTransform(c.rotation, 1, 1);
    SetDrawOrigin(c.originX, c.originY);
    SetDrawHandle(c.drawHandle, c.drawHandle);
    if (c.stretch) {
      DrawImageStretched(image, 100, 100, 40, 20, 0);
    } else {
      DrawImageFrame(image, 100, 100, 0);
    }
    TPixmap* shot = CapturePixmap(0, 0, 200, 200);
    EXPECT_EQ(FindColour(shot, kRed), c.red);
    EXPECT_EQ(FindColour(shot, kBlue), c.blue);
  }
}

TEST_F(ImageDraw, TilesFillTheClipRectOnTheImagesGridAndIgnoreTheMatrix) {
  // Column 0 green, the rest blue: green pixels mark where tiles start.
  TImage* image = NewImage(32, 32, 1, 0);
  TPixmap* p = LockImagePixels(image, 0, 1, 1);
  for (Int y = 0; y < 32; ++y)
    for (Int x = 0; x < 32; ++x) p->SetPixel(x, y, Int(0xFF000000u) | (x == 0 ? kGreen : kBlue));
  SetDrawRotation(30);  // tiles are laid without rotation or scale
  TileImageArea(image, 10, 7, 0);
  TPixmap* shot = CapturePixmap(0, 0, 640, 480);
  for (Int y : {0, 100, 479}) {
    for (Int x = 0; x < 640; ++x) {
      Int want = (x - 10) % 32 == 0 && x >= 10 ? kGreen : kBlue;
      ASSERT_EQ(Rgb(shot, x, y), want) << "at " << x << "," << y;
    }
  }

  // The draw matrix is back afterwards: a frame drawn next is turned.
  Cls();
  SetDrawRotation(90);
  SetImageHandlePoint(image, 0, 0);
  DrawImageFrame(image, 300, 100, 0);
  // Column 0 becomes the top row.
  EXPECT_EQ(FindColour(CapturePixmap(0, 0, 640, 480), kGreen), (Box{268, 100, 299, 100}));

  // A smaller clipping rectangle bounds the tiles (scissor) and moves the
  // first tile with it.
  Cls();
  SetDrawTransform(0, 1, 1);
  SetClipRect(100, 50, 70, 40);
  Long vertices = GL2DCalls.vertices;
  TileImageArea(image, 10, 7, 0);
  // Columns at 74, 106, 138 and rows at 39, 71: no tile wholly outside.
  EXPECT_EQ(GL2DCalls.vertices - vertices, 6 * 4);
  // A rectangle far larger than the screen costs only the tiles on it
  // (columns -22 .. 618, rows -25 .. 455) and keeps the same grid.
  for (Int edge : {-2000, -1000000000}) {
    SetClipRect(edge, edge, 2 * -edge, 2 * -edge);
    vertices = GL2DCalls.vertices;
    TileImageArea(image, 10, 7, 0);
    EXPECT_EQ(GL2DCalls.vertices - vertices, 21 * 16 * 4) << edge;
  }
  EXPECT_EQ(Rgb(CapturePixmap(0, 0, 640, 480), 42, 0), kGreen);
  Cls();
  SetClipRect(100, 50, 70, 40);
  TileImageArea(image, 10, 7, 0);
  SetClipRect(0, 0, 640, 480);
  shot = CapturePixmap(0, 0, 640, 480);
  EXPECT_EQ(FindColour(shot, kBlue), (Box{100, 50, 169, 89}));
  EXPECT_EQ(Rgb(shot, 106, 60), kGreen);
  EXPECT_EQ(Rgb(shot, 138, 60), kGreen);
}

TEST_F(ImageDraw, TexturesAreMadeOncePerGraphicsGeneration) {
  TImage* image = NewImage(16, 16, 1, 0);
  FillImage(image, Int(0xFF000000u) | kRed);
  Long textures = GL2DCalls.textureCreates;
  DrawImageFrame(image, 10, 10, 0);
  DrawImageFrame(image, 40, 10, 0);
  EXPECT_EQ(GL2DCalls.textureCreates - textures, 1);

  // Writing the pixels makes the next draw rebuild the texture.
  FillImage(image, Int(0xFF000000u) | kBlue);
  DrawImageFrame(image, 70, 10, 0);
  EXPECT_EQ(GL2DCalls.textureCreates - textures, 2);
  EXPECT_EQ(Rgb(CapturePixmap(70, 10, 1, 1), 0, 0), kBlue);

  auto* old = Cast<TGLTextureFrame>(image->GetFrame(0));
  EndGraphics();
  ASSERT_TRUE(OpenTestDisplay());
  const GL2DCallCounts before = GL2DCalls;
  DrawImageFrame(image, 10, 10, 0);
  EXPECT_EQ(GL2DCalls.textureCreates - before.textureCreates, 1) << "a new generation rebuilds";
  EXPECT_NE(image->GetFrame(0), old);
  EXPECT_EQ(Rgb(CapturePixmap(10, 10, 1, 1), 0, 0), kBlue);
  DrawImageFrame(image, 10, 10, 0);
  EXPECT_EQ(GL2DCalls.textureCreates - before.textureCreates, 1);
  old->Release();  // a stale frame still gives its texture back, once
  old->Release();
  EXPECT_EQ(GL2DCalls.textureDeletes - before.textureDeletes, 1);
  EXPECT_EQ(old->generation, 0);
}

TEST_F(ImageDraw, CaptureKeysTheModuleMaskColour) {
  SetColor(0, 0, 255);
  DrawRect(200, 200, 4, 4);
  SetColor(255, 255, 255);
  TImage* image = NewImage(8, 8, 1, IMAGE_MASKED);
  SetImageMaskColor(0, 0, 0);
  CaptureImage(image, 198, 198, 0);
  TPixmap* p = static_cast<TPixmap*>(image->pixmaps->RefElements()[0]);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(uint32_t(p->GetPixel(0, 0)) >> 24, 0u) << "black background keyed out";
  EXPECT_EQ(uint32_t(p->GetPixel(3, 3)), 0xFF0000FFu);

  // Drawn back elsewhere in masked blend mode, only the square shows.
  Cls();
  DrawImageFrame(image, 300, 300, 0);
  EXPECT_EQ(FindColour(CapturePixmap(0, 0, 640, 480), kBlue), (Box{302, 302, 305, 305}));
}

}  // namespace
