// TPixmap: the pixmap record, its slots and the API functions over them.
//
// Invariants kept here:
//  - width and height are never negative: a request for a negative size
//    gives an empty pixmap, which owns a zero-byte block;
//  - capacity >= 0 means pixels is a block of the aligned allocator owned
//    by this pixmap; -1 means borrowed memory that is never freed here;
//  - a window made by SubWindow holds a counted reference to the pixmap
//    that owns its memory (owner), so the memory outlives every window;
//  - format ids outside 1..6 count as zero bytes per pixel, so no access
//    through them touches memory;
//  - pixel coordinates, windows and paste rectangles are checked against
//    the pixmap once per call and raise the index error when they leave
//    it; the row loops behind them run unchecked.
#include <cstdint>
#include <cstring>

#include "render2d/pixmap/pixmap.h"
#include "runtime/error.h"
#include "runtime/module.h"

KX_CLASS_RECORD(TPixmap, &TPixmap::PersistType, &TPixmap::PixelAddress, &TPixmap::SubWindow,
                &TPixmap::Duplicate, &TPixmap::PasteFrom, &TPixmap::ConvertTo, &TPixmap::GetPixel,
                &TPixmap::SetPixel)

namespace {

constexpr Int kInternalAlign = 4;

TPixmap* Need(TPixmap* p) {
  if (!p) kxRaiseNullAccess();
  return p;
}

// One ARGB value split into its channels.
struct Argb {
  uint32_t a, r, g, b;
  explicit Argb(Int v)
      : a((static_cast<uint32_t>(v) >> 24) & 0xFFu),
        r((static_cast<uint32_t>(v) >> 16) & 0xFFu),
        g((static_cast<uint32_t>(v) >> 8) & 0xFFu),
        b(static_cast<uint32_t>(v) & 0xFFu) {}
};

// The span first .. first + count (count < 0 counts as 0) inside 0 .. size,
// in 64 bits so that no sum wraps.
bool Inside(Int first, Int count, Int size) {
  const int64_t end = static_cast<int64_t>(first) + (count < 0 ? 0 : count);
  return first >= 0 && end <= size;
}

void NeedPixel(const TPixmap* p, Int x, Int y) {
  if (!Inside(x, 1, p->width) || !Inside(y, 1, p->height)) kxRaiseIndexRange();
}

Int PackArgb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<Int>((a << 24) | (r << 16) | (g << 8) | b);
}

}  // namespace

TPixmap::~TPixmap() {
  if (capacity >= 0) kxAlignedFree(pixels);
  pixels = nullptr;
}

TPixmap* TPixmap::Allocate(Int width, Int height, Int format, Int align) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (align < 1) align = 1;  // a zero alignment would divide by zero
  // 64-bit sizes: width × bytes and pitch × height may exceed an Int.
  int64_t row = static_cast<int64_t>(width) * PixelFormatBytes(format);
  int64_t pitch = (row + align - 1) / align * align;
  int64_t capacity = pitch * height;
  if (pitch > INT32_MAX || capacity > INT32_MAX)
    kxRaiseError(KX_STR("Attempt to allocate a pixmap larger than 2147483647 bytes"));
  TPixmap* p = New<TPixmap>();
  p->pixels = static_cast<uint8_t*>(kxAlignedAlloc(static_cast<size_t>(capacity)));
  if (!p->pixels) kxRaiseError(KX_STR("Attempt to allocate a pixmap beyond available memory"));
  p->width = width;
  p->height = height;
  p->pitch = static_cast<Int>(pitch);
  p->format = format;
  p->capacity = static_cast<Int>(capacity);
  return p;
}

TPixmap* TPixmap::WrapMemory(uint8_t* pixels, Int width, Int height, Int pitch, Int format) {
  TPixmap* p = New<TPixmap>();
  p->pixels = pixels;
  p->width = width < 0 ? 0 : width;
  p->height = height < 0 ? 0 : height;
  p->pitch = pitch;
  p->format = format;
  p->capacity = -1;
  return p;
}

uint8_t* TPixmap::PixelAddress(Int x, Int y) {
  // Offsets in pointer width: y × pitch of a large pixmap overflows an Int.
  ptrdiff_t offset = static_cast<ptrdiff_t>(y) * pitch +
                     static_cast<ptrdiff_t>(x) * PixelFormatBytes(format);
  if (offset == 0) return pixels;  // no arithmetic on a null pointer
  return pixels + offset;
}

TPixmap* TPixmap::SubWindow(Int x, Int y, Int w, Int h) {
  if (!Inside(x, w, width) || !Inside(y, h, height)) kxRaiseIndexRange();
  TPixmap* window = WrapMemory(PixelAddress(x, y), w, h, pitch, format);
  // Point at the memory's real owner, so windows of windows do not chain.
  window->owner = owner ? owner.get() : this;
  return window;
}

TPixmap* TPixmap::Duplicate() {
  TPixmap* copy = Allocate(width, height, format, kInternalAlign);
  for (Int y = 0; y < height; ++y)
    CopyPixels(PixelAddress(0, y), copy->PixelAddress(0, y), format, width);
  return copy;
}

