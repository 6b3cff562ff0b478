// The OSS device and its output thread.
//
// Exit must never hang on the sound device, so every wait of the thread is
// bounded: it polls the device with a timeout and re-reads the running flag,
// sleeps in short steps, and paces itself to real time when the device takes
// data faster than it plays it (a regular file, /dev/null) or refuses it
// (a closed pipe, /dev/full). A thread that still gets stuck in the device is
// abandoned at exit with its memory, never waited for.
#include "audio/audiodevice.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/soundcard.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr Long BLOCK_NS = 1000000000LL * linuxaudio::BLOCK_VALUES / linuxaudio::CHANNELS /
                          linuxaudio::RATE;
// Ahead of real time by more than this, the device is not pacing us. A real
// device holds three fragments (about 70 ms), well inside it.
constexpr Long PACE_MARGIN_NS = 8 * BLOCK_NS;
constexpr int POLL_TIMEOUT_MS = 50;
constexpr Long SLEEP_STEP_NS = 10000000;  // 10 ms
constexpr Int STOP_WAIT_STEPS = 50;       // x 10 ms
constexpr Int DISPOSE_WAIT_STEPS = 20;    // x 10 ms

Long monotonicns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void sleepns(Long ns) {
  timespec ts{static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

}  // namespace

audiodevice::~audiodevice() = default;

linuxaudio::linuxaudio(const char* path) : devpath(path ? path : "/dev/dsp") {}

linuxaudio::~linuxaudio() = default;

Int linuxaudio::start() {
  running.store(1);
  active.store(0);
  mix = std::make_unique<mixer>(BLOCK_VALUES);
  mix->samplerate = RATE;
  mix->channels = CHANNELS;
  buffer = std::make_unique<int16_t[]>(BLOCK_VALUES);
  length = BLOCK_BYTES;

  // The thread takes no asynchronous signals: the 1 ms tick and SIGTERM
  // must reach the main thread, whose delays and event pump wait for them,
  // and a write to a pipe without reader must fail with EPIPE instead of
  // ending the process. Faults of the thread itself stay deliverable.
  sigset_t all, old;
  sigfillset(&all);
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&all, s);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  created = pthread_create(&thread, nullptr, &linuxaudio::threadmain, this);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return 0;
}

void* linuxaudio::threadmain(void* self) {
  static_cast<linuxaudio*>(self)->run();
  return nullptr;
}

// Sleeps one block's time in short steps, so that stop is still prompt.
void linuxaudio::backoff() {
  for (Long left = BLOCK_NS; left > 0 && running.load() == 1; left -= SLEEP_STEP_NS)
    sleepns(left < SLEEP_STEP_NS ? left : SLEEP_STEP_NS);
}

// True when a block may be written now (or when the device's state is
// unknown, so that the write itself decides); false after a timeout.
bool linuxaudio::waitwritable(int fd) {
  pollfd p{fd, POLLOUT, 0};
  int n = poll(&p, 1, POLL_TIMEOUT_MS);
  if (n < 0) return errno != EINTR;
  return n > 0;
}

void linuxaudio::run() {
  // One step above the inherited priority. Under SCHED_OTHER the range is
  // 0..0 and the call fails; the thread then runs at the default priority.
  int policy;
  sched_param param;
  if (pthread_getschedparam(pthread_self(), &policy, &param) == 0) {
    param.sched_priority += 1;
    pthread_setschedparam(pthread_self(), policy, &param);
  }

  // Non-blocking open: a busy device, or a pipe without reader, fails at
  // once instead of holding the thread. Writes then block again so that the
  // device paces the loop.
  int fd = open(devpath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    finished.store(1);
    return;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  // Files and pipes refuse these; the driver's answers are not needed.
  int arg = FRAGMENT_REQUEST;
  ioctl(fd, SNDCTL_DSP_SETFRAGMENT, &arg);
  arg = AFMT_S16_LE;
  ioctl(fd, SNDCTL_DSP_SETFMT, &arg);
  arg = CHANNELS;
  ioctl(fd, SNDCTL_DSP_CHANNELS, &arg);
  arg = RATE;
  ioctl(fd, SNDCTL_DSP_SPEED, &arg);
  active.store(1);

  Long origin = monotonicns();
  Long written = 0;  // audio time written since origin, ns
  while (running.load() == 1) {
    if (!waitwritable(fd)) continue;
    mix->mix16(buffer.get(), BLOCK_VALUES);
    ssize_t n = write(fd, buffer.get(), static_cast<size_t>(length));
    if (n == length) {
      blocks.fetch_add(1, std::memory_order_relaxed);
    } else if (n <= 0) {
      failures.fetch_add(1, std::memory_order_relaxed);
      backoff();
    }
    // A short write is followed by the next block, as a real device would.
    written += BLOCK_NS;
    Long ahead = origin + written - monotonicns();
    if (ahead < 0) {
      origin -= ahead;  // the device fell behind: no catching up in a burst
    } else {
      for (; ahead > PACE_MARGIN_NS && running.load() == 1; ahead -= SLEEP_STEP_NS)
        sleepns(SLEEP_STEP_NS);
    }
  }
  close(fd);
  active.store(0);
  finished.store(1);
}

// Read from outside through the thread's CPU clock, so that the thread
// itself spends nothing on being measured.
Long linuxaudio::cpuns() const {
  clockid_t clock;
  timespec ts;
  if (created != 0 || pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &ts) != 0)
    return 0;
  return static_cast<Long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void linuxaudio::stop() {
  running.store(0);
  if (active.load() == 0) return;
  // The thread sees the flag within one poll timeout or one sleep step.
  for (Int i = 0; i < STOP_WAIT_STEPS && active.load() != 0; ++i) sleepns(SLEEP_STEP_NS);
}

void linuxaudio::dispose(linuxaudio* dev) {
  if (!dev) return;
  if (dev->created == 0) {
    dev->running.store(0);
    for (Int i = 0; i < DISPOSE_WAIT_STEPS && dev->finished.load() == 0; ++i)
      sleepns(SLEEP_STEP_NS);
    if (dev->finished.load() == 0) {
      // Stuck in the device: the thread keeps the object for good.
      pthread_detach(dev->thread);
      return;
    }
    pthread_join(dev->thread, nullptr);
  }
  delete dev;
}
