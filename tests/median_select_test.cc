// The median made in passes over numbers that are not held: it must be the
// very number the sorting median gives, for every shape of data.
#include "median_select.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace tauspan {
namespace {

// The median in passes, counting them, against the one that sorts a copy.
void expect_same_median(const std::vector<double>& numbers, int* passes = nullptr) {
  int walks = 0;
  const double walked = median_of_walk([&](auto&& take) {
    ++walks;
    for (const double x : numbers) take(x);
  });
  std::vector<double> copy = numbers;
  const double sorted = median_in_place(copy);
  if (std::isnan(sorted)) {
    EXPECT_TRUE(std::isnan(walked));
  } else {
    EXPECT_EQ(sorted, walked) << numbers.size() << " numbers";
    EXPECT_EQ(std::signbit(sorted), std::signbit(walked));
  }
  if (passes) *passes = walks;
}

TEST(MedianOfWalk, IsTheSortedMedianForOddAndEvenCounts) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> normal(3, 2);
  for (const size_t n : {1u, 2u, 3u, 4u, 5u, 10u, 101u, 1000u, 70001u, 200000u, 200001u}) {
    std::vector<double> v(n);
    for (double& x : v) x = normal(rng);
    expect_same_median(v);
  }
}

TEST(MedianOfWalk, HandlesTiesNearlyEqualNumbersAndInfinities) {
  std::mt19937_64 rng(5);
  // Steps of a jittered clock: many numbers within a few ulps of each other,
  // more than are sorted out directly, so several radix passes decide.
  std::vector<double> steps(300000);
  for (double& x : steps) x = 1.0 + static_cast<double>(rng() % 64) * 0x1p-52;
  expect_same_median(steps);
  steps.push_back(1.0);  // an even count, the two middle ones maybe equal
  expect_same_median(steps);
  // Two values only, split at the middle.
  std::vector<double> two(100000, 2.0);
  std::fill(two.begin(), two.begin() + 50000, -7.5);
  expect_same_median(two);
  two[0] = -std::numeric_limits<double>::infinity();
  two[1] = std::numeric_limits<double>::infinity();
  expect_same_median(two);
  // Denormals and numbers of both signs and every size.
  std::vector<double> wide;
  for (int e = -1074; e < 1000; e += 7) {
    wide.push_back(std::ldexp(1.0, e));
    wide.push_back(-std::ldexp(1.5, e));
  }
  expect_same_median(wide);
}

TEST(MedianOfWalk, EqualNumbersTakeOnePassAndFewDistinctOnesFew) {
  int passes = 0;
  expect_same_median(std::vector<double>(1000000, 0.25), &passes);
  EXPECT_EQ(1, passes);
  std::vector<double> v(1000000, 1.0);
  for (size_t i = 0; i < v.size(); i += 3) v[i] = 1.0 + 0x1p-40;
  expect_same_median(v, &passes);
  EXPECT_LE(passes, 4);
}

TEST(MedianOfWalk, LeavesNanAndNegativeZeroToTheSort) {
  expect_same_median({});
  expect_same_median({0.0, -0.0, 0.0});
  expect_same_median({-0.0, 1.0, -1.0, -0.0});
  expect_same_median({1.0, std::nan(""), 3.0});
}

}  // namespace
}  // namespace tauspan
