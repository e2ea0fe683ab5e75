// Random integers: bounds, fairness over large ranges, seeding.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/random.h"

namespace {

TEST(Random, BoundsRules) {
  model::seedRandomWith(1);
  EXPECT_EQ(model::randomBetween(5, 5), 5);
  EXPECT_EQ(model::randomBetween(-3, -7), 0);  // both negative count as 0
  for (int i = 0; i < 1000; ++i) {
    int r = model::randomBetween(10, 3);  // reversed
    ASSERT_GE(r, 3);
    ASSERT_LE(r, 10);
    r = model::randomBetween(-5, 2);  // negative lower bound counts as 0
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 2);
  }
  // The whole int range does not overflow.
  for (int i = 0; i < 1000; ++i) ASSERT_GE(model::randomBetween(0, INT_MAX), 0);
}

TEST(Random, LargeListsReachEveryPart) {
  model::seedRandomWith(42);
  const int n = 100000;
  int above = 0, top = 0;
  for (int i = 0; i < 200000; ++i) {
    int r = model::randomBetween(1, n);
    ASSERT_GE(r, 1);
    ASSERT_LE(r, n);
    if (r > 32768) ++above;
    if (r > 99000) ++top;
  }
  // About 67% above 32768 and 1% in the top thousand.
  EXPECT_NEAR(above / 200000.0, 67232.0 / 100000.0, 0.01);
  EXPECT_NEAR(top / 200000.0, 0.01, 0.002);
}

TEST(Random, EvenSpread) {
  model::seedRandomWith(7);
  // A range that does not divide 2^64 evenly, with many draws per value.
  const int k = 37;
  const int draws = 370000;
  std::vector<int> counts(k, 0);
  for (int i = 0; i < draws; ++i) ++counts[model::randomBetween(0, k - 1)];
  double expected = static_cast<double>(draws) / k;
  double chi2 = 0;
  for (int c : counts) chi2 += (c - expected) * (c - expected) / expected;
  // 36 degrees of freedom: the 99.9% point is about 67.
  EXPECT_LT(chi2, 67.0);
}

TEST(Random, SeedingInTheSameMillisecondDiffers) {
  auto sequence = [] {
    std::vector<int> v;
    for (int i = 0; i < 8; ++i) v.push_back(model::randomBetween(1, 1000000));
    return v;
  };
  model::seedRandom(5000);
  auto a = sequence();
  model::seedRandom(5000);
  auto b = sequence();
  EXPECT_NE(a, b);
  // A fixed seed repeats.
  model::seedRandomWith(99);
  auto c = sequence();
  model::seedRandomWith(99);
  EXPECT_EQ(sequence(), c);
}

}  // namespace
