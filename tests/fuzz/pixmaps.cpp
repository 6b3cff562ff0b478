// Pixmaps: random sizes, alignments and pitches in every format; each
// format pair conversion, pixel access, windows, pastes, mirrors, colour
// keys and scaling, checked against the pixels they started from.
#include <algorithm>
#include <string>
#include <vector>

#include "render2d/pixmap/pixmap.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// Pixel bytes of a row, compared without the padding up to the pitch.
bool SameBytes(TPixmap* a, TPixmap* b) {
  if (a->width != b->width || a->height != b->height || a->format != b->format) return false;
  const size_t row = size_t(a->width) * PixelFormatBytes(a->format);
  for (Int y = 0; y < a->height; ++y)
    if (row && std::memcmp(a->PixelAddress(0, y), b->PixelAddress(0, y), row) != 0) return false;
  return true;
}

Int Channel(Int argb, int shift) { return (argb >> shift) & 0xff; }

// The value a pixel of format takes when argb is written into it, found
// through the working format's conversion (one pixel, wrapped memory).
Int Stored(Int argb, Int format) {
  static Ref<TPixmap> working, stored[7];
  static uint8_t from[4], to[7][4];
  if (!working) {
    working = WrapPixmapMemory(from, 1, 1, 4, PIXFMT_RGBA32);
    for (Int f = 1; f <= 6; ++f) stored[f] = WrapPixmapMemory(to[f], 1, 1, 4, f);
  }
  working->SetPixel(0, 0, argb);
  ConvertPixels(from, PIXFMT_RGBA32, to[format], format, 1);
  return stored[format]->GetPixel(0, 0);
}

void CheckAllocation(FuzzInput& in, Int width, Int height, Int format, Int align, TPixmap* p) {
  const Long row = Long(width < 0 ? 0 : width) * PixelFormatBytes(format);
  const Long a = align < 1 ? 1 : align;
  FUZZ_CHECK(p->pitch == (row + a - 1) / a * a);
  FUZZ_CHECK(p->capacity == Long(p->pitch) * p->height && p->height == std::max(height, 0));
  // Past 32 bits of bytes: a runtime error, never a short allocation.
  FUZZ_CHECK(
      *RaisedText([&] { NewPixmap(1 << 16, (1 << 15) + in.Range(0, 9), PIXFMT_RGBA32, 1); }) != 0);
}

void CheckConversions(TPixmap* p) {
  TPixmap* working = p->ConvertTo(PIXFMT_RGBA32);
  FUZZ_CHECK(SameBytes(working->ConvertTo(p->format), p));  // the working format loses nothing
  for (Int y = 0; y < p->height; ++y)
    for (Int x = 0; x < p->width; ++x) FUZZ_CHECK(working->GetPixel(x, y) == p->GetPixel(x, y));
  for (Int format = 1; format <= 6; ++format) {
    TPixmap* direct = p->ConvertTo(format);
    FUZZ_CHECK(SameBytes(direct, working->ConvertTo(format)));
    for (Int y = 0; y < p->height; ++y)
      for (Int x = 0; x < p->width; ++x)
        FUZZ_CHECK(direct->GetPixel(x, y) == Stored(p->GetPixel(x, y), format));
  }
}

void CheckPixelWrites(FuzzInput& in, TPixmap* p) {
  if (p->width == 0 || p->height == 0) return;
  const Int x = in.Range(0, p->width - 1), y = in.Range(0, p->height - 1);
  const Int argb = in.Take<Int>();
  p->SetPixel(x, y, argb);
  FUZZ_CHECK(p->GetPixel(x, y) == Stored(argb, p->format));
}

void CheckWindowAndPaste(FuzzInput& in, TPixmap* p) {
  if (p->width == 0 || p->height == 0) return;
  const Int x = in.Range(0, p->width - 1), y = in.Range(0, p->height - 1);
  const Int w = in.Range(0, p->width - x), h = in.Range(0, p->height - y);
  TPixmap* window = p->SubWindow(x, y, w, h);
  FUZZ_CHECK(window->width == w && window->height == h && window->capacity == -1);
  for (Int j = 0; j < h; ++j)
    for (Int i = 0; i < w; ++i) FUZZ_CHECK(window->GetPixel(i, j) == p->GetPixel(x + i, y + j));
  TPixmap* copy = window->Duplicate();
  FUZZ_CHECK(SameBytes(copy, window) && (w == 0 || h == 0 || copy->pixels != window->pixels));

  // Pasted into a pixmap of another format, each pixel arrives converted.
  const Int format = in.Range(1, 6);
  TPixmap* target = NewPixmap(w + 3, h + 2, format, in.Range(1, 8));
  const Int tx = in.Range(0, 3), ty = in.Range(0, 2);
  target->PasteFrom(window, tx, ty);
  for (Int j = 0; j < h; ++j)
    for (Int i = 0; i < w; ++i)
      FUZZ_CHECK(target->GetPixel(tx + i, ty + j) == Stored(window->GetPixel(i, j), format));
}