void TPixmap::PasteFrom(TPixmap* source, Int x, Int y) {
  Need(source);
  // An empty source writes nothing, wherever it is put.
  if (source->width <= 0 || source->height <= 0) return;
  if (!Inside(x, source->width, width) || !Inside(y, source->height, height)) kxRaiseIndexRange();
  for (Int i = 0; i < source->height; ++i)
    ConvertPixels(source->PixelAddress(0, i), source->format, PixelAddress(x, y + i), format,
                  source->width);
}

TPixmap* TPixmap::ConvertTo(Int newFormat) {
  TPixmap* out = Allocate(width, height, newFormat, kInternalAlign);
  for (Int y = 0; y < height; ++y)
    ConvertPixels(PixelAddress(0, y), format, out->PixelAddress(0, y), newFormat, width);
  return out;
}

// A format with bytes per pixel in the tables but no case in the pixel
// switches below: reading it as some other layout would be silently wrong.
[[noreturn]] static void RaiseFormatWithoutAccess() {
  kxThrowCString("Attempt to access a pixel of a format without a pixel layout");
}

Int TPixmap::GetPixel(Int x, Int y) {
  NeedPixel(this, x, y);
  if (PixelFormatBytes(format) == 0) return 0;
  const uint8_t* s = PixelAddress(x, y);
  switch (format) {
    case PIXFMT_GREY8: return PackArgb(255, s[0], s[0], s[0]);
    case PIXFMT_ALPHA8: return PackArgb(s[0], 255, 255, 255);
    case PIXFMT_BGR24: return PackArgb(255, s[2], s[1], s[0]);
    case PIXFMT_RGB24: return PackArgb(255, s[0], s[1], s[2]);
    case PIXFMT_BGRA32:
      return PackArgb(s[3], s[2], s[1], s[0]);  // the bytes as a little-endian word
    case PIXFMT_RGBA32: return PackArgb(s[3], s[0], s[1], s[2]);
    default: RaiseFormatWithoutAccess();
  }
}

void TPixmap::SetPixel(Int x, Int y, Int argb) {
  NeedPixel(this, x, y);
  if (PixelFormatBytes(format) == 0) return;
  Argb c(argb);
  uint8_t* d = PixelAddress(x, y);
  switch (format) {
    case PIXFMT_GREY8: d[0] = static_cast<uint8_t>((c.r + c.g + c.b) / 3); break;
    case PIXFMT_ALPHA8: d[0] = static_cast<uint8_t>(c.a); break;
    case PIXFMT_BGR24:
      d[0] = static_cast<uint8_t>(c.b), d[1] = static_cast<uint8_t>(c.g),
      d[2] = static_cast<uint8_t>(c.r);
      break;
    case PIXFMT_RGB24:
      d[0] = static_cast<uint8_t>(c.r), d[1] = static_cast<uint8_t>(c.g),
      d[2] = static_cast<uint8_t>(c.b);
      break;
    case PIXFMT_BGRA32:
      d[0] = static_cast<uint8_t>(c.b), d[1] = static_cast<uint8_t>(c.g);
      d[2] = static_cast<uint8_t>(c.r), d[3] = static_cast<uint8_t>(c.a);
      break;
    case PIXFMT_RGBA32:
      d[0] = static_cast<uint8_t>(c.r), d[1] = static_cast<uint8_t>(c.g);
      d[2] = static_cast<uint8_t>(c.b), d[3] = static_cast<uint8_t>(c.a);
      break;
    default: RaiseFormatWithoutAccess();
  }
}

// --- API functions -----------------------------------------------------------

TPixmap* NewPixmap(Int width, Int height, Int format, Int align) {
  return TPixmap::Allocate(width, height, format, align);
}

TPixmap* WrapPixmapMemory(uint8_t* pixels, Int width, Int height, Int pitch, Int format) {
  return TPixmap::WrapMemory(pixels, width, height, pitch, format);
}

TPixmap* ClonePixmap(TPixmap* p) { return Need(p)->Duplicate(); }
TPixmap* ConvertPixmapFormat(TPixmap* p, Int format) { return Need(p)->ConvertTo(format); }
Int GetPixmapWidth(TPixmap* p) { return Need(p)->width; }
Int GetPixmapHeight(TPixmap* p) { return Need(p)->height; }
Int GetPixmapPitch(TPixmap* p) { return Need(p)->pitch; }
Int GetPixmapFormat(TPixmap* p) { return Need(p)->format; }
// Up to the end of a row or of the pixmap: an address there is still one a
// caller may compute, though not read through.
uint8_t* PixmapPixelAddress(TPixmap* p, Int x, Int y) {
  Need(p);
  if (!Inside(x, 0, p->width) || !Inside(y, 0, p->height)) kxRaiseIndexRange();
  return p->PixelAddress(x, y);
}

TPixmap* PixmapSubWindow(TPixmap* p, Int x, Int y, Int w, Int h) {
  return Need(p)->SubWindow(x, y, w, h);
}

Int GetPixmapPixel(TPixmap* p, Int x, Int y) { return Need(p)->GetPixel(x, y); }
void SetPixmapPixel(TPixmap* p, Int x, Int y, Int argb) { Need(p)->SetPixel(x, y, argb); }

Int InitPixmapModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  // The format tables are constant data; the decoder chain starts empty and
  // fills as decoder modules construct their decoders.
  return 0;
}
