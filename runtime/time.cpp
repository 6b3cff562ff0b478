// The millisecond clock, the 1 ms SIGALRM tick and the delay built on both.
//
// The clock counts milliseconds since the system started, from the kernel's
// monotonic clock: a setting of the system time (a manual date change, an
// NTP step) never moves it, so delays and frame pacing keep their length
// across one. Time spent suspended is not counted. The clock is 32-bit and
// wraps every 2^32 ms; all clock arithmetic is done in uint32_t so that the
// wrap is exact and differences of two readings stay right across it.
#include "runtime/time.h"

#include <sys/time.h>

#include <csignal>
#include <cstring>
#include <ctime>

#include "runtime/module.h"

volatile Int PendingSignal = 0;

namespace {

bool tickInstalled = false;
void (*delayStartHook)() = nullptr;

// The monotonic clock starts at zero when the system starts.
uint32_t SystemMillis() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec) * 1000u + static_cast<uint32_t>(now.tv_nsec / 1000000);
}

void Tick(int sig) { PendingSignal = sig; }

}  // namespace

Int kxMilliSecs() { return static_cast<Int>(SystemMillis()); }

void kxClockStart() { kxSetTickInterval(1); }

// An interval of 0 or less stops the tick.
void kxSetTickInterval(Int ms) {
  if (!tickInstalled) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = Tick;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    tickInstalled = true;
  }
  const Int interval = ms > 0 ? ms : 0;
  itimerval timer;
  timer.it_interval.tv_sec = interval / 1000;
  timer.it_interval.tv_usec = (interval % 1000) * 1000;
  timer.it_value = timer.it_interval;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void kxSetDelayStartHook(void (*hook)()) { delayStartHook = hook; }

// Each pass sleeps at most one millisecond. The tick would end a longer
// sleep as well, but only on the thread that receives it: with other
// threads in the process the signal may land elsewhere, and a one-second
// sleep would then run to its end.

void kxDelay(Int ms) {
  if (ms < 0) return;
  if (ms > 0 && delayStartHook && kxOnMainThread()) delayStartHook();
  const uint32_t start = static_cast<uint32_t>(kxMilliSecs());
  while (static_cast<Int>(static_cast<uint32_t>(kxMilliSecs()) - start) < ms) {
    const timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
    kxCheckSignals();
  }
}
