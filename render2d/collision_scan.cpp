// Scan conversion of collision polygons and the per-span pixel test.
//
// Polygons are walked one integer scanline at a time. Each keeps a left and
// a right edge; an edge runs between two vertices S and E whose integer rows
// bracket the scanline, and its values (x, y and any further channels such
// as texture u, v) start half a row past S and then advance one step per
// row. The left edge walks the vertex list backwards from the top vertex,
// the right edge forwards, which is why the winding is normalised first.
//
// Integer rows are trunc() of the float y. Every value stays a 32-bit
// float, so results do not depend on the compiler keeping wider temporaries.
#include <cstdint>
#include <cstring>

#include "render2d/collision.h"
#include "render2d/pixmap/pixmap.h"

KX_CLASS_RECORD(rpoly)

namespace {

// Grown to the longest span seen and never shrunk: the test runs for every
// scanline of every quad pair, and should not allocate there.
Ref<Array> scratch;

// Float to Int toward zero; NaN and values outside Int give INT32_MIN, as
// every float conversion of the runtime does.
inline Int Trunc(Float v) {
  if (!(v > -2147483648.0f && v < 2147483648.0f)) return INT32_MIN;
  return static_cast<Int>(v);
}

inline Float* Floats(Array* a) { return a->Elements<Float>(); }

inline Int RowOf(rpoly* p, Int index) { return Trunc(Floats(p->vertexData)[index + 1]); }

inline Int Prev(rpoly* p, Int index) {
  return index == 0 ? p->usedFloats - p->channels : index - p->channels;
}
inline Int Next(rpoly* p, Int index) { return (index + p->channels) % p->usedFloats; }

// Starts the next edge of one side at scanline y, from the vertex the
// side's previous edge ended at. False when no vertex lies below y any
// more: the polygon has been scanned completely.
bool StartEdge(rpoly* p, Int* index, Array* values, Array* steps, Int y, bool forwards) {
  Int from = *index;
  Int start = from;
  Int at = forwards ? Next(p, from) : Prev(p, from);
  while (at != from && RowOf(p, at) <= y) {
    start = at;
    at = forwards ? Next(p, at) : Prev(p, at);
  }
  if (at == from) return false;
  // Rows are Ints within Float's exact range for any quad that gets here,
  // but the difference is taken wide so that no input can overflow it.
  Long rows = static_cast<Long>(RowOf(p, at)) - RowOf(p, start);
  if (rows <= 0) return false;
  const Float d = static_cast<Float>(rows);
  const Float* v = Floats(p->vertexData);
  Float* value = Floats(values);
  Float* step = Floats(steps);
  for (Int c = 0; c < p->channels; ++c) {
    step[c] = (v[at + c] - v[start + c]) / d;
    value[c] = v[start + c] + step[c] * 0.5f;
  }
  *index = at;
  return true;
}

rpoly* MakeScanState(TPixmap* pixmap, Array* vertexData, Int channels) {
  rpoly* p = New<rpoly>();
  p->pixmap = pixmap;
  p->vertexData = vertexData;
  p->channels = channels;
  p->vertexCount = channels > 0 ? vertexData->Length() / channels : 0;
  p->usedFloats = p->vertexCount * channels;
  p->leftValues = kxArrayNewOneDim("f", channels);
  p->leftSteps = kxArrayNewOneDim("f", channels);
  p->rightValues = kxArrayNewOneDim("f", channels);
  p->rightSteps = kxArrayNewOneDim("f", channels);
  return p;
}

void Finish(rpoly* p, Array* active, Int* count) {
  if (p->state == RPOLY_ACTIVE) {
    Object** list = active->RefElements();
    Int at = 0;
    while (list[at] != p) ++at;
    // Keep insertion order: the span test reads the first two entries.
    kxRetain(p);
    for (; at + 1 < *count; ++at) kxArraySetRef(active, at, list[at + 1]);
    kxArraySetRef(active, *count - 1, nullptr);
    *count -= 1;
    kxRelease(p);
  }
  p->state = RPOLY_FINISHED;
}

void Advance(Array* values, Array* steps, Int channels) {
  Float* value = Floats(values);
  const Float* step = Floats(steps);
  for (Int c = 0; c < channels; ++c) value[c] += step[c];
}

// Marks the span's pixels that one polygon makes opaque. True when one of
// them was already marked by an earlier polygon.
bool MarkSpan(rpoly* p, Int* slots, Int s, Int len) {
  if (!p->pixmap) {
    for (Int i = 0; i < len; ++i) {
      if (slots[i] != 0) return true;
      slots[i] = -1;
    }
    return false;
  }
  TPixmap* pm = p->pixmap;
  // Quads are given RGBA32 pixels when they are made; anything else (an
  // unknown format, an empty pixmap) is never read and counts as clear.
  if (pm->format != PIXFMT_RGBA32 || pm->width <= 0 || pm->height <= 0 || !pm->pixels ||
      p->channels < 4) {
    return false;
  }
  const Float* left = Floats(p->leftValues);
  const Float* right = Floats(p->rightValues);
  const Int e = Trunc(left[0]), f = Trunc(right[0]);
  if (static_cast<Long>(f) - e < 1) return false;
  const Float w = static_cast<Float>(static_cast<Long>(f) - e);
  const Float du = (right[2] - left[2]) / w;
  const Float dv = (right[3] - left[3]) / w;
  const Float c = static_cast<Float>(static_cast<Long>(s) - e) + 0.5f;
  Float u = left[2] + c * du;
  Float v = left[3] + c * dv;
  const Int width = pm->width, height = pm->height;
  for (Int i = 0; i < len; ++i) {
    u = u >= 0.0f ? (u > 1.0f ? 1.0f : u) : 0.0f;
    v = v >= 0.0f ? (v > 1.0f ? 1.0f : v) : 0.0f;
    Int column = static_cast<Int>(u * static_cast<Float>(width));
    Int row = static_cast<Int>(v * static_cast<Float>(height));
    if (column > width - 1) column = width - 1;
    if (row > height - 1) row = height - 1;
    // Rows are found through the byte pitch, which also serves windows
    // whose pitch is not a whole number of pixels.
    uint32_t pixel;
    std::memcpy(&pixel, pm->pixels + static_cast<size_t>(row) * pm->pitch + column * 4u, 4);
    if (pixel & 0x80000000u) {
      if (slots[i] != 0) return true;
      slots[i] = static_cast<Int>(pixel);
    }
    u += du;
    v += dv;
  }
  return false;
}

}  // namespace

