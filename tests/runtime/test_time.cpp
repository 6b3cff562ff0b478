// The clock, the tick and delays; float-to-integer conversion, power, the
// small numeric operations, the 64-bit family and degree trigonometry.
#include <gtest/gtest.h>
#include <sys/sysinfo.h>

#include <bit>
#include <chrono>
#include <climits>
#include <cmath>
#include <ctime>
#include <limits>
#include <thread>

#include "runtime/error.h"
#include "runtime/time.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Long Do(void (*op)(Long*, Long, Long), Long a, Long b) {
  Long r = 0x5a5a5a5a5a5a5a5a;
  op(&r, a, b);
  return r;
}

Long Do1(void (*op)(Long*, Long), Long a) {
  Long r = 0x5a5a5a5a5a5a5a5a;
  op(&r, a);
  return r;
}

Long Shift(void (*op)(Long*, Long, Int), Long a, Int count) {
  Long r = 0;
  op(&r, a, count);
  return r;
}

Long LongOf(Double v) {
  Long r = 0;
  kxLongOfDouble(&r, v);
  return r;
}

// The text of what `body` raised, empty when it raised nothing.
template <class F>
std::string Raised(F body) {
  try {
    KxTry region;
    body();
  } catch (const KxThrown& e) {
    String* t = kxErrorText(e.error);
    std::string out;
    for (int32_t i = 0; i < t->length; ++i) out.push_back(static_cast<char>(t->units[i]));
    return out;
  }
  return "";
}

}  // namespace

TEST(Clock, CountsFromSystemStart) {
  struct sysinfo info {};
  ASSERT_EQ(sysinfo(&info), 0);
  const uint32_t uptimeMs = static_cast<uint32_t>(info.uptime) * 1000u;
  // The base is taken from whole seconds of uptime, so the clock is within
  // about a second of the uptime; the difference is taken in 32 bits, as
  // the clock wraps after 2^32 ms.
  const Int diff = static_cast<Int>(static_cast<uint32_t>(kxMilliSecs()) - uptimeMs);
  EXPECT_LT(std::abs(diff), 2000);
}

TEST(Clock, FollowsRealTime) {
  const Int a = kxMilliSecs();
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const Int b = kxMilliSecs();
  const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_GE(b - a, 29);
  EXPECT_LE(b - a, real.count() + 2);
}

TEST(Clock, TickRecordsAlarmAndCanBeStopped) {
  PendingSignal = 0;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (PendingSignal == 0 && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  EXPECT_EQ(PendingSignal, 14);

  kxSetTickInterval(0);
  PendingSignal = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(PendingSignal, 0);
  kxSetTickInterval(1);
}

TEST(Delay, ZeroAndNegativeReturnAtOnce) {
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) {
    kxDelay(0);
    kxDelay(-5);
    kxDelay(INT_MIN);
  }
  // 3000 calls that slept even once each would take seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

TEST(Delay, LastsAtLeastTheRequestedTime) {
  for (Int ms : {1, 5, 50}) {
    const Int start = kxMilliSecs();
    const auto t0 = std::chrono::steady_clock::now();
    kxDelay(ms);
    EXPECT_GE(kxMilliSecs() - start, ms);
    // The clock counts whole milliseconds: at least ms - 1 have truly passed.
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(ms - 1));
  }
}

// Threads besides the main one may delay too (the audio thread does).
TEST(Delay, WorksOnAnotherThread) {
  Int elapsed = -1;
  std::thread([&] {
    const Int start = kxMilliSecs();
    kxDelay(20);
    elapsed = kxMilliSecs() - start;
  }).join();
  EXPECT_GE(elapsed, 20);
}

TEST(Truncate, TowardZeroAndIndefiniteOutOfRange) {
  EXPECT_EQ(kxTruncateToInt(2.7), 2);
  EXPECT_EQ(kxTruncateToInt(-2.7), -2);
  EXPECT_EQ(kxTruncateToInt(2.5), 2);
  EXPECT_EQ(kxTruncateToInt(-0.5), 0);
  EXPECT_EQ(kxTruncateToInt(2147483647.9), INT_MAX);
  EXPECT_EQ(kxTruncateToInt(-2147483648.9), INT_MIN);
  for (double out : {2147483648.0, -2147483649.0, 1e300, -1e300, kInf, -kInf, kNaN}) {
    EXPECT_EQ(kxTruncateToInt(out), INT_MIN) << out;
  }

  EXPECT_EQ(LongOf(-2.7), -2);
  EXPECT_EQ(LongOf(1e18 + 0.5), 1000000000000000000LL);
  EXPECT_EQ(LongOf(-9223372036854775808.0), LLONG_MIN);
  EXPECT_EQ(LongOf(9223372036854774784.0), 9223372036854774784LL);
  for (double out : {9223372036854775808.0, -9223372036854777856.0, kInf, kNaN}) {
    EXPECT_EQ(LongOf(out), LLONG_MIN) << out;
  }
}

