// A preloaded library that makes one call of the program misbehave at an
// exact moment, for exit paths that timing cannot hit reliably. The
// environment says which call and what happens:
//
//   LIFESIM_SHIM_CALL    XOpenDisplay | XF86VidModeSwitchToMode |
//                        glXSwapBuffers | open | setitimer | malloc
//                        (malloc: the program's own calls of malloc, calloc
//                        and realloc, not those the libraries make)
//   LIFESIM_SHIM_ACTION  signal:N  the call completes, then raises signal N
//                        fault     a write to an unmapped page inside the call
//                        fail      the call fails without being made
//                        slow      the call is made after the wait only
//                        xerror    glXSwapBuffers only: first a swap of a
//                                  drawable that does not exist, which the
//                                  server refuses with a protocol error
//   LIFESIM_SHIM_COUNT   the call that acts: the Nth (default 1), later ones
//                        pass through; 0: every call from the first on
//   LIFESIM_SHIM_THREAD  main | other: count only calls made on the process's
//                        first thread, or only on the others (default: all)
//   LIFESIM_SHIM_AFTER_MS count only calls made this long after the library
//                        was loaded
//   LIFESIM_SHIM_WAIT_MS the acting call first sleeps this long
//
// Independently of those, the wall clock (gettimeofday, time and the
// CLOCK_REALTIME family of clock_gettime) can be stepped, as a date change
// or an NTP step does to the system time:
//
//   LIFESIM_SHIM_WALLCLOCK  AT:STEP,...  STEP ms (signed) added to every
//                           reading from AT ms after the library was loaded
// Both the plain and the large-file names are caught here: the large-file
// build flags of a 32-bit build must not rename one into the other.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <link.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

enum class Action { kNone, kSignal, kFault, kFail, kXError, kSlow };

struct Plan {
  const char* call = nullptr;
  Action action = Action::kNone;
  int signal = 0;
  long count = 1;
  int thread = 0;  // 0 any, 1 main, 2 other
  long waitMs = 0;
  long afterMs = 0;
};

