// The phase series of a grid, prepared once for the total, Thêo1 and
// time-error statistics: phase points in double-double and the counts of
// missing samples that decide which terms can be formed.
#ifndef TAUSPAN_LONG_TERM_SERIES_H_
#define TAUSPAN_LONG_TERM_SERIES_H_

#include <cstdint>
#include <vector>

#include "double_double.h"
#include "grid.h"

namespace tauspan {

// Phase points 0..N-1 of a grid. Frequency data give N = slots + 1 points,
// x(k+1) = x(k) + y(k) tau0; phase data give one point per slot. The points
// are kept in the data's own unit so that nothing is lost to a
// multiplication: seconds for phase data, the running sum of the values
// (seconds / tau0, or Hz / tau0 with a nominal f0) for frequency data.
// Functions in this file and the statistics read the fields; the grid need
// not outlive the record.
struct LongTermSeries {
  DataKind kind = DataKind::kFrequency;
  double tau0 = 1;
  double nominal = 0;
  std::vector<dd::Num> phase;
  // Prefix counts of what is missing: for phase data, missing[k] counts the
  // missing points among 0..k-1 (size N + 1); for frequency data it counts
  // the missing steps (samples) among 0..k-1 (size N). Empty when the grid
  // has no gap.
  std::vector<int64_t> missing;
};

LongTermSeries prepare_long_term(const Grid& grid);

// Phase points of the series.
int64_t phase_points(const LongTermSeries& s);

// Every phase point first..last (first <= last) is usable together: for
// phase data all of them are present, for frequency data every sample
// between them is. A window statistic needs exactly this.
bool window_known(const LongTermSeries& s, int64_t first, int64_t last);

// The phase difference between points p and q can be formed: for phase data
// both points are present, for frequency data every sample between them is.
bool difference_known(const LongTermSeries& s, int64_t p, int64_t q);

// x(q) - x(p) in the series' unit, exact in double-double, rounded once.
double phase_difference(const LongTermSeries& s, int64_t p, int64_t q);

// Multiplies a deviation computed from phase differences in the series' unit
// per sample into the statistic's unit: fractional frequency (divided by
// tau0 for phase data, by the nominal f0 when there is one).
double frequency_scale(const LongTermSeries& s);

// Multiplies a phase difference in the series' unit into seconds.
double seconds_scale(const LongTermSeries& s);

}  // namespace tauspan

#endif  // TAUSPAN_LONG_TERM_SERIES_H_