Int EdgeCross(Float x0, Float y0, Float x1, Float y1, Float x2, Float y2) {
  // In double and clamped: a quad of more than 46341 pixels a side makes a
  // product past 2^31, which as a float truncation would come out INT32_MIN
  // whatever its sign and turn a mirrored quad's winding test round.
  const Double d = (Double(y1) - y0) * (Double(x2) - x1) - (Double(x1) - x0) * (Double(y2) - y1);
  if (!(d > -2147483648.0)) return INT32_MIN;  // NaN included
  if (d >= 2147483647.0) return INT32_MAX;
  return static_cast<Int>(d);
}

void NormaliseWinding(Array* vertexData, Int channels) {
  if (!vertexData || channels < 2) return;
  const Int n = vertexData->Length() / channels;
  Float* v = Floats(vertexData);
  for (Int i = 2; i < n; ++i) {
    const Float* a = v;
    const Float* b = v + (i - 1) * channels;
    const Float* c = v + i * channels;
    if (EdgeCross(a[0], a[1], b[0], b[1], c[0], c[1]) < 0) return;
  }
  for (Int k = 0; k < n / 2; ++k) {
    Float* a = v + k * channels;
    Float* b = v + (n - 1 - k) * channels;
    for (Int c = 0; c < channels; ++c) {
      const Float t = a[c];
      a[c] = b[c];
      b[c] = t;
    }
  }
}

