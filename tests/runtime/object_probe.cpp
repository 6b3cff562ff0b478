#include "tests/runtime/object_probe.h"

#include <cstring>
#include <set>

KX_CLASS_RECORD(TProbe)
KX_CLASS_RECORD(TProbeChild)

std::string TProbe::log;
Int TProbe::logKey = -1;
static std::multiset<Int> destroyedKeys;

Int TProbe::TimesDestroyed(Int key) { return static_cast<Int>(destroyedKeys.count(key)); }

TProbe::TProbe(Int k) : key(k) {
  if (key == logKey) log += std::string("+") + Class()->name;
}

TProbe::~TProbe() {
  destroyedKeys.insert(key);
  if (key == logKey) log += std::string("-") + Class()->name;
}

Int TProbe::CompareWith(Object* other) {
  TProbe* p = Cast<TProbe>(other);
  return p ? (key > p->key) - (key < p->key) : Object::CompareWith(other);
}

TProbeChild::TProbeChild(Int k) : TProbe(k), extra{} {
  if (key == logKey) log += std::string("+") + Class()->name;
}
TProbeChild::~TProbeChild() {
  if (key == logKey) log += std::string("-") + Class()->name;
}

__attribute__((noinline)) void WipeStack() {
  volatile char area[32768];
  std::memset(const_cast<char*>(area), 0, sizeof area);
  asm volatile("" : : "r"(area) : "memory");
}

__attribute__((noinline)) uintptr_t Disguise(const void* p) {
  return reinterpret_cast<uintptr_t>(p) | 1;
}

__attribute__((noinline)) bool IsObjectAt(uintptr_t disguised) {
  return kxIsObjectAddress(reinterpret_cast<void*>(disguised & ~uintptr_t(1)));
}

__attribute__((noinline)) bool SameAddress(const void* p, uintptr_t disguised) {
  return (reinterpret_cast<uintptr_t>(p) | 1) == disguised;
}
