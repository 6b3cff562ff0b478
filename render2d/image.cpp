// Images: a TImage keeps, per frame, a pixmap (the master pixels), a driver
// frame made from it, and the graphics generation that frame was made under.
// The three arrays always have the frame count as their length.
//
// A driver frame is trusted only while its generation equals the current
// GraphicsGeneration; 0 marks "none" (the generation counter never reaches
// 0), so a fresh, written or reassigned frame is rebuilt on its next draw.
#include "render2d/image.h"

#include <algorithm>
#include <cmath>

#include "graphics/graphics.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "runtime/module.h"

// Module-wide image defaults used by the loading and creating functions.
static Int maskRedDefault = 0, maskGreenDefault = 0, maskBlueDefault = 0;
static Int autoCentre = 0;
static Int defaultImageFlags = 0;

KX_CLASS_RECORD(TImage, &TImage::PersistType, &TImage::GetFrame, &TImage::LockPixmap,
                &TImage::AssignPixmap, &TImage::CreateBlank, &TImage::FromSource,
                &TImage::FromCells)

TImage::TImage() : pixmaps(&kxEmptyArray), frames(&kxEmptyArray), frameGenerations(&kxEmptyArray) {}

Int TImage::FrameCount() { return pixmaps ? pixmaps->Length() : 0; }

// Frame indices come from callers; an index outside the arrays would read
// or write memory that is not the image's, so it raises instead.
static void CheckFrameIndex(TImage* image, Int index) {
  if (index < 0 || index >= image->FrameCount()) kxRaiseIndexRange();
}

static void DropDriverFrame(TImage* image, Int index) {
  image->frameGenerations->Elements<Int>()[index] = 0;
  kxArraySetRef(image->frames, index, nullptr);
}

// Makes the driver frame of frame `index` for the current graphics
// generation. Kept out of GetFrame so that the common case, a frame
// already made, stays a few loads and a compare.
static __attribute__((noinline)) TImageFrame* BuildDriverFrame(TImage* image, Int index) {
  TRender2DDriver* driver = CurrentRender2DDriver();
  if (!driver) kxRaiseNullAccess();
  TPixmap* pixmap = image->LockPixmap(index, 1, 0);
  TImageFrame* frame = driver->CreateFrame(pixmap, image->flags);
  // The arrays may not be touched through a pointer kept across the
  // driver call: refetch them.
  image->frameGenerations->Elements<Int>()[index] = GraphicsGeneration;
  kxArraySetRef(image->frames, index, frame);
  return frame;
}

TImageFrame* TImage::GetFrame(Int index) {
  CheckFrameIndex(this, index);
  if (frameGenerations->Elements<Int>()[index] == GraphicsGeneration) {
    return static_cast<TImageFrame*>(frames->RefElements()[index]);
  }
  return BuildDriverFrame(this, index);
}

TPixmap* TImage::LockPixmap(Int index, Int read, Int write) {
  CheckFrameIndex(this, index);
  if (write) DropDriverFrame(this, index);
  auto* pixmap = static_cast<TPixmap*>(pixmaps->RefElements()[index]);
  if (!pixmap) {
    pixmap = TPixmap::Allocate(width, height, PIXFMT_RGBA32, 4);
    kxArraySetRef(pixmaps, index, pixmap);
  }
  return pixmap;
}

void TImage::AssignPixmap(Int index, TPixmap* pixmap) {
  CheckFrameIndex(this, index);
  if (pixmap && (flags & IMAGE_MASKED) && PixelFormatBytes(pixmap->format) > 0 &&
      FormatAlphaBits[pixmap->format] == 0) {
    pixmap = ColorKeyPixmap(pixmap, maskRed, maskGreen, maskBlue);
  }
  kxArraySetRef(pixmaps, index, pixmap);
  DropDriverFrame(this, index);
}

TImage* TImage::CreateBlank(Int width, Int height, Int frameCount, Int flags, Int maskRed,
                            Int maskGreen, Int maskBlue) {
  TImage* image = New<TImage>();
  image->width = width;
  image->height = height;
  image->flags = flags;
  image->maskRed = maskRed;
  image->maskGreen = maskGreen;
  image->maskBlue = maskBlue;
  image->pixmaps = kxArrayNew(":TPixmap", 1, frameCount);
  image->frames = kxArrayNew(":TImageFrame", 1, frameCount);
  image->frameGenerations = kxArrayNew("i", 1, frameCount);
  return image;
}

