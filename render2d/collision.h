// Pixel-exact collisions between images and rectangles as they would be
// drawn. The collision matrix follows the 2D draw matrix: every time the
// draw matrix is recomputed the same four values are handed over here, so
// that collision quads are placed exactly like drawn images.
//
// A placed frame or rectangle becomes a TQuad (four screen corners with
// texture coordinates, plus the frame's pixels); quads are kept in 32
// collision layers and tested against each other by scan-converting both
// and comparing, pixel by pixel, the alpha each would put on the screen.
#pragma once

#include "runtime/array.h"
#include "runtime/object.h"

class TImage;
class TPixmap;

void SetCollisionMatrix(Float ix, Float iy, Float jx, Float jy);
void GetCollisionMatrix(Float* ix, Float* iy, Float* jx, Float* jy);

// One placed frame or rectangle.
class TQuad : public Object {
  KX_CLASS(TQuad, Object)
 public:
  TQuad();
  Ref<TQuad> next;      // link in a layer list or in the quad pool
  Ref<Object> id;       // the caller's identifier, returned by tests
  Ref<TPixmap> pixmap;  // PIXFMT_RGBA32 pixels; Null means a solid rectangle
  Float minX = 0, minY = 0, maxX = 0, maxY = 0;
  Ref<Array> corners;  // "f", 16: four corners of screen x, y, texture u, v

  // Corners (x0, y0, 0, 0), (x1, y1, 1, 0), (x2, y2, 1, 1), (x3, y3, 0, 1)
  // and their bounding box.
  virtual void SetCorners(Float x0, Float y0, Float x1, Float y1, Float x2, Float y2, Float x3,
                          Float y3);
};

// Scan state of one polygon while RasterisePolygons runs.
class rpoly : public Object {
  KX_CLASS(rpoly, Object)
 public:
  Ref<TPixmap> pixmap;
  Ref<Array> vertexData;  // "f": vertexCount x channels floats, x and y first
  Int channels = 0;
  Int vertexCount = 0;
  Int usedFloats = 0;                                         // vertexCount x channels
  Ref<Array> leftValues, leftSteps, rightValues, rightSteps;  // "f", one per channel
  Int leftIndex = 0;  // first float of the left edge's end vertex
  Int rightIndex = 0;
  Int topY = 0;
  Int state = 0;  // RPOLY_WAITING, RPOLY_ACTIVE or RPOLY_FINISHED
};

enum : Int { RPOLY_WAITING = 0, RPOLY_ACTIVE = 1, RPOLY_FINISHED = 2 };

// Called for every scanline with at least one active polygon: the active
// list (":rpoly", insertion order), how many it holds, and the row. A
// negative result ends the scan with that result.
using SpanCallback = Int (*)(Array* active, Int count, Int y);

// Creates the 32 layer heads; later calls do nothing. Every function here
// calls it, so it need not run before them.
void InitCollisionLayers();

void ResetCollisionLayers(Int mask);  // mask 0: every layer
Array* CollideImageLayers(TImage* image, Float x, Float y, Int frame, Int collideMask,
                          Int writeMask, Object* id);
Array* CollideRectLayers(Float x, Float y, Float width, Float height, Int collideMask,
                         Int writeMask, Object* id);
Int ImagesOverlap(TImage* image1, Float x1, Float y1, Int frame1, TImage* image2, Float x2,
                  Float y2, Int frame2);
Int ImagesOverlapTransformed(TImage* image1, Float x1, Float y1, Int frame1, Float rotation1,
                             Float scaleX1, Float scaleY1, TImage* image2, Float x2, Float y2,
                             Int frame2, Float rotation2, Float scaleX2, Float scaleY2);

// The steps behind the functions above.
TQuad* MakeCollisionQuad(TImage* image, Int frame, Float x, Float y, Float width, Float height,
                         Object* id);
Array* CollideQuad(TQuad* quad, Int collideMask, Int writeMask);
Int QuadsOverlap(TQuad* a, TQuad* b);  // -1 on contact, else 0
Int RasterisePolygons(Array* polygons, Array* channels, Array* pixmaps, SpanCallback callback);
void NormaliseWinding(Array* vertexData, Int channels);
Int EdgeCross(Float x0, Float y0, Float x1, Float y1, Float x2, Float y2);
Int SpanPixelTest(Array* active, Int count, Int y);

// Module state, for tests and benchmarks.
TQuad* CollisionLayerHead(Int layer);
TQuad* CollisionQuadPool();
Int CollisionScratchLength();
