// The transforms behind Thêo1's lagged products against their direct sums.
#include "lag_products.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace tauspan {
namespace {

std::vector<double> uniform(std::mt19937_64& rng, size_t n) {
  std::uniform_real_distribution<double> d(-1, 1);
  std::vector<double> v(n);
  for (double& x : v) x = d(rng);
  return v;
}

// Lags below, at and past the block size, short and long sequences, and a
// largest lag beyond the sequence (those lags have no pair: zero).
TEST(LagProducts, AutocorrelationEqualsItsDirectSums) {
  std::mt19937_64 rng(3);
  for (const size_t n : {1u, 5u, 64u, 65u, 300u, 4099u}) {
    const std::vector<double> v = uniform(rng, n);
    for (const int64_t max_lag : {0, 3, 63, 64, 200, 5000}) {
      SCOPED_TRACE(testing::Message() << n << " " << max_lag);
      const std::vector<double> c = autocorrelation(v, max_lag);
      ASSERT_EQ(static_cast<size_t>(max_lag + 1), c.size());
      for (int64_t l = 0; l <= max_lag; ++l) {
        double direct = 0;
        for (size_t j = 0; j + static_cast<size_t>(l) < n; ++j) direct += v[j] * v[j + static_cast<size_t>(l)];
        EXPECT_NEAR(direct, c[static_cast<size_t>(l)], 1e-12 * static_cast<double>(n));
      }
    }
  }
}

TEST(LagProducts, UpperConvolutionKeepsPairsWithTheFirstIndexNotAbove) {
  std::mt19937_64 rng(8);
  for (const size_t n : {1u, 2u, 64u, 65u, 129u, 1000u}) {
    SCOPED_TRACE(n);
    const std::vector<double> z = uniform(rng, n);
    const std::vector<double> y = uniform(rng, n);
    const std::vector<double> u = upper_convolution(z, y);
    ASSERT_EQ(2 * n - 1, u.size());
    std::vector<double> direct(2 * n - 1);
    for (size_t p = 0; p < n; ++p) {
      for (size_t q = p; q < n; ++q) direct[p + q] += z[p] * y[q];
    }
    for (size_t s = 0; s < u.size(); ++s) EXPECT_NEAR(direct[s], u[s], 1e-12 * static_cast<double>(n));
  }
}

// The scale covers what a long transform really rounds: the lagged sums of
// a random walk (large, all of one sign) in 113-bit arithmetic.
TEST(LagProducts, ErrorScaleCoversTheRoundingOfLongSums) {
  std::mt19937_64 rng(9);
  std::normal_distribution<double> normal;
  for (const size_t n : {1000u, 30000u}) {
    std::vector<double> v(n);
    double x = 0;
    for (double& p : v) p = (x += normal(rng));
    const std::vector<double> c = autocorrelation(v, 700);
    __float128 squares = 0;
    for (const double p : v) squares += static_cast<__float128>(p) * p;
    const double allowed = product_error_scale(static_cast<int64_t>(n)) * static_cast<double>(squares);
    for (const size_t l : {0u, 1u, 350u, 700u}) {
      __float128 exact = 0;
      for (size_t j = 0; j + l < n; ++j) exact += static_cast<__float128>(v[j]) * v[j + l];
      EXPECT_LE(std::fabs(static_cast<double>(exact - c[l])), allowed) << n << " " << l;
    }
  }
  EXPECT_LT(product_error_scale(1 << 10), product_error_scale(1 << 20));
}

}  // namespace
}  // namespace tauspan
