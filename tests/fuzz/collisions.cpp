// Collisions: random placed quads (NaN, infinities and huge values among
// their corners) with random pixels, tested pairwise and through the 32
// layers. Axis-aligned quads at whole pixels are checked against a
// pixel-by-pixel reference; every pair must agree in both orders and with
// either winding.
#include <algorithm>
#include <vector>

#include "render2d/collision.h"
#include "render2d/pixmap/pixmap.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// Alpha of 128 or more is solid; the other bits are noise.
TPixmap* TakePixels(FuzzInput& in, Int w, Int h) {
  TPixmap* p = NewPixmap(w, h, in.Byte() % 16 == 0 ? PIXFMT_BGRA32 : PIXFMT_RGBA32, 4);
  const uint8_t density = in.Byte();
  for (Int y = 0; y < h; ++y)
    for (Int x = 0; x < w; ++x) {
      const uint8_t alpha = in.Byte() < density ? 0x80 | in.Byte() : in.Byte() & 0x7f;
      p->SetPixel(x, y, Int(uint32_t(alpha) << 24 | 0x123456));
    }
  return p;
}

bool Solid(TQuad* q, Int x, Int y) {
  if (!q->pixmap) return true;
  if (q->pixmap->format != PIXFMT_RGBA32) return false;
  return (q->pixmap->GetPixel(x, y) >> 31) != 0;
}

struct Box {
  Int x, y, w, h;
};

TQuad* AxisQuad(FuzzInput& in, Box* box) {
  *box = {in.Range(-12, 12), in.Range(-12, 12), in.Range(1, 12), in.Range(1, 12)};
  TQuad* q = New<TQuad>();
  const Float x0 = Float(box->x), y0 = Float(box->y);
  const Float x1 = Float(box->x + box->w), y1 = Float(box->y + box->h);
  // Either winding: mirrored quads must collide the same.
  if (in.Flag())
    q->SetCorners(x0, y0, x1, y0, x1, y1, x0, y1);
  else
    q->SetCorners(x1, y0, x0, y0, x0, y1, x1, y1);
  if (in.Byte() % 4 != 0) q->pixmap = TakePixels(in, box->w, box->h);
  return q;
}

// The pixels of q, left to right: the mirrored corners above swap u.
bool SolidAt(TQuad* q, const Box& b, Int sx, Int sy) {
  const bool mirrored = q->corners->Elements<Float>()[0] > q->corners->Elements<Float>()[4];
  const Int u = sx - b.x, v = sy - b.y;
  return Solid(q, mirrored ? b.w - 1 - u : u, v);
}

void CheckAgainstReference(FuzzInput& in) {
  Box ba, bb;
  TQuad* a = AxisQuad(in, &ba);
  TQuad* b = AxisQuad(in, &bb);
  bool want = false;
  for (Int y = std::max(ba.y, bb.y); y < std::min(ba.y + ba.h, bb.y + bb.h) && !want; ++y)
    for (Int x = std::max(ba.x, bb.x); x < std::min(ba.x + ba.w, bb.x + bb.w) && !want; ++x)
      want = SolidAt(a, ba, x, y) && SolidAt(b, bb, x, y);
  FUZZ_CHECK((QuadsOverlap(a, b) != 0) == want);
  FUZZ_CHECK((QuadsOverlap(b, a) != 0) == want);
}

// Mostly near the origin, so that quads meet. A far quad may reach past
// 46341 pixels a side (where a 32-bit cross product overflows); only one
// quad of a pair does, because a pixel test costs the rows both span and
// the area they share. Values past the +-2^24 limit are refused whole.
Float Coordinate(FuzzInput& in, bool far) {
  static const Float kRefused[] = {NAN, INFINITY, -INFINITY, 2e7f, -1e30f};
  static const Float kFar[] = {46341.0f, -46341.0f, 50000.0f, 65536.0f, -65536.0f};
  switch (in.Byte() % (far ? 4 : 16)) {
    case 0: return kRefused[in.Byte() % 5];
    case 1: return far ? kFar[in.Byte() % 5] : Float(in.Range(-400, 400)) / 4.0f;
    default: return Float(in.Range(-400, 400)) / 4.0f;
  }
}

