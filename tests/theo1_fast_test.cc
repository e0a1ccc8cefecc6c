// Thêo1's lagged products on one run: the sum and the bound on its rounding
// that decides when the term sums must be used instead.
#include "theo1_fast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "lag_products.h"
#include "long_term_fixtures.h"

namespace tauspan {
namespace {

using test::Quad;

// The definition in 113-bit arithmetic on the same centred points.
Quad literal_sum(const std::vector<double>& v, int64_t m) {
  const int64_t n = static_cast<int64_t>(v.size());
  const auto x = [&](int64_t k) { return static_cast<Quad>(v[static_cast<size_t>(k)]); };
  Quad sum = 0;
  for (int64_t i = 0; i + m < n; ++i) {
    for (int64_t a = 1; a <= m / 2; ++a) {
      const Quad u = (x(i) - x(i + a)) + (x(i + m) - x(i + m - a));
      sum += u * u / a;
    }
  }
  return sum;
}

// Random walks (white FM) and white phase, about their end line as the
// caller passes them, at small and large factors: the rounding stays within
// the estimate, and the estimate is small where the walk is short beside m.
TEST(Theo1Products, RoundingStaysWithinItsEstimate) {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> normal;
  for (const bool walk : {true, false}) {
    std::vector<double> v(3001);
    double x = 0;
    for (double& p : v) p = walk ? (x += normal(rng)) : normal(rng);
    const double slope = (v.back() - v.front()) / 3000;
    const double first = v.front();
    for (size_t k = 0; k < v.size(); ++k) v[k] -= first + slope * static_cast<double>(k);
    const std::vector<dd::Num> squares = prefix_squares(v);
    const std::vector<double> lags = autocorrelation(v, 3000);
    for (const int64_t m : {2, 10, 128, 1000, 2000, 3000}) {
      SCOPED_TRACE(testing::Message() << "walk " << walk << " m " << m);
      const Theo1Sum t = theo1_run_sum({v, squares, lags, dd::to_double(squares.back())}, m);
      const Quad exact = literal_sum(v, m);
      const double miss = std::fabs(static_cast<double>(
          (static_cast<Quad>(t.sum.hi) + static_cast<Quad>(t.sum.lo)) - exact));
      EXPECT_LE(miss, t.error);
      if (!walk && m < 3000) {
        EXPECT_LE(t.error, 1e-12 * static_cast<double>(exact));
      }
    }
  }
}

}  // namespace
}  // namespace tauspan
