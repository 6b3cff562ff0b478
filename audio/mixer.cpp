// The mixer: start queue, active list, player pool and the conversion of the
// accumulator to 16-bit samples. Runs on the output thread except for the
// queue* and takeplayer entry points, which belong to the main thread.
#include "audio/mixer.h"

#include <time.h>

#include <cstring>

// --- sample records --------------------------------------------------------

samplerecord* samplerecord::make(const int16_t* values, Int frames, Int channels, Int rate) {
  if (channels < 1 || channels > 2 || rate <= 0 || frames < 0) return nullptr;
  samplerecord* r = new samplerecord();
  r->frames = frames;
  r->channels = channels;
  r->rate = rate;
  size_t n = static_cast<size_t>(frames) * static_cast<size_t>(channels);
  r->data = new int16_t[n ? n : 1];
  if (n && values)
    std::memcpy(r->data, values, n * sizeof(int16_t));
  else if (n)
    std::memset(r->data, 0, n * sizeof(int16_t));
  return r;
}

samplerecord::~samplerecord() { delete[] data; }

void samplerecord::release() {
  // acq_rel: the thread that frees must see every write of the others.
  if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

// --- players ---------------------------------------------------------------

output::~output() = default;

sound::~sound() { reset(); }

void sound::reset() {
  if (rec) rec->release();
  rec = nullptr;
  pos = 0;
  delay = 0;
}

// Thousands of loud channels could pass 2^31: wrap instead of overflowing.
static inline void add(Int& a, Int v) {
  a = static_cast<Int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(v));
}

Int sound::mix(Int* acc, Int count) {
  if (!rec) return 1;
  if (paused.load(std::memory_order_relaxed)) return 0;
  Int frames = count / 2;
  Int i = 0;
  if (delay > 0) {
    Int skip = delay < frames ? delay : frames;
    delay -= skip;
    i = skip;
  }
  Int vol = volume.load(std::memory_order_relaxed);
  Int p = pan.load(std::memory_order_relaxed);
  Int gainL = vol * (256 - (p > 0 ? p : 0)) / 256;
  Int gainR = vol * (256 + (p < 0 ? p : 0)) / 256;
  const uint64_t end = static_cast<uint64_t>(rec->frames) << 16;
  const int16_t* d = rec->data;
  for (; i < frames; ++i) {
    if (pos >= end) return 1;
    size_t f = static_cast<size_t>(pos >> 16);
    Int l, r;
    if (rec->channels == 2) {
      l = d[2 * f];
      r = d[2 * f + 1];
    } else {
      l = r = d[f];
    }
    // sample * gain / 256 * 16: unity gain lands at sample * 16.
    add(acc[2 * i], (l * gainL) >> 4);
    add(acc[2 * i + 1], (r * gainR) >> 4);
    pos += step;
  }
  return pos >= end ? 1 : 0;
}

// --- mixer -----------------------------------------------------------------

mixer::mixer(Int length) : accumulator(static_cast<size_t>(length > 0 ? length : 0), 0) {
  std::memset(queue, 0, sizeof queue);
  std::memset(pool, 0, sizeof pool);
}

mixer::~mixer() {
  // Only reached once the output thread is gone: nothing else holds these.
  Int r = qread.load(), w = qwrite.load();
  for (; r != w; r = (r + 1) % QUEUE_SIZE)
    if (queue[r].rec) queue[r].rec->release();
  for (sound* p : owned) delete p;
}

Int mixer::now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Wraps like a 32-bit millisecond counter; differences stay exact.
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<Int>(static_cast<uint32_t>(ms));
}

Int mixer::enqueue(const request& r) {
  Int w = qwrite.load(std::memory_order_relaxed);
  Int nw = (w + 1) % QUEUE_SIZE;
  if (nw == qread.load(std::memory_order_acquire)) return -1;
  queue[w] = r;
  qwrite.store(nw, std::memory_order_release);
  return 0;
}

