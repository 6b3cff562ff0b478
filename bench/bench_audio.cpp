// CPU cost of the audio output thread writing silence to a device drained
// in real time: a FIFO read at 176,400 bytes a second (44100 Hz, 16-bit
// stereo) by a reader thread of the benchmark. Counters: the output
// thread's CPU time as a percentage of one core, and the bytes it got out
// per second of wall time.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "audio/audiodevice.h"

namespace {

Long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The runtime's 1 ms tick interrupts sleeps: finish each one.
void SleepNs(Long ns) {
  timespec ts{static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
  while (nanosleep(&ts, &ts) == -1) {
  }
}

// Reads what real-time playback would have consumed so far, every 5 ms.
void RealTimeReader(int fd, std::atomic<bool>* stop, Long* consumed) {
  char buf[16384];
  Long origin = NowNs();
  Long done = 0;
  while (!stop->load()) {
    Long owed = (NowNs() - origin) * 176400 / 1000000000LL - done;
    while (owed > 0) {
      ssize_t n = read(
          fd, buf, owed < static_cast<Long>(sizeof buf) ? static_cast<size_t>(owed) : sizeof buf);
      if (n <= 0) break;
      done += n;
      owed -= n;
    }
    SleepNs(5000000);
  }
  *consumed = done;
}

void BM_OutputThreadRealTimeSilence(benchmark::State& state) {
  const Long seconds = state.range(0);
  char tmpl[] = "/tmp/lifesim-audio-bench-XXXXXX";
  if (!mkdtemp(tmpl)) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  std::string path = std::string(tmpl) + "/dsp";
  mkfifo(path.c_str(), 0600);
  int rd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (rd < 0) {
    state.SkipWithError("cannot open the FIFO");
    return;
  }
  fcntl(rd, F_SETPIPE_SZ, 65536);

  double cpuPercent = 0, bytesPerSecond = 0;
  for (auto _ : state) {
    linuxaudio* dev = new linuxaudio(path.c_str());
    std::atomic<bool> stop{false};
    Long consumed = 0;
    dev->start();
    while (dev->active.load() == 0 && dev->finished.load() == 0) SleepNs(1000000);
    std::thread reader(RealTimeReader, rd, &stop, &consumed);
    // Measure after the pipe has filled, so the start-up burst is left out.
    SleepNs(500000000);
    Long c0 = dev->cpuns(), b0 = dev->blocks.load(), t0 = NowNs();
    SleepNs(seconds * 1000000000LL);
    Long c1 = dev->cpuns(), b1 = dev->blocks.load(), t1 = NowNs();
    stop.store(true);
    reader.join();
    dev->stop();
    linuxaudio::dispose(dev);
    cpuPercent = 100.0 * static_cast<double>(c1 - c0) / static_cast<double>(t1 - t0);
    bytesPerSecond = static_cast<double>((b1 - b0) * linuxaudio::BLOCK_BYTES) * 1e9 /
                     static_cast<double>(t1 - t0);
  }
  close(rd);
  unlink(path.c_str());
  rmdir(tmpl);
  state.counters["thread_cpu_percent"] = cpuPercent;
  state.counters["device_bytes_per_s"] = bytesPerSecond;
}

}  // namespace

BENCHMARK(BM_OutputThreadRealTimeSilence)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond);
