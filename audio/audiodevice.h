// The sound device, its output thread and the channel-handle table.
//
// linuxaudio opens an OSS device (by default "/dev/dsp") on a thread of its
// own, sets 3 fragments of 4096 bytes, signed 16-bit little-endian, stereo,
// 44100 Hz, and writes the mixer's output to it in 4096-byte blocks until it
// is stopped. The thread shares with the main thread the running and active
// flags, the mixer's rings and a few counters, all atomic.
//
// A channel handle is index (bits 0-11, 1..4095) | serial (bits 12 and up);
// it stays valid while its serial equals the table's serial for the index.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/mixer.h"
#include "runtime/object.h"

class audiodevice {
 public:
  virtual ~audiodevice();
  virtual Int start() = 0;  // 0 on success
  virtual void stop() = 0;
};

class linuxaudio : public audiodevice {
 public:
  static constexpr Int BLOCK_BYTES = 4096;
  static constexpr Int BLOCK_VALUES = BLOCK_BYTES / 2;
  static constexpr Int FRAGMENT_REQUEST = 0x0003000C;  // 3 fragments of 2^12 bytes
  static constexpr Int RATE = 44100;
  static constexpr Int CHANNELS = 2;

  explicit linuxaudio(const char* path = "/dev/dsp");

  Int start() override;  // always 0, even when the thread cannot be made
  void stop() override;  // bounded: never waits much past half a second

  // Releases the object: deletes it when the thread has ended (waiting a
  // short while for it), otherwise detaches the thread and leaks the object
  // so that the thread never touches freed memory.
  static void dispose(linuxaudio* dev);

  std::unique_ptr<mixer> mix;
  pthread_t thread{};
  Int created = -1;  // pthread_create's result; 0 = a thread exists
  std::atomic<Int> running{0};
  std::atomic<Int> active{0};
  std::unique_ptr<int16_t[]> buffer;
  Int length = 0;  // output length in bytes

  // Observations for tests and benchmarks.
  std::atomic<Int> finished{0};   // the thread function has returned
  std::atomic<Long> blocks{0};    // blocks written in full
  std::atomic<Long> failures{0};  // writes that failed or wrote nothing
  Long cpuns() const;             // the thread's CPU time in ns while it runs

  const std::string& path() const { return devpath; }

 protected:
  ~linuxaudio() override;  // through dispose only: the thread may outlive it

 private:
  static void* threadmain(void* self);
  void run();
  bool waitwritable(int fd);
  void backoff();

  std::string devpath;
};

// Device set-up: makes the process's device on path, starts it and makes
// the handle table. 0, or -1 when the device cannot be made.
Int AudioDeviceSetUp(const char* path = "/dev/dsp");
// At-exit tear-down: stops the device, then frees the table and the device.
void AudioDeviceTearDown();
linuxaudio* AudioDevice();  // the process's device, or null

// Channel handles. Alloc gives 0 when all 4095 are in use or there is no
// table; Lookup gives null for 0, stale handles, or no device. Free makes
// the handle stale at once and recycles the index and its player.
Int AllocChannelHandle();
sound* LookupChannelHandle(Int handle);
void FreeChannelHandle(Int handle);
