// The 2D drawing API with its state, images (frames, cells, tiles) and
// text, against a driver that records what reaches it instead of drawing,
// so no X server is needed: random sequences of state changes, primitives,
// polygons, pixmap writes and captures, image creation, locks and draws,
// fonts and text, with Null, non-finite and far out-of-range arguments.
// Every setter is read back through its getter.
#include <vector>

#include "graphics/graphics.h"
#include "render2d/font.h"
#include "render2d/image.h"
#include "render2d/pixmap/pixmap.h"
#include "render2d/render2d.h"
#include "runtime/array.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

constexpr Int kWidth = 640, kHeight = 480;

class TRecordingFrame : public TImageFrame {
  KX_CLASS(TRecordingFrame, TImageFrame)
 public:
  Ref<TPixmap> pixmap;
  Long paints = 0;
  void Paint(Float, Float, Float, Float, Float, Float) override { ++paints; }
};

class TRecordingGraphics : public TGraphics {
  KX_CLASS(TRecordingGraphics, TGraphics)
 public:
  Ref<TDisplayDriver> driver;
  TDisplayDriver* DisplayDriver() override { return driver.get(); }
  void ReadSettings(Int* w, Int* h, Int* depth, Int* hertz, Int* flags) override {
    *w = kWidth, *h = kHeight, *depth = 0, *hertz = 0, *flags = 0;
  }
  void CloseDisplay() override {}
};

// Counts what arrives and reads what a real driver would read: the pixels
// of a frame's or a written pixmap, each coordinate of a polygon.
class TRecordingDriver : public TRender2DDriver {
  KX_CLASS(TRecordingDriver, TRender2DDriver)
 public:
  Long calls = 0;
  Array* EnumerateModes() override { return kxArrayNew(":TGraphicsMode", 1, 0); }
  TGraphics* AttachToWidget(Object*, Int) override { return nullptr; }
  TGraphics* CreateDisplay(Int, Int, Int, Int, Int) override {
    TRecordingGraphics* g = New<TRecordingGraphics>();
    g->driver = this;
    return TRender2DGraphics::Create(g, this);
  }
  void SelectDisplay(TGraphics* g) override { ActivateRender2D(g); }
  void Present(Int) override { ++calls; }
  TImageFrame* CreateFrame(TPixmap* pixmap, Int) override {
    FUZZ_CHECK(pixmap);
    ReadAll(pixmap);
    TRecordingFrame* f = New<TRecordingFrame>();
    f->pixmap = pixmap;
    return f;
  }
  void ApplyBlend(Int) override { ++calls; }
  void ApplyAlpha(Float) override { ++calls; }
  void ApplyColor(Int, Int, Int) override { ++calls; }
  void ApplyClearColor(Int, Int, Int) override { ++calls; }
  void ApplyClipRect(Int, Int, Int, Int) override { ++calls; }
  void ApplyTransform(Float, Float, Float, Float) override { ++calls; }
  void ApplyLineThickness(Float) override { ++calls; }
  void ClearScreen() override { ++calls; }
  void PlotPoint(Float, Float) override { ++calls; }
  void StrokeLine(Float, Float, Float, Float, Float, Float) override { ++calls; }
  void FillRect(Float, Float, Float, Float, Float, Float) override { ++calls; }
  void FillEllipse(Float, Float, Float, Float, Float, Float) override { ++calls; }
  void FillPolygon(Array* xy, Float, Float, Float, Float) override {
    if (!xy || xy->Length() < 6 || !xy->tag || xy->tag[0] != 'f') return;
    Float sum = 0;
    for (Int i = 0; i < xy->Length(); ++i) sum += xy->Elements<Float>()[i];
    calls += sum == sum;
  }
  void WritePixmap(TPixmap* pixmap, Int, Int) override {
    if (pixmap) ReadAll(pixmap);
  }
  TPixmap* ReadPixmap(Int, Int, Int w, Int h) override { return NewPixmap(w, h, PIXFMT_RGBA32, 4); }

