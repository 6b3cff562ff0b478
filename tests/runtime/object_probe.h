// A small runtime class for the object and memory tests: it records its
// construction and destruction so that tests can tell when the collector
// freed it, and orders by a key so that object arrays can be sorted.
#pragma once

#include <string>

#include "runtime/error.h"
#include "runtime/kxstring.h"
#include "runtime/object.h"
#include "tests/support/test_util.h"

class TProbe : public Object {
  KX_CLASS(TProbe, Object)
 public:
  explicit TProbe(Int k = 0);
  ~TProbe() override;
  Int CompareWith(Object* other) override;

  Int key;
  Ref<Object> held;  // lets a probe own another object

  static std::string log;  // "+Class" / "-Class" entries of ctors and dtors
  static Int logKey;       // of the probe whose entries go to the log
  // True once a probe with this key has been destroyed (keys are unique per
  // test, so garbage left by other tests cannot confuse the check).
  static Int TimesDestroyed(Int key);
  static bool WasDestroyed(Int key) { return TimesDestroyed(key) != 0; }
};

class TProbeChild : public TProbe {
  KX_CLASS(TProbeChild, TProbe)
 public:
  explicit TProbeChild(Int k = 0);
  ~TProbeChild() override;
  double extra[4];  // makes the child a different size class
};

// The String f raises (how the runtime reports its own consistency
// failures and reserved calls): "" for any other object, "(none)" when f
// raises nothing.
template <class F>
std::string RaisedString(F f) {
  try {
    KxTry region;
    f();
  } catch (const KxThrown& e) {
    String* s = Cast<String>(e.error.get());
    return s ? ToStd(s) : "";
  }
  return "(none)";
}

// Overwrites the unused stack below the caller with zeros, so that stale
// copies of pointers left by finished calls cannot protect objects from
// the conservative scan of the next collection.
void WipeStack();

// Runs f with 64 KiB of zeroed stack between the caller and f's frames.
// Pointers that f leaves behind in dead stack slots then lie far below the
// stack pointer of a collection the caller starts afterwards, where the
// conservative scan does not look.
template <class F>
__attribute__((noinline)) void RunDeep(F&& f) {
  volatile char pad[65536];
  for (size_t i = 0; i < sizeof pad; ++i) pad[i] = 0;
  WipeStack();
  f();
  asm volatile("" : : "r"(pad) : "memory");
}

// A pointer the stack scan cannot mistake for an object (bit 0 set), for
// tests that must remember an address without keeping it alive. The real
// address is only ever rebuilt inside these out-of-line helpers, so that
// the compiler cannot keep it in the test's own frame or registers.
uintptr_t Disguise(const void* p);
bool IsObjectAt(uintptr_t disguised);
bool SameAddress(const void* p, uintptr_t disguised);
