#include "intervals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tauspan {
namespace {

constexpr Statistic kPlain[] = {Statistic::kAdev, Statistic::kOadev, Statistic::kHdev,
                                Statistic::kOhdev};

int order_of(Statistic s) { return s == Statistic::kHdev || s == Statistic::kOhdev ? 3 : 2; }
bool overlapping(Statistic s) { return s != Statistic::kAdev && s != Statistic::kHdev; }

int64_t plain_terms(Statistic s, int64_t m, int64_t n) {
  const int d = order_of(s);
  return overlapping(s) ? n - d * m : (n - 1) / m - d + 1;
}

// The edf of a plain statistic straight from the covariance of its terms
// (d-th phase differences at lag m, starting every sample or every m),
// (sum of variances)^2 / (sum of squared covariances), for Gaussian phase
// with covariance cov(a, b).
template <typename Covariance>
double exact_edf(Statistic s, int64_t m, int64_t n, Covariance cov) {
  const int64_t d = order_of(s);
  std::vector<double> weight = {1};  // (-1)^k C(d, k)
  for (int64_t k = 0; k < d; ++k) {
    weight.push_back(-weight.back() * static_cast<double>(d - k) / static_cast<double>(k + 1));
  }
  const int64_t terms = plain_terms(s, m, n), stride = overlapping(s) ? 1 : m;
  double trace = 0, squares = 0;
  for (int64_t i = 0; i < terms; ++i) {
    for (int64_t j = 0; j < terms; ++j) {
      double c = 0;
      for (int64_t k = 0; k <= d; ++k) {
        for (int64_t l = 0; l <= d; ++l) {
          c += weight[static_cast<size_t>(k)] * weight[static_cast<size_t>(l)] *
               cov(i * stride + k * m, j * stride + l * m);
        }
      }
      if (i == j) trace += c;
      squares += c * c;
    }
  }
  return trace * trace / squares;
}

TEST(EquivalentDof, WhitePmIsTheExactCovarianceOfTheTerms) {
  // Independent phase samples: terms correlate only where they share one.
  const auto white = [](int64_t a, int64_t b) { return a == b ? 1.0 : 0.0; };
  const struct {
    int64_t m, n;
  } kCases[] = {
      {1, 40}, {3, 50}, {10, 101}, {10, 31}, {20, 61}, {40, 170}, {7, 36},
  };
  for (Statistic s : kPlain) {
    for (const auto& c : kCases) {
      if (plain_terms(s, c.m, c.n) < 1) continue;
      SCOPED_TRACE(std::to_string(static_cast<int>(s)) + " m " + std::to_string(c.m) + " n " +
                   std::to_string(c.n));
      EXPECT_NEAR(exact_edf(s, c.m, c.n, white), equivalent_dof(s, 2, c.m, c.n),
                  1e-12 * exact_edf(s, c.m, c.n, white));
    }
  }
}

TEST(EquivalentDof, WhiteFmAtLongTauIsTheExactCovarianceOfTheTerms) {
  // Random-walk phase; past m(d + 1) > 100 the algorithm models the phase
  // samples as points, as here, and the sums are then exact while J <= 100.
  const auto walk = [](int64_t a, int64_t b) { return static_cast<double>(std::min(a, b)); };
  const struct {
    Statistic s;
    int64_t m, n;
  } kCases[] = {
      {Statistic::kAdev, 50, 1001}, {Statistic::kAdev, 40, 130},  {Statistic::kOadev, 40, 140},
      {Statistic::kOadev, 34, 160}, {Statistic::kHdev, 30, 1000}, {Statistic::kOhdev, 30, 140},
      {Statistic::kOhdev, 26, 170},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.s)) + " m " + std::to_string(c.m));
    const double exact = exact_edf(c.s, c.m, c.n, walk);
    EXPECT_NEAR(exact, equivalent_dof(c.s, 0, c.m, c.n), 1e-9 * exact);
  }
  // Non-overlapping Allan terms of white FM: neighbours correlate by -1/2,
  // so edf = M^2 / (M + 2 (M - 1) / 4) = 2 M^2 / (3 M - 1); M = 19 here.
  EXPECT_NEAR(722.0 / 56, equivalent_dof(Statistic::kAdev, 0, 50, 1001), 1e-12);
}