TEST(Power, SpecialCasesOfBase) {
  EXPECT_EQ(kxPow(0, 0), 1.0);
  EXPECT_EQ(kxPow(0, 3), 0.0);
  EXPECT_EQ(kxPow(0, -1), kInf);
  EXPECT_EQ(kxPow(0, kNaN), kInf);
  EXPECT_NEAR(kxPow(-8, 3), -512.0, 1e-9);
  EXPECT_NEAR(kxPow(-8, 2), 64.0, 1e-9);
  EXPECT_NEAR(kxPow(-2, -1), -0.5, 1e-12);
  EXPECT_NEAR(kxPow(2, 10), 1024.0, 1e-9);
  EXPECT_NEAR(kxPow(9, 0.5), 3.0, 1e-12);
  const double nan = kxPow(-8, 0.5);
  EXPECT_TRUE(std::isnan(nan));
  EXPECT_EQ(std::bit_cast<uint64_t>(nan), 0xfff8000000000000ULL);
  EXPECT_TRUE(std::isnan(kxPow(kNaN, 0.5)));
  EXPECT_TRUE(std::isnan(kxPow(-1, kNaN)));
}

TEST(SmallOps, IntAndDouble) {
  EXPECT_EQ(kxIntAbs(-5), 5);
  EXPECT_EQ(kxIntAbs(INT_MIN), INT_MIN);
  EXPECT_EQ(kxIntSgn(-9), -1);
  EXPECT_EQ(kxIntSgn(0), 0);
  EXPECT_EQ(kxIntSgn(INT_MAX), 1);
  EXPECT_EQ(kxIntMod(-7, 3), -1);
  EXPECT_EQ(kxIntMod(7, -3), 1);
  EXPECT_EQ(kxIntMod(INT_MIN, -1), 0);
  EXPECT_EQ(kxIntMin(-1, 1), -1);
  EXPECT_EQ(kxIntMax(-1, 1), 1);
  EXPECT_EQ(Raised([] { kxIntMod(1, 0); }), "Attempt to divide by zero");

  EXPECT_EQ(kxDoubleAbs(-0.25), 0.25);
  EXPECT_EQ(kxDoubleSgn(-3.0), -1.0);
  EXPECT_EQ(kxDoubleSgn(kNaN), 0.0);
  EXPECT_EQ(kxDoubleSgn(1e-300), 1.0);
  EXPECT_EQ(kxDoubleMod(-7.5, 2.0), -1.5);
  EXPECT_EQ(kxDoubleMin(2.0, 1.0), 1.0);
  EXPECT_EQ(kxDoubleMax(2.0, 1.0), 2.0);
  // NaN: the second argument wins unless the comparison holds.
  EXPECT_EQ(kxDoubleMin(kNaN, 1.0), 1.0);
  EXPECT_EQ(kxDoubleMax(kNaN, 1.0), 1.0);
}

TEST(LongOps, ArithmeticWrapsAndCarries) {
  EXPECT_EQ(Do(kxLongAdd, 0xFFFFFFFFLL, 1), 0x100000000LL);
  EXPECT_EQ(Do(kxLongAdd, LLONG_MAX, 1), LLONG_MIN);
  EXPECT_EQ(Do(kxLongSub, LLONG_MIN, 1), LLONG_MAX);
  EXPECT_EQ(Do(kxLongSub, 0x100000000LL, 1), 0xFFFFFFFFLL);
  EXPECT_EQ(Do(kxLongMul, 0x100000001LL, 0x100000001LL), 0x200000001LL);
  EXPECT_EQ(Do(kxLongMul, LLONG_MIN, -1), LLONG_MIN);
  EXPECT_EQ(Do(kxLongDiv, -7, 2), -3);
  EXPECT_EQ(Do(kxLongMod, -7, 2), -1);
  EXPECT_EQ(Do(kxLongDiv, LLONG_MIN, -1), LLONG_MIN);
  EXPECT_EQ(Do(kxLongMod, LLONG_MIN, -1), 0);
  EXPECT_EQ(Raised([] { Do(kxLongDiv, 1, 0); }), "Attempt to divide by zero");
  EXPECT_EQ(Raised([] { Do(kxLongMod, 1, 0); }), "Attempt to divide by zero");
  EXPECT_EQ(Do1(kxLongNeg, LLONG_MIN), LLONG_MIN);
  EXPECT_EQ(Do1(kxLongNeg, 5), -5);
  EXPECT_EQ(Do1(kxLongNot, 0), -1);
  EXPECT_EQ(Do1(kxLongAbs, LLONG_MIN), LLONG_MIN);
  EXPECT_EQ(Do1(kxLongAbs, -3), 3);
  EXPECT_EQ(Do1(kxLongSgn, -0x100000000LL), -1);
  EXPECT_EQ(Do1(kxLongSgn, 0x100000000LL), 1);
  EXPECT_EQ(Do1(kxLongSgn, 0), 0);
  EXPECT_EQ(Do(kxLongMin, -1, 0x100000000LL), -1);
  EXPECT_EQ(Do(kxLongMax, -1, 0x100000000LL), 0x100000000LL);
  EXPECT_EQ(kxLongToDouble(-(1LL << 40)), -1099511627776.0);
}

