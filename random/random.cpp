// The generator's state and its one transition, with the conversions to
// unit intervals and ranges built on it.
//
// Invariant: the state is always in 1 .. 2^31 - 2. The step uses Schrage's
// method (44488 = (2^31 - 1) / 48271, 3399 = (2^31 - 1) mod 48271), so that
// no intermediate value leaves the signed 32-bit range.
#include "random/random.h"

#include <cmath>

#include "runtime/module.h"
#include "runtime/time.h"

namespace {

constexpr Int kModulus = 2147483647;
constexpr Int kDefaultState = 4660;

Int state = kDefaultState;

void Step() {
  const Int hi = state / 44488;
  const Int lo = state % 44488;
  state = lo * 48271 - hi * 3399;
  if (state < 0) state += kModulus;
}

}  // namespace

Int InitRandomModule() {
  KX_MODULE_ONCE();
  InitRuntimeModule();
  return 0;
}

Int SeedRnd(Int seed) {
  state = seed & kModulus;
  if (state == 0 || state == kModulus) state = kDefaultState;
  return 0;
}

Int SeedValue() { return state; }

Float UnitFloat() {
  Step();
  return static_cast<Float>((state & 0x0ffffff0) / 268435456.0);
}

Double UnitDouble() {
  Step();
  const Int s1 = state & 0x1ffffffc;
  Step();
  const Int s2 = state & 0x1ffffff8;
  return (s1 + s2 / 134217728.0) / 536870912.0;
}

Double RandRange(Double a, Double b) {
  if (b > a) return UnitDouble() * (b - a) + a;
  return UnitDouble() * (a - b) + b;
}

// v lies in [lower, upper + 1). Rounding it down, rather than toward zero,
// gives every integer of the range the same share when the range reaches
// below zero: toward zero, the lower bound would never come up (Rand(a, a)
// would give a + 1 for negative a) and 0 would come up twice as often. For
// v >= 0 both give the same integer, so every sequence of non-negative
// ranges is unchanged.
Int Rand(Int a, Int b) {
  const Double d = static_cast<Double>(b) - static_cast<Double>(a);
  const Double r = UnitDouble();
  const Double v = d > 0 ? r * (d + 1) + a : r * (1 - d) + b;
  return kxTruncateToInt(std::floor(v));
}
