// Images: drawable pictures of one or more equal-size frames, each kept as a
// pixmap (the master copy) and as a driver frame made from it on first draw
// and again whenever the graphics generation changed.
#pragma once

#include "render2d/render2d.h"

class TPixmap;

enum : Int {
  IMAGE_MASKED = 1,
  IMAGE_FILTERED = 2,
  IMAGE_MIPMAPPED = 4,
  IMAGE_DYNAMIC = 8,
};

class TImage : public Object {
  KX_CLASS(TImage, Object)
 public:
  TImage();
  Int width = 0;
  Int height = 0;
  Int flags = 0;
  Int maskRed = 0, maskGreen = 0, maskBlue = 0;
  Float handleX = 0, handleY = 0;
  Ref<Array> pixmaps;           // ":TPixmap", one per frame
  Ref<Array> frames;            // ":TImageFrame", one per frame
  Ref<Array> frameGenerations;  // "i", one per frame

  Int FrameCount();
  virtual Object* PersistType() { return nullptr; }
  virtual TImageFrame* GetFrame(Int index);
  virtual TPixmap* LockPixmap(Int index, Int read, Int write);
  virtual void AssignPixmap(Int index, TPixmap* pixmap);
  static TImage* CreateBlank(Int width, Int height, Int frameCount, Int flags, Int maskRed,
                             Int maskGreen, Int maskBlue);
  static TImage* FromSource(Object* source, Int flags, Int maskRed, Int maskGreen, Int maskBlue);
  static TImage* FromCells(Object* source, Int cellWidth, Int cellHeight, Int firstCell,
                           Int cellCount, Int flags, Int maskRed, Int maskGreen, Int maskBlue);
};

TImage* LoadImageFile(Object* source, Int flags);
TImage* LoadImageCells(Object* source, Int cellWidth, Int cellHeight, Int firstCell, Int cellCount,
                       Int flags);
TImage* NewImage(Int width, Int height, Int frameCount, Int flags);
void CaptureImage(TImage* image, Int x, Int y, Int frame);
TPixmap* LockImagePixels(TImage* image, Int frame, Int read, Int write);
void UnlockImagePixels(TImage* image, Int frame);
Int GetImageWidth(TImage* image);
Int GetImageHeight(TImage* image);
void SetImageHandlePoint(TImage* image, Float x, Float y);
void CentreImageHandle(TImage* image);
void SetAutoCentreHandle(Int flag);
void SetDefaultImageFlags(Int flags);
Int GetDefaultImageFlags();
void SetImageMaskColor(Int red, Int green, Int blue);
void GetImageMaskColor(Int* red, Int* green, Int* blue);
void DrawImageFrame(TImage* image, Float x, Float y, Int frame);
void DrawImageStretched(TImage* image, Float x, Float y, Float width, Float height, Int frame);
void TileImageArea(TImage* image, Float x, Float y, Int frame);

Int InitImageModule();
