// Objects, class records, counted references and the object memory manager.
//
// Every reference value of the runtime is an Object: a C++ class with single
// inheritance from Object whose virtual table stands for the class pointer.
// Objects live in memory from the runtime's size-class allocator, are born
// pending (count 0x80000000) and are freed only by kxCollectGarbage, which
// protects anything a word of the main thread's stack still points at.
//
// Rules for code that holds objects:
//  - module variables, fields and array elements are counted (Ref<T>);
//  - a local may be a raw pointer (the collector scans the main stack);
//  - never keep an object only in memory the collector cannot see
//    (std::vector, malloc'd blocks, other threads' stacks): use Ref<T>;
//  - never keep only an interior pointer (a String's units, an Array's
//    elements) across a call that can allocate;
//  - only the main thread creates, retains, releases or collects objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

using Int = int32_t;
using Long = int64_t;
using Short = uint16_t;
using Byte = uint8_t;
using Float = float;
using Double = double;

class Object;
class String;

// Reference count values of static objects (never reach zero).
constexpr uint32_t KX_REFS_STATIC = 0x40000000u;    // runtime statics
constexpr uint32_t KX_REFS_CONSTANT = 0x7fffffffu;  // compiled constants
constexpr uint32_t KX_REFS_PENDING = 0x80000000u;   // on the pending list

struct DebugScope {
  intptr_t kind;  // always 2 for a class scope
  const char* name;
};

// One static record per class, produced by KX_CLASS / KX_CLASS_RECORD.
// The standard slots (constructor, destructor, AsText, CompareWith,
// HandleMessage, three reserved) are the C++ virtuals of Object; the record
// carries what the runtime reads without an instance.
struct ClassRecord {
  const ClassRecord* super;         // null for Object
  void (*free)(Object*);            // destroys and returns the memory
  const DebugScope* debug;          // kind 2 + class name
  int32_t instanceSize;             // bytes; 0 for variable-size classes
  const char* name;                 // same text as debug->name
};

class Object {
 public:
  // Layout: C++ vtable pointer (the class pointer), then the count.
  uint32_t refs;

  Object() : refs(0) {}
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  virtual const ClassRecord* Class() const { return &classRecord; }
  // Standard slots.
  virtual String* AsText();                   // "%p" of the address
  virtual Int CompareWith(Object* other);     // address difference
  virtual Object* HandleMessage(Object* message) { return nullptr; }
  virtual void Reserved0();                   // raise "Illegal call to reserved method"
  virtual void Reserved1();
  virtual void Reserved2();
  // Free routine: destroy and give the memory back. Variable-size classes
  // and static objects override it.
  virtual void FreeObject();

  static const ClassRecord classRecord;
  using Super = void;

  // Object memory comes from the runtime allocator; use New<T>() to create.
  static void* operator new(size_t size);
  static void* operator new(size_t, void* where) { return where; }
  static void operator delete(void* p, size_t size);
  static void operator delete(void*, void*) {}

 protected:
  struct StaticTag {};
  explicit Object(StaticTag, uint32_t count) : refs(count) {}
};

// --- class records -------------------------------------------------------
template <class T>
void kxFreeViaClass(Object* o) { o->FreeObject(); }

template <class T>
constexpr ClassRecord kxMakeClassRecord(const DebugScope* scope) {
  return ClassRecord{&T::Super::classRecord, &kxFreeViaClass<T>, scope,
                     static_cast<int32_t>(sizeof(T)), scope->name};
}

// Inside the class body: KX_CLASS(TFoo, TBase)
#define KX_CLASS(Self, Base)                                              \
 public:                                                                  \
  using Super = Base;                                                     \
  static const ClassRecord classRecord;                                   \
  const ClassRecord* Class() const override { return &Self::classRecord; }\
                                                                          \
 public:

// In exactly one .cpp file: KX_CLASS_RECORD(TFoo)
#define KX_CLASS_RECORD(Self)                                             \
  static const DebugScope kxScope_##Self = {2, #Self};                    \
  const ClassRecord Self::classRecord = kxMakeClassRecord<Self>(&kxScope_##Self);

// --- memory manager ------------------------------------------------------
void* kxAllocObjectMemory(size_t size);  // maybe collects; sets the presence bit
void kxSchedulePending(Object* o);       // count must be 0; raises otherwise
Int kxCollectGarbage();                  // bytes freed
Int kxSetCollectMode(Int mode);          // 1 auto, 3 every alloc, bit 2 = statistics line
void kxSetStackBase(void* base);
void* kxStackBase();

void* kxSmallAlloc(Int size);
void kxSmallFree(void* block, Int size);
void* kxAlignedAlloc(size_t n);
void kxAlignedFree(void* block);
void* kxAlignedGrow(void* block, size_t oldSize, size_t newSize);

// Counters.
Int kxPendingCount();
Int kxBitmapBlockCount();
Int kxBytesInUse();
Int kxLastBytesFreed();
Int kxLastObjectsFreed();
Int kxCollectTime();  // always -1
Int kxPendingCapacity();  // grows by 1024 entries, never shrinks

// True when an object starts at this address (presence bitmap).
bool kxIsObjectAddress(const void* p);

// --- references ----------------------------------------------------------
inline void kxRetain(Object* o) {
  if (o) o->refs += 1;
}
void kxReleaseObject(Object* o);  // count - 1; at 0 the object goes pending
inline void kxRelease(Object* o) {
  if (o) kxReleaseObject(o);
}

// Creates an object of class T: allocation, constructor, then pending.
template <class T, class... A>
T* New(A&&... args) {
  T* p = new T(std::forward<A>(args)...);
  // A collection during construction may already have put it on the list.
  if (p->refs == 0) kxSchedulePending(p);
  return p;
}

// Class test: the object if its class is rec or derives from it, else null.
Object* kxObjectCast(Object* o, const ClassRecord* rec);
template <class T>
T* Cast(Object* o) {
  return static_cast<T*>(kxObjectCast(o, &T::classRecord));
}

// Counted reference: copy retains, overwrite and destruction release.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  Ref(T* p) : p_(p) { kxRetain(p_); }
  Ref(const Ref& r) : p_(r.p_) { kxRetain(p_); }
  Ref(Ref&& r) noexcept : p_(r.p_) { r.p_ = nullptr; }
  template <class U>
  Ref(const Ref<U>& r) : p_(r.get()) { kxRetain(p_); }
  ~Ref() { kxRelease(p_); }
  Ref& operator=(T* p) {
    kxRetain(p);  // new value first: p may be kept alive only by the old one
    T* old = p_;
    p_ = p;
    kxRelease(old);
    return *this;
  }
  Ref& operator=(const Ref& r) { return *this = r.p_; }
  Ref& operator=(Ref&& r) noexcept {
    if (this != &r) {
      T* old = p_;
      p_ = r.p_;
      r.p_ = nullptr;
      kxRelease(old);
    }
    return *this;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  operator T*() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// --- handles -------------------------------------------------------------
Int kxObjectToHandle(Object* o);
Object* kxHandleLookup(Int handle);
void kxHandleDrop(Int handle);

// --- embedded data blocks ------------------------------------------------
Int kxAddEmbeddedBlob(String* name, const void* data, Int length);
const void* kxEmbeddedBlobData(String* name);
Int kxEmbeddedBlobSize(String* name);
