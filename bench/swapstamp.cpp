// Preloaded into lifesim by the benchmark report: records when each buffer
// swap returned (CLOCK_MONOTONIC, the clock Python's time.monotonic reads)
// and writes the times, one per line in seconds, to $LIFESIM_SWAPSTAMP_OUT
// at exit. The frame interval is then that of the presents themselves, not
// of the moments the report's reader was scheduled to see the markers.
#include <dlfcn.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMaxStamps = 1 << 20;  // 4.8 hours at 60 Hz
double* stamps = nullptr;
int count = 0;

void WriteStamps() {
  const char* path = std::getenv("LIFESIM_SWAPSTAMP_OUT");
  FILE* out = path ? std::fopen(path, "w") : nullptr;
  if (!out) return;
  for (int i = 0; i < count; ++i) std::fprintf(out, "%.6f\n", stamps[i]);
  std::fclose(out);
}

}  // namespace

extern "C" void glXSwapBuffers(void* display, unsigned long drawable) {
  using Swap = void (*)(void*, unsigned long);
  static Swap real = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
  if (!stamps) {
    stamps = static_cast<double*>(std::malloc(sizeof(double) * kMaxStamps));
    std::atexit(WriteStamps);
  }
  real(display, drawable);
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (stamps && count < kMaxStamps) stamps[count++] = double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}
