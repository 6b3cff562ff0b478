// The simulator's per-frame work without a display: one generation (step
// and copy-back), and the frame's Strings, whose memory must all come back.
#include <benchmark/benchmark.h>

#include "app/life.h"
#include "random/random.h"
#include "runtime/object.h"
#include "runtime/time.h"

static void BM_Generation(benchmark::State& state) {
  CreateGrids();
  SeedRnd(1234);
  for (Int x = 0; x < kGridColumns; ++x)
    for (Int y = 0; y < kGridRows; ++y)
      Cell(cellules, x, y) = Cell(cellules_copie, x, y) = Rand(0, 1);
  for (auto _ : state) {
    StepGeneration();
    CopyBack();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Generation);

// The Strings a mode-1 frame builds (the generation line). Bytes in use are read after each block
// of frames; they must stay flat once the first collection has run.
__attribute__((noinline)) static void FrameStrings(Long generation) {
  String* line = kxStringConcat(KX_STR("Mode de rendu : "), kxStringFromInt(1));
  line = kxStringConcat(line, KX_STR(" -- Generation number "));
  line = kxStringConcat(line, kxStringFromLong(generation));
  benchmark::DoNotOptimize(line);
}

static void BM_FrameStringsMemoryFlat(benchmark::State& state) {
  Long generation = 1;
  Int firstAfterCollection = -1, highest = 0;
  for (auto _ : state) {
    FrameStrings(generation++);
    if (generation % 1000 == 0) {
      Int used = kxBytesInUse();
      if (firstAfterCollection < 0 && kxLastObjectsFreed() > 0) firstAfterCollection = used;
      if (used > highest) highest = used;
    }
  }
  state.counters["bytes_in_use_end"] = kxBytesInUse();
  state.counters["bytes_in_use_highest"] = highest;
  state.counters["bytes_in_use_after_first_collection"] = firstAfterCollection;
}
BENCHMARK(BM_FrameStringsMemoryFlat)->Iterations(1000000)->Unit(benchmark::kMicrosecond);
