// Rate series with known noise coefficients.
#include "noise_fixtures.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "run_stats.h"
#include "stats_settings.h"

namespace tauspan::test {
namespace {

// splitmix64 and Box-Muller: fast enough at a million samples in a Debug
// build with sanitizers, and the same everywhere.
struct Normal {
  uint64_t state;
  bool has_spare = false;
  double spare = 0;

  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1p-53; }
  double operator()() {
    if (has_spare) {
      has_spare = false;
      return spare;
    }
    const double radius = std::sqrt(-2 * std::log(uniform()));
    const double angle = 2 * std::numbers::pi * uniform();
    spare = radius * std::sin(angle);
    has_spare = true;
    return radius * std::cos(angle);
  }
};

}  // namespace

std::vector<double> rate_series(const NoiseLevels& levels, size_t count, double tau0,
                                uint64_t seed) {
  Normal normal{seed};
  std::vector<double> y(count, 0.0);
  const double white = levels.n / std::sqrt(tau0);
  double previous_angle = levels.q * normal();
  double walk = 0;
  for (size_t i = 0; i < count; ++i) {
    const double angle = levels.q * normal();
    y[i] = white * normal() + (angle - previous_angle) / tau0 + walk +
           levels.r * tau0 * static_cast<double>(i);
    previous_angle = angle;
    walk += levels.k * std::sqrt(tau0) * normal();
  }
  if (levels.b > 0) {
    // Each process is averaged over its sample's interval, as a rate sensor's
    // output is: the averages of a 1/f spectrum that reaches far above 1/tau0
    // have the model's flat Allan variance from m = 1 on. Processes much
    // faster than tau0 average to white noise and are lumped into one.
    const double ratio = std::pow(10.0, 2.0 / 3);
    const double var = levels.b * levels.b * std::log(ratio) / std::numbers::pi;
    const double h = tau0;
    const double longest = 10 * tau0 * static_cast<double>(count);
    double lumped = 0;
    for (double t = tau0 * 1e-4; t < 0.1 * tau0; t *= ratio) {
      lumped += 2 * var * t * t * (h / t - 1 + std::exp(-h / t)) / (h * h);
    }
    const double lumped_sd = std::sqrt(lumped);
    for (size_t i = 0; i < count; ++i) y[i] += lumped_sd * normal();
    for (double t = tau0 * 1e-4 * std::pow(ratio, 5); t <= longest; t *= ratio) {
      const double a = std::exp(-h / t);
      const double mean_gain = t * (1 - a) / h;
      // The mean's variance given the start, var * f(h/t); for slow processes
      // by its series, where the closed form cancels to nothing.
      const double x = h / t;
      const double f = x < 1e-2 ? x * (2.0 / 3 - x / 2 + 7 * x * x / 30)
                                : (2 * (x - 1 + a) - (1 - a) * (1 - a)) / (x * x);
      const double var_mean = var * f;
      const double cov = var * t * (1 - a) * (1 - a) / h;
      const double sd_mean = std::sqrt(var_mean);
      const double gain_end = cov / sd_mean;
      const double sd_end = std::sqrt(std::max(0.0, var * (1 - a * a) - gain_end * gain_end));
      double e = std::sqrt(var) * normal();  // the value at the interval's start, stationary
      for (size_t i = 0; i < count; ++i) {
        const double z1 = normal();
        y[i] += mean_gain * e + sd_mean * z1;
        e = a * e + gain_end * z1 + sd_end * normal();
      }
    }
  }
  return y;
}

std::vector<double> integrate(const std::vector<double>& rate, double tau0) {
  std::vector<double> x(rate.size() + 1, 0.0);
  for (size_t i = 0; i < rate.size(); ++i) x[i + 1] = x[i] + rate[i] * tau0;
  return x;
}

std::vector<StatsRow> octave_rows(const Grid& grid, Statistic s) {
  const PreparedGrid prepared = prepare_grid(grid);
  StatsSettings settings;
  std::vector<StatsRow> rows;
  for (const int64_t m : averaging_factors(settings, s, grid)) {
    const StatsRow row = stats_row(prepared, s, m, 0.683);
    if (row.n > 0) rows.push_back(row);
  }
  return rows;
}

}  // namespace tauspan::test
