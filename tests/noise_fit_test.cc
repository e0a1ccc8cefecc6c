// The noise fit on exact model curves, its non-negative solver's corners,
// the read-offs and the units the coefficients are written in.
#include "noise_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "noise_report.h"
#include "noise_units.h"

namespace tauspan {
namespace {

constexpr double kPi = std::numbers::pi;

// The statistic's model variance at octave factors 1 .. 2^17 of tau0 = 0.01.
std::vector<NoisePoint> exact_curve(Statistic s, const TermArray& coefficients) {
  std::vector<NoisePoint> points;
  for (int64_t m = 1; m <= (int64_t{1} << 17); m *= 2) {
    const double tau = 0.01 * static_cast<double>(m);
    const TermArray g = term_response(s, static_cast<double>(m), tau);
    double v = 0;
    for (size_t j = 0; j < kNoiseTerms; ++j) v += coefficients[j] * coefficients[j] * g[j];
    points.push_back({m, tau, v, 1e6 / static_cast<double>(m)});
  }
  return points;
}

TEST(FitNoise, RecoversEveryTermOfAnExactCurve) {
  // Each term rules somewhere between tau 0.01 and 1311.
  const TermArray truth = {3e-4, 2e-3, 1e-3, 4e-5, 2e-7};
  for (const Statistic s : {Statistic::kAdev, Statistic::kOadev, Statistic::kMdev, Statistic::kHdev,
                            Statistic::kOhdev}) {
    SCOPED_TRACE(statistic_name(s));
    const NoiseFit fit = fit_noise(s, exact_curve(s, truth));
    ASSERT_TRUE(fit.error.empty()) << fit.error;
    const bool hadamard = s == Statistic::kHdev || s == Statistic::kOhdev;
    for (size_t j = 0; j < kNoiseTerms; ++j) {
      SCOPED_TRACE(j);
      if (hadamard && j == kTermR) {
        EXPECT_FALSE(fit.seen[j]);  // a steady ramp leaves no third difference
        continue;
      }
      EXPECT_NEAR(fit.value[j] / truth[j], 1, 1e-9);
      EXPECT_FALSE(fit.at_bound[j]);
      EXPECT_GT(fit.uncertainty[j], 0);
    }
    EXPECT_LT(fit.chi2, 1e-12);
  }
}

TEST(FitNoise, AnAbsentTermIsZeroAtTheBound) {
  const TermArray truth = {0, 2e-3, 1e-3, 4e-5, 0};
  const NoiseFit fit = fit_noise(Statistic::kOadev, exact_curve(Statistic::kOadev, truth));
  ASSERT_TRUE(fit.error.empty()) << fit.error;
  EXPECT_EQ(0, fit.value[kTermQ]);
  EXPECT_TRUE(fit.at_bound[kTermQ]);
  EXPECT_TRUE(std::isnan(fit.uncertainty[kTermQ]));
  EXPECT_EQ(0, fit.value[kTermR]);
  EXPECT_TRUE(fit.at_bound[kTermR]);
  EXPECT_NEAR(fit.value[kTermN] / 2e-3, 1, 1e-9);
  EXPECT_NEAR(fit.value[kTermK] / 4e-5, 1, 1e-9);
  EXPECT_EQ(3, fit.free_terms);
}

TEST(FitNoise, TooFewRowsSayWhyAndGiveNoValues) {
  std::vector<NoisePoint> points = exact_curve(Statistic::kOadev, {0, 1, 1, 1, 0});
  points.resize(5);
  points.push_back({64, 0.64, std::nan(""), 10});  // no variance: not a row
  const NoiseFit fit = fit_noise(Statistic::kOadev, points);
  EXPECT_EQ(
      "5 rows with a variance and an edf; the fit needs at least 6 (one more than its 5 terms)",
      fit.error);
  EXPECT_TRUE(std::isnan(fit.value[kTermN]));
  EXPECT_EQ(
      "0 rows with a variance and an edf; the fit needs at least 5 (one more than its 4 terms)",
      fit_noise(Statistic::kHdev, {}).error);
}

TEST(Nnls, ANegativeUnconstrainedValueGoesToTheBound) {
  // Unconstrained: x = 2, y = -1. With y held at 0, (x - 2)^2 + (x - 1)^2
  // is least at x = 1.5.
  const std::vector<double> a = {1, 0, 0, 1, 1, 1};
  const std::vector<double> x = nnls(a, 2, {2, -1, 1});
  ASSERT_EQ(2u, x.size());
  EXPECT_NEAR(1.5, x[0], 1e-15);
  EXPECT_EQ(0, x[1]);
}

TEST(Nnls, HandlesAllNegativeTargetsZeroColumnsAndScales) {
  EXPECT_EQ((std::vector<double>{0, 0}), nnls({1, 0, 0, 1}, 2, {-1, -2}));
  // A zero column stays 0; columns 1e24 apart in scale, each with its share
  // of the target, still solve exactly (x = 3e12, 0, 2e-12).
  const std::vector<double> a = {1e-12, 0, 1e12,  //
                                 2e-12, 0, 0,     //
                                 0,     0, 3e12};
  const std::vector<double> x = nnls(a, 3, {5, 6, 6});
  ASSERT_EQ(3u, x.size());
  EXPECT_NEAR(1, x[0] / 3e12, 1e-12);
  EXPECT_EQ(0, x[1]);
  EXPECT_NEAR(1, x[2] / 2e-12, 1e-12);
}

TEST(ReadOffs, AreTheClassicLinesOnSingleTermCurves) {
  // Allan: N/sqrt(tau) alone, B alone times 0.664, K sqrt(tau/3) alone.
  EXPECT_NEAR(2e-3,
              read_offs(Statistic::kOadev, exact_curve(Statistic::kOadev, {0, 2e-3, 0, 0, 0})).n,
              1e-15);
  EXPECT_NEAR(4e-5,
              read_offs(Statistic::kOadev, exact_curve(Statistic::kOadev, {0, 0, 0, 4e-5, 0})).k,
              1e-17);
  const std::vector<NoisePoint> flat = exact_curve(Statistic::kMdev, {0, 0, 1e-3, 0, 0});
  EXPECT_NEAR(1e-3, read_offs(Statistic::kMdev, flat).b, 1e-15);
  EXPECT_TRUE(std::isnan(read_offs(Statistic::kMdev, flat).n));  // no -1/2 slope anywhere
  EXPECT_NEAR(std::sqrt(2 * std::log(2.0) / kPi), 0.664, 5e-4);
}

TEST(NoiseUnits, RatesGetTheirPerHourForms) {
  const NoiseUnits deg_s = noise_units("deg/s");
  EXPECT_EQ("angle random walk", deg_s.names[kTermN]);
  ASSERT_EQ(2u, deg_s.forms[kTermN].size());
  EXPECT_EQ("deg/s/sqrt(Hz)", deg_s.forms[kTermN][0].unit);
  EXPECT_EQ("deg/sqrt(h)", deg_s.forms[kTermN][1].unit);
  EXPECT_DOUBLE_EQ(60, deg_s.forms[kTermN][1].factor);
  EXPECT_EQ("deg/h", deg_s.forms[kTermB][1].unit);
  EXPECT_DOUBLE_EQ(3600, deg_s.forms[kTermB][1].factor);
  EXPECT_EQ("deg/h/sqrt(h)", deg_s.forms[kTermK][1].unit);
  EXPECT_DOUBLE_EQ(216000, deg_s.forms[kTermK][1].factor);
  EXPECT_EQ("deg", deg_s.forms[kTermQ][0].unit);

  // Per hour: 1 deg/h is 1/3600 deg/s; B is already per hour.
  const NoiseUnits deg_h = noise_units("deg/h");
  EXPECT_DOUBLE_EQ(1.0 / 60, deg_h.forms[kTermN][1].factor);
  EXPECT_EQ(1u, deg_h.forms[kTermB].size());
  EXPECT_DOUBLE_EQ(60, deg_h.forms[kTermK][1].factor);
}

TEST(NoiseUnits, AccelerationsGetVelocityForms) {
  const NoiseUnits ms2 = noise_units("m/s^2");
  EXPECT_EQ("velocity random walk", ms2.names[kTermN]);
  EXPECT_EQ("m/s/sqrt(h)", ms2.forms[kTermN][1].unit);
  EXPECT_DOUBLE_EQ(60, ms2.forms[kTermN][1].factor);
  const NoiseUnits g = noise_units("g");
  EXPECT_EQ("g/sqrt(Hz)", g.forms[kTermN][0].unit);
  EXPECT_DOUBLE_EQ(9.80665 * 60, g.forms[kTermN][1].factor);
  // Any other word: its own unit only.
  const NoiseUnits volt = noise_units("V");
  EXPECT_EQ("V/sqrt(Hz)", volt.forms[kTermN][0].unit);
  EXPECT_EQ(1u, volt.forms[kTermN].size());
  EXPECT_EQ("u/sqrt(s)", noise_units("").forms[kTermK][0].unit);
}

}  // namespace
}  // namespace tauspan
