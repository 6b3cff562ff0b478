// Collision layers: 32 singly linked lists of placed quads, a pool of spare
// quads that resets refill and writes draw from, and the tests that run a
// quad against chosen layers before optionally storing it in others.
//
// Invariants kept here: every quad in a layer or in the pool is reachable
// from exactly one list head, and a quad's pixmap is Null (a solid
// rectangle) or in PIXFMT_RGBA32, the only format the span test reads (a
// pixmap of no known format is kept as it is and reads as clear).
#include <bit>
#include <cmath>
#include <cstdint>

#include "render2d/collision.h"
#include "render2d/image.h"
#include "render2d/pixmap/pixmap.h"
#include "render2d/render2d.h"
#include "runtime/error.h"

KX_CLASS_RECORD(TQuad, &TQuad::SetCorners)

namespace {

constexpr Int kLayerCount = 32;
constexpr Int kScratchLayer = static_cast<Int>(0x80000000u);  // layer 31, used by the direct tests

// Beyond this distance from the origin a float no longer holds every pixel
// position, and a quad's rows and spans would no longer fit the Int
// arithmetic of the scan: such quads (and those with NaN corners) touch
// nothing, rather than scanning for billions of rows.
constexpr Float kCoordinateLimit = 16777216.0f;

Ref<Array> layers;  // ":TQuad", one list head per layer
Ref<TQuad> pool;

inline TQuad* Head(Int layer) { return static_cast<TQuad*>(layers->RefElements()[layer]); }

// Layer numbers of the set bits of a mask, lowest first; mask 0 gives none.
inline Int NextLayer(uint32_t* bits) {
  const Int layer = std::countr_zero(*bits);
  *bits &= *bits - 1;
  return layer;
}

TQuad* TakeQuad() {
  TQuad* q = pool.get();
  if (!q) return New<TQuad>();
  // The stack keeps q alive while it belongs to no list.
  pool = q->next.get();
  q->next = nullptr;
  return q;
}

// The frame's pixels in the format the span test reads. Other formats are
// converted once here, so the test never reads a 1- or 3-byte pixmap as if
// it had 4 bytes per pixel. The copy is a snapshot of the frame as it is now.
TPixmap* CollisionPixels(TImage* image, Int frame) {
  TPixmap* p = image->LockPixmap(frame, 1, 0);
  if (p && p->format != PIXFMT_RGBA32 && PixelFormatBytes(p->format) > 0) {
    p = p->ConvertTo(PIXFMT_RGBA32);
  }
  return p;
}

bool Representable(TQuad* q) {
  // Written so that NaN fails every comparison.
  return q->minX >= -kCoordinateLimit && q->maxX <= kCoordinateLimit &&
         q->minY >= -kCoordinateLimit && q->maxY <= kCoordinateLimit;
}

Array* Collide(TImage* image, Int frame, Float x, Float y, Float w, Float h, Int collide, Int write,
               Object* id) {
  return CollideQuad(MakeCollisionQuad(image, frame, x, y, w, h, id), collide, write);
}

TImage* CheckedImage(TImage* image, Int frame) {
  if (!image) kxRaiseNullAccess();
  if (frame < 0 || frame >= image->FrameCount()) kxRaiseIndexRange();
  return image;
}

}  // namespace

// --- quads -------------------------------------------------------------------

static inline Float Min4(Float a, Float b, Float c, Float d) {
  const Float ab = a < b ? a : b, cd = c < d ? c : d;
  return ab < cd ? ab : cd;
}
static inline Float Max4(Float a, Float b, Float c, Float d) {
  const Float ab = a > b ? a : b, cd = c > d ? c : d;
  return ab > cd ? ab : cd;
}

TQuad::TQuad() : corners(kxArrayNewOneDim("f", 16)) {}

void TQuad::SetCorners(Float x0, Float y0, Float x1, Float y1, Float x2, Float y2, Float x3,
                       Float y3) {
  const Float values[16] = {x0, y0, 0, 0, x1, y1, 1, 0, x2, y2, 1, 1, x3, y3, 0, 1};
  Float* c = corners->Elements<Float>();
  for (Int i = 0; i < 16; ++i) c[i] = values[i];
  minX = Min4(x0, x1, x2, x3);
  maxX = Max4(x0, x1, x2, x3);
  minY = Min4(y0, y1, y2, y3);
  maxY = Max4(y0, y1, y2, y3);
  // A NaN corner could slip past the comparisons above; it makes the box
  // NaN instead, so that the quad is refused as a whole.
  if (std::isnan(x0 + y0 + x1 + y1 + x2 + y2 + x3 + y3)) minX = NAN;
}

TQuad* MakeCollisionQuad(TImage* image, Int frame, Float x, Float y, Float width, Float height,
                         Object* id) {
  InitCollisionLayers();
  TRender2DGraphics* g = Render2DState();
  Float ix, iy, jx, jy;
  GetCollisionMatrix(&ix, &iy, &jx, &jy);
  const Float hx = image ? -image->handleX : 0.0f;
  const Float hy = image ? -image->handleY : 0.0f;
  const Float tx = x + g->originX;
  const Float ty = y + g->originY;
  const Float lx[4] = {hx, width + hx, width + hx, hx};
  const Float ly[4] = {hy, hy, height + hy, height + hy};
  Float sx[4], sy[4];
  for (Int k = 0; k < 4; ++k) {
    sx[k] = lx[k] * ix + ly[k] * iy + tx;
    sy[k] = lx[k] * jx + ly[k] * jy + ty;
  }
  TQuad* q = TakeQuad();
  q->id = id;
  q->pixmap = image ? CollisionPixels(image, frame) : nullptr;
  q->SetCorners(sx[0], sy[0], sx[1], sy[1], sx[2], sy[2], sx[3], sy[3]);
  return q;
}

