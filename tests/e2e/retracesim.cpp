// A preloaded library that gives a server without one (the dummy driver) a
// display's vertical retrace: a swap made with a swap interval of n returns
// at the n-th retrace after the call, one of interval 0 at once. The
// swap-control extensions the server offers are replaced by the ones asked
// for, served here. The environment says what display it is:
//
//   LIFESIM_RETRACE_HZ         retraces per second (default 60); 0: none,
//                              the server's own swap control is left as it
//                              is and the swaps are only recorded (the
//                              benchmark report's frame intervals)
//   LIFESIM_RETRACE_JITTER_MS  each retrace comes up to this much early or
//                              late, the same for every run (default 0)
//   LIFESIM_RETRACE_OFFER      the extensions offered, comma-separated from
//                              SGI, EXT and MESA (default SGI; empty: none).
//                              glXSwapIntervalSGI refuses 0 with
//                              GLX_BAD_VALUE, as that extension says
//   LIFESIM_RETRACE_FORCE      1: interval 0 never takes effect (a driver
//                              setting or a compositor that forces sync);
//                              the EXT and MESA queries then report 1
//   LIFESIM_RETRACE_OUT        at exit, written to this file: a line
//                              "swaps N0 N1 calls C refused R" (swaps made
//                              at interval 0 and at 1 or more, interval
//                              calls and refusals), then one line per swap:
//                              its return time in seconds (CLOCK_MONOTONIC)
//                              and its interval
//
// The interval starts at 1, as drivers that sync by default have it. A
// program it is preloaded into can read the counts as it runs:
// LifesimRetraceSwaps(0) and (1), LifesimRetraceRefusals().
#include <dlfcn.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kGlxBadValue = 6;              // GLX_BAD_VALUE
constexpr int kSwapIntervalExt = 0x20F1;     // GLX_SWAP_INTERVAL_EXT
constexpr int kMaxSwapIntervalExt = 0x20F2;  // GLX_MAX_SWAP_INTERVAL_EXT
constexpr int kMaxStamps = 1 << 20;

int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct Display {
  int64_t origin = NowNs();
  int64_t periodNs = 1000000000LL / 60;
  int64_t jitterNs = 0;
  bool sgi = true, ext = false, mesa = false;
  bool force = false;
  bool simulated = true;
  int interval = 1;
  long swaps[2] = {0, 0};
  long calls = 0, refused = 0;
  std::vector<std::pair<double, int>> stamps;

  Display() {
    if (const char* hz = getenv("LIFESIM_RETRACE_HZ"); hz && atoi(hz) > 0)
      periodNs = 1000000000LL / atoi(hz);
    else if (hz && strcmp(hz, "0") == 0)
      simulated = false;
    if (const char* j = getenv("LIFESIM_RETRACE_JITTER_MS")) jitterNs = atol(j) * 1000000LL;
    if (const char* offer = getenv("LIFESIM_RETRACE_OFFER")) {
      sgi = strstr(offer, "SGI") != nullptr;
      ext = strstr(offer, "EXT") != nullptr;
      mesa = strstr(offer, "MESA") != nullptr;
    }
    const char* f = getenv("LIFESIM_RETRACE_FORCE");
    force = f && atoi(f) != 0;
    stamps.reserve(4096);
  }

  // Retrace k: on the grid, moved by a fixed pseudo-random amount within
  // the jitter.
  int64_t Retrace(int64_t k) const {
    int64_t t = origin + k * periodNs;
    if (jitterNs > 0) {
      uint64_t h = static_cast<uint64_t>(k) * 0x9E3779B97F4A7C15ull;
      h ^= h >> 29;
      h *= 0xBF58476D1CE4E5B9ull;
      h ^= h >> 32;
      t += static_cast<int64_t>(h % static_cast<uint64_t>(2 * jitterNs + 1)) - jitterNs;
    }
    return t;
  }

  // The n-th retrace after t.
  int64_t After(int64_t t, int n) const {
    int64_t k = (t - origin) / periodNs - 1;
    while (Retrace(k) <= t) ++k;
    return Retrace(k + n - 1);
  }

  void Set(int n) {
    if (n == 0 && force) return;
    interval = n;
  }
};

Display& Sim() {
  static Display* sim = new Display;  // outlives the at-exit writer
  return *sim;
}

