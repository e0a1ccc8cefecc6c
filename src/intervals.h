// Error bars of the standard statistics: noise identification, equivalent
// degrees of freedom and chi-squared confidence intervals.
#ifndef TAUSPAN_INTERVALS_H_
#define TAUSPAN_INTERVALS_H_

#include <cstdint>

#include "deviations.h"
#include "grid.h"

namespace tauspan {

// The power-law exponent alpha (2 white PM, 1 flicker PM, 0 white FM,
// -1 flicker FM, -2 random-walk FM; for hdev and ohdev also -3 and -4) of
// the noise at averaging factor m, or kNoAlpha when too few points remain to
// tell (fewer than 3 frequency averages, or no spread). From the lag-1
// autocorrelation of the averages at m (frequency: means of m slots; phase:
// every m-th slot) when at least 30 remain, else from the B1 ratio, with
// R(n) telling white from flicker PM (from overlapping terms m/16 apart
// where that leaves at least 256 of them). An average that needs a missing slot is left out.
// O(N/m) per call on the prefix sums of prepare_grid.
inline constexpr int kNoAlpha = 99;
int noise_alpha(const PreparedGrid& prepared, Statistic s, int64_t m);

// The same for a grid alone: builds its prefix sums, so O(N) per call.
int noise_alpha(const Grid& grid, Statistic s, int64_t m);

// Equivalent degrees of freedom of statistic `s` at averaging factor m for
// noise alpha on `phase_points` phase samples without gaps (frequency data:
// one more than the frequency samples); NaN when it cannot be had (alpha
// kNoAlpha or beyond what the statistic converges for, fewer points than one
// term spans).
double equivalent_dof(Statistic s, int alpha, int64_t m, int64_t phase_points);

// The phase samples of a record without gaps on which statistic `s` at
// factor m has exactly `terms` terms (0 when terms < 1): what to pass to
// equivalent_dof for a record with gaps, whose terms are fewer than its
// length suggests. For a record without gaps it gives the same edf as the
// record's own length.
int64_t edf_phase_points(Statistic s, int64_t m, int64_t terms);

// The double-sided chi-squared interval of a deviation with `edf` degrees of
// freedom at confidence p: dev * sqrt(edf / chi2 quantile) at the quantiles
// 1 - (1 - p) / 2 (min_dev) and (1 - p) / 2 (max_dev). Both NaN when dev is
// NaN, edf is not a positive finite number, or p is outside (0, 1).
struct Interval {
  double min_dev = 0;
  double max_dev = 0;
};
Interval confidence_interval(double dev, double edf, double p);

}  // namespace tauspan

#endif  // TAUSPAN_INTERVALS_H_