static TPixmap* SourcePixmap(Object* source) {
  if (auto* pixmap = Cast<TPixmap>(source)) return pixmap;
  if (!source) return nullptr;
  return LoadPixmapFile(source);
}

TImage* TImage::FromSource(Object* source, Int flags, Int maskRed, Int maskGreen, Int maskBlue) {
  TPixmap* pixmap = SourcePixmap(source);
  if (!pixmap) return nullptr;
  TImage* image = CreateBlank(pixmap->width, pixmap->height, 1, flags, maskRed, maskGreen,
                              maskBlue);
  image->AssignPixmap(0, pixmap);
  return image;
}

TImage* TImage::FromCells(Object* source, Int cellWidth, Int cellHeight, Int firstCell,
                          Int cellCount, Int flags, Int maskRed, Int maskGreen, Int maskBlue) {
  // Non-positive cells would divide by zero, negative cell numbers would
  // cut windows outside the picture: neither can give an image.
  if (cellWidth <= 0 || cellHeight <= 0 || firstCell < 0 || cellCount < 0) return nullptr;
  TPixmap* pixmap = SourcePixmap(source);
  if (!pixmap) return nullptr;
  Int columns = pixmap->width / cellWidth;
  Int rows = pixmap->height / cellHeight;
  if (Long(firstCell) + cellCount > Long(columns) * rows) return nullptr;
  TImage* image = CreateBlank(cellWidth, cellHeight, cellCount, flags, maskRed, maskGreen,
                              maskBlue);
  for (Int i = firstCell; i < firstCell + cellCount; ++i) {
    TPixmap* cell = pixmap->SubWindow(cellWidth * (i % columns), cellHeight * (i / columns),
                                      cellWidth, cellHeight);
    image->AssignPixmap(i - firstCell, cell->Duplicate());
  }
  return image;
}

// --- module defaults -------------------------------------------------------

void SetAutoCentreHandle(Int flag) { autoCentre = flag; }

void SetDefaultImageFlags(Int flags) {
  if (flags != -1) defaultImageFlags = flags;
}

Int GetDefaultImageFlags() { return defaultImageFlags; }

void SetImageMaskColor(Int red, Int green, Int blue) {
  maskRedDefault = red;
  maskGreenDefault = green;
  maskBlueDefault = blue;
}

void GetImageMaskColor(Int* red, Int* green, Int* blue) {
  if (red) *red = maskRedDefault;
  if (green) *green = maskGreenDefault;
  if (blue) *blue = maskBlueDefault;
}

// --- loading and creating --------------------------------------------------

static Int ResolveFlags(Int flags) { return flags == -1 ? defaultImageFlags : flags; }

static TImage* Centred(TImage* image) {
  if (image && autoCentre) CentreImageHandle(image);
  return image;
}

TImage* LoadImageFile(Object* source, Int flags) {
  return Centred(TImage::FromSource(source, ResolveFlags(flags), maskRedDefault, maskGreenDefault,
                                    maskBlueDefault));
}

TImage* LoadImageCells(Object* source, Int cellWidth, Int cellHeight, Int firstCell, Int cellCount,
                       Int flags) {
  return Centred(TImage::FromCells(source, cellWidth, cellHeight, firstCell, cellCount,
                                   ResolveFlags(flags), maskRedDefault, maskGreenDefault,
                                   maskBlueDefault));
}

TImage* NewImage(Int width, Int height, Int frameCount, Int flags) {
  return Centred(TImage::CreateBlank(width, height, frameCount, ResolveFlags(flags) | IMAGE_DYNAMIC,
                                     maskRedDefault, maskGreenDefault, maskBlueDefault));
}

static TImage* Checked(TImage* image) {
  if (!image) kxRaiseNullAccess();
  return image;
}

void CaptureImage(TImage* image, Int x, Int y, Int frame) {
  Checked(image);
  CheckFrameIndex(image, frame);
  TRender2DGraphics* state = Render2DState();
  if (!state->driver) kxRaiseNullAccess();
  TPixmap* pixmap = state->driver->ReadPixmap(x, y, image->width, image->height);
  if (!pixmap) return;  // nothing could be read: keep the frame as it was
  if (image->flags & IMAGE_MASKED) {
    pixmap = ColorKeyPixmap(pixmap, maskRedDefault, maskGreenDefault, maskBlueDefault);
  }
  image->AssignPixmap(frame, pixmap);
}