bool Inside(Int first, Int count, Int size) {
  return first >= 0 && Long(first) + std::max(count, 0) <= size;
}

// Coordinates anywhere: the index error exactly when the pixel, window or
// pasted rectangle leaves the pixmap, and nothing written then.
void CheckOutside(FuzzInput& in, TPixmap* p) {
  static const std::string index = [] {
    String* s = kxErrorText(New<TIndexRangeError>());
    return std::string(s->units, s->units + s->length);
  }();
  auto raisesIndex = [&](auto f) {
    const char* text = RaisedText(f);
    FUZZ_CHECK(*text == 0 || index == text);
    return *text != 0;
  };
  const Int x = in.Position(), y = in.Position(), w = in.Position(), h = in.Position();
  const bool pixel = Inside(x, 1, p->width) && Inside(y, 1, p->height);
  Int got = 0;
  FUZZ_CHECK(raisesIndex([&] { got = GetPixmapPixel(p, x, y); }) != pixel);
  TPixmap* before = p->Duplicate();
  const Int argb = in.Take<Int>();
  FUZZ_CHECK(raisesIndex([&] { SetPixmapPixel(p, x, y, argb); }) != pixel);
  if (pixel) FUZZ_CHECK(p->GetPixel(x, y) == Stored(argb, p->format));
  if (!pixel) FUZZ_CHECK(SameBytes(p, before));
  FUZZ_CHECK(raisesIndex([&] { PixmapPixelAddress(p, x, y); }) !=
             (Inside(x, 0, p->width) && Inside(y, 0, p->height)));
  TPixmap* window = nullptr;
  const bool fits = Inside(x, w, p->width) && Inside(y, h, p->height);
  FUZZ_CHECK(raisesIndex([&] { window = PixmapSubWindow(p, x, y, w, h); }) != fits);
  if (window)
    FUZZ_CHECK(SameBytes(ClonePixmap(window), window) &&
               SameBytes(MirrorPixmapX(MirrorPixmapX(window)), window));
  // A small source pasted anywhere.
  TPixmap* source = NewPixmap(in.Range(0, 5), in.Range(0, 5), in.Range(1, 6), 1);
  std::memset(source->pixels, 0x5a, size_t(source->capacity));
  const bool empty = source->width == 0 || source->height == 0;
  const bool lands = empty ||
                     (Inside(x, source->width, p->width) && Inside(y, source->height, p->height));
  before = p->Duplicate();
  FUZZ_CHECK(raisesIndex([&] { p->PasteFrom(source, x, y); }) != lands);
  if (!lands || empty) FUZZ_CHECK(SameBytes(p, before));
}

void CheckMirrors(TPixmap* p) {
  TPixmap* mx = MirrorPixmapX(p);
  TPixmap* my = MirrorPixmapY(p);
  for (Int y = 0; y < p->height; ++y)
    for (Int x = 0; x < p->width; ++x) {
      FUZZ_CHECK(mx->GetPixel(x, y) == p->GetPixel(p->width - 1 - x, y));
      FUZZ_CHECK(my->GetPixel(x, y) == p->GetPixel(x, p->height - 1 - y));
    }
  FUZZ_CHECK(SameBytes(MirrorPixmapX(mx), p) && SameBytes(MirrorPixmapY(my), p));
}