// A placed frame is always a parallelogram: a corner and two edges, in
// either winding (a mirroring transform swaps them), possibly flat.
TQuad* AnyQuad(FuzzInput& in, bool far) {
  TQuad* q = New<TQuad>();
  const Float x = Coordinate(in, far), y = Coordinate(in, far);
  const Float ux = Coordinate(in, far), uy = Coordinate(in, far);
  const Float vx = Coordinate(in, far), vy = Coordinate(in, far);
  q->SetCorners(x, y, x + ux, y + uy, x + ux + vx, y + uy + vy, x + vx, y + vy);
  if (in.Flag()) q->pixmap = TakePixels(in, in.Range(0, 6), in.Range(0, 6));
  return q;
}

bool Finite(TQuad* q) {
  const Float* c = q->corners->Elements<Float>();
  for (Int k = 0; k < 16; k += 4)
    if (!(std::fabs(c[k]) <= 16777216.0f && std::fabs(c[k + 1]) <= 16777216.0f)) return false;
  return true;
}

// The same textured polygon with its corners in the opposite order, as a
// mirrored transform gives it.
TQuad* Reversed(TQuad* q) {
  TQuad* r = New<TQuad>();
  const Float* from = q->corners->Elements<Float>();
  Float* to = r->corners->Elements<Float>();
  for (Int k = 0; k < 4; ++k) std::memcpy(to + 4 * k, from + 4 * (3 - k), 4 * sizeof(Float));
  r->minX = q->minX, r->minY = q->minY, r->maxX = q->maxX, r->maxY = q->maxY;
  r->pixmap = q->pixmap.get();
  return r;
}

void CheckAnyPair(FuzzInput& in) {
  TQuad* a = AnyQuad(in, true);
  TQuad* b = AnyQuad(in, false);
  TQuad* mirrored = Reversed(a);
  const Int ab = QuadsOverlap(a, b);
  FUZZ_CHECK(ab == 0 || ab == -1);
  FUZZ_CHECK(QuadsOverlap(b, a) == ab);
  FUZZ_CHECK(QuadsOverlap(a, b) == ab);  // the rewinding in place changed nothing
  FUZZ_CHECK(QuadsOverlap(mirrored, b) == ab);
  if (!Finite(a) || !Finite(b)) FUZZ_CHECK(ab == 0);
}

// Quads written into layers, each remembered with its id and layer.
struct Written {
  Ref<TQuad> quad;  // the model's own reference: it lives on the heap, unscanned
  Object* id;
  Int layer;
};

void CheckLayers(FuzzInput& in) {
  ResetCollisionLayers(0);
  for (Int i = 0; i < 32; ++i) FUZZ_CHECK(CollisionLayerHead(i) == nullptr);
  std::vector<Written> written;
  const Int steps = in.Range(1, 12);
  for (Int s = 0; s < steps; ++s) {
    Box box;
    TQuad* q = in.Flag() ? AxisQuad(in, &box) : AnyQuad(in, false);
    q->id = kxStringFromInt(s);
    const Int collide = in.Flag() ? in.Take<Int>() : Int(1u << in.Range(0, 31)) | 1;
    const Int write = in.Flag() ? Int(1u << in.Range(0, 31)) : in.Take<Int>() & 0x8000000f;
    if (in.Byte() % 8 == 0) {
      const Int reset = in.Take<Int>();
      ResetCollisionLayers(reset);
      std::vector<Written> kept;
      for (const Written& w : written)
        if (reset != 0 && !(uint32_t(reset) >> w.layer & 1)) kept.push_back(w);
      written = kept;
    }
    std::vector<Object*> want;
    for (const Written& w : written)
      if (uint32_t(collide) >> w.layer & 1 && QuadsOverlap(q, w.quad)) want.push_back(w.id);
    Array* hits = CollideQuad(q, collide, write);
    std::vector<Object*> got(hits->RefElements(), hits->RefElements() + hits->Length());
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    FUZZ_CHECK(got == want);
    for (Int layer = 0; layer < 32; ++layer)
      if (uint32_t(write) >> layer & 1) written.push_back({q, q->id, layer});
  }
  ResetCollisionLayers(0);
  for (Int i = 0; i < 32; ++i) FUZZ_CHECK(CollisionLayerHead(i) == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0), [] { InitPixmapModule(); });
  FuzzInput in(data, size);
  while (!in.Empty()) {
    switch (in.Byte() % 3) {
      case 0: CheckAgainstReference(in); break;
      case 1: CheckAnyPair(in); break;
      default: CheckLayers(in); break;
    }
  }
  kxCollectGarbage();
  return 0;
}
