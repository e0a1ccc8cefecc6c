// Rate series with known noise coefficients, for the tests of the noise fit:
// white rate, flicker rate, random-walk rate, white angle and a ramp.
#ifndef TAUSPAN_TESTS_NOISE_FIXTURES_H_
#define TAUSPAN_TESTS_NOISE_FIXTURES_H_

#include <cstdint>
#include <vector>

#include "deviations.h"
#include "grid.h"
#include "stats_file.h"

namespace tauspan::test {

// The coefficients of the Allan variance model
// 3 q^2/tau^2 + n^2/tau + (2 ln 2/pi) b^2 + k^2 tau/3 + r^2 tau^2/2.
struct NoiseLevels {
  double q = 0;  // white angle (phase), standard deviation of each angle sample
  double n = 0;  // white rate: each sample n / sqrt(tau0)
  double b = 0;  // flicker rate, one-sided spectrum b^2 / (pi f)
  double k = 0;  // random-walk rate: steps k sqrt(tau0)
  double r = 0;  // ramp: r t
};

// `count` rate samples tau0 apart. Flicker is a sum of first-order
// Gauss-Markov processes (AR(1) sampled exactly) with correlation times tau0,
// sqrt(10) tau0, 10 tau0, ... up to ten times the record, each of variance
// b^2 ln(sqrt 10) / pi: a sum of Lorentzians spaced evenly in log time is
// 1/f within a ripple below 0.1 % between 1/(2 pi T_max) and 1/(2 pi tau0).
// The same seed gives the same series.
std::vector<double> rate_series(const NoiseLevels& levels, size_t count, double tau0,
                                uint64_t seed);

// The angle (phase) of the same series: x(0) = 0, x(k+1) = x(k) + y(k) tau0.
std::vector<double> integrate(const std::vector<double>& rate, double tau0);

// Statistic s's rows at octave factors (what -stat gives), confidence 0.683.
std::vector<StatsRow> octave_rows(const Grid& grid, Statistic s);

}  // namespace tauspan::test

#endif  // TAUSPAN_TESTS_NOISE_FIXTURES_H_