void CheckColorKey(FuzzInput& in, TPixmap* p) {
  Int key = in.Take<Int>() & 0xffffff;
  if (p->width > 0 && p->height > 0 && in.Flag())
    key = p->GetPixel(in.Range(0, p->width - 1), in.Range(0, p->height - 1)) & 0xffffff;
  TPixmap* out = ColorKeyPixmap(p, Channel(key, 16), Channel(key, 8), Channel(key, 0));
  FUZZ_CHECK(out->format == PIXFMT_RGBA32 && out->width == p->width && out->height == p->height);
  for (Int y = 0; y < p->height; ++y)
    for (Int x = 0; x < p->width; ++x) {
      const Int rgb = p->GetPixel(x, y) & 0xffffff;
      const Int got = out->GetPixel(x, y);
      if (rgb != key) {
        FUZZ_CHECK(got == Int(0xff000000u | uint32_t(rgb)));
        continue;
      }
      // A key pixel is clear and takes a colour within its neighbours'.
      FUZZ_CHECK(Channel(got, 24) == 0);
      for (int shift : {0, 8, 16}) {
        Int lo = 255, hi = 0;
        for (Int j = std::max(y - 1, 0); j <= std::min(y + 1, p->height - 1); ++j)
          for (Int i = std::max(x - 1, 0); i <= std::min(x + 1, p->width - 1); ++i) {
            const Int n = p->GetPixel(i, j) & 0xffffff;
            if (n == key) continue;
            lo = std::min(lo, Channel(n, shift));
            hi = std::max(hi, Channel(n, shift));
          }
        if (lo > hi) lo = hi = 0;  // no uncovered neighbour: black
        FUZZ_CHECK(Channel(got, shift) >= lo && Channel(got, shift) <= hi);
      }
    }
}

void CheckScale(FuzzInput& in, TPixmap* p) {
  const Int w = in.Range(-2, 40), h = in.Range(-2, 40);
  TPixmap* s = ScalePixmap(p, w, h);
  FUZZ_CHECK(s->width == std::max(w, 0) && s->height == std::max(h, 0) && s->format == p->format);
  FUZZ_CHECK(SameBytes(ScalePixmap(p, p->width, p->height), p));
  if (p->width == 0 || p->height == 0) return;
  // Bilinear samples stay within the range of the source's channels.
  TPixmap* src = p->ConvertTo(PIXFMT_RGBA32);
  TPixmap* out = s->ConvertTo(PIXFMT_RGBA32);
  for (Int c = 0; c < 4; ++c) {
    Int lo = 255, hi = 0;
    for (Int y = 0; y < src->height; ++y)
      for (Int x = 0; x < src->width; ++x) {
        lo = std::min<Int>(lo, src->PixelAddress(x, y)[c]);
        hi = std::max<Int>(hi, src->PixelAddress(x, y)[c]);
      }
    for (Int y = 0; y < out->height; ++y)
      for (Int x = 0; x < out->width; ++x) {
        const Int v = out->PixelAddress(x, y)[c];
        FUZZ_CHECK(v >= lo && v <= hi);
      }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0), [] { InitPixmapModule(); });
  FuzzInput in(data, size);
  const Int format = in.Range(1, 6);
  const Int width = in.Range(-2, 24), height = in.Range(-2, 24);
  const bool wrapped = in.Flag();
  const Int align = in.Range(-1, 16);
  // Owned memory with any alignment, or borrowed memory with any pitch.
  std::vector<uint8_t> memory;
  TPixmap* p;
  if (wrapped) {
    const Int w = std::max(width, 0), h = std::max(height, 0);
    const Int pitch = w * PixelFormatBytes(format) + in.Range(0, 9);
    memory.resize(size_t(pitch) * h + 1);
    p = WrapPixmapMemory(memory.data(), w, h, pitch, format);
    FUZZ_CHECK(p->capacity == -1 && p->pitch == pitch);
  } else {
    p = NewPixmap(width, height, format, align);
    CheckAllocation(in, width, height, format, align, p);
  }
  for (Int y = 0; y < p->height; ++y)
    for (Int x = 0; x < p->width * PixelFormatBytes(format); ++x)
      p->PixelAddress(0, y)[x] = in.Byte();
  CheckConversions(p);
  CheckPixelWrites(in, p);
  CheckWindowAndPaste(in, p);
  CheckMirrors(p);
  CheckColorKey(in, p);
  CheckScale(in, p);
  CheckOutside(in, p);
  // Formats outside 1..6 read as 0 and write nothing.
  TPixmap* odd = WrapPixmapMemory(p->pixels, p->width, p->height, p->pitch, in.Flag() ? 0 : 7);
  if (p->width > 0 && p->height > 0) {
    odd->SetPixel(0, 0, -1);
    FUZZ_CHECK(odd->GetPixel(0, 0) == 0);
  }
  p = nullptr;
  odd = nullptr;
  kxCollectGarbage();
  kxCollectGarbage();
  return 0;
}