long NowMs() {
  timespec now;
  syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

const long loadedAt = NowMs();

const Plan& ThePlan() {
  static const Plan plan = [] {
    Plan p;
    p.call = getenv("LIFESIM_SHIM_CALL");
    const char* action = getenv("LIFESIM_SHIM_ACTION");
    if (!p.call || !action) return p;
    if (strncmp(action, "signal:", 7) == 0) {
      p.action = Action::kSignal;
      p.signal = atoi(action + 7);
    } else if (strcmp(action, "fault") == 0) {
      p.action = Action::kFault;
    } else if (strcmp(action, "fail") == 0) {
      p.action = Action::kFail;
    } else if (strcmp(action, "xerror") == 0) {
      p.action = Action::kXError;
    } else if (strcmp(action, "slow") == 0) {
      p.action = Action::kSlow;
    }
    if (const char* n = getenv("LIFESIM_SHIM_COUNT")) p.count = atol(n);
    if (const char* t = getenv("LIFESIM_SHIM_THREAD"))
      p.thread = strcmp(t, "main") == 0 ? 1 : strcmp(t, "other") == 0 ? 2 : 0;
    if (const char* w = getenv("LIFESIM_SHIM_WAIT_MS")) p.waitMs = atol(w);
    if (const char* a = getenv("LIFESIM_SHIM_AFTER_MS")) p.afterMs = atol(a);
    return p;
  }();
  return plan;
}

std::atomic<long> calls{0};

// The action this call takes: none unless it is the planned call, on the
// planned kind of thread, and the COUNT-th of them.
Action Due(const char* name) {
  const Plan& p = ThePlan();
  if (p.action == Action::kNone || strcmp(p.call, name) != 0) return Action::kNone;
  const bool onMain = syscall(SYS_gettid) == getpid();
  if ((p.thread == 1 && !onMain) || (p.thread == 2 && onMain)) return Action::kNone;
  if (NowMs() - loadedAt < p.afterMs) return Action::kNone;
  if (calls.fetch_add(1) + 1 != p.count && p.count != 0) return Action::kNone;
  if (p.waitMs > 0) {
    timespec pause = {p.waitMs / 1000, (p.waitMs % 1000) * 1000000};
    while (nanosleep(&pause, &pause) == -1 && errno == EINTR) {
    }
  }
  return p.action;
}

// A real fault, as a wild pointer inside a library would make it.
void Fault() {
  volatile uintptr_t address = 16;
  *reinterpret_cast<volatile int*>(address) = 1;
}

// Done after the call itself, so that whatever it changed is in place.
void After(Action action) {
  if (action == Action::kSignal) raise(ThePlan().signal);
}

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The wall clock's offset now, in ms: the sum of the steps already due.
long WallOffsetMs() {
  struct Step {
    long at, ms;
  };
  static Step steps[8];
  static int count = [] {
    int n = 0;
    const char* p = getenv("LIFESIM_SHIM_WALLCLOCK");
    while (p && *p && n < 8) {
      char* end;
      steps[n].at = strtol(p, &end, 10);
      if (*end != ':') break;
      steps[n].ms = strtol(end + 1, &end, 10);
      ++n;
      p = *end == ',' ? end + 1 : end;
    }
    return n;
  }();
  long offset = 0;
  const long since = NowMs() - loadedAt;
  for (int i = 0; i < count; ++i)
    if (since >= steps[i].at) offset += steps[i].ms;
  return offset;
}

bool IsWallClock(clockid_t clock) {
  return clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE || clock == CLOCK_TAI;
}

// --- the program's own allocations ---------------------------------------

// The main program's code, found once the program is loaded: allocations
// whose caller lies there are the program's own.
uintptr_t programStart = 0, programEnd = 0;

int FindProgram(dl_phdr_info* info, size_t, void*) {
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
    programStart = info->dlpi_addr + segment.p_vaddr;
    programEnd = programStart + segment.p_memsz;
  }
  return 1;  // the first entry is the program
}

__attribute__((constructor)) void LocateProgram() {
  if (ThePlan().call && strcmp(ThePlan().call, "malloc") == 0)
    dl_iterate_phdr(FindProgram, nullptr);
}

void* Refusal() {
  errno = ENOMEM;
  return nullptr;
}

bool Refused(const void* caller) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(caller);
  if (at < programStart || at >= programEnd) return false;
  return Due("malloc") == Action::kFail;
}

// The allocator the shim stands in front of (the sanitizer's when there is
// one). Looking it up may allocate: meanwhile, those calls are served from
// a small static pool that is never freed.
template <class F>
F Allocator(const char* name, F& slot) {
  static thread_local bool resolving = false;
  if (!slot && !resolving) {
    resolving = true;
    slot = Next<F>(name);
    resolving = false;
  }
  return slot;
}

alignas(16) char pool[4096];
size_t poolUsed = 0;

void* FromPool(size_t n) {
  n = (n + 15) & ~size_t(15);
  if (poolUsed + n > sizeof pool) return nullptr;
  void* p = pool + poolUsed;
  poolUsed += n;
  return p;
}

using MallocProc = void* (*)(size_t);
using CallocProc = void* (*)(size_t, size_t);
using ReallocProc = void* (*)(void*, size_t);
using FreeProc = void (*)(void*);
MallocProc realMalloc = nullptr;
FreeProc realFree = nullptr;
CallocProc realCalloc = nullptr;
ReallocProc realRealloc = nullptr;

}  // namespace