// --- layers ------------------------------------------------------------------

void InitCollisionLayers() {
  if (!layers) layers = kxArrayNewOneDim(":TQuad", kLayerCount);
}

void ResetCollisionLayers(Int mask) {
  InitCollisionLayers();
  for (uint32_t bits = mask ? static_cast<uint32_t>(mask) : ~0u; bits;) {
    const Int i = NextLayer(&bits);
    TQuad* head = Head(i);
    if (!head) continue;
    TQuad* last = head;
    while (last->next) last = last->next.get();
    last->next = pool.get();
    pool = head;
    kxArraySetRef(layers, i, nullptr);
  }
}

Array* CollideQuad(TQuad* quad, Int collideMask, Int writeMask) {
  InitCollisionLayers();
  Array* hits = &kxEmptyArray;
  Int n = 0;
  for (uint32_t bits = static_cast<uint32_t>(collideMask); bits;) {
    const Int i = NextLayer(&bits);
    for (TQuad* q = Head(i); q; q = q->next.get()) {
      if (!QuadsOverlap(quad, q)) continue;
      if (n == hits->Length()) {
        const Int grown = static_cast<Int>((n + 4) * 1.2);
        hits = kxArrayRange(":Object", hits, 0, grown);
      }
      kxArraySetRef(hits, n++, q->id.get());
    }
  }
  for (uint32_t bits = static_cast<uint32_t>(writeMask); bits;) {
    const Int i = NextLayer(&bits);
    TQuad* copy = TakeQuad();
    copy->id = quad->id.get();
    copy->pixmap = quad->pixmap.get();
    const Float* from = quad->corners->Elements<Float>();
    Float* to = copy->corners->Elements<Float>();
    for (Int k = 0; k < 16; ++k) to[k] = from[k];
    copy->minX = quad->minX;
    copy->minY = quad->minY;
    copy->maxX = quad->maxX;
    copy->maxY = quad->maxY;
    copy->next = Head(i);
    kxArraySetRef(layers, i, copy);
  }
  if (n == 0) return &kxEmptyArray;
  return n == hits->Length() ? hits : kxArrayRange(":Object", hits, 0, n);
}

Int QuadsOverlap(TQuad* a, TQuad* b) {
  if (a->maxX < b->minX || a->maxY < b->minY || a->minX > b->maxX || a->minY > b->maxY) return 0;
  if (!Representable(a) || !Representable(b)) return 0;
  Array* polygons = kxArrayNewOneDim("[f", 2);
  kxArraySetRef(polygons, 0, a->corners.get());
  kxArraySetRef(polygons, 1, b->corners.get());
  Array* pixmaps = kxArrayNewOneDim(":TPixmap", 2);
  kxArraySetRef(pixmaps, 0, a->pixmap.get());
  kxArraySetRef(pixmaps, 1, b->pixmap.get());
  Array* channels = kxArrayNewOneDim("i", 2);
  channels->Elements<Int>()[0] = 4;
  channels->Elements<Int>()[1] = 4;
  return RasterisePolygons(polygons, channels, pixmaps, &SpanPixelTest);
}

// --- direct tests ------------------------------------------------------------

Array* CollideImageLayers(TImage* image, Float x, Float y, Int frame, Int collideMask,
                          Int writeMask, Object* id) {
  CheckedImage(image, frame);
  return Collide(image, frame, x, y, static_cast<Float>(image->width),
                 static_cast<Float>(image->height), collideMask, writeMask, id);
}

Array* CollideRectLayers(Float x, Float y, Float width, Float height, Int collideMask,
                         Int writeMask, Object* id) {
  return Collide(nullptr, 0, x, y, width, height, collideMask, writeMask, id);
}

Int ImagesOverlap(TImage* image1, Float x1, Float y1, Int frame1, TImage* image2, Float x2,
                  Float y2, Int frame2) {
  CheckedImage(image2, frame2);
  ResetCollisionLayers(kScratchLayer);
  CollideImageLayers(image1, x1, y1, frame1, 0, kScratchLayer, nullptr);
  return CollideImageLayers(image2, x2, y2, frame2, kScratchLayer, 0, nullptr)->Length() > 0;
}

Int ImagesOverlapTransformed(TImage* image1, Float x1, Float y1, Int frame1, Float rotation1,
                             Float scaleX1, Float scaleY1, TImage* image2, Float x2, Float y2,
                             Int frame2, Float rotation2, Float scaleX2, Float scaleY2) {
  // Checked before the draw state changes, so that a refused argument
  // cannot leave the caller's rotation and scale behind.
  CheckedImage(image1, frame1);
  CheckedImage(image2, frame2);
  const Float rotation = GetDrawRotation();
  Float scaleX, scaleY;
  GetDrawScale(&scaleX, &scaleY);
  ResetCollisionLayers(kScratchLayer);
  SetDrawRotation(rotation1);
  SetDrawScale(scaleX1, scaleY1);
  CollideImageLayers(image1, x1, y1, frame1, 0, kScratchLayer, nullptr);
  SetDrawRotation(rotation2);
  SetDrawScale(scaleX2, scaleY2);
  const Int hit = CollideImageLayers(image2, x2, y2, frame2, kScratchLayer, 0, nullptr)->Length();
  SetDrawRotation(rotation);
  SetDrawScale(scaleX, scaleY);
  return hit > 0;
}

// --- state for tests -----------------------------------------------------------

TQuad* CollisionLayerHead(Int layer) {
  InitCollisionLayers();
  return layer >= 0 && layer < kLayerCount ? Head(layer) : nullptr;
}

TQuad* CollisionQuadPool() { return pool.get(); }
