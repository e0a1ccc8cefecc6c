// Error bars of the standard statistics: noise identification, equivalent
// degrees of freedom and chi-squared confidence intervals.
#ifndef TAUSPAN_INTERVALS_H_
#define TAUSPAN_INTERVALS_H_

#include <cstdint>

#include "deviations.h"
#include "grid.h"

namespace tauspan {

// The power-law exponent alpha (2 white PM, 1 flicker PM, 0 white FM,
// -1 flicker FM, -2 random-walk FM) of the noise at averaging factor m, or
// kNoAlpha when too few points remain to tell.
inline constexpr int kNoAlpha = 99;
int noise_alpha(const Grid& grid, Statistic s, int64_t m);

// Equivalent degrees of freedom of statistic `s` at averaging factor m for
// noise alpha on `phase_points` phase samples; NaN when it cannot be had.
double equivalent_dof(Statistic s, int alpha, int64_t m, int64_t phase_points);

// The double-sided chi-squared interval of a deviation with `edf` degrees of
// freedom at confidence p; both NaN when edf is not a positive number.
struct Interval {
  double min_dev = 0;
  double max_dev = 0;
};
Interval confidence_interval(double dev, double edf, double p);

}  // namespace tauspan

#endif  // TAUSPAN_INTERVALS_H_
