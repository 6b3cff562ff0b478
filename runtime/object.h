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
#include <type_traits>
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

// A method slot as stored in a record; callers cast it back with
// ClassRecord::Method<F>() to the slot's own function type.
using KxSlot = void (*)();

// One static record per class, produced by KX_CLASS_RECORD from the C++
// class. The standard slots are plain functions that run the class's own
// implementation (its constructor, destructor, AsText, CompareWith and
// HandleMessage, inherited ones included); the C++ virtuals of Object stay
// what ordinary calls go through. The class's own method slots follow the
// reserved ones as a table the record points at: a C++ static record has one
// type for every class, so the table cannot sit inside it.
struct ClassRecord {
  const ClassRecord* super;      // null for Object
  void (*free)(Object*);         // destroys and returns the memory
  const DebugScope* debug;       // kind 2 + class name
  int32_t instanceSize;          // bytes; 0 for variable-size classes
  void (*constructor)(Object*);  // null: not made from its record
  void (*destructor)(Object*);   // this class's own destructor chain
  String* (*AsText)(Object*);
  Int (*CompareWith)(Object*, Object*);
  Object* (*HandleMessage)(Object*, Object*);
  void (*reserved[3])(Object*);  // raise "Illegal call to reserved method"
  const KxSlot* methods;         // the class's method slots, in order
  int32_t methodCount;
  const char* name;  // same text as debug->name

