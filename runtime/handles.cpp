// Integer handles for objects, for code that can only pass numbers around.
// Two hash tables of 1024 buckets map object to handle and handle to object;
// a handle holds one reference on its object until it is dropped.
//
// Handles are issued from a counter that advances by 8 (skipping 0); the
// handle is the counter divided by 8, so the first is 1.
#include <cstdint>
#include <cstdlib>

#include "runtime/object.h"

namespace {

struct Entry {
  Entry* next;
  uintptr_t key;
  uintptr_t value;
};

constexpr uint32_t kBuckets = 1024;

struct Table {
  Entry* buckets[kBuckets];

  static uint32_t Bucket(uintptr_t key) {
    return static_cast<uint32_t>((key >> 3) & (kBuckets - 1));
  }

  Entry* Find(uintptr_t key) const {
    for (Entry* e = buckets[Bucket(key)]; e; e = e->next)
      if (e->key == key) return e;
    return nullptr;
  }

  void Insert(uintptr_t key, uintptr_t value) {
    Entry* e = static_cast<Entry*>(std::malloc(sizeof(Entry)));
    if (!e) kxOutOfMemory(sizeof(Entry));
    Entry*& head = buckets[Bucket(key)];
    *e = Entry{head, key, value};
    head = e;
  }

  bool Remove(uintptr_t key) {
    for (Entry** link = &buckets[Bucket(key)]; *link; link = &(*link)->next) {
      if ((*link)->key == key) {
        Entry* e = *link;
        *link = e->next;
        std::free(e);
        return true;
      }
    }
    return false;
  }
};

Table byObject;
Table byHandle;  // key: the counter value (handle × 8)
uint32_t handleCounter = 0;

// The counter is 32 bits wide, so issued handles lie in 1 .. 2^29 - 1.
// Anything else is forged: multiplied by 8 in 32 bits it would alias an
// issued handle (0x20000001 would find handle 1), so it finds nothing.
constexpr Int kLastHandle = 0x1FFFFFFF;

bool Issuable(Int handle) { return handle > 0 && handle <= kLastHandle; }

uintptr_t HandleKey(Int handle) { return static_cast<uint32_t>(handle) * 8u; }

}  // namespace

Int kxObjectToHandle(Object* o) {
  if (!o) return 0;
  uintptr_t obj = reinterpret_cast<uintptr_t>(o);
  if (Entry* e = byObject.Find(obj)) return static_cast<Int>(e->value / 8);
  kxRetain(o);
  handleCounter += 8;
  if (handleCounter == 0) handleCounter = 8;
  byObject.Insert(obj, handleCounter);
  byHandle.Insert(handleCounter, obj);
  return static_cast<Int>(handleCounter / 8);
}

Object* kxHandleLookup(Int handle) {
  if (!Issuable(handle)) return nullptr;
  Entry* e = byHandle.Find(HandleKey(handle));
  return e ? reinterpret_cast<Object*>(e->value) : nullptr;
}

void kxHandleDrop(Int handle) {
  if (!Issuable(handle)) return;
  Entry* e = byHandle.Find(HandleKey(handle));
  if (!e) return;
  Object* o = reinterpret_cast<Object*>(e->value);
  byHandle.Remove(HandleKey(handle));
  byObject.Remove(reinterpret_cast<uintptr_t>(o));
  kxRelease(o);
}