TEST(LongOps, BitsAndShiftsByLowSixBits) {
  EXPECT_EQ(Do(kxLongAnd, 0xF0F0000000000000LL, -1), 0xF0F0000000000000LL);
  EXPECT_EQ(Do(kxLongOr, 0x100000000LL, 1), 0x100000001LL);
  EXPECT_EQ(Do(kxLongXor, -1, 0xFFFFFFFFLL), static_cast<Long>(0xFFFFFFFF00000000ULL));
  EXPECT_EQ(Shift(kxLongShl, 1, 63), LLONG_MIN);
  EXPECT_EQ(Shift(kxLongShl, 1, 64), 1);
  EXPECT_EQ(Shift(kxLongShl, 1, 65), 2);
  EXPECT_EQ(Shift(kxLongShl, 1, -1), LLONG_MIN);
  EXPECT_EQ(Shift(kxLongShr, -1, 60), 15);
  EXPECT_EQ(Shift(kxLongSar, -16, 2), -4);
  EXPECT_EQ(Shift(kxLongSar, LLONG_MIN, 63), -1);
  EXPECT_EQ(Shift(kxLongShr, LLONG_MIN, 63), 1);
}

// Word boundaries: the high words decide as signed, the low ones as unsigned.
TEST(LongOps, ComparisonsAcrossTheWordBoundary) {
  const Long lowAllOnes = 0xFFFFFFFFLL;
  const Long highOne = 0x100000000LL;
  EXPECT_EQ(kxLongLt(lowAllOnes, highOne), 1);
  EXPECT_EQ(kxLongGt(lowAllOnes, highOne), 0);
  EXPECT_EQ(kxLongLt(-1, 0), 1);
  EXPECT_EQ(kxLongLt(LLONG_MIN, LLONG_MAX), 1);
  EXPECT_EQ(kxLongLe(highOne, highOne), 1);
  EXPECT_EQ(kxLongGe(-highOne, -1), 0);
  EXPECT_EQ(kxLongEq(highOne, 1), 0);
  EXPECT_EQ(kxLongNe(highOne, 1), 1);
}

TEST(Trig, DegreesWithExactQuarterTurns) {
  for (double q : {0.0, 90.0, 180.0, 270.0, 360.0, -90.0, 450.0, 3600.0 + 180.0}) {
    const double s = kxSinDeg(q);
    const double c = kxCosDeg(q);
    EXPECT_TRUE(s == 0.0 || s == 1.0 || s == -1.0) << q << " " << s;
    EXPECT_TRUE(c == 0.0 || c == 1.0 || c == -1.0) << q << " " << c;
    EXPECT_EQ(s * s + c * c, 1.0) << q;
  }
  EXPECT_EQ(kxSinDeg(90), 1.0);
  EXPECT_EQ(kxCosDeg(180), -1.0);
  EXPECT_EQ(kxSinDeg(-90), -1.0);
  EXPECT_NEAR(kxSinDeg(30), 0.5, 1e-15);
  EXPECT_NEAR(kxCosDeg(60), 0.5, 1e-15);
  EXPECT_NEAR(kxSinDeg(-135), -std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(kxSinDeg(360.0 * 1e9 + 30), 0.5, 1e-12);
  EXPECT_TRUE(std::isnan(kxSinDeg(kInf)));
  EXPECT_TRUE(std::isnan(kxCosDeg(kNaN)));
}