 private:
  void ReadAll(TPixmap* p) {
    Long sum = 0;
    for (Int y = 0; y < p->height; ++y)
      for (Int x = 0; x < p->width; ++x) sum += p->GetPixel(x, y);
    calls += sum & 1;
  }
};

KX_CLASS_RECORD(TRecordingFrame)
KX_CLASS_RECORD(TRecordingGraphics)
KX_CLASS_RECORD(TRecordingDriver)

Ref<TRecordingDriver> driver;
FuzzInput* current;  // the input being run, for the face's answers

TPixmap* SomePixmap(FuzzInput& in);
Float Coord(FuzzInput& in);

class TFuzzGlyph : public TFaceGlyph {
  KX_CLASS(TFuzzGlyph, TFaceGlyph)
 public:
  Object* GlyphPixels() override {
    if (current->Byte() % 4 == 0) return KX_STR("not a pixmap");
    return SomePixmap(*current);
  }
  Float GlyphAdvance() override { return Coord(*current); }
  void GlyphRect(Int* x, Int* y, Int* w, Int* h) override {
    *x = current->Position(), *y = current->Position(), *w = current->Position(),
    *h = current->Position();
  }
};

class TFuzzFace : public TFontFace {
  KX_CLASS(TFuzzFace, TFontFace)
 public:
  Int count = 0;
  Int FaceStyle() override { return current->Take<Int>(); }
  Int FaceSize() override { return current->Position(); }
  Int GlyphCount() override { return count; }
  Int GlyphIndex(Int code) override { return current->Flag() ? code - 32 : current->Position(); }
  TFaceGlyph* GetGlyph(Int) override { return current->Byte() % 8 ? New<TFuzzGlyph>() : nullptr; }
};

class TFuzzFaceLoader : public TFontFaceLoader {
  KX_CLASS(TFuzzFaceLoader, TFontFaceLoader)
 public:
  TFontFace* LoadFace(Object*, Int, Int) override {
    if (current->Byte() % 4 == 0) return nullptr;
    TFuzzFace* face = New<TFuzzFace>();
    face->count = current->Range(-1, 300);
    return face;
  }
};

KX_CLASS_RECORD(TFuzzGlyph)
KX_CLASS_RECORD(TFuzzFace)
KX_CLASS_RECORD(TFuzzFaceLoader)

void SetUp() {
  InitRender2DModule();
  driver = New<TRecordingDriver>();
  UseDisplayDriver(driver.get(), 0);
  AddFontFaceLoader(New<TFuzzFaceLoader>());
  FUZZ_CHECK(Graphics(kWidth, kHeight, 0, 0, 0));
}

// Mostly on or near the screen, sometimes anything a float holds.
Float Coord(FuzzInput& in) {
  switch (in.Byte() % 6) {
    case 0: return in.Take<Float>();
    case 1: return Float(in.Position()) * 1e6f;
    default: return Float(in.Range(-64, kWidth + 64)) + Float(in.Byte()) / 256.0f;
  }
}

String* Text(FuzzInput& in) {
  const Int n = in.Range(0, 24);
  std::vector<uint16_t> units(size_t(n) + 1);
  for (Int i = 0; i < n; ++i)
    units[i] = in.Flag() ? in.Take<uint16_t>() : uint16_t(in.Range(32, 127));
  return kxStringCopyUnits(units.data(), n);
}

TPixmap* SomePixmap(FuzzInput& in) {
  if (in.Byte() % 8 == 0) return nullptr;
  TPixmap* p = NewPixmap(in.Range(-1, 40), in.Range(-1, 40), in.Range(0, 7), in.Range(0, 8));
  for (Int i = 0; i < p->capacity; ++i) p->pixels[i] = in.Byte();
  return p;
}

struct World {
  std::vector<Ref<TImage>> images;
  std::vector<Ref<TGlyphFont>> fonts;
  TImage* Image(FuzzInput& in) {
    if (images.empty() || in.Byte() % 8 == 0) return nullptr;
    return images[in.Range(0, Int(images.size()) - 1)].get();
  }
  void Keep(TImage* image) {
    if (image && images.size() < 8) images.emplace_back(image);
  }
};

