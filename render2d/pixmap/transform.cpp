// Operations that make a new pixmap from an old one: colour-key masking,
// mirroring and bilinear resizing. None of them changes its source.
#include <cmath>
#include <cstring>
#include <memory>

#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"

namespace {

constexpr Int kInternalAlign = 4;

TPixmap* Need(TPixmap* p) {
  if (!p) kxRaiseNullAccess();
  return p;
}

TPixmap* AsRgba32(TPixmap* p) {
  return p->format == PIXFMT_RGBA32 ? p : p->ConvertTo(PIXFMT_RGBA32);
}

bool IsKey(const uint8_t* px, Int red, Int green, Int blue) {
  return px[0] == red && px[1] == green && px[2] == blue;
}

}  // namespace

// Key pixels become transparent and take the average colour of their
// non-key neighbours, so that a filtered texture does not bleed the key
// colour into the edges of what it surrounds.
TPixmap* ColorKeyPixmap(TPixmap* p, Int red, Int green, Int blue) {
  TPixmap* s = AsRgba32(Need(p));
  TPixmap* out = TPixmap::Allocate(s->width, s->height, PIXFMT_RGBA32, kInternalAlign);
  const Int w = s->width, h = s->height;
  for (Int y = 0; y < h; ++y) {
    const uint8_t* src = s->PixelAddress(0, y);
    uint8_t* dst = out->PixelAddress(0, y);
    for (Int x = 0; x < w; ++x, src += 4, dst += 4) {
      if (!IsKey(src, red, green, blue)) {
        dst[0] = src[0], dst[1] = src[1], dst[2] = src[2], dst[3] = 255;
        continue;
      }
      Int sum[3] = {0, 0, 0};
      Int count = 0;
      for (Int ny = y - 1; ny <= y + 1; ++ny) {
        if (ny < 0 || ny >= h) continue;
        for (Int nx = x - 1; nx <= x + 1; ++nx) {
          if (nx < 0 || nx >= w) continue;
          const uint8_t* n = s->PixelAddress(nx, ny);
          if (IsKey(n, red, green, blue)) continue;
          sum[0] += n[0], sum[1] += n[1], sum[2] += n[2];
          ++count;
        }
      }
      for (int c = 0; c < 3; ++c) dst[c] = static_cast<uint8_t>(count ? sum[c] / count : 0);
      dst[3] = 0;
    }
  }
  return out;
}

TPixmap* MirrorPixmapX(TPixmap* p) {
  Need(p);
  TPixmap* out = TPixmap::Allocate(p->width, p->height, p->format, kInternalAlign);
  for (Int i = 0; i < p->width; ++i)
    out->PasteFrom(p->SubWindow(p->width - 1 - i, 0, 1, p->height), i, 0);
  return out;
}

TPixmap* MirrorPixmapY(TPixmap* p) {
  Need(p);
  TPixmap* out = TPixmap::Allocate(p->width, p->height, p->format, kInternalAlign);
  for (Int i = 0; i < p->height; ++i)
    out->PasteFrom(p->SubWindow(0, p->height - 1 - i, p->width, 1), 0, i);
  return out;
}

namespace {

// Where one output column or row samples the source: the first source
// index, the weight of the next one, and the byte step to it (0 at the
// clamped edges, so the next sample is the same pixel).
struct Tap {
  Int index;
  Float frac;
  Int step;
};

Tap MakeTap(Int i, Float ratio, Int sourceSize, Int stepInside) {
  Float pos = (static_cast<Float>(i) + 0.5f) * ratio - 0.5f;
  Float base = std::floor(pos);
  if (base < 0.0f) return Tap{0, 0.0f, 0};
  if (base >= static_cast<Float>(sourceSize - 1)) return Tap{sourceSize - 1, 0.0f, 0};
  Int index = static_cast<Int>(base);
  return Tap{index, pos - base, stepInside};
}

Float Lerp(Float a, Float b, Float f) { return a + (b - a) * f; }

}  // namespace

// Bilinear resampling with pixel centres aligned, in 32-bit floats.
TPixmap* ScalePixmap(TPixmap* p, Int newWidth, Int newHeight) {
  TPixmap* s = AsRgba32(Need(p));
  TPixmap* out = TPixmap::Allocate(newWidth, newHeight, p->format, kInternalAlign);
  const Int ow = out->width, oh = out->height;
  if (ow == 0 || oh == 0) return out;
  std::unique_ptr<uint8_t[]> scratch(new uint8_t[static_cast<size_t>(ow) * 4]);
  if (s->width == 0 || s->height == 0) {
    // Nothing to sample: transparent black rather than reads outside the source.
    std::memset(scratch.get(), 0, static_cast<size_t>(ow) * 4);
    for (Int i = 0; i < oh; ++i)
      ConvertPixels(scratch.get(), PIXFMT_RGBA32, out->PixelAddress(0, i), out->format, ow);
    return out;
  }
  const Float xRatio = static_cast<Float>(s->width) / static_cast<Float>(ow);
  const Float yRatio = static_cast<Float>(s->height) / static_cast<Float>(oh);
  // Every row uses the same columns: work them out once.
  std::unique_ptr<Tap[]> cols(new Tap[static_cast<size_t>(ow)]);
  for (Int j = 0; j < ow; ++j) cols[j] = MakeTap(j, xRatio, s->width, 4);

  for (Int i = 0; i < oh; ++i) {
    const Tap row = MakeTap(i, yRatio, s->height, s->pitch);
    const uint8_t* srcRow = s->PixelAddress(0, row.index);
    uint8_t* dst = scratch.get();
    for (Int j = 0; j < ow; ++j, dst += 4) {
      const Tap& col = cols[j];
      const uint8_t* a = srcRow + static_cast<ptrdiff_t>(col.index) * 4;
      const uint8_t* b = a + col.step;
      const uint8_t* d = a + row.step;
      const uint8_t* e = d + col.step;
      for (int c = 0; c < 4; ++c) {
        Float top = Lerp(a[c], b[c], col.frac);
        Float bottom = Lerp(d[c], e[c], col.frac);
        dst[c] = static_cast<uint8_t>(static_cast<Int>(Lerp(top, bottom, row.frac)));
      }
    }
    ConvertPixels(scratch.get(), PIXFMT_RGBA32, out->PixelAddress(0, i), out->format, ow);
  }
  return out;
}
