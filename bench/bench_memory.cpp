// The object memory manager: small-block allocation against the C
// allocator, the cost of a collection per freed object, and the cost of the
// conservative scan over a deep stack.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "runtime/object.h"

namespace {

constexpr int kBatch = 64;  // blocks live at once, as a frame's Strings are

void BM_SmallAllocFree(benchmark::State& state) {
  const Int size = static_cast<Int>(state.range(0));
  void* blocks[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) blocks[i] = kxSmallAlloc(size);
    benchmark::DoNotOptimize(blocks);
    for (int i = kBatch - 1; i >= 0; --i) kxSmallFree(blocks[i], size);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SmallAllocFree)->DenseRange(16, 240, 32);

void BM_MallocFree(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  void* blocks[kBatch];
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) blocks[i] = std::malloc(size);
    benchmark::DoNotOptimize(blocks);
    for (int i = kBatch - 1; i >= 0; --i) std::free(blocks[i]);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MallocFree)->DenseRange(16, 240, 32);

class TBenchObject : public Object {
  KX_CLASS(TBenchObject, Object)
 public:
  Int payload[4] = {};
};
KX_CLASS_RECORD(TBenchObject)

__attribute__((noinline)) void MakePending(int n) {
  for (int i = 0; i < n; ++i) New<TBenchObject>();
}

// Time of one collection that frees 10,000 pending objects, per object.
void BM_CollectPending(benchmark::State& state) {
  const int n = 10000;
  kxSetCollectMode(KX_COLLECT_ON_REQUEST);  // no automatic collection while the list fills
  double seconds = 0;
  Int freed = 0;
  for (auto _ : state) {
    MakePending(n);
    auto start = std::chrono::steady_clock::now();
    kxCollectGarbage();
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    seconds += took;
    freed += kxLastObjectsFreed();
    state.SetIterationTime(took);
  }
  kxSetCollectMode(KX_COLLECT_AUTO);
  state.counters["ns_per_freed_object"] = freed ? seconds * 1e9 / freed : 0;
  state.counters["freed_per_collection"] = static_cast<double>(freed) /
                                           static_cast<double>(state.iterations());
}
BENCHMARK(BM_CollectPending)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A collection with an empty pending list from under 64 KiB of stack
// filled with words that point into allocator memory but at no object, so
// that each word goes through the whole presence lookup.
__attribute__((noinline)) void ScanDeep(benchmark::State& state) {
  volatile uintptr_t words[65536 / sizeof(uintptr_t)];
  char* region = static_cast<char*>(kxSmallAlloc(240));
  for (size_t i = 0; i < sizeof words / sizeof words[0]; ++i)
    words[i] = reinterpret_cast<uintptr_t>(region) + 16 * (i % 15) + (i % 4 == 0 ? 16 * 4096 : 0);
  for (auto _ : state) kxCollectGarbage();
  kxSmallFree(region, 240);
  asm volatile("" : : "r"(words) : "memory");
}

void BM_StackScan64K(benchmark::State& state) { ScanDeep(state); }
BENCHMARK(BM_StackScan64K)->Unit(benchmark::kMicrosecond);

}  // namespace
