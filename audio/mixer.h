// The mixer and the channel players that feed the output thread.
//
// Everything here is plain C++ memory, never runtime objects: the output
// thread mixes and converts while the main thread queues play requests, and
// only the main thread may touch runtime objects. The two threads meet in
// two single-producer single-consumer rings (the start queue, main -> output;
// the pool of recycled players, output -> main) and in a few atomic fields of
// each player. No lock is taken.
//
// Accumulator scale: a value of 16 x s converts to the 16-bit sample s, so a
// full-volume 16-bit source adds sample * 16 and the four spare bits give
// headroom for sixteen full-scale channels before the clamp.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "runtime/object.h"

// Sample data shared between a driver-side sound and the players that play
// it. Counted atomically because the output thread drops the last reference
// of a sound that finished after its owner let go.
struct samplerecord {
  std::atomic<Int> refs{1};
  int16_t* data = nullptr;  // frames * channels values, interleaved
  Int frames = 0;
  Int channels = 1;  // 1 or 2
  Int rate = 44100;  // Hz

  // Copies the values; channels outside 1..2 and rates <= 0 give null.
  static samplerecord* make(const int16_t* values, Int frames, Int channels, Int rate);
  void retain() { refs.fetch_add(1, std::memory_order_relaxed); }
  void release();

 private:
  samplerecord() = default;
  ~samplerecord();
};

// Abstract sample producer.
class output {
 public:
  virtual ~output();
  // Adds count interleaved stereo values to acc; returns 1 once finished.
  virtual Int mix(Int* acc, Int count) = 0;
  virtual void reset() {}
  virtual void setvolume(Int v) {}  // 0..256, 256 = unity
  virtual void setpan(Int p) {}     // -256 left .. 256 right
  virtual void setpaused(Int p) {}
  virtual Int playing() { return 0; }
  virtual Int rate() { return 44100; }
};

class mixer;

// One channel player. Its playback fields belong to the output thread once
// the player has been queued; the main thread changes only the atomics.
class sound : public output {
 public:
  sound() = default;
  ~sound() override;
  Int mix(Int* acc, Int count) override;
  void reset() override;
  void setvolume(Int v) override { volume.store(v < 0 ? 0 : v > 256 ? 256 : v); }
  void setpan(Int p) override { pan.store(p < -256 ? -256 : p > 256 ? 256 : p); }
  void setpaused(Int p) override { paused.store(p ? 1 : 0); }
  Int playing() override { return busy.load(); }

 private:
  friend class mixer;
  // Output thread only.
  samplerecord* rec = nullptr;
  uint64_t pos = 0;   // frame position, 16.16 fixed point
  uint64_t step = 0;  // source frames per output frame, 16.16
  Int delay = 0;      // output frames of silence before the first frame
  sound* next = nullptr;
  bool linked = false;
  bool retired = false;
  // Shared.
  std::atomic<Int> volume{256};
  std::atomic<Int> pan{0};
  std::atomic<Int> paused{0};
  std::atomic<Int> busy{0};  // queued or playing
};

class mixer : public output {
 public:
  static constexpr Int QUEUE_SIZE = 4096;
  static constexpr Int POOL_SIZE = 4096;
  static constexpr Int START_DELAY_MS = 20;

  explicit mixer(Int length);
  ~mixer() override;

  // Mix step: drains the start queue, then adds every active player.
  Int mix(Int* acc, Int count) override;
  Int rate() override { return samplerate; }
  // Mix step for count values (0 = the accumulator length), then converts
  // the accumulator into buffer and clears it.
  void mix16(int16_t* buffer, Int count);

  // Main thread: queue requests for the output thread. Each returns 0, or
  // -1 when the queue is full (the request is dropped).
  Int queueplay(sound* player, samplerecord* rec);
  Int queuestop(sound* player);
  Int queueretire(sound* player);  // the player goes back to the pool
  // Main thread: a recycled player, or a new one owned by this mixer.
  sound* takeplayer();

  std::vector<Int> accumulator;
  Int samplerate = 44100;
  Int channels = 2;

  // Milliseconds of a monotonic clock, safe to read from either thread.
  static Int now();

 private:
  enum : Int { REQ_PLAY, REQ_STOP, REQ_RETIRE };
  struct request {
    sound* player;
    samplerecord* rec;
    Int time;
    Int kind;
  };
  Int enqueue(const request& r);
  void drain();
  void start(sound* p, samplerecord* rec, Int time);
  void finish(sound* p);
  void recycle(sound* p);

  request queue[QUEUE_SIZE];
  std::atomic<Int> qread{0}, qwrite{0};
  sound* active = nullptr;  // output thread only, newest first
  sound* pool[POOL_SIZE];
  std::atomic<Int> pread{0}, pwrite{0};
  std::vector<sound*> owned;  // every player ever made, freed with the mixer
};

// The conversion of one accumulator value to a 16-bit sample.
inline int16_t audioSampleOf(Int v) {
  Int s = v >> 4;  // C++20 shifts negative values arithmetically
  if (s > 32767) s = 32767;
  if (s < -32768) s = -32768;
  return static_cast<int16_t>(s);
}
