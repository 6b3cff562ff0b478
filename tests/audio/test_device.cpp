// The output thread against devices the test controls: a FIFO it reads, a
// regular file, a path that does not exist, and devices that refuse every
// write. Checks what reaches the device, the pacing, that stop never hangs
// and that a failing device costs next to no CPU.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "audio/audiodevice.h"

namespace {

constexpr Long BLOCK = linuxaudio::BLOCK_BYTES;

Long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(Long ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

bool WaitFor(const std::function<bool()>& done, Long timeoutMs) {
  Long end = NowMs() + timeoutMs;
  while (!done()) {
    if (NowMs() > end) return false;
    SleepMs(2);
  }
  return true;
}

// A temporary directory with one device path in it.
struct TempPath {
  std::string dir, path;
  explicit TempPath(const char* name) {
    char tmpl[] = "/tmp/lifesim-audio-XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
    path = dir + "/" + name;
  }
  ~TempPath() {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
};

// Reads whatever the pipe or file holds now, counting non-zero bytes.
struct Drain {
  Long bytes = 0, nonzero = 0;
  bool eof = false;
  void Once(int fd) {
    char buf[65536];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n == 0) eof = true;
      if (n <= 0) return;
      bytes += n;
      for (ssize_t i = 0; i < n; ++i) nonzero += buf[i] != 0;
    }
  }
};

// Stop takes less than `ms` and the thread then ends.
void ExpectQuickStop(linuxaudio* dev, Long ms) {
  Long t0 = NowMs();
  dev->stop();
  EXPECT_LT(NowMs() - t0, ms) << "milliseconds that stop took on " << dev->path();
  EXPECT_TRUE(WaitFor([&] { return dev->finished.load() == 1; }, 1000));
}

// The thread's share of one core over half a second.
double CpuShare(linuxaudio* dev) {
  Long c0 = dev->cpuns(), t0 = NowMs();
  SleepMs(560);
  return static_cast<double>(dev->cpuns() - c0) / 1e6 / static_cast<double>(NowMs() - t0);
}

}  // namespace

TEST(AudioDevice, FifoGetsWholeBlocksOfSilencePacedByItsReader) {
  TempPath tmp("dsp");
  ASSERT_EQ(mkfifo(tmp.path.c_str(), 0600), 0);
  int rd = open(tmp.path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(rd, 0);
  fcntl(rd, F_SETPIPE_SZ, 65536);

  linuxaudio* dev = new linuxaudio(tmp.path.c_str());
  ASSERT_EQ(dev->start(), 0);
  ASSERT_TRUE(WaitFor([&] { return dev->active.load() == 1; }, 2000));

  // Nobody reads: the writer stops once the pipe is full (16 blocks).
  ASSERT_TRUE(WaitFor([&] { return dev->blocks.load() >= 16; }, 3000));
  SleepMs(150);
  Long full = dev->blocks.load();
  SleepMs(200);
  EXPECT_EQ(dev->blocks.load(), full) << "wrote into a full pipe";
  EXPECT_LE(full, 16);

  // Reading makes room and the writer follows.
  Drain got;
  got.Once(rd);
  EXPECT_TRUE(WaitFor([&] { return dev->blocks.load() >= full + 8; }, 2000));

  // The writer sits in a full pipe again: stop must not wait for it.
  SleepMs(300);
  ExpectQuickStop(dev, 1000);
  EXPECT_EQ(dev->active.load(), 0);

  ASSERT_TRUE(WaitFor(
      [&] {
        got.Once(rd);
        return got.eof;
      },
      2000))
      << "device closed";
  EXPECT_EQ(got.nonzero, 0);
  EXPECT_EQ(got.bytes, dev->blocks.load() * BLOCK) << "whole 4096-byte blocks only";
  close(rd);
  linuxaudio::dispose(dev);
}

TEST(AudioDevice, RegularFileGetsSilenceNoFasterThanRealTime) {
  TempPath tmp("dsp.raw");
  close(open(tmp.path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600));
  linuxaudio* dev = new linuxaudio(tmp.path.c_str());
  Long t0 = NowMs();
  dev->start();
  ASSERT_TRUE(WaitFor([&] { return dev->active.load() == 1; }, 2000));
  SleepMs(500);
  ExpectQuickStop(dev, 1000);
  Long wall = NowMs() - t0;

  Drain got;
  int fd = open(tmp.path.c_str(), O_RDONLY);
  got.Once(fd);
  close(fd);
  EXPECT_GT(got.bytes, 0);
  EXPECT_EQ(got.bytes, dev->blocks.load() * BLOCK);
  EXPECT_EQ(got.nonzero, 0);
  // 176,400 bytes a second plus a lead of a few blocks; a thread that only
  // followed the file would write hundreds of megabytes in this time.
  EXPECT_LE(got.bytes, wall * 176400 / 1000 + 12 * BLOCK);
  linuxaudio::dispose(dev);
}

TEST(AudioDevice, MissingDeviceEndsTheThreadAtOnceAndStopDoesNotWait) {
  linuxaudio* dev = new linuxaudio("/nonexistent-lifesim-dir/dsp");
  EXPECT_EQ(dev->start(), 0);
  ASSERT_TRUE(WaitFor([&] { return dev->finished.load() == 1; }, 1000));
  EXPECT_EQ(dev->active.load(), 0);
  EXPECT_EQ(dev->blocks.load(), 0);
  ExpectQuickStop(dev, 200);
  linuxaudio::dispose(dev);
}

// Writes fail at once on both devices: a thread that went straight on to
// the next block would take a whole core.
void ExpectFailingWritesDoNotSpin(linuxaudio* dev) {
  ASSERT_TRUE(WaitFor([&] { return dev->failures.load() >= 2; }, 2000));
  EXPECT_LT(CpuShare(dev), 0.05) << "CPU share of the thread on " << dev->path();
  ExpectQuickStop(dev, 1000);
  linuxaudio::dispose(dev);
}

TEST(AudioDevice, DevicesThatRefuseEveryWriteDoNotMakeTheThreadSpin) {
  linuxaudio* full = new linuxaudio("/dev/full");
  full->start();
  ExpectFailingWritesDoNotSpin(full);

  // A pipe whose reader went away. SIGPIPE keeps its default action in this
  // process, so the thread must not take it.
  TempPath tmp("dsp");
  ASSERT_EQ(mkfifo(tmp.path.c_str(), 0600), 0);
  int rd = open(tmp.path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(rd, 0);
  linuxaudio* dev = new linuxaudio(tmp.path.c_str());
  dev->start();
  Drain got;
  ASSERT_TRUE(WaitFor(
      [&] {
        got.Once(rd);
        return got.bytes >= 4 * BLOCK;
      },
      2000));
  close(rd);
  ExpectFailingWritesDoNotSpin(dev);
}