void WriteOut() {
  const char* path = getenv("LIFESIM_RETRACE_OUT");
  FILE* out = path ? fopen(path, "w") : nullptr;
  if (!out) return;
  const Display& s = Sim();
  fprintf(out, "swaps %ld %ld calls %ld refused %ld\n", s.swaps[0], s.swaps[1], s.calls, s.refused);
  for (const auto& [at, interval] : s.stamps) fprintf(out, "%.6f %d\n", at, interval);
  fclose(out);
}

void SleepUntil(int64_t ns) {
  timespec until = {static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

bool IsSwapControl(const std::string& name) {
  return name == "GLX_SGI_swap_control" || name == "GLX_EXT_swap_control" ||
         name == "GLX_MESA_swap_control";
}

}  // namespace

extern "C" {

long LifesimRetraceSwaps(int synced) { return Sim().swaps[synced ? 1 : 0]; }
long LifesimRetraceRefusals() { return Sim().refused; }

int SimSwapIntervalSGI(int n) {
  Display& s = Sim();
  ++s.calls;
  if (n <= 0) {
    ++s.refused;
    return kGlxBadValue;
  }
  s.Set(n);
  return 0;
}

void SimSwapIntervalEXT(void*, unsigned long, int n) {
  Display& s = Sim();
  ++s.calls;
  if (n < 0) {
    ++s.refused;
    return;
  }
  s.Set(n);
}

int SimSwapIntervalMESA(unsigned n) {
  Display& s = Sim();
  ++s.calls;
  s.Set(static_cast<int>(n));
  return 0;
}

int SimGetSwapIntervalMESA() { return Sim().interval; }

const char* glXQueryExtensionsString(void* display, int screen) {
  static auto real = Next<const char* (*)(void*, int)>("glXQueryExtensionsString");
  static std::string text;
  const char* base = real ? real(display, screen) : "";
  const Display& s = Sim();
  if (!s.simulated) return base;
  std::string kept;
  for (const char* p = base ? base : ""; *p;) {
    const char* end = strchr(p, ' ');
    std::string name(p, end ? end - p : strlen(p));
    if (!name.empty() && !IsSwapControl(name)) kept += name + " ";
    p = end ? end + 1 : p + name.size();
  }
  if (s.ext) kept += "GLX_EXT_swap_control ";
  if (s.mesa) kept += "GLX_MESA_swap_control ";
  if (s.sgi) kept += "GLX_SGI_swap_control ";
  text = kept;
  return text.c_str();
}

void* glXGetProcAddressARB(const unsigned char* name) {
  static auto real = Next<void* (*)(const unsigned char*)>("glXGetProcAddressARB");
  const char* n = reinterpret_cast<const char*>(name);
  const Display& s = Sim();
  if (!s.simulated) return real ? real(name) : nullptr;
  if (strcmp(n, "glXSwapIntervalSGI") == 0) return s.sgi ? (void*)SimSwapIntervalSGI : nullptr;
  if (strcmp(n, "glXSwapIntervalEXT") == 0) return s.ext ? (void*)SimSwapIntervalEXT : nullptr;
  if (strcmp(n, "glXSwapIntervalMESA") == 0) return s.mesa ? (void*)SimSwapIntervalMESA : nullptr;
  if (strcmp(n, "glXGetSwapIntervalMESA") == 0)
    return s.mesa ? (void*)SimGetSwapIntervalMESA : nullptr;
  return real ? real(name) : nullptr;
}

void* glXGetProcAddress(const unsigned char* name) { return glXGetProcAddressARB(name); }

void glXQueryDrawable(void* display, unsigned long drawable, int attribute, unsigned* value) {
  const Display& s = Sim();
  if (s.simulated && s.ext && attribute == kSwapIntervalExt) {
    *value = static_cast<unsigned>(s.interval);
    return;
  }
  if (s.simulated && s.ext && attribute == kMaxSwapIntervalExt) {
    *value = 4;
    return;
  }
  static auto real = Next<void (*)(void*, unsigned long, int, unsigned*)>("glXQueryDrawable");
  if (real) real(display, drawable, attribute, value);
}

void glXSwapBuffers(void* display, unsigned long drawable) {
  static auto real = Next<void (*)(void*, unsigned long)>("glXSwapBuffers");
  Display& s = Sim();
  const int64_t called = NowNs();
  if (real) real(display, drawable);
  if (s.simulated && s.interval > 0) SleepUntil(s.After(called, s.interval));
  ++s.swaps[s.interval > 0 ? 1 : 0];
  if (s.stamps.empty()) atexit(WriteOut);
  if (static_cast<int>(s.stamps.size()) < kMaxStamps)
    s.stamps.emplace_back(static_cast<double>(NowNs()) * 1e-9, s.interval);
}

}  // extern "C"