// Any three values, however far out of range, read back as they were set.
void CheckRgb(FuzzInput& in, void (*set)(Int, Int, Int), void (*get)(Int*, Int*, Int*)) {
  const Int r = in.Take<Int>(), g = in.Take<Int>(), b = in.Take<Int>();
  set(r, g, b);
  Int gr, gg, gb;
  get(&gr, &gg, &gb);
  FUZZ_CHECK(gr == r && gg == g && gb == b);
}

void StateStep(FuzzInput& in, Int op) {
  switch (op) {
    case 0: CheckRgb(in, SetColor, GetColor); break;
    case 1: {
      const Float a = Coord(in);
      SetAlpha(a);
      FUZZ_CHECK(GetAlpha() == a || (a != a && GetAlpha() != GetAlpha()));
      break;
    }
    case 2: {
      const Int mode = in.Range(-1, 7);
      SetBlend(mode);
      FUZZ_CHECK(GetBlend() == mode);
      break;
    }
    case 3: {
      const Int x = in.Position(), y = in.Position(), w = in.Position(), h = in.Position();
      SetClipRect(x, y, w, h);
      Int gx, gy, gw, gh;
      GetClipRect(&gx, &gy, &gw, &gh);
      FUZZ_CHECK(gx == x && gy == y && gw == w && gh == h);
      break;
    }
    case 4: CheckRgb(in, SetClearColor, GetClearColor); break;
    case 5: SetLineThickness(Coord(in)); break;
    case 6: SetDrawOrigin(Coord(in), Coord(in)); break;
    case 7: SetDrawHandle(Coord(in), Coord(in)); break;
    case 8: SetDrawRotation(Coord(in)); break;
    case 9: SetDrawScale(Coord(in) / 64, Coord(in) / 64); break;
    case 10: SetDrawTransform(Coord(in), Coord(in) / 64, Coord(in) / 64); break;
    default: {
      Float x, y;
      GetDrawOrigin(&x, &y);
      GetDrawHandle(&x, &y);
      GetDrawScale(&x, &y);
      (void)GetLineThickness();
      (void)GetDrawRotation();
      break;
    }
  }
}

void DrawStep(FuzzInput& in, Int op) {
  switch (op) {
    case 0: Cls(); break;
    case 1: DrawPoint(Coord(in), Coord(in)); break;
    case 2: DrawLine(Coord(in), Coord(in), Coord(in), Coord(in), in.Flag()); break;
    case 3: DrawRect(Coord(in), Coord(in), Coord(in), Coord(in)); break;
    case 4: DrawEllipse(Coord(in), Coord(in), Coord(in), Coord(in)); break;
    case 5: {
      static const char* const kTags[] = {"f", "i", "d", "$", "f"};
      const char* tag = kTags[in.Range(0, 4)];
      Array* xy = kxArrayNewOneDim(tag, in.Range(-1, 16));
      if (tag[0] == 'f')
        for (Int i = 0; i < xy->Length(); ++i) xy->Elements<Float>()[i] = Coord(in);
      DrawPolygon(in.Byte() % 8 ? xy : nullptr);
      break;
    }
    case 6: PaintPixmap(SomePixmap(in), in.Position(), in.Position()); break;
    default: {
      const Int w = in.Range(-2, 48), h = in.Range(-2, 48);
      TPixmap* p = CapturePixmap(in.Position(), in.Position(), w, h);
      FUZZ_CHECK(p && p->width == (w < 0 ? 0 : w));
      break;
    }
  }
}