  template <class F>
  F Method(Int slot) const {
    return reinterpret_cast<F>(methods[slot]);
  }
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
  virtual String* AsText();                // "%p" of the address
  virtual Int CompareWith(Object* other);  // address difference
  virtual Object* HandleMessage(Object* message) { return nullptr; }
  virtual void Reserved0();  // raise "Illegal call to reserved method"
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
void kxFreeViaClass(Object* o) {
  // A final class's own routine is the one: called directly, not dispatched again.
  if constexpr (std::is_final_v<T>) {
    static_cast<T*>(o)->T::FreeObject();
  } else {
    o->FreeObject();
  }
}

// Raises "Illegal call to reserved method" as a String.
[[noreturn]] void kxReservedMethod(Object* o);

// The class that declares (or last overrides) a member, as seen from T.
template <class M>
struct KxDeclaringClass;
template <class C, class R, class... A>
struct KxDeclaringClass<R (C::*)(A...)> {
  using type = C;
};

// Standard slots: qualified calls, so each record runs its own class's code
// whatever the object's dynamic class; a class that does not override a slot
// shares its super class's slot function.
template <class C>
String* kxAsTextSlot(Object* o) {
  return static_cast<C*>(o)->C::AsText();
}
template <class C>
Int kxCompareWithSlot(Object* o, Object* other) {
  return static_cast<C*>(o)->C::CompareWith(other);
}
template <class C>
Object* kxHandleMessageSlot(Object* o, Object* message) {
  return static_cast<C*>(o)->C::HandleMessage(message);
}
template <class T>
void kxConstructSlot(Object* o) {
  ::new (static_cast<void*>(o)) T();
}
template <class T>
void kxDestructSlot(Object* o) {
  static_cast<T*>(o)->T::~T();
}

// Method slots: a member function becomes a function of (object, args...)
// that dispatches on the object; a class function is stored as it is.
template <auto M, class C, class R, class... A>
R kxCallMethodSlot(Object* self, A... args) {
  return (static_cast<C*>(self)->*M)(args...);
}
template <auto M, class C, class R, class... A>
R kxCallConstMethodSlot(Object* self, A... args) {
  return (static_cast<C*>(self)->*M)(args...);
}
template <auto M, class C, class R, class... A>
KxSlot kxMethodThunk(R (C::*)(A...)) {
  return reinterpret_cast<KxSlot>(&kxCallMethodSlot<M, C, R, A...>);
}
template <auto M, class C, class R, class... A>
KxSlot kxMethodThunk(R (C::*)(A...) const) {
  return reinterpret_cast<KxSlot>(&kxCallConstMethodSlot<M, C, R, A...>);
}
template <auto F>
KxSlot kxSlotOf() {
  if constexpr (std::is_member_function_pointer_v<decltype(F)>)
    return kxMethodThunk<F>(F);
  else
    return reinterpret_cast<KxSlot>(F);
}
// The slot table of a class: filled before main (never read earlier), so
// the records themselves stay constant data.
template <auto... F>
inline const KxSlot kxSlotTable[] = {kxSlotOf<F>()..., nullptr};

// Variable-size classes (String, Array) have instance size 0 and are never
// made or torn down through their record.
template <class T, bool kVariableSize, auto... Methods>
constexpr ClassRecord kxMakeClassRecord(const DebugScope* scope) {
  const ClassRecord* super = nullptr;
  if constexpr (!std::is_void_v<typename T::Super>) super = &T::Super::classRecord;
  void (*constructor)(Object*) = nullptr;
  void (*destructor)(Object*) = nullptr;
  if constexpr (!kVariableSize && std::is_default_constructible_v<T>)
    constructor = &kxConstructSlot<T>;
  if constexpr (!kVariableSize && std::is_destructible_v<T>) destructor = &kxDestructSlot<T>;
  return ClassRecord{
      super,
      &kxFreeViaClass<T>,
      scope,
      kVariableSize ? 0 : static_cast<int32_t>(sizeof(T)),
      constructor,
      destructor,
      &kxAsTextSlot<typename KxDeclaringClass<decltype(&T::AsText)>::type>,
      &kxCompareWithSlot<typename KxDeclaringClass<decltype(&T::CompareWith)>::type>,
      &kxHandleMessageSlot<typename KxDeclaringClass<decltype(&T::HandleMessage)>::type>,
      {&kxReservedMethod, &kxReservedMethod, &kxReservedMethod},
      kxSlotTable<Methods...>,
      static_cast<int32_t>(sizeof...(Methods)),
      scope->name};
}

// Inside the class body: KX_CLASS(TFoo, TBase)
#define KX_CLASS(Self, Base)                                               \
 public:                                                                   \
  using Super = Base;                                                      \
  static const ClassRecord classRecord;                                    \
  const ClassRecord* Class() const override { return &Self::classRecord; } \
                                                                           \
 public:

// In exactly one .cpp file: KX_CLASS_RECORD(TFoo), or with the class's
// method slots in order, super class's first: KX_CLASS_RECORD(TFoo,
// &TFoo::First, &TFoo::Second, &ClassFunction). Members are called through
// the object's virtual table, so a subclass may list its super's slots.
#define KX_CLASS_RECORD(Self, ...)                         \
  static constexpr DebugScope kxScope_##Self = {2, #Self}; \
  constinit const ClassRecord Self::classRecord =          \
      kxMakeClassRecord<Self, false __VA_OPT__(, ) __VA_ARGS__>(&kxScope_##Self);
// The same for a class whose objects differ in size (instance size 0).
#define KX_VARIABLE_CLASS_RECORD(Self, ...)                \
  static constexpr DebugScope kxScope_##Self = {2, #Self}; \
  constinit const ClassRecord Self::classRecord =          \
      kxMakeClassRecord<Self, true __VA_OPT__(, ) __VA_ARGS__>(&kxScope_##Self);

// The runtime's named records and its Null. Null is the empty reference:
// there is no static Null object (see docs/ARCHITECTURE.md).
inline constexpr const ClassRecord& kxRootClass = Object::classRecord;
inline constexpr Object* kxNullInstance = nullptr;
// Allocates the record's instance size, runs its constructor and puts the
// object on the pending list; a record without constructor raises the
// abstract-call error.
Object* kxNewObject(const ClassRecord* record);

// --- memory manager ------------------------------------------------------
// Collection modes: when to collect (the low two bits), and whether each
// collection prints its statistics line.
enum : Int {
  KX_COLLECT_ON_REQUEST = 0,   // only kxCollectGarbage
  KX_COLLECT_AUTO = 1,         // after 1 MiB of allocation or a long pending list
  KX_COLLECT_EVERY_ALLOC = 3,  // before every allocation
  KX_COLLECT_SCHEDULE = 3,     // the bits that hold the schedule
  KX_COLLECT_STATISTICS = 4,
};
void* kxAllocObjectMemory(size_t size);  // maybe collects; sets the presence bit
void kxSchedulePending(Object* o);       // count must be 0; raises otherwise
Int kxCollectGarbage();                  // bytes freed
Int kxSetCollectMode(Int mode);          // a schedule, with KX_COLLECT_STATISTICS or not
void kxSetStackBase(void* base);
void* kxStackBase();

void* kxSmallAlloc(Int size);
void kxSmallFree(void* block, Int size);
// Bytes an aligned block asks of malloc beyond its size: 16 of slack to
// reach a 16-byte boundary plus the word that keeps the malloc result
// (20 on i686, 24 on x86-64).
constexpr size_t kxAlignedOverhead = 16 + sizeof(void*);
void* kxAlignedAlloc(size_t n);
void kxAlignedFree(void* block);
void* kxAlignedGrow(void* block, size_t oldSize, size_t newSize);

// Running out of memory. kxOutOfMemory writes "lifesim: out of memory (N
// bytes)" ("lifesim: out of memory" for a size of 0, unknown) on standard
// error and ends with status 255 through the at-exit routines; the line is
// written once in the process, whoever writes it.
[[noreturn]] void kxOutOfMemory(size_t bytes);
void kxWriteOutOfMemoryLine(size_t bytes);  // async-signal-safe
// True when memory ran out: the runtime was refused some, or now a few MiB
// from malloc or the address space a display's creation needs (256 MiB) can
// no longer be had. For a failure whose cause is not known (a library that
// returned nothing or faulted), before it is reported as something else. The
// first is for the main thread outside signal handlers; the second is
// async-signal-safe and probes only the address space.
bool kxMemoryExhausted();
bool kxMemoryExhaustedInSignal();

// Counters.
Int kxPendingCount();
Int kxBitmapBlockCount();
Int kxBytesInUse();
Int kxLastBytesFreed();
Int kxLastObjectsFreed();
Int kxCollectTime();      // always -1
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
  Ref(const Ref<U>& r) : p_(r.get()) {
    kxRetain(p_);
  }
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
