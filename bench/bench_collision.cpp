// Cost of the direct image test: two opaque 64 x 64 images overlapping by
// half (the scan stops at the first shared opaque pixel), two whose opaque
// halves never meet (every row of the overlap is scanned), and two whose
// boxes do not meet (the box test answers). Run under tools/with-xserver.sh.
#include <benchmark/benchmark.h>

#include "bench/display.h"
#include "render2d/collision.h"
#include "render2d/gl2d.h"
#include "render2d/image.h"
#include "render2d/pixmap/pixmap.h"
#include "runtime/object.h"

namespace {

// A 64 x 64 image whose columns [opaqueFrom, opaqueTo) are opaque.
TImage* Image(Int opaqueFrom, Int opaqueTo) {
  TImage* image = NewImage(64, 64, 1, 0);
  TPixmap* p = LockImagePixels(image, 0, 1, 1);
  for (Int y = 0; y < 64; ++y)
    for (Int x = 0; x < 64; ++x)
      p->SetPixel(x, y, x >= opaqueFrom && x < opaqueTo ? Int(0xFFFFFFFFu) : 0);
  return image;
}

// Images live in module-level references so collections keep them.
Ref<TImage> first, second;

void Run(benchmark::State& state, Float x2, Float y2, Int expected) {
  if (!OpenBenchDisplay(state)) return;
  kxCollectGarbage();
  Int result = 0;
  for (auto _ : state) {
    result = ImagesOverlap(first, 0, 0, 0, second, x2, y2, 0);
    benchmark::DoNotOptimize(result);
  }
  if (result != expected) state.SkipWithError("unexpected result");
}

void BM_ImagesOverlapHalfOpaque(benchmark::State& state) {
  first = Image(0, 64);
  second = Image(0, 64);
  Run(state, 32, 0, 1);
}
BENCHMARK(BM_ImagesOverlapHalfOpaque);

void BM_ImagesOverlapHalfClear(benchmark::State& state) {
  // The shared columns 32..63 are clear in the second image: no contact,
  // so all 64 rows of the 32-pixel overlap are tested.
  first = Image(0, 64);
  second = Image(32, 64);
  Run(state, 32, 0, 0);
}
BENCHMARK(BM_ImagesOverlapHalfClear);

void BM_ImagesOverlapBoxesApart(benchmark::State& state) {
  first = Image(0, 64);
  second = Image(0, 64);
  Run(state, 200, 200, 0);
}
BENCHMARK(BM_ImagesOverlapBoxesApart);

}  // namespace
