// Pixmap conversion and scaling on 1024 x 1024 pictures. The plain copy of
// the same bytes is the yardstick for the BGRA -> RGBA conversion.
#include <benchmark/benchmark.h>

#include <cstring>

#include "render2d/pixmap/pixmap.h"
#include "runtime/object.h"

namespace {

constexpr Int kSide = 1024;

// Starts each benchmark with nothing pending from the one before, so that
// no benchmark pays for freeing another's pixmaps.
void Begin() {
  InitPixmapModule();
  kxCollectGarbage();
  kxCollectGarbage();
}

TPixmap* Picture(Int format) {
  TPixmap* p = NewPixmap(kSide, kSide, format, 4);
  for (Int i = 0; i < p->capacity; ++i) p->pixels[i] = static_cast<uint8_t>(i * 7 + i / 4093);
  return p;
}

void BM_MemcpyFrame(benchmark::State& state) {
  Begin();
  Ref<TPixmap> src = Picture(PIXFMT_BGRA32);
  Ref<TPixmap> dst = NewPixmap(kSide, kSide, PIXFMT_RGBA32, 4);
  for (auto _ : state) {
    std::memcpy(dst->pixels, src->pixels, static_cast<size_t>(src->capacity));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * src->capacity);
}
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMicrosecond);

// Into an existing pixmap, so that the figure is the conversion alone.
void BM_PasteBgraIntoRgba(benchmark::State& state) {
  Begin();
  Ref<TPixmap> src = Picture(PIXFMT_BGRA32);
  Ref<TPixmap> dst = NewPixmap(kSide, kSide, PIXFMT_RGBA32, 4);
  for (auto _ : state) {
    dst->PasteFrom(src, 0, 0);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * src->capacity);
}
BENCHMARK(BM_PasteBgraIntoRgba)->Unit(benchmark::kMicrosecond);

// ConvertTo as callers use it: a fresh pixmap per call, collected as it goes.
void BM_ConvertBgraToRgba(benchmark::State& state) {
  Begin();
  Ref<TPixmap> src = Picture(PIXFMT_BGRA32);
  for (auto _ : state) {
    Ref<TPixmap> out = src->ConvertTo(PIXFMT_RGBA32);
    benchmark::DoNotOptimize(out->pixels);
  }
  state.SetBytesProcessed(state.iterations() * src->capacity);
}
BENCHMARK(BM_ConvertBgraToRgba)->Unit(benchmark::kMicrosecond);

void BM_ScaleRgbaHalf(benchmark::State& state) {
  Begin();
  Ref<TPixmap> src = Picture(PIXFMT_RGBA32);
  for (auto _ : state) {
    Ref<TPixmap> out = ScalePixmap(src, kSide / 2, kSide / 2);
    benchmark::DoNotOptimize(out->pixels);
  }
}
BENCHMARK(BM_ScaleRgbaHalf)->Unit(benchmark::kMillisecond);

}  // namespace
