// The process's sound device and its channel-handle table.
//
// Table invariants: freelist[0] heads the list of free indices and 0 ends
// it, so index 0 is never handed out; an index in use has freelist[i] == 0;
// serials[i] only grows (in steps of 4096, wrapping in 32 bits), so a handle
// freed once never matches again until the serial wraps around.
#include "audio/audiodevice.h"

#include <cstdint>

namespace {

constexpr Int TABLE_SIZE = 4096;
constexpr Int INDEX_MASK = TABLE_SIZE - 1;

struct handletable {
  sound* players[TABLE_SIZE];
  Int freelist[TABLE_SIZE];
  Int serials[TABLE_SIZE];
  // Made-up handles of free indices (such as index | 4096 before any
  // allocation) would otherwise match the initial serial.
  bool inuse[TABLE_SIZE];

  handletable() {
    for (Int i = 0; i < TABLE_SIZE; ++i) {
      players[i] = nullptr;
      freelist[i] = i + 1 < TABLE_SIZE ? i + 1 : 0;
      serials[i] = TABLE_SIZE;
      inuse[i] = false;
    }
  }
};

linuxaudio* device = nullptr;
handletable* table = nullptr;

}  // namespace

Int AudioDeviceSetUp(const char* path) {
  if (device) return 0;  // one device per process
  device = new (std::nothrow) linuxaudio(path);
  if (!device) return -1;
  if (device->start() != 0) {
    device->stop();
    linuxaudio::dispose(device);
    device = nullptr;
    return -1;
  }
  table = new handletable();
  return 0;
}

// The device is stopped before anything it reads is freed: the players
// belong to its mixer, which the thread may still be using until then.
void AudioDeviceTearDown() {
  if (device) device->stop();
  delete table;
  table = nullptr;
  linuxaudio::dispose(device);
  device = nullptr;
}

linuxaudio* AudioDevice() { return device; }

Int AllocChannelHandle() {
  if (!table) return 0;
  Int index = table->freelist[0];
  if (index == 0) return 0;
  table->freelist[0] = table->freelist[index];
  table->freelist[index] = 0;
  table->inuse[index] = true;
  table->serials[index] = static_cast<Int>(static_cast<uint32_t>(table->serials[index]) +
                                           TABLE_SIZE);
  return index | table->serials[index];
}

// Index and serial of a live handle, or false.
static bool validhandle(Int handle, Int* index) {
  if (handle == 0 || !table || !device) return false;
  Int i = handle & INDEX_MASK;
  if (!table->inuse[i] || (handle & ~INDEX_MASK) != table->serials[i]) return false;
  *index = i;
  return true;
}

sound* LookupChannelHandle(Int handle) {
  Int i;
  if (!validhandle(handle, &i) || !device->mix) return nullptr;
  if (!table->players[i]) table->players[i] = device->mix->takeplayer();
  return table->players[i];
}

void FreeChannelHandle(Int handle) {
  Int i;
  if (!validhandle(handle, &i)) return;
  // Make every copy of the handle stale before the index can be reissued.
  table->serials[i] = static_cast<Int>(static_cast<uint32_t>(table->serials[i]) + TABLE_SIZE);
  if (sound* p = table->players[i]) {
    table->players[i] = nullptr;
    // A full queue keeps the player out of the pool; it is freed with the mixer.
    if (device->mix) device->mix->queueretire(p);
  }
  table->inuse[i] = false;
  table->freelist[i] = table->freelist[0];
  table->freelist[0] = i;
}
