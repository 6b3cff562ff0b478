// The numeric helpers and the clock: every 32- and 64-bit integer helper
// against the same operation done in wider or unsigned arithmetic, the
// conversions and degree trigonometry at any double (NaN and infinities
// included), and the millisecond clock and short delays.
#include <algorithm>
#include <cmath>

#include "runtime/time.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

Long Wrap(__int128 v) {
  return static_cast<Long>(static_cast<uint64_t>(static_cast<unsigned __int128>(v)));
}

// Mostly edges and small values, sometimes any bit pattern.
Long SomeLong(FuzzInput& in) {
  switch (in.Byte() % 6) {
    case 0: return INT64_MIN;
    case 1: return in.Range(-3, 3);
    case 2: return INT32_MIN;
    default: return in.Take<Long>();
  }
}

Double SomeDouble(FuzzInput& in) {
  switch (in.Byte() % 6) {
    case 0: return std::nan("");
    case 1: return (in.Flag() ? 1 : -1) * HUGE_VAL;
    case 2: return Double(in.Range(-4, 4)) * 90.0;
    default: return in.Take<Double>();
  }
}

void CheckInts(FuzzInput& in) {
  const Int a = Int(SomeLong(in)), b = Int(SomeLong(in));
  FUZZ_CHECK(kxIntAbs(a) == Int(uint32_t(a < 0 ? 0u - uint32_t(a) : uint32_t(a))));
  FUZZ_CHECK(kxIntSgn(a) == (a > 0) - (a < 0));
  FUZZ_CHECK(kxIntMin(a, b) == std::min(a, b) && kxIntMax(a, b) == std::max(a, b));
  const char* raised = "";
  Int mod = 0;
  raised = RaisedText([&] { mod = kxIntMod(a, b); });
  FUZZ_CHECK((*raised != 0) == (b == 0));
  if (b != 0) FUZZ_CHECK(mod == Int(Long(a) % Long(b)));
}

void CheckLongs(FuzzInput& in) {
  const Long a = SomeLong(in), b = SomeLong(in);
  const Int count = in.Take<Int>();
  Long r;
  kxLongAdd(&r, a, b);
  FUZZ_CHECK(r == Wrap(__int128(a) + b));
  kxLongSub(&r, a, b);
  FUZZ_CHECK(r == Wrap(__int128(a) - b));
  kxLongMul(&r, a, b);
  FUZZ_CHECK(r == Long(uint64_t(a) * uint64_t(b)));
  kxLongNeg(&r, a);
  FUZZ_CHECK(r == Wrap(-__int128(a)));
  kxLongAbs(&r, a);
  FUZZ_CHECK(r == Wrap(a < 0 ? -__int128(a) : __int128(a)));
  kxLongNot(&r, a);
  FUZZ_CHECK(r == ~a);
  kxLongSgn(&r, a);
  FUZZ_CHECK(r == (a > 0) - (a < 0));
  kxLongMin(&r, a, b);
  FUZZ_CHECK(r == std::min(a, b));
  kxLongMax(&r, a, b);
  FUZZ_CHECK(r == std::max(a, b));
  kxLongAnd(&r, a, b);
  FUZZ_CHECK(r == (a & b));
  kxLongOr(&r, a, b);
  FUZZ_CHECK(r == (a | b));
  kxLongXor(&r, a, b);
  FUZZ_CHECK(r == (a ^ b));
  kxLongShl(&r, a, count);
  FUZZ_CHECK(r == Long(uint64_t(a) << (count & 63)));
  kxLongShr(&r, a, count);
  FUZZ_CHECK(r == Long(uint64_t(a) >> (count & 63)));
  kxLongSar(&r, a, count);
  FUZZ_CHECK(r == (a >> (count & 63)));
  FUZZ_CHECK(kxLongLt(a, b) == (a < b) && kxLongGt(a, b) == (a > b) && kxLongLe(a, b) == (a <= b));
  FUZZ_CHECK(kxLongGe(a, b) == (a >= b) && kxLongEq(a, b) == (a == b) &&
             kxLongNe(a, b) == (a != b));
  FUZZ_CHECK(kxLongToDouble(a) == Double(a));
  Long q = 0, m = 0;
  const char* raised = RaisedText([&] {
    kxLongDiv(&q, a, b);
    kxLongMod(&m, a, b);
  });
  FUZZ_CHECK((*raised != 0) == (b == 0));
  if (b != 0) FUZZ_CHECK(q == Wrap(__int128(a) / b) && m == Wrap(__int128(a) % b));
}

void CheckDoubles(FuzzInput& in) {
  const Double a = SomeDouble(in), b = SomeDouble(in);
  const Int t = kxTruncateToInt(a);
  if (a > -2147483649.0 && a < 2147483648.0) {
    FUZZ_CHECK(t == Int(std::trunc(a)));
  } else {
    FUZZ_CHECK(t == INT32_MIN);
  }
  Long l;
  kxLongOfDouble(&l, a);
  if (!(a >= -9223372036854775808.0 && a < 9223372036854775808.0)) FUZZ_CHECK(l == INT64_MIN);
  const Double p = kxPow(a, b);
  if (a > 0 && std::isfinite(a) && b == 0) FUZZ_CHECK(p == 1.0);  // exp(0 × log(+inf)) is NaN
  if (a == 0 && b > 0) FUZZ_CHECK(p == 0.0);
  FUZZ_CHECK(kxDoubleAbs(a) == std::fabs(a) || a != a);
  FUZZ_CHECK(kxDoubleSgn(a) == (a > 0 ? 1.0 : a < 0 ? -1.0 : 0.0));
  (void)kxDoubleMod(a, b);
  (void)kxDoubleMin(a, b);
  (void)kxDoubleMax(a, b);
  const Double s = kxSinDeg(a), c = kxCosDeg(a);
  if (std::isfinite(a)) {
    FUZZ_CHECK(std::fabs(s) <= 1.0 && std::fabs(c) <= 1.0 && std::fabs(s * s + c * c - 1.0) < 1e-9);
    // Whole quarter turns are exact.
    if (a == std::trunc(a / 90.0) * 90.0 && std::fabs(a) < 1e15) FUZZ_CHECK(s * s + c * c == 1.0);
  } else {
    FUZZ_CHECK(s != s && c != c);
  }
}

void CheckClock(FuzzInput& in) {
  const Int before = kxMilliSecs();
  const Int ms = in.Range(-3, 1);
  kxDelay(ms);
  const Int after = kxMilliSecs();
  FUZZ_CHECK(Int(uint32_t(after) - uint32_t(before)) >= std::max(ms, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBegin(__builtin_frame_address(0));
  FuzzInput in(data, size);
  for (int step = 0; step < 16 && !in.Empty(); ++step) {
    switch (in.Byte() % 8) {
      case 0: CheckInts(in); break;
      case 1:
      case 2:
      case 3: CheckLongs(in); break;
      case 7: CheckClock(in); break;
      default: CheckDoubles(in); break;
    }
  }
  kxCollectGarbage();
  return 0;
}