TPixmap* LockImagePixels(TImage* image, Int frame, Int read, Int write) {
  return Checked(image)->LockPixmap(frame, read, write);
}

void UnlockImagePixels(TImage* image, Int frame) {}

Int GetImageWidth(TImage* image) { return Checked(image)->width; }
Int GetImageHeight(TImage* image) { return Checked(image)->height; }

void SetImageHandlePoint(TImage* image, Float x, Float y) {
  Checked(image);
  image->handleX = x;
  image->handleY = y;
}

void CentreImageHandle(TImage* image) {
  Checked(image);
  image->handleX = Float(image->width) * 0.5f;
  image->handleY = Float(image->height) * 0.5f;
}

// --- drawing ---------------------------------------------------------------

void DrawImageFrame(TImage* image, Float x, Float y, Int frame) {
  Checked(image);
  TRender2DGraphics* state = Render2DState();
  TImageFrame* driverFrame = image->GetFrame(frame);
  if (!driverFrame) return;  // the driver could not make a texture
  Float hx = image->handleX, hy = image->handleY;
  driverFrame->Paint(-hx, -hy, -hx + Float(image->width), -hy + Float(image->height),
                     x + state->originX, y + state->originY);
}

void DrawImageStretched(TImage* image, Float x, Float y, Float width, Float height, Int frame) {
  Checked(image);
  TRender2DGraphics* state = Render2DState();
  TImageFrame* driverFrame = image->GetFrame(frame);
  if (!driverFrame) return;
  Float hx = image->handleX, hy = image->handleY;
  driverFrame->Paint(-hx, -hy, width - hx, height - hy, x + state->originX, y + state->originY);
}

// Remainder in 0 .. m-1 for negative values too.
static Long FloorMod(Long v, Long m) {
  Long r = v % m;
  return r < 0 ? r + m : r;
}

// The first grid position whose tile reaches into the rectangle from edge
// on. Left of the screen only the tile that reaches onto it is kept (a
// margin of one pixel keeps a tile whose fraction covers pixel 0).
static Long FirstTile(Long edge, Long grid, Long size) {
  if (edge < 0) edge = -1;
  const Long start = edge - size + 1;
  return start + FloorMod(grid - start, size);
}

void TileImageArea(TImage* image, Float x, Float y, Int frame) {
  Checked(image);
  TRender2DGraphics* state = Render2DState();
  const Long w = image->width, h = image->height;
  // An empty image would never step across the rectangle.
  if (w <= 0 || h <= 0) return;
  TRender2DDriver* driver = state->driver;
  if (!driver) kxRaiseNullAccess();
  Float px = x + state->originX - image->handleX;
  Float py = y + state->originY - image->handleY;
  // A position that is not a number has no grid to lay tiles on.
  if (!std::isfinite(px) || !std::isfinite(py)) return;
  driver->ApplyTransform(1, 0, 0, 1);

  // Clamped so that the conversion to Long below stays defined; the grid
  // phase of such far positions is of no consequence.
  Float floorX = std::clamp(std::floor(px), -1e12f, 1e12f);
  Float floorY = std::clamp(std::floor(py), -1e12f, 1e12f);
  Float fx = px - std::floor(px), fy = py - std::floor(py);
  // Positions are kept in 64 bits: a far-away image must not overflow the
  // grid arithmetic.
  const Long cx = state->clipX, cy = state->clipY;
  // Only the part of the rectangle on the screen can show a tile: a huge
  // clipping rectangle must not cost a quad per tile position in it.
  const Long right = std::min<Long>(cx + state->clipWidth, CurrentGraphicsWidth());
  const Long bottom = std::min<Long>(cy + state->clipHeight, CurrentGraphicsHeight());
  const Long firstX = FirstTile(cx, Long(floorX), w), firstY = FirstTile(cy, Long(floorY), h);

  for (Long ty = firstY; ty < bottom; ty += h) {
    for (Long tx = firstX; tx < right; tx += w) {
      TImageFrame* driverFrame = image->GetFrame(frame);
      if (!driverFrame) break;
      driverFrame->Paint(0, 0, Float(w), Float(h), Float(tx) + fx, Float(ty) + fy);
    }
  }
  UpdateDrawMatrix();
}

Int InitImageModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  InitGraphicsModule();
  InitPixmapModule();
  return 0;
}
