// Pixel formats: the per-format tables and the pixel-run converters.
//
// RGBA32 is the working format: every conversion between two other formats
// passes through one scratch run of it. Format ids outside 1..6 have zero
// bytes per pixel; runs in them read and write nothing, except that a run
// converted into the working format from such an id becomes transparent
// black, so that no caller ever sees uninitialised bytes.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdlib>
#include <cstring>
#include <memory>

#include "render2d/pixmap/pixmap.h"

const Int FormatBytes[PIXFMT_COUNT] = {0, 1, 1, 3, 3, 4, 4};
const Int FormatBits[PIXFMT_COUNT] = {0, 8, 8, 24, 24, 32, 32};
const Int FormatRedBits[PIXFMT_COUNT] = {0, 0, 0, 8, 8, 8, 8};
const Int FormatGreenBits[PIXFMT_COUNT] = {0, 0, 0, 8, 8, 8, 8};
const Int FormatBlueBits[PIXFMT_COUNT] = {0, 0, 0, 8, 8, 8, 8};
const Int FormatAlphaBits[PIXFMT_COUNT] = {0, 0, 8, 0, 0, 8, 8};

Int PixelFormatBytes(Int format) {
  return format > PIXFMT_NONE && format < PIXFMT_COUNT ? FormatBytes[format] : 0;
}

void CopyPixels(const uint8_t* src, uint8_t* dst, Int format, Int count) {
  if (count <= 0) return;
  size_t n = static_cast<size_t>(count) * static_cast<size_t>(PixelFormatBytes(format));
  // memmove: a paste of a pixmap onto a window of itself may overlap.
  if (n) std::memmove(dst, src, n);
}

// Swapping bytes 0 and 2 of each 4-byte pixel is its own inverse, so one
// routine serves BGRA32 -> RGBA32 and back. Texture uploads convert whole
// pictures this way, so it works on 16-byte blocks where the target has
// SSE2 (every x86-64 processor, and the i686 build asks for it); the plain
// loop does the tails and is the whole routine on a target without SSE2.
static void SwapRedBluePlain(const uint8_t* src, uint8_t* dst, Int count) {
  for (Int i = 0; i < count; ++i) {
    uint32_t v;
    std::memcpy(&v, src + 4 * i, 4);
    v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
    std::memcpy(dst + 4 * i, &v, 4);
  }
}

#if defined(__SSE2__)
static void SwapRedBlueBlocks(const uint8_t* src, uint8_t* dst, Int count) {
  Int i = 0;
  const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF00FF00u));
  const __m128i low = _mm_set1_epi32(0xFF);
  for (; i + 8 <= count; i += 8) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i + 16));
    a = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(a, keep), _mm_and_si128(_mm_srli_epi32(a, 16), low)),
        _mm_slli_epi32(_mm_and_si128(a, low), 16));
    b = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(b, keep), _mm_and_si128(_mm_srli_epi32(b, 16), low)),
        _mm_slli_epi32(_mm_and_si128(b, low), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i + 16), b);
  }
  SwapRedBluePlain(src + 4 * i, dst + 4 * i, count - i);
}

static void SwapRedBlue32(const uint8_t* src, uint8_t* dst, Int count) {
  SwapRedBlueBlocks(src, dst, count);
}
#else
static void SwapRedBlue32(const uint8_t* src, uint8_t* dst, Int count) {
  SwapRedBluePlain(src, dst, count);
}
#endif

void PixelsToRgba32(const uint8_t* src, uint8_t* dst, Int srcFormat, Int count) {
  if (count <= 0) return;
  switch (srcFormat) {
    case PIXFMT_GREY8:
      for (Int i = 0; i < count; ++i) {
        uint8_t v = src[i];
        dst[4 * i] = v, dst[4 * i + 1] = v, dst[4 * i + 2] = v, dst[4 * i + 3] = 255;
      }
      break;
    case PIXFMT_ALPHA8:
      for (Int i = 0; i < count; ++i) {
        dst[4 * i] = 255, dst[4 * i + 1] = 255, dst[4 * i + 2] = 255, dst[4 * i + 3] = src[i];
      }
      break;
    case PIXFMT_BGR24:
      for (Int i = 0; i < count; ++i) {
        const uint8_t* s = src + 3 * i;
        dst[4 * i] = s[2], dst[4 * i + 1] = s[1], dst[4 * i + 2] = s[0], dst[4 * i + 3] = 255;
      }
      break;
    case PIXFMT_RGB24:
      for (Int i = 0; i < count; ++i) {
        const uint8_t* s = src + 3 * i;
        dst[4 * i] = s[0], dst[4 * i + 1] = s[1], dst[4 * i + 2] = s[2], dst[4 * i + 3] = 255;
      }
      break;
    case PIXFMT_BGRA32: SwapRedBlue32(src, dst, count); break;
    case PIXFMT_RGBA32: CopyPixels(src, dst, PIXFMT_RGBA32, count); break;
    default: std::memset(dst, 0, static_cast<size_t>(count) * 4); break;
  }
}

void PixelsFromRgba32(const uint8_t* src, uint8_t* dst, Int dstFormat, Int count) {
  if (count <= 0) return;
  switch (dstFormat) {
    case PIXFMT_GREY8:
      for (Int i = 0; i < count; ++i) {
        const uint8_t* s = src + 4 * i;
        dst[i] = static_cast<uint8_t>((s[0] + s[1] + s[2]) / 3);
      }
      break;
    case PIXFMT_ALPHA8:
      for (Int i = 0; i < count; ++i) dst[i] = src[4 * i + 3];
      break;
    case PIXFMT_BGR24:
      for (Int i = 0; i < count; ++i) {
        const uint8_t* s = src + 4 * i;
        dst[3 * i] = s[2], dst[3 * i + 1] = s[1], dst[3 * i + 2] = s[0];
      }
      break;
    case PIXFMT_RGB24:
      for (Int i = 0; i < count; ++i) {
        const uint8_t* s = src + 4 * i;
        dst[3 * i] = s[0], dst[3 * i + 1] = s[1], dst[3 * i + 2] = s[2];
      }
      break;
    case PIXFMT_BGRA32: SwapRedBlue32(src, dst, count); break;
    case PIXFMT_RGBA32: CopyPixels(src, dst, PIXFMT_RGBA32, count); break;
    default: break;  // no bytes per pixel: nothing to write
  }
}

void ConvertPixels(const uint8_t* src, Int srcFormat, uint8_t* dst, Int dstFormat, Int count) {
  if (count <= 0) return;
  if (srcFormat == dstFormat) {
    CopyPixels(src, dst, srcFormat, count);
  } else if (srcFormat == PIXFMT_RGBA32) {
    PixelsFromRgba32(src, dst, dstFormat, count);
  } else if (dstFormat == PIXFMT_RGBA32) {
    PixelsToRgba32(src, dst, srcFormat, count);
  } else if (PixelFormatBytes(dstFormat) != 0) {
    // One fresh scratch run per call; unique_ptr frees it on every path.
    std::unique_ptr<uint8_t[]> scratch(new uint8_t[static_cast<size_t>(count) * 4]);
    PixelsToRgba32(src, scratch.get(), srcFormat, count);
    PixelsFromRgba32(scratch.get(), dst, dstFormat, count);
  }
}
