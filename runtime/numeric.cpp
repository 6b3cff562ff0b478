// Numeric helpers of compiled code: float-to-integer conversion, power,
// small Int and Double operations, the 64-bit integer family and degree
// trigonometry.
//
// Every operation documented to wrap is done in unsigned types, and the
// cases that are undefined in C++ or fault on x86 (out-of-range conversion,
// the most negative value divided by -1, division by zero) are decided
// before the machine operation runs.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "runtime/error.h"
#include "runtime/time.h"

namespace {

[[noreturn]] void DivideByZero() { kxRaiseError(KX_STR("Attempt to divide by zero")); }

uint64_t U(Long a) { return static_cast<uint64_t>(a); }
Long L(uint64_t a) { return static_cast<Long>(a); }

}  // namespace

// --- conversions ----------------------------------------------------------

// Toward zero; NaN and values whose truncation does not fit give the x86
// integer-indefinite value.
Int kxTruncateToInt(Double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return std::numeric_limits<Int>::min();
  return static_cast<Int>(v);
}

void kxLongOfDouble(Long* result, Double v) {
  if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) {
    *result = std::numeric_limits<Long>::min();
    return;
  }
  *result = static_cast<Long>(v);
}

Double kxPow(Double a, Double b) {
  if (a > 0) return std::exp(b * std::log(a));
  if (a == 0) {
    if (b > 0) return 0.0;
    if (b == 0) return 1.0;
    return std::numeric_limits<Double>::infinity();  // b < 0 or NaN
  }
  // a < 0 or NaN.
  if (!(b == std::trunc(b))) return std::bit_cast<Double>(uint64_t{0xfff8000000000000});
  const Double r = std::exp(b * std::log(-a));
  const Double parity = std::fmod(b, 2.0);
  return (parity == 1.0 || parity == -1.0) ? -r : r;
}

// --- small Int and Double operations ---------------------------------------

Int kxIntAbs(Int a) { return a < 0 ? static_cast<Int>(0u - static_cast<uint32_t>(a)) : a; }
Int kxIntSgn(Int a) { return (a > 0) - (a < 0); }

Int kxIntMod(Int a, Int b) {
  if (b == 0) DivideByZero();
  if (b == -1) return 0;  // INT32_MIN % -1 faults on x86
  return a % b;
}

Int kxIntMin(Int a, Int b) { return a < b ? a : b; }
Int kxIntMax(Int a, Int b) { return a > b ? a : b; }

Double kxDoubleAbs(Double a) { return std::fabs(a); }
Double kxDoubleSgn(Double a) { return a > 0 ? 1.0 : (a < 0 ? -1.0 : 0.0); }
Double kxDoubleMod(Double a, Double b) { return std::fmod(a, b); }
Double kxDoubleMin(Double a, Double b) { return b > a ? a : b; }
Double kxDoubleMax(Double a, Double b) { return a > b ? a : b; }

// --- the 64-bit family ----------------------------------------------------

void kxLongAdd(Long* r, Long a, Long b) { *r = L(U(a) + U(b)); }
void kxLongSub(Long* r, Long a, Long b) { *r = L(U(a) - U(b)); }
void kxLongMul(Long* r, Long a, Long b) { *r = L(U(a) * U(b)); }

void kxLongDiv(Long* r, Long a, Long b) {
  if (b == 0) DivideByZero();
  *r = b == -1 ? L(0 - U(a)) : a / b;  // INT64_MIN / -1 wraps to itself
}

void kxLongMod(Long* r, Long a, Long b) {
  if (b == 0) DivideByZero();
  *r = b == -1 ? 0 : a % b;
}

void kxLongNeg(Long* r, Long a) { *r = L(0 - U(a)); }
void kxLongNot(Long* r, Long a) { *r = ~a; }
void kxLongAbs(Long* r, Long a) { *r = a < 0 ? L(0 - U(a)) : a; }
void kxLongSgn(Long* r, Long a) { *r = (a > 0) - (a < 0); }
void kxLongMin(Long* r, Long a, Long b) { *r = a < b ? a : b; }
void kxLongMax(Long* r, Long a, Long b) { *r = a > b ? a : b; }
void kxLongAnd(Long* r, Long a, Long b) { *r = a & b; }
void kxLongOr(Long* r, Long a, Long b) { *r = a | b; }
void kxLongXor(Long* r, Long a, Long b) { *r = a ^ b; }
void kxLongShl(Long* r, Long a, Int count) { *r = L(U(a) << (count & 63)); }
void kxLongShr(Long* r, Long a, Int count) { *r = L(U(a) >> (count & 63)); }
void kxLongSar(Long* r, Long a, Int count) { *r = a >> (count & 63); }

Int kxLongLt(Long a, Long b) { return a < b; }
Int kxLongGt(Long a, Long b) { return a > b; }
Int kxLongLe(Long a, Long b) { return a <= b; }
Int kxLongGe(Long a, Long b) { return a >= b; }
Int kxLongEq(Long a, Long b) { return a == b; }
Int kxLongNe(Long a, Long b) { return a != b; }
Double kxLongToDouble(Long a) { return static_cast<Double>(a); }

// --- degree trigonometry --------------------------------------------------

namespace {

// Reduces to a quarter turn around 0, so that whole multiples of 90 degrees
// give exact 0 and ±1 and large angles keep their precision.
void SinCosDeg(Double degrees, Double* sine, Double* cosine) {
  if (!std::isfinite(degrees)) {
    *sine = *cosine = std::numeric_limits<Double>::quiet_NaN();
    return;
  }
  Double r = std::fmod(degrees, 360.0);
  const Double quarter = std::nearbyint(r / 90.0);
  r -= quarter * 90.0;
  const Double radians = r * (std::numbers::pi / 180.0);
  const Double s = std::sin(radians);
  const Double c = std::cos(radians);
  switch ((static_cast<int>(quarter) % 4 + 4) % 4) {
    case 0:
      *sine = s;
      *cosine = c;
      break;
    case 1:
      *sine = c;
      *cosine = -s;
      break;
    case 2:
      *sine = -s;
      *cosine = -c;
      break;
    default:
      *sine = -c;
      *cosine = s;
      break;
  }
}

}  // namespace

Double kxSinDeg(Double degrees) {
  Double s, c;
  SinCosDeg(degrees, &s, &c);
  return s;
}

Double kxCosDeg(Double degrees) {
  Double s, c;
  SinCosDeg(degrees, &s, &c);
  return c;
}