Int mixer::queueplay(sound* player, samplerecord* rec) {
  if (!player || !rec) return -1;
  rec->retain();
  if (enqueue({player, rec, now(), REQ_PLAY}) != 0) {
    rec->release();
    return -1;
  }
  player->busy.store(1);
  return 0;
}

Int mixer::queuestop(sound* player) {
  if (!player) return -1;
  return enqueue({player, nullptr, now(), REQ_STOP});
}

Int mixer::queueretire(sound* player) {
  if (!player) return -1;
  return enqueue({player, nullptr, now(), REQ_RETIRE});
}

sound* mixer::takeplayer() {
  Int r = pread.load(std::memory_order_relaxed);
  if (r != pwrite.load(std::memory_order_acquire)) {
    sound* p = pool[r];
    pread.store((r + 1) % POOL_SIZE, std::memory_order_release);
    p->retired = false;  // the output thread let go of it before pooling
    p->volume.store(256);
    p->pan.store(0);
    p->paused.store(0);
    return p;
  }
  sound* p = new sound();
  owned.push_back(p);
  return p;
}

void mixer::start(sound* p, samplerecord* rec, Int time) {
  // A player that is already on the list restarts in place, so that a
  // second play request cannot link it twice.
  p->reset();
  p->rec = rec;
  p->step = (static_cast<uint64_t>(static_cast<uint32_t>(rec->rate)) << 16) /
            static_cast<uint64_t>(samplerate > 0 ? samplerate : 1);
  Int wait = static_cast<Int>(static_cast<uint32_t>(time) + START_DELAY_MS -
                              static_cast<uint32_t>(now()));
  if (wait < 0) wait = 0;
  p->delay = static_cast<Int>(static_cast<Long>(wait) * samplerate / 1000);
  if (!p->linked) {
    p->next = active;
    active = p;
    p->linked = true;
  }
}

void mixer::recycle(sound* p) {
  Int w = pwrite.load(std::memory_order_relaxed);
  Int nw = (w + 1) % POOL_SIZE;
  if (nw == pread.load(std::memory_order_acquire)) return;  // full: stays owned, unused
  pool[w] = p;
  pwrite.store(nw, std::memory_order_release);
}

// Called with p already off the active list.
void mixer::finish(sound* p) {
  p->reset();
  p->linked = false;
  p->next = nullptr;
  p->busy.store(0);
  if (p->retired) recycle(p);
}

void mixer::drain() {
  Int r = qread.load(std::memory_order_relaxed);
  Int w = qwrite.load(std::memory_order_acquire);
  for (; r != w; r = (r + 1) % QUEUE_SIZE) {
    request q = queue[r];
    switch (q.kind) {
      case REQ_PLAY:
        if (q.player->retired) {
          q.rec->release();
          q.player->busy.store(0);
        } else {
          start(q.player, q.rec, q.time);
        }
        break;
      case REQ_STOP:
        // Clearing the record makes the player report finished below.
        if (q.player->linked)
          q.player->reset();
        else
          q.player->busy.store(0);
        break;
      case REQ_RETIRE:
        q.player->retired = true;
        if (q.player->linked)
          q.player->reset();
        else
          finish(q.player);
        break;
    }
  }
  qread.store(r, std::memory_order_release);
}

Int mixer::mix(Int* acc, Int count) {
  drain();
  sound** link = &active;
  while (sound* p = *link) {
    if (p->mix(acc, count)) {
      *link = p->next;
      finish(p);
    } else {
      link = &p->next;
    }
  }
  return 0;
}

void mixer::mix16(int16_t* buffer, Int count) {
  Int len = static_cast<Int>(accumulator.size());
  if (count <= 0 || count > len) count = len;
  Int* acc = accumulator.data();
  mix(acc, count);
  for (Int i = 0; i < count; ++i) {
    buffer[i] = audioSampleOf(acc[i]);
    acc[i] = 0;
  }
}
