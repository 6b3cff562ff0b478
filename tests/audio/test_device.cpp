// The output thread against devices the test controls: a FIFO it reads, a
// regular file, a path that does not exist, and devices that refuse every
// write. Checks what reaches the device, the pacing, that stop never hangs
// and that a failing device costs next to no CPU.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

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

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/lifesim-audio-XXXXXX";
    char* d = mkdtemp(tmpl);
    if (d) path = d;
  }
  ~TempDir() {
    for (const std::string& f : files) unlink(f.c_str());
    if (!path.empty()) rmdir(path.c_str());
  }
  std::string File(const char* name) {
    files.push_back(path + "/" + name);
    return files.back();
  }
  std::string path;

 private:
  std::vector<std::string> files;
};

// Reads whatever the pipe holds now; counts bytes and non-zero bytes.
struct Drain {
  Long bytes = 0;
  Long nonzero = 0;
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

// Stops the device and reports how long stop took.
Long TimedStop(linuxaudio* dev) {
  Long t0 = NowMs();
  dev->stop();
  return NowMs() - t0;
}

// CPU time the thread spends during ms milliseconds of wall time.
double CpuShare(linuxaudio* dev, Long ms) {
  Long c0 = dev->cputime.load();
  Long t0 = NowMs();
  SleepMs(ms);
  // The thread refreshes its figure once per pass; let one more pass land.
  SleepMs(60);
  Long c1 = dev->cputime.load();
  Long wall = NowMs() - t0;
  return static_cast<double>(c1 - c0) / 1e6 / static_cast<double>(wall);
}

}  // namespace

TEST(AudioDevice, FifoGetsWholeBlocksOfSilencePacedByItsReader) {
  TempDir dir;
  std::string path = dir.File("dsp");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  int rd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(rd, 0);
  fcntl(rd, F_SETPIPE_SZ, 65536);

  linuxaudio* dev = new linuxaudio(path.c_str());
  ASSERT_EQ(dev->start(), 0);
  ASSERT_EQ(dev->created, 0);
  ASSERT_TRUE(WaitFor([&] { return dev->active.load() == 1; }, 2000));
  EXPECT_EQ(dev->length, 4096);

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
  Long took = TimedStop(dev);
  EXPECT_LT(took, 1000);
  EXPECT_EQ(dev->active.load(), 0);
  EXPECT_TRUE(WaitFor([&] { return dev->finished.load() == 1; }, 1000));

  ASSERT_TRUE(WaitFor([&] { got.Once(rd); return got.eof; }, 2000)) << "device closed";
  EXPECT_EQ(got.nonzero, 0);
  EXPECT_EQ(got.bytes % BLOCK, 0);
  EXPECT_EQ(got.bytes, dev->blocks.load() * BLOCK);
  EXPECT_EQ(dev->failures.load(), 0);
  close(rd);
  linuxaudio::dispose(dev);
}

TEST(AudioDevice, RegularFileGetsSilenceNoFasterThanRealTime) {
  TempDir dir;
  std::string path = dir.File("dsp.raw");
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  close(fd);

  linuxaudio* dev = new linuxaudio(path.c_str());
  Long t0 = NowMs();
  dev->start();
  ASSERT_TRUE(WaitFor([&] { return dev->active.load() == 1; }, 2000));
  SleepMs(500);
  Long took = TimedStop(dev);
  Long wall = NowMs() - t0;
  EXPECT_LT(took, 1000);
  ASSERT_TRUE(WaitFor([&] { return dev->finished.load() == 1; }, 1000));

  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_GT(st.st_size, 0);
  EXPECT_EQ(st.st_size % BLOCK, 0);
  EXPECT_EQ(st.st_size, dev->blocks.load() * BLOCK);
  // 176,400 bytes a second plus the allowed lead of a few blocks; a thread
  // that only followed the file would write megabytes in this time.
  Long allowed = (wall * 176400 / 1000) + 12 * BLOCK;
  EXPECT_LE(st.st_size, allowed);

  std::vector<char> data(static_cast<size_t>(st.st_size));
  fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(read(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fd);
  Long nonzero = 0;
  for (char c : data) nonzero += c != 0;
  EXPECT_EQ(nonzero, 0);
  linuxaudio::dispose(dev);
}

TEST(AudioDevice, MissingDeviceEndsTheThreadAtOnceAndStopDoesNotWait) {
  linuxaudio* dev = new linuxaudio("/nonexistent-lifesim-dir/dsp");
  EXPECT_EQ(dev->path(), "/nonexistent-lifesim-dir/dsp");
  EXPECT_EQ(dev->start(), 0);
  ASSERT_TRUE(WaitFor([&] { return dev->finished.load() == 1; }, 1000));
  EXPECT_EQ(dev->active.load(), 0);
  EXPECT_EQ(dev->blocks.load(), 0);
  EXPECT_LT(TimedStop(dev), 50);
  linuxaudio::dispose(dev);

  linuxaudio* def = new linuxaudio();
  EXPECT_EQ(def->path(), "/dev/dsp");
  linuxaudio::dispose(def);  // never started: nothing to join
}

TEST(AudioDevice, DeviceThatRefusesEveryWriteDoesNotSpin) {
  linuxaudio* dev = new linuxaudio("/dev/full");
  dev->start();
  ASSERT_TRUE(WaitFor([&] { return dev->failures.load() >= 2; }, 2000));
  double share = CpuShare(dev, 500);
  EXPECT_LT(share, 0.05) << "thread CPU share while every write fails";
  EXPECT_EQ(dev->blocks.load(), 0);
  EXPECT_LT(TimedStop(dev), 1000);
  EXPECT_TRUE(WaitFor([&] { return dev->finished.load() == 1; }, 1000));
  linuxaudio::dispose(dev);
}

TEST(AudioDevice, ReaderThatGoesAwayNeitherKillsTheProcessNorMakesItSpin) {
  TempDir dir;
  std::string path = dir.File("dsp");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  int rd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(rd, 0);

  // SIGPIPE keeps its default action here: the thread must not take it.
  linuxaudio* dev = new linuxaudio(path.c_str());
  dev->start();
  Drain got;
  ASSERT_TRUE(WaitFor([&] { got.Once(rd); return got.bytes >= 4 * BLOCK; }, 2000));
  close(rd);
  ASSERT_TRUE(WaitFor([&] { return dev->failures.load() >= 2; }, 2000));
  double share = CpuShare(dev, 500);
  EXPECT_LT(share, 0.05) << "thread CPU share while the pipe has no reader";
  EXPECT_LT(TimedStop(dev), 1000);
  EXPECT_TRUE(WaitFor([&] { return dev->finished.load() == 1; }, 1000));
  linuxaudio::dispose(dev);
}
