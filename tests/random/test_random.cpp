// The random generator: known sequences, seeding, the step against the plain
// 64-bit recurrence, and the bounds of the derived generators.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "random/random.h"

namespace {

constexpr int64_t kModulus = 2147483647;

std::vector<Int> Draw(Int a, Int b, int n) {
  std::vector<Int> out;
  while (n-- > 0) out.push_back(Rand(a, b));
  return out;
}

}  // namespace

// First in this program: nothing has seeded the generator yet.
TEST(Random, KnownStatesAndSequences) {
  EXPECT_EQ(SeedValue(), 4660);
  for (Int state : {224942860, 539475828, 650989866}) {
    UnitFloat();
    EXPECT_EQ(SeedValue(), state);
  }
  SeedRnd(4660);
  EXPECT_NEAR(UnitDouble(), 0.4189887, 1e-7);
  SeedRnd(4660);
  EXPECT_EQ(Draw(0, 1, 12), (std::vector<Int>{0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1, 1}));
  for (auto [a, b] : {std::pair{1, 6}, std::pair{6, 1}}) {
    SeedRnd(4660);
    EXPECT_EQ(Draw(a, b, 10), (std::vector<Int>{3, 2, 5, 1, 4, 2, 5, 3, 3, 4}));
  }
  for (Int seed : {0, INT_MAX, -1, INT_MIN}) {
    SeedRnd(seed);
    EXPECT_EQ(SeedValue(), 4660) << seed;
  }
  SeedRnd(-5);
  EXPECT_EQ(SeedValue(), 2147483643);
}

// Schrage's decomposition agrees with the plain product, the ends included;
// the largest state (2^31 - 2) still gives unit values below 1.
TEST(Random, StepMatchesThePlainRecurrence) {
  std::vector<int64_t> seeds = {1, 44487, 44488, 44489, kModulus - 2};
  for (int64_t s = 7; s < kModulus; s += 10158713) seeds.push_back(s);
  for (int64_t seed : seeds) {
    SeedRnd(static_cast<Int>(seed));
    UnitFloat();
    EXPECT_EQ(SeedValue(), seed * 48271 % kModulus) << seed;
  }
  SeedRnd(247665088);  // its successor is 2^31 - 2
  EXPECT_LT(UnitFloat(), 1.0f);
  EXPECT_EQ(SeedValue(), kModulus - 1);
  SeedRnd(247665088);
  EXPECT_LT(UnitDouble(), 1.0);
}

// Ranges below zero are uniform and include both bounds; Rand(a, a) is a and
// takes two steps.
TEST(Random, BoundedGeneratorsCoverTheirRange) {
  SeedRnd(2024);
  std::vector<int> hits(7, 0);
  for (int i = 0; i < 7000; ++i) {
    const Int v = Rand(-3, 3);
    ASSERT_TRUE(v >= -3 && v <= 3) << v;
    ++hits[v + 3];
  }
  for (int h : hits) EXPECT_GT(h, 800);  // about 1000 each
  int nonNegative = 0;
  for (int i = 0; i < 1000; ++i) nonNegative += Rand(INT_MIN, INT_MAX) >= 0;
  EXPECT_TRUE(nonNegative > 400 && nonNegative < 600) << nonNegative;
  SeedRnd(77);
  EXPECT_EQ(Rand(INT_MIN, INT_MIN), INT_MIN);
  EXPECT_EQ(Rand(-5, -5), -5);
  const Int afterRands = SeedValue();
  SeedRnd(77);
  for (int i = 0; i < 4; ++i) UnitFloat();
  EXPECT_EQ(SeedValue(), afterRands);
  SeedRnd(5);
  const Double forward = RandRange(-1.5, 2.5);
  SeedRnd(5);
  EXPECT_EQ(RandRange(2.5, -1.5), forward);
}
