// The clock, the tick and delays; conversions, power, and the numeric
// operations whose edges are undefined or fault in plain C++.
#include <gtest/gtest.h>
#include <sys/sysinfo.h>

#include <bit>
#include <chrono>
#include <climits>
#include <cmath>
#include <limits>
#include <thread>

#include "runtime/error.h"
#include "runtime/time.h"
#include "tests/support/test_util.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Calls a routine that gives its result through the pointer.
template <class... A, class... B>
Long Do(void (*op)(Long*, A...), B... args) {
  Long r = 0x5a5a5a5a5a5a5a5a;
  op(&r, static_cast<A>(args)...);
  return r;
}

}  // namespace

TEST(Time, ClockTickAndDelay) {
  struct sysinfo info {};
  ASSERT_EQ(sysinfo(&info), 0);
  // Within about a second of the uptime, compared in 32 bits (it wraps).
  const uint32_t uptimeMs = static_cast<uint32_t>(info.uptime) * 1000u;
  EXPECT_LT(std::abs(static_cast<Int>(static_cast<uint32_t>(kxMilliSecs()) - uptimeMs)), 2000);

  PendingSignal = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(PendingSignal, 14);

  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) kxDelay(0), kxDelay(INT_MIN);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));  // none slept
  for (Int ms : {1, 5, 50}) {
    const Int start = kxMilliSecs();
    kxDelay(ms);
    EXPECT_GE(kxMilliSecs() - start, ms);
  }

  // The start hook runs once per delay that sleeps, on the main thread only,
  // before the first pause.
  static int hookRuns = 0;
  static Int hookTime = 0;
  kxSetDelayStartHook([] { ++hookRuns, hookTime = kxMilliSecs(); });
  kxDelay(0), kxDelay(-3), kxDelay(20);
  const Int end = kxMilliSecs();
  std::thread([] { kxDelay(2); }).join();
  kxSetDelayStartHook(nullptr);
  kxDelay(1);
  EXPECT_EQ(hookRuns, 1);
  EXPECT_GE(end - hookTime, 20);  // it ran before the pause, not after
}

TEST(Numeric, ConversionsPowerAndDegreeTrig) {
  const struct {
    double in;
    Int out;
  } ints[] = {{2.7, 2},
              {-2.7, -2},
              {2.5, 2},
              {-0.5, 0},
              {2147483647.9, INT_MAX},
              {-2147483648.9, INT_MIN},
              {2147483648.0, INT_MIN},
              {-2147483649.0, INT_MIN},
              {kInf, INT_MIN},
              {kNaN, INT_MIN}};
  for (const auto& c : ints) EXPECT_EQ(kxTruncateToInt(c.in), c.out) << c.in;
  const struct {
    double in;
    Long out;
  } longs[] = {{-2.7, -2},
               {9223372036854774784.0, 9223372036854774784LL},
               {-9223372036854775808.0, LLONG_MIN},
               {9223372036854775808.0, LLONG_MIN},
               {kNaN, LLONG_MIN}};
  for (const auto& c : longs) EXPECT_EQ(Do(kxLongOfDouble, c.in), c.out) << c.in;

  EXPECT_EQ(kxPow(0, 0) + kxPow(0, 3), 1.0);
  EXPECT_EQ(kxPow(0, -1) + kxPow(0, kNaN), kInf);
  EXPECT_NEAR(kxPow(-8, 3), -512.0, 1e-9);
  EXPECT_EQ(std::bit_cast<uint64_t>(kxPow(-8, 0.5)), 0xfff8000000000000ULL);

  // Degree trigonometry is exact at quarter turns.
  const struct {
    double deg, sin, cos;
  } quarters[] = {{0, 0, 1}, {90, 1, 0}, {180, 0, -1}, {-90, -1, 0}, {3600 + 270, -1, 0}};
  for (const auto& q : quarters) {
    EXPECT_EQ(kxSinDeg(q.deg), q.sin) << q.deg;
    EXPECT_EQ(kxCosDeg(q.deg), q.cos) << q.deg;
  }
  EXPECT_NEAR(kxSinDeg(360.0 * 1e9 + 30), 0.5, 1e-12);
}

TEST(Numeric, EdgesOfIntDoubleAndLongOperations) {
  EXPECT_EQ(kxIntAbs(INT_MIN), INT_MIN);
  EXPECT_EQ(kxIntMod(-7, 3), -1);
  EXPECT_EQ(kxIntMod(INT_MIN, -1), 0);
  EXPECT_EQ(kxDoubleSgn(kNaN), 0.0);
  EXPECT_EQ(Raised([] { kxIntMod(1, 0); }), "Attempt to divide by zero");
  EXPECT_EQ(Raised([] { Do(kxLongDiv, 1, 0); }), "Attempt to divide by zero");
  EXPECT_EQ(Raised([] { Do(kxLongMod, 1, 0); }), "Attempt to divide by zero");

  EXPECT_EQ(Do(kxLongAdd, 0xFFFFFFFFLL, 1), 0x100000000LL);
  EXPECT_EQ(Do(kxLongMul, 0x100000001, 0x100000001), 0x200000001LL);
  EXPECT_EQ(Do(kxLongDiv, -7, 2) * 10 + Do(kxLongMod, -7, 2), -31);
  EXPECT_EQ(Do(kxLongDiv, LLONG_MIN, -1), LLONG_MIN);
  EXPECT_EQ(Do(kxLongMod, LLONG_MIN, -1), 0);
  EXPECT_EQ(Do(kxLongNeg, LLONG_MIN), LLONG_MIN);
  EXPECT_EQ(Do(kxLongAbs, LLONG_MIN), LLONG_MIN);
  EXPECT_EQ(Do(kxLongShl, 1, 64), 1);
  EXPECT_EQ(Do(kxLongShr, -1, 60), 15);
  EXPECT_EQ(Do(kxLongSar, LLONG_MIN, 63), -1);
  EXPECT_EQ(kxLongLt(0xFFFFFFFFLL, 0x100000000LL) + kxLongLt(-1, 0) + kxLongGe(-0x100000000LL, -1),
            2);
}
