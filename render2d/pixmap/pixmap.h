// Pixmaps: rectangles of pixels in program memory in one of six layouts,
// with pixel access, windows, copying, conversion, colour-key masking,
// mirroring, bilinear resizing and the chain of image-file decoders.
// Pixel values passed in and out are ARGB ints (alpha in bits 24-31).
#pragma once

#include "runtime/kxstring.h"
#include "runtime/object.h"

enum : Int {
  PIXFMT_NONE = 0,
  PIXFMT_GREY8 = 1,
  PIXFMT_ALPHA8 = 2,
  PIXFMT_BGR24 = 3,
  PIXFMT_RGB24 = 4,
  PIXFMT_BGRA32 = 5,
  PIXFMT_RGBA32 = 6,
  PIXFMT_COUNT = 7,  // format ids are 0 .. PIXFMT_COUNT - 1
};

// Per-format tables indexed by format id.
extern const Int FormatBytes[PIXFMT_COUNT];
extern const Int FormatBits[PIXFMT_COUNT];
extern const Int FormatRedBits[PIXFMT_COUNT];
extern const Int FormatGreenBits[PIXFMT_COUNT];
extern const Int FormatBlueBits[PIXFMT_COUNT];
extern const Int FormatAlphaBits[PIXFMT_COUNT];
// Bytes per pixel of any format id; 0 outside 1..6.
Int PixelFormatBytes(Int format);

class TPixmap : public Object {
  KX_CLASS(TPixmap, Object)
 public:
  uint8_t* pixels = nullptr;  // pixel (0, 0)
  Int width = 0;
  Int height = 0;
  Int pitch = 0;
  Int format = 0;
  Int capacity = -1;   // bytes owned; -1 when borrowed
  Ref<TPixmap> owner;  // for windows: the pixmap whose memory is shown

  ~TPixmap() override;

  virtual Object* PersistType() { return nullptr; }
  virtual uint8_t* PixelAddress(Int x, Int y);
  virtual TPixmap* SubWindow(Int x, Int y, Int w, Int h);
  virtual TPixmap* Duplicate();
  virtual void PasteFrom(TPixmap* source, Int x, Int y);
  virtual TPixmap* ConvertTo(Int format);
  virtual Int GetPixel(Int x, Int y);
  virtual void SetPixel(Int x, Int y, Int argb);

  static TPixmap* Allocate(Int width, Int height, Int format, Int align);
  static TPixmap* WrapMemory(uint8_t* pixels, Int width, Int height, Int pitch, Int format);
};

class TPixmapDecoder : public Object {
  KX_CLASS(TPixmapDecoder, Object)
 public:
  TPixmapDecoder();  // links itself at the head of the decoder chain
  Ref<TPixmapDecoder> nextDecoder;
  // Null when the stream does not hold this decoder's format.
  virtual TPixmap* DecodePixmap(class TStream* stream);
};

extern Ref<TPixmapDecoder> PixmapDecoderChain;

TPixmap* NewPixmap(Int width, Int height, Int format, Int align);
TPixmap* WrapPixmapMemory(uint8_t* pixels, Int width, Int height, Int pitch, Int format);
TPixmap* ClonePixmap(TPixmap* p);
TPixmap* ConvertPixmapFormat(TPixmap* p, Int format);
Int GetPixmapWidth(TPixmap* p);
Int GetPixmapHeight(TPixmap* p);
Int GetPixmapPitch(TPixmap* p);
Int GetPixmapFormat(TPixmap* p);
uint8_t* PixmapPixelAddress(TPixmap* p, Int x, Int y);
TPixmap* PixmapSubWindow(TPixmap* p, Int x, Int y, Int w, Int h);
Int GetPixmapPixel(TPixmap* p, Int x, Int y);
void SetPixmapPixel(TPixmap* p, Int x, Int y, Int argb);
TPixmap* ColorKeyPixmap(TPixmap* p, Int red, Int green, Int blue);
TPixmap* MirrorPixmapX(TPixmap* p);
TPixmap* MirrorPixmapY(TPixmap* p);
TPixmap* ScalePixmap(TPixmap* p, Int width, Int height);
// url: a path String or an open TStream; Null when nothing decodes it.
TPixmap* LoadPixmapFile(Object* url);

void CopyPixels(const uint8_t* src, uint8_t* dst, Int format, Int count);
void ConvertPixels(const uint8_t* src, Int srcFormat, uint8_t* dst, Int dstFormat, Int count);
void PixelsToRgba32(const uint8_t* src, uint8_t* dst, Int srcFormat, Int count);
void PixelsFromRgba32(const uint8_t* src, uint8_t* dst, Int dstFormat, Int count);

Int InitPixmapModule();