extern "C" {

int clock_gettime(clockid_t clock, timespec* out) {
  // Straight from the kernel: the library's own readings (NowMs) do the
  // same, so none of them passes through here.
  const int r = static_cast<int>(syscall(SYS_clock_gettime, clock, out));
  if (r == 0 && IsWallClock(clock)) {
    const long long ns = out->tv_sec * 1000000000LL + out->tv_nsec + WallOffsetMs() * 1000000LL;
    out->tv_sec = static_cast<time_t>(ns / 1000000000LL);
    out->tv_nsec = static_cast<long>(ns % 1000000000LL);
  }
  return r;
}

int gettimeofday(timeval* tv, void*) {
  timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return -1;
  tv->tv_sec = now.tv_sec;
  tv->tv_usec = static_cast<suseconds_t>(now.tv_nsec / 1000);
  return 0;
}

time_t time(time_t* out) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (out) *out = now.tv_sec;
  return now.tv_sec;
}

void* malloc(size_t n) {
  if (Refused(__builtin_return_address(0))) return Refusal();
  const MallocProc real = Allocator("malloc", realMalloc);
  return real ? real(n) : FromPool(n);
}

void* calloc(size_t count, size_t n) {
  if (Refused(__builtin_return_address(0))) return Refusal();
  const CallocProc real = Allocator("calloc", realCalloc);
  return real ? real(count, n) : FromPool(count * n);  // the pool is zeroed
}

void* realloc(void* block, size_t n) {
  if (Refused(__builtin_return_address(0))) return Refusal();
  return Allocator("realloc", realRealloc)(block, n);
}

void free(void* block) {
  if (block >= static_cast<void*>(pool) && block < static_cast<void*>(pool + sizeof pool)) return;
  if (const FreeProc real = Allocator("free", realFree)) real(block);
}

struct _XDisplay;
using Display = _XDisplay;

Display* XOpenDisplay(const char* name) {
  const Action action = Due("XOpenDisplay");
  if (action == Action::kFault) Fault();
  if (action == Action::kFail) return nullptr;
  static auto real = Next<Display* (*)(const char*)>("XOpenDisplay");
  Display* display = real(name);
  After(action);
  return display;
}

int XF86VidModeSwitchToMode(Display* display, int screen, void* mode) {
  const Action action = Due("XF86VidModeSwitchToMode");
  if (action == Action::kFault) Fault();
  if (action == Action::kFail) return 0;
  static auto real = Next<int (*)(Display*, int, void*)>("XF86VidModeSwitchToMode");
  const int ok = real(display, screen, mode);
  After(action);
  return ok;
}

void glXSwapBuffers(Display* display, unsigned long drawable) {
  const Action action = Due("glXSwapBuffers");
  if (action == Action::kFault) Fault();
  if (action == Action::kFail) return;
  static auto real = Next<void (*)(Display*, unsigned long)>("glXSwapBuffers");
  if (action == Action::kXError) real(display, 0x3ffffffe);
  real(display, drawable);
  After(action);
}

// Slowed, it widens the window between a signal handler being installed and
// the timer being set, where a tick of the timer being replaced can land.
int setitimer(__itimer_which_t which, const struct itimerval* value,
              struct itimerval* old) noexcept {
  const Action action = Due("setitimer");
  if (action == Action::kFault) Fault();
  if (action == Action::kFail) {
    errno = EINVAL;
    return -1;
  }
  static auto real = Next<int (*)(__itimer_which_t, const struct itimerval*, struct itimerval*)>(
      "setitimer");
  const int result = real(which, value, old);
  After(action);
  return result;
}

// One body under both names: the large-file call serves either, as it
// only lifts the limit a plain one has on file sizes in a 32-bit build.
int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
  va_end(args);
  const Action action = Due("open");
  if (action == Action::kFault) Fault();
  if (action == Action::kFail) {
    errno = ENOENT;
    return -1;
  }
  static const auto real = Next<int (*)(const char*, int, ...)>("open64");
  const int fd = real(path, flags, mode);
  After(action);
  return fd;
}

int open64(const char* path, int flags, ...) __attribute__((alias("open")));

}  // extern "C"