Int RasterisePolygons(Array* polygons, Array* channels, Array* pixmaps, SpanCallback callback) {
  const Int n = polygons->Length();
  Array* polys = kxArrayNewOneDim(":rpoly", n);
  Int minY = INT32_MAX, maxY = INT32_MIN;
  for (Int j = 0; j < n; ++j) {
    auto* data = static_cast<Array*>(polygons->RefElements()[j]);
    auto* pixmap = static_cast<TPixmap*>(pixmaps->RefElements()[j]);
    rpoly* p = MakeScanState(pixmap, data, channels->Elements<Int>()[j]);
    kxArraySetRef(polys, j, p);
    // Fewer than three vertices, or no x and y, enclose no pixel.
    if (p->channels < 2 || p->vertexCount < 3) {
      p->state = RPOLY_FINISHED;
      continue;
    }
    NormaliseWinding(data, p->channels);
    Int top = 0;
    for (Int k = p->channels; k < p->usedFloats; k += p->channels)
      if (RowOf(p, k) < RowOf(p, top)) top = k;
    p->leftIndex = p->rightIndex = top;
    p->topY = RowOf(p, top);
    for (Int k = 0; k < p->usedFloats; k += p->channels) {
      const Int row = RowOf(p, k);
      if (row < minY) minY = row;
      if (row > maxY) maxY = row;
    }
  }

  Array* active = kxArrayNewOneDim(":rpoly", n);
  Int count = 0;
  Int result = 0;
  for (Int y = minY; y < maxY; ++y) {
    for (Int j = 0; j < n; ++j) {
      auto* p = static_cast<rpoly*>(polys->RefElements()[j]);
      if (p->state == RPOLY_FINISHED) continue;
      if (p->state == RPOLY_WAITING && y < p->topY) continue;
      if (y >= RowOf(p, p->leftIndex)) {
        if (!StartEdge(p, &p->leftIndex, p->leftValues, p->leftSteps, y, false)) {
          Finish(p, active, &count);
          continue;
        }
        if (p->state == RPOLY_WAITING) {
          p->state = RPOLY_ACTIVE;
          kxArraySetRef(active, count++, p);
        }
      }
      if (y >= RowOf(p, p->rightIndex) &&
          !StartEdge(p, &p->rightIndex, p->rightValues, p->rightSteps, y, true)) {
        Finish(p, active, &count);
      }
    }
    if (count != 0) {
      result = callback(active, count, y);
      if (result < 0) return result;
    }
    for (Int k = 0; k < count; ++k) {
      auto* p = static_cast<rpoly*>(active->RefElements()[k]);
      Advance(p->leftValues, p->leftSteps, p->channels);
      Advance(p->rightValues, p->rightSteps, p->channels);
    }
  }
  return result;
}

Int SpanPixelTest(Array* active, Int count, Int y) {
  if (count < 2) return 0;
  auto* a = static_cast<rpoly*>(active->RefElements()[0]);
  auto* b = static_cast<rpoly*>(active->RefElements()[1]);
  const Int l1 = Trunc(Floats(a->leftValues)[0]), r1 = Trunc(Floats(a->rightValues)[0]);
  const Int l2 = Trunc(Floats(b->leftValues)[0]), r2 = Trunc(Floats(b->rightValues)[0]);
  if (l2 >= r1 || l1 >= r2) return 0;
  const Int s = l1 > l2 ? l1 : l2;
  const Long wide = static_cast<Long>(r1 < r2 ? r1 : r2) - s;
  if (wide <= 0) return 0;
  const Int len = static_cast<Int>(wide);  // quads are bounded well inside Int

  if (!scratch || scratch->Length() < len) scratch = kxArrayNewOneDim("i", len);
  Int* slots = scratch->Elements<Int>();
  std::memset(slots, 0, sizeof(Int) * static_cast<size_t>(len));
  for (Int k = 0; k < count; ++k) {
    if (MarkSpan(static_cast<rpoly*>(active->RefElements()[k]), slots, s, len)) return -1;
  }
  return 0;
}

Int CollisionScratchLength() { return scratch ? scratch->Length() : 0; }
