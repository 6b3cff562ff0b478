// TImage without a display: locking, masking on assignment, cutting cells,
// and the module defaults behind the API functions. Images on the test
// display: placement about the handle, rotation, tiling over the clipping
// rectangle, and driver frames following the graphics generation.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>

#include "tests/render2d/test_render2d_support.h"
#include "tests/support/test_util.h"

namespace {

TPixmap* PixmapOf(TImage* image, Int i) {
  return static_cast<TPixmap*>(image->pixmaps->RefElements()[i]);
}

// A picture whose every pixel tells where it came from.
TPixmap* NumberedPixmap(Int w, Int h) {
  TPixmap* p = TPixmap::Allocate(w, h, PIXFMT_RGBA32, 4);
  for (Int y = 0; y < h; ++y)
    for (Int x = 0; x < w; ++x) p->SetPixel(x, y, Int(0xFF000000u) | (x << 8) | y);
  return p;
}

TEST(ImageObjects, LockMakesOnePixmapAndWriteInvalidatesTheFrame) {
  InitImageModule();
  TImage* image = TImage::CreateBlank(32, 32, 2, 0, 0, 0, 0);
  EXPECT_EQ(PixmapOf(image, 1), nullptr) << "no pixmap until locked";
  TPixmap* p = image->LockPixmap(1, 1, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->format, PIXFMT_RGBA32);
  EXPECT_EQ(p->pitch, 128);
  EXPECT_EQ(LockImagePixels(image, 1, 0, 1), p);
  EXPECT_EQ(PixmapOf(image, 0), nullptr) << "only the locked frame gets a pixmap";

  Int* generations = image->frameGenerations->Elements<Int>();
  generations[1] = 77;  // as if a driver frame had been made
  image->LockPixmap(1, 1, 0);
  EXPECT_EQ(generations[1], 77) << "a read-only lock keeps the driver frame";
  image->LockPixmap(1, 1, 1);
  EXPECT_EQ(generations[1], 0) << "a write lock drops it";
}

TEST(ImageObjects, MaskedAssignmentKeysOnlyPixmapsWithoutAlpha) {
  TPixmap* rgb = TPixmap::Allocate(3, 1, PIXFMT_RGB24, 4);
  rgb->SetPixel(0, 0, 0x102030);
  rgb->SetPixel(1, 0, 0x102031);  // one step away from the key: stays opaque
  rgb->SetPixel(2, 0, 0x102030);
  TImage* masked = TImage::CreateBlank(3, 1, 1, IMAGE_MASKED, 0x10, 0x20, 0x30);
  masked->AssignPixmap(0, rgb);
  TPixmap* installed = PixmapOf(masked, 0);
  ASSERT_EQ(installed->format, PIXFMT_RGBA32);
  EXPECT_EQ(uint32_t(installed->GetPixel(0, 0)) >> 24, 0u);
  EXPECT_EQ(uint32_t(installed->GetPixel(1, 0)) >> 24, 255u);
  EXPECT_EQ(uint32_t(installed->GetPixel(2, 0)) >> 24, 0u);

  // With alpha bits, or without the flag, the pixmap goes in as it is.
  TPixmap* rgba = TPixmap::Allocate(3, 1, PIXFMT_RGBA32, 4);
  rgba->SetPixel(0, 0, Int(0xFF102030u));
  masked->AssignPixmap(0, rgba);
  EXPECT_EQ(PixmapOf(masked, 0), rgba);
  EXPECT_EQ(uint32_t(rgba->GetPixel(0, 0)), 0xFF102030u);
  TImage* plain = TImage::CreateBlank(3, 1, 1, IMAGE_FILTERED, 0x10, 0x20, 0x30);
  plain->AssignPixmap(0, rgb);
  EXPECT_EQ(PixmapOf(plain, 0), rgb);
}

TEST(ImageObjects, CellsAreCutLeftToRightThenDownIntoCopies) {
  TPixmap* strip = NumberedPixmap(64, 32);
  TImage* cells = TImage::FromCells(strip, 32, 32, 0, 2, 0, 0, 0, 0);
  ASSERT_NE(cells, nullptr);
  EXPECT_EQ(cells->FrameCount(), 2);
  EXPECT_EQ(PixmapOf(cells, 1)->GetPixel(0, 5), strip->GetPixel(32, 5));
  EXPECT_EQ(PixmapOf(cells, 1)->GetPixel(31, 31), strip->GetPixel(63, 31));
  strip->SetPixel(32, 5, 0);
  EXPECT_NE(PixmapOf(cells, 1)->GetPixel(0, 5), 0) << "a cell owns its pixels";
  EXPECT_EQ(TImage::FromCells(strip, 32, 32, 0, 3, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(TImage::FromCells(strip, 32, 32, 1, 2, 0, 0, 0, 0), nullptr);

  // Leftover pixels at the right and bottom edges make no cell.
  TPixmap* grid = NumberedPixmap(50, 41);
  TImage* fourth = TImage::FromCells(grid, 20, 20, 3, 1, 0, 0, 0, 0);
  ASSERT_NE(fourth, nullptr);
  EXPECT_EQ(PixmapOf(fourth, 0)->GetPixel(0, 0), grid->GetPixel(20, 20));
  EXPECT_EQ(TImage::FromCells(grid, 20, 20, 4, 1, 0, 0, 0, 0), nullptr);

  // Sources and cells that cannot make an image give Null.
  EXPECT_EQ(TImage::FromSource(nullptr, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(LoadImageFile(Str("/nonexistent/picture.png"), -1), nullptr);
  EXPECT_EQ(TImage::FromCells(strip, 0, 32, 0, 1, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(TImage::FromCells(strip, 32, 32, -1, 1, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(TImage::FromCells(strip, 32, 32, 0x7fffffff, 1, 0, 0, 0, 0), nullptr);
}

TEST(ImageObjects, FrameIndicesOutsideTheImageRaiseTheIndexError) {
  TImage* image = TImage::CreateBlank(8, 8, 1, 0, 0, 0, 0);
  const std::string index = ToStd(kxErrorText(New<TIndexRangeError>()));
  const std::function<void()> outside[] = {
      [&] { image->LockPixmap(1, 1, 1); }, [&] { image->LockPixmap(-1, 1, 0); },
      [&] { image->AssignPixmap(2, nullptr); }, [&] { image->GetFrame(1); }};
  for (size_t i = 0; i < std::size(outside); ++i) EXPECT_EQ(Raised(outside[i]), index) << i;
  EXPECT_EQ(Raised([&] { image->LockPixmap(0, 1, 1); }), "");
}

TEST(ImageObjects, ModuleDefaultsSteerTheApiFunctions) {
  SetImageMaskColor(7, 8, 9);
  SetDefaultImageFlags(3);
  SetDefaultImageFlags(-1);  // leaves the stored flags alone
  EXPECT_EQ(GetDefaultImageFlags(), 3);
  SetAutoCentreHandle(0);
  TImage* image = NewImage(32, 16, 2, -1);
  EXPECT_EQ(image->flags, 3 | IMAGE_DYNAMIC);
  EXPECT_EQ(image->maskGreen, 8) << "the image takes the mask colour of its creation";
  EXPECT_EQ(image->handleX, 0.0f);
  EXPECT_EQ(NewImage(4, 4, 1, 2)->flags, 2 | IMAGE_DYNAMIC);

  SetAutoCentreHandle(1);
  TImage* centred = NewImage(33, 16, 1, 0);
  EXPECT_EQ(centred->handleX, 16.5f);
  EXPECT_EQ(centred->handleY, 8.0f);
  TImage* loaded = LoadImageCells(TPixmap::Allocate(30, 10, PIXFMT_RGBA32, 4), 10, 10, 0, 3, 0);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->handleX, 5.0f);
  SetAutoCentreHandle(0);
  SetImageMaskColor(0, 0, 0);
  SetDefaultImageFlags(0);
}

// --- images on the test display --------------------------------------------

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
  TPixmap* p = PixmapOf(image, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(uint32_t(p->GetPixel(0, 0)) >> 24, 0u) << "black background keyed out";
  EXPECT_EQ(uint32_t(p->GetPixel(3, 3)), 0xFF0000FFu);

  // Drawn back elsewhere in masked blend mode, only the square shows.
  Cls();
  DrawImageFrame(image, 300, 300, 0);
  EXPECT_EQ(FindColour(CapturePixmap(0, 0, 640, 480), kBlue), (Box{302, 302, 305, 305}));
}

}  // namespace
