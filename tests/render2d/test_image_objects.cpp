// TImage without a display: locking, masking on assignment, cutting cells,
// and the module defaults behind the API functions.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>

#include "render2d/image.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
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

}  // namespace