void ImageStep(FuzzInput& in, World& world, Int op) {
  switch (op) {
    case 0: {
      const Int w = in.Range(-1, 24), h = in.Range(-1, 24), frames = in.Range(-1, 3);
      TImage* image = NewImage(w, h, frames, in.Range(0, 15));
      FUZZ_CHECK(image && image->FrameCount() == (frames < 0 ? 0 : frames));
      world.Keep(image);
      break;
    }
    case 1: {
      TImage* image = world.Image(in);
      const Int frame = in.Range(-1, 3);
      TPixmap* p = LockImagePixels(image, frame, in.Flag(), in.Flag());
      if (p)
        for (Int y = 0; y < p->height; ++y)
          for (Int x = 0; x < p->width; ++x) p->SetPixel(x, y, in.Take<Int>());
      UnlockImagePixels(image, frame);
      break;
    }
    case 2: DrawImageFrame(world.Image(in), Coord(in), Coord(in), in.Range(-1, 3)); break;
    case 3:
      DrawImageStretched(world.Image(in), Coord(in), Coord(in), Coord(in), Coord(in),
                         in.Range(-1, 3));
      break;
    case 4: TileImageArea(world.Image(in), Coord(in), Coord(in), in.Range(-1, 3)); break;
    case 5: SetImageHandlePoint(world.Image(in), Coord(in), Coord(in)); break;
    case 6: CentreImageHandle(world.Image(in)); break;
    case 7: {
      SetAutoCentreHandle(in.Flag());
      const Int flags = in.Range(-1, 15), before = GetDefaultImageFlags();
      SetDefaultImageFlags(flags);
      FUZZ_CHECK(GetDefaultImageFlags() == (flags == -1 ? before : flags));  // -1 keeps them
      CheckRgb(in, SetImageMaskColor, GetImageMaskColor);
      break;
    }
    case 8: world.Keep(LoadImageFile(SomePixmap(in), in.Range(0, 15))); break;
    case 9: {
      TPixmap* sheet = SomePixmap(in);
      world.Keep(LoadImageCells(sheet, in.Range(-1, 12), in.Range(-1, 12), in.Position(),
                                in.Range(-1, 8), in.Range(0, 15)));
      break;
    }
    case 10: CaptureImage(world.Image(in), in.Position(), in.Position(), in.Range(-1, 3)); break;
    default: {
      TImage* image = world.Image(in);
      if (image)
        FUZZ_CHECK(GetImageWidth(image) == image->width && GetImageHeight(image) == image->height);
      break;
    }
  }
}

void TextStep(FuzzInput& in, std::vector<Ref<TGlyphFont>>& fonts, Int op) {
  switch (op) {
    case 0: DrawText(in.Byte() % 8 ? Text(in) : nullptr, Coord(in), Coord(in)); break;
    case 1: {
      String* s = in.Byte() % 8 ? Text(in) : nullptr;
      MeasureTextWidth(s);
      MeasureTextHeight(s);
      break;
    }
    case 2: {
      TGlyphFont* font = nullptr;
      if (in.Flag())
        font = fonts.empty() ? DefaultTextFont() : fonts[in.Range(0, Int(fonts.size()) - 1)].get();
      SetTextFont(font);
      FUZZ_CHECK(GetTextFont() == (font ? font : DefaultTextFont()));
      break;
    }
    default: {
      // The face loader answers from the input: glyph counts, indices,
      // pictures, advances and boxes are whatever it says.
      TGlyphFont* font = LoadGlyphFont(in.Flag() ? Text(in) : nullptr, in.Position(),
                                       in.Range(0, 7));
      if (font && fonts.size() < 4) fonts.emplace_back(font);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0), &SetUp);
  FuzzInput in(data, size);
  current = &in;
  World world;
  if (!CurrentRender2D()) Graphics(kWidth, kHeight, 0, 0, 0);
  for (int steps = 0; steps < 64 && !in.Empty(); ++steps) {
    const Int family = in.Byte() % 6, op = in.Byte() % 16;
    RaisedText([&] {
      switch (family) {
        case 0: StateStep(in, op); break;
        case 1: DrawStep(in, op); break;
        case 2:
        case 3: ImageStep(in, world, op); break;
        case 4: TextStep(in, world.fonts, op); break;
        default:
          if (op == 0) EndGraphics();  // every call after it raises the null-object error
          if (op == 1) Graphics(kWidth, kHeight, 0, 0, 0);
          if (op == 2) Flip(in.Range(0, 1));
          break;
      }
    });
  }
  world.images.clear();
  world.fonts.clear();
  current = nullptr;
  kxCollectGarbage();
  kxCollectGarbage();
  return 0;
}
