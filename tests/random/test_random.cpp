// The random generator: its known sequences, seeding, the step against a
// plain 64-bit computation of the same recurrence, and the bounds of every
// derived generator.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "random/random.h"

namespace {

constexpr int64_t kModulus = 2147483647;

// 48271 * s mod (2^31 - 1) with 64-bit products: the recurrence without
// Schrage's decomposition.
int64_t NextState(int64_t s) { return s * 48271 % kModulus; }

// The state whose next state is `target`: the step is multiplication by
// 48271, so its inverse is multiplication by 48271^-1 mod 2^31 - 1.
int64_t StateBefore(int64_t target) {
  int64_t inverse = 1;
  int64_t base = 48271;
  for (int64_t e = kModulus - 2; e > 0; e >>= 1) {  // Fermat: a^(p-2)
    if (e & 1) inverse = inverse * base % kModulus;
    base = base * base % kModulus;
  }
  return target * inverse % kModulus;
}

std::vector<Int> Draw(Int a, Int b, int n) {
  std::vector<Int> out;
  for (int i = 0; i < n; ++i) out.push_back(Rand(a, b));
  return out;
}

}  // namespace

// Runs first in this program: nothing has seeded the generator yet.
TEST(Random, StartsFromTheDefaultState) {
  EXPECT_EQ(SeedValue(), 4660);
}

TEST(Random, FirstStatesAndFirstUnitDouble) {
  SeedRnd(4660);
  const Int expected[] = {224942860, 539475828, 650989866};
  for (Int state : expected) {
    UnitFloat();
    EXPECT_EQ(SeedValue(), state);
  }
  SeedRnd(4660);
  EXPECT_NEAR(UnitDouble(), 0.4189887, 1e-7);
  EXPECT_EQ(SeedValue(), 539475828);  // two steps
}

TEST(Random, SeedingClearsTheSignAndAvoidsFixedPoints) {
  EXPECT_EQ(SeedRnd(0), 0);
  EXPECT_EQ(SeedValue(), 4660);
  SeedRnd(INT_MAX);
  EXPECT_EQ(SeedValue(), 4660);
  SeedRnd(-1);
  EXPECT_EQ(SeedValue(), 4660);
  SeedRnd(INT_MIN);
  EXPECT_EQ(SeedValue(), 4660);
  SeedRnd(-5);
  EXPECT_EQ(SeedValue(), 2147483643);
  SeedRnd(12345);
  EXPECT_EQ(SeedValue(), 12345);
}

TEST(Random, KnownDiceSequences) {
  SeedRnd(4660);
  EXPECT_EQ(Draw(0, 1, 12), (std::vector<Int>{0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1, 1}));
  SeedRnd(4660);
  const std::vector<Int> dice = {3, 2, 5, 1, 4, 2, 5, 3, 3, 4};
  EXPECT_EQ(Draw(1, 6, 10), dice);
  SeedRnd(4660);
  EXPECT_EQ(Draw(6, 1, 10), dice);
}

// Schrage's method must agree with the plain recurrence everywhere,
// including next to the ends of the state range.
TEST(Random, StepMatchesThePlainRecurrence) {
  std::vector<int64_t> seeds = {1, 2, 44487, 44488, 44489, 48271, kModulus - 2, kModulus - 1 - 44488};
  for (int64_t s = 7; s < kModulus; s += 104729 * 97) seeds.push_back(s);
  for (int64_t seed : seeds) {
    SeedRnd(static_cast<Int>(seed));
    UnitFloat();
    EXPECT_EQ(SeedValue(), NextState(seed)) << seed;
    EXPECT_GE(SeedValue(), 1);
    EXPECT_LE(SeedValue(), kModulus - 1);
  }
}

TEST(Random, UnitIntervalsNeverReachOne) {
  // The largest state, 2^31 - 2, gives the largest masked values.
  SeedRnd(static_cast<Int>(StateBefore(kModulus - 1)));
  const Float f = UnitFloat();
  EXPECT_EQ(SeedValue(), kModulus - 1);
  EXPECT_LT(f, 1.0f);
  EXPECT_GT(f, 0.9999f);

  SeedRnd(static_cast<Int>(StateBefore(kModulus - 1)));
  EXPECT_LT(UnitDouble(), 1.0);

  SeedRnd(99);
  for (int i = 0; i < 100000; ++i) {
    const Float u = UnitFloat();
    const Double d = UnitDouble();
    ASSERT_GE(u, 0.0f);
    ASSERT_LT(u, 1.0f);
    ASSERT_GE(d, 0.0);
    ASSERT_LT(d, 1.0);
  }
}

TEST(Random, BoundedGeneratorsCoverTheirRange) {
  SeedRnd(2024);
  std::vector<int> hits(7, 0);
  for (int i = 0; i < 7000; ++i) {
    const Int v = Rand(-3, 3);
    ASSERT_GE(v, -3);
    ASSERT_LE(v, 3);
    ++hits[v + 3];
  }
  for (int h : hits) EXPECT_GT(h, 800);  // about 1000 each

  // Rand(a, a) is a, and still consumes two steps.
  SeedRnd(77);
  EXPECT_EQ(Rand(INT_MIN, INT_MIN), INT_MIN);
  const Int afterRand = SeedValue();
  SeedRnd(77);
  UnitDouble();
  EXPECT_EQ(SeedValue(), afterRand);

  // The widest range: b - a does not fit an Int, and half the draws are
  // non-negative.
  int nonNegative = 0;
  for (int i = 0; i < 1000; ++i) nonNegative += Rand(INT_MIN, INT_MAX) >= 0;
  EXPECT_GT(nonNegative, 400);
  EXPECT_LT(nonNegative, 600);

  SeedRnd(5);
  for (int i = 0; i < 1000; ++i) {
    const Double r = RandRange(2.5, -1.5);
    ASSERT_GE(r, -1.5);
    ASSERT_LT(r, 2.5);
  }
  SeedRnd(5);
  const Double forward = RandRange(-1.5, 2.5);
  SeedRnd(5);
  EXPECT_EQ(RandRange(2.5, -1.5), forward);
  EXPECT_EQ(RandRange(4.0, 4.0), 4.0);
}

TEST(Random, ModuleInitialisesOnce) {
  SeedRnd(31337);
  EXPECT_EQ(InitRandomModule(), 0);
  EXPECT_EQ(InitRandomModule(), 0);
  EXPECT_EQ(SeedValue(), 31337);
}
