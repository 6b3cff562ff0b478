// The root class Object: its class record, its standard slots, the routing
// of object memory to the runtime allocator, the free path and class tests.
#include <cstdint>
#include <cstdio>

#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "runtime/object.h"

// In memory.cpp: returns a block whose constructor never completed.
void kxAbandonObjectMemory(void* p, size_t size);

KX_CLASS_RECORD(Object)

String* Object::AsText() {
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<void*>(this));
  return kxStringDecodeCText(text);
}

// Addresses on this platform can lie more than 2 GiB apart, where the plain
// difference cut to 32 bits could flip its sign; the sign is what callers
// (sorting) rely on, so a difference beyond the Int range is clamped.
Int Object::CompareWith(Object* other) {
  Long d = static_cast<Long>(reinterpret_cast<uintptr_t>(this)) -
           static_cast<Long>(reinterpret_cast<uintptr_t>(other));
  if (d > INT32_MAX) return INT32_MAX;
  if (d < INT32_MIN) return INT32_MIN;
  return static_cast<Int>(d);
}

// A consistency failure of the caller, raised as a bare String like the
// memory manager's own reports.
void kxReservedMethod(Object*) { kxThrowCString("Illegal call to reserved method"); }
void Object::Reserved0() { kxReservedMethod(this); }
void Object::Reserved1() { kxReservedMethod(this); }
void Object::Reserved2() { kxReservedMethod(this); }

// The size comes from the class record of the most derived class, which is
// the size New<T> allocated; read it before the destructor runs.
void Object::FreeObject() {
  Int size = Class()->instanceSize;
  this->~Object();
  kxSmallFree(this, size);
}

void* Object::operator new(size_t size) { return kxAllocObjectMemory(size); }

// Only reached when a constructor raises: the collector frees finished
// objects through their free routine, never through delete.
void Object::operator delete(void* p, size_t size) {
  if (p) kxAbandonObjectMemory(p, size);
}

Object* kxNewObject(const ClassRecord* record) {
  if (!record || !record->constructor) kxRaiseAbstractCall();
  void* memory = kxAllocObjectMemory(static_cast<size_t>(record->instanceSize));
  try {
    record->constructor(static_cast<Object*>(memory));
  } catch (...) {
    kxAbandonObjectMemory(memory, static_cast<size_t>(record->instanceSize));
    throw;
  }
  Object* o = static_cast<Object*>(memory);
  // As in New<T>: a collection during construction may have listed it.
  if (o->refs == 0) kxSchedulePending(o);
  return o;
}

Object* kxObjectCast(Object* o, const ClassRecord* rec) {
  if (!o) return nullptr;
  for (const ClassRecord* c = o->Class(); c; c = c->super) {
    if (c == rec) return o;
  }
  return nullptr;
}