// Values from the peer library allantools (github.com/aewallin/allantools,
// commit 599dc9e), ci.edf_greenhall(alpha, d, m, N, overlapping, modified),
// one case for each branch of the algorithm it implements.
TEST(EquivalentDof, AgreesWithThePeerLibraryInEveryBranch) {
  const struct {
    Statistic s;
    int alpha;
    int64_t m, n;
    double edf;
  } kCases[] = {
      {Statistic::kMdev, 2, 10, 1001, 123.94023272},      // modified, J <= Jmax
      {Statistic::kTdev, 2, 10, 1001, 123.94023272},      // tdev shares mdev's
      {Statistic::kMdev, 0, 34, 100000, 2844.91152836},   // modified, table
      {Statistic::kMdev, -2, 1000, 5000, 1.93398298056},  // modified, J > Jmax, r <= d + 1
      {Statistic::kMdev, -1, 7, 120, 14.1381998726},      // modified, J <= Jmax
      {Statistic::kOadev, 0, 10, 1001, 135.0714051},      // J <= Jmax, F = m
      {Statistic::kOhdev, -4, 7, 120, 11.1516978643},     // the same
      {Statistic::kAdev, 0, 50, 2000, 25.5575221239},     // J <= Jmax, F infinite
      {Statistic::kOadev, -1, 50, 20000, 467.653319399},  // table
      {Statistic::kOhdev, 0, 30, 2000, 82.692104269},     // the same
      {Statistic::kOhdev, -3, 1000, 5000, 2.5410943385},  // J > Jmax, r <= d + 1
      {Statistic::kAdev, 1, 3, 50, 8.72753255859},        // flicker PM, J <= Jmax
      {Statistic::kOadev, 1, 100, 1001, 53.8737982306},   // flicker PM, table
      {Statistic::kOhdev, 1, 200, 1300, 30.0782345881},   // flicker PM, r <= d + 1
      {Statistic::kOhdev, 2, 3, 50, 18.6342977497},       // white PM, r > d
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.s)) + " alpha " + std::to_string(c.alpha) +
                 " m " + std::to_string(c.m) + " n " + std::to_string(c.n));
    EXPECT_NEAR(c.edf, equivalent_dof(c.s, c.alpha, c.m, c.n), 1e-10 * c.edf);
  }
}

TEST(EquivalentDof, LargeRecordFormsContinueTheExactSums) {
  // Past 100 covariance terms the sums give way to tabulated constants (or to
  // a rescaled sum): the edf must carry on along the line the exact sums were
  // drawing, so a wrong constant shows as a step.
  const struct {
    Statistic s;
    int64_t m;
  } kSwitches[] = {{Statistic::kMdev, 34}, {Statistic::kOadev, 34}, {Statistic::kOhdev, 26}};
  for (const auto& c : kSwitches) {
    for (int alpha = 2; alpha >= -4; --alpha) {
      if (alpha + 2 * order_of(c.s) <= 1) continue;
      SCOPED_TRACE(std::to_string(static_cast<int>(c.s)) + " alpha " + std::to_string(alpha));
      const auto edf = [&](int64_t terms) {
        return equivalent_dof(c.s, alpha, c.m, edf_phase_points(c.s, c.m, terms));
      };
      // Exact sums up to 100 terms; 101 and 102 the rescaled sum; 103 on the table.
      const double step = edf(100) - edf(97);
      for (int64_t terms : {101, 102, 103, 110}) {
        const double expected = edf(100) + step * static_cast<double>(terms - 100) / 3;
        // Flicker PM with plain averages changes its model at the switch.
        const double tolerance = alpha == 1 && c.s != Statistic::kMdev ? 0.03 : 0.003;
        EXPECT_NEAR(expected, edf(terms), tolerance * expected) << terms << " terms";
      }
    }
  }
}

TEST(EquivalentDof, NothingForNoiseTheStatisticCannotMeasureOrTooFewPoints) {
  EXPECT_TRUE(std::isnan(equivalent_dof(Statistic::kOadev, kNoAlpha, 4, 1001)));
  EXPECT_TRUE(std::isnan(equivalent_dof(Statistic::kOadev, 3, 4, 1001)));
  // The Allan variances diverge for alpha <= -3, the Hadamard ones for -5.
  EXPECT_TRUE(std::isnan(equivalent_dof(Statistic::kAdev, -3, 4, 1001)));
  EXPECT_TRUE(std::isnan(equivalent_dof(Statistic::kMdev, -3, 4, 1001)));
  EXPECT_FALSE(std::isnan(equivalent_dof(Statistic::kHdev, -4, 4, 1001)));
  EXPECT_TRUE(std::isnan(equivalent_dof(Statistic::kHdev, -5, 4, 1001)));
  EXPECT_TRUE(std::isnan(equivalent_dof(Statistic::kOadev, 0, 0, 1001)));
  // One oadev term at m = 10 spans 21 phase samples, one mdev term 30.
  EXPECT_TRUE(std::isnan(equivalent_dof(Statistic::kOadev, 0, 10, 20)));
  EXPECT_GT(equivalent_dof(Statistic::kOadev, 0, 10, 21), 0);
  EXPECT_TRUE(std::isnan(equivalent_dof(Statistic::kMdev, 0, 10, 29)));
  EXPECT_GT(equivalent_dof(Statistic::kMdev, 0, 10, 30), 0);
}

TEST(EdfPhasePoints, ARecordWithoutGapsGivesItsOwnEdf) {
  const int64_t n = 1001;  // phase samples
  const struct {
    Statistic s;
    int64_t terms_at_m10;
  } kCases[] = {
      {Statistic::kAdev, 99},  // 100 frequency averages of 10
      {Statistic::kOadev, 981}, {Statistic::kMdev, 972},  {Statistic::kTdev, 972},
      {Statistic::kHdev, 98},   {Statistic::kOhdev, 971},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.s));
    for (int alpha = 2; alpha >= -2; --alpha) {
      EXPECT_EQ(equivalent_dof(c.s, alpha, 10, n),
                equivalent_dof(c.s, alpha, 10, edf_phase_points(c.s, 10, c.terms_at_m10)));
    }
  }
  EXPECT_EQ(0, edf_phase_points(Statistic::kOadev, 10, 0));
  EXPECT_EQ(21, edf_phase_points(Statistic::kOadev, 10, 1));
  EXPECT_EQ(30, edf_phase_points(Statistic::kMdev, 10, 1));
  EXPECT_EQ(41, edf_phase_points(Statistic::kHdev, 10, 2));
}

TEST(ConfidenceInterval, ChiSquaredQuantilesOfTheTables) {
  // chi2 quantiles at edf 10 (0.025: 3.247, 0.975: 20.483, as printed in
  // statistics tables) for a 95 % interval.
  const Interval i95 = confidence_interval(2.0, 10, 0.95);
  EXPECT_NEAR(2.0 * std::sqrt(10 / 20.483), i95.min_dev, 1e-4);
  EXPECT_NEAR(2.0 * std::sqrt(10 / 3.247), i95.max_dev, 1e-4);
  // Quantiles 0.1585 and 0.8415 at edf 10 (5.67865688548391 and
  // 14.3291613102578 by SciPy 1.10.1, scipy.stats.chi2.ppf) for one sigma.
  const Interval sigma = confidence_interval(1.0, 10, 0.683);
  EXPECT_NEAR(std::sqrt(10 / 14.3291613102578), sigma.min_dev, 1e-12);
  EXPECT_NEAR(std::sqrt(10 / 5.67865688548391), sigma.max_dev, 1e-12);
  // Non-integer edf, as the algorithm gives: SciPy at edf 2.5, p 0.9.
  const Interval odd = confidence_interval(1.0, 2.5, 0.9);
  EXPECT_NEAR(0.600708364377309, odd.min_dev, 1e-12);
  EXPECT_NEAR(3.44411666538041, odd.max_dev, 1e-12);
}

TEST(ConfidenceInterval, NarrowsWithMoreEdfWidensWithMoreConfidence) {
  double last_min = 0, last_max = std::numeric_limits<double>::infinity();
  // (Below about 1 the lower bound turns back up: not a case here.)
  for (double edf : {1.0, 2.0, 5.0, 20.0, 100.0, 1e4, 1e7}) {
    SCOPED_TRACE(edf);
    const Interval i = confidence_interval(3.0, edf, 0.683);
    EXPECT_LT(i.min_dev, 3.0);
    EXPECT_GT(i.max_dev, 3.0);
    EXPECT_GT(i.min_dev, last_min);
    EXPECT_LT(i.max_dev, last_max);
    last_min = i.min_dev;
    last_max = i.max_dev;
  }
  EXPECT_NEAR(3.0, last_min, 3e-3);
  EXPECT_NEAR(3.0, last_max, 3e-3);
  const Interval narrow = confidence_interval(3.0, 10, 0.5);
  const Interval wide = confidence_interval(3.0, 10, 0.99);
  EXPECT_LT(wide.min_dev, narrow.min_dev);
  EXPECT_GT(wide.max_dev, narrow.max_dev);
  // Proportional to the deviation.
  const Interval doubled = confidence_interval(6.0, 10, 0.5);
  EXPECT_DOUBLE_EQ(2 * narrow.min_dev, doubled.min_dev);
  EXPECT_DOUBLE_EQ(2 * narrow.max_dev, doubled.max_dev);
}

TEST(ConfidenceInterval, NanWithoutAPositiveEdfOrADeviation) {
  const double kNan = std::nan("");
  const struct {
    double dev, edf, p;
  } kCases[] = {
      {1, kNan, 0.683},  {1, 0, 0.683},
      {1, -3, 0.683},    {1, std::numeric_limits<double>::infinity(), 0.683},
      {kNan, 10, 0.683}, {1, 10, 0},
      {1, 10, 1},        {1, 10, kNan},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.dev) + " " + std::to_string(c.edf) + " " + std::to_string(c.p));
    const Interval i = confidence_interval(c.dev, c.edf, c.p);
    EXPECT_TRUE(std::isnan(i.min_dev));
    EXPECT_TRUE(std::isnan(i.max_dev));
  }
  const Interval zero = confidence_interval(0, 10, 0.683);
  EXPECT_EQ(0, zero.min_dev);
  EXPECT_EQ(0, zero.max_dev);
}

}  // namespace
}  // namespace tauspan
