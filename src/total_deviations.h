// The total deviations: totdev, mtotdev, ttotdev and htotdev, each O(N) per
// averaging factor over the phase series of a grid.
//
// Gaps. A term is left out when it needs a missing sample, and n counts the
// terms used. What a term needs:
// - totdev, term at phase point i: the points i - m, i and i + m, where a
//   point beyond an end is its reflection 2 x(end) - x(mirror) and so needs
//   the end point and the mirror point. For frequency data it needs every
//   frequency sample inside the two intervals, reflected ones mapped back.
// - mtotdev and ttotdev, the subsequence of 3m phase points from i: all of
//   them (for frequency data, the 3m - 1 samples between them).
// - htotdev, the subsequence of 3m frequency values from i: all of them (for
//   phase data, the 3m + 1 points that give them); at m = 1 the overlapping
//   Hadamard term, which needs its three frequency values.
// The reflections are those of the whole record, whatever lies between.
#ifndef TAUSPAN_TOTAL_DEVIATIONS_H_
#define TAUSPAN_TOTAL_DEVIATIONS_H_

#include <cstdint>

// deviations.h uses Deviation in a declaration before it defines it.
namespace tauspan {
struct Deviation;
}  // namespace tauspan

#include "deviations.h"
#include "long_term_series.h"

namespace tauspan {

// Total deviation: the overlapping Allan deviation of the phase reflected
// (x*(-j) = 2 x(0) - x(j), and likewise at the far end) at both ends, over
// the N - 2 terms centred on points 1..N-2. Averaging factors 1..N/2.
Deviation totdev(const LongTermSeries& s, int64_t m);

// Modified total deviation over the N - 3m + 1 subsequences of 3m phase
// points: each loses its half-average line, is extended by uninverted even
// reflection to 9m points, and gives 6m modified-Allan terms. No bias
// correction. Averaging factors 1..N/3.
Deviation mtotdev(const LongTermSeries& s, int64_t m);

// Time total deviation: tau / sqrt(3) times mtotdev, in seconds.
Deviation ttotdev(const LongTermSeries& s, int64_t m);

// Hadamard total deviation over the N - 3m subsequences of 3m frequency
// values, extended as for mtotdev, with 6m Hadamard terms each; at m = 1 the
// overlapping Hadamard deviation. No bias correction. Averaging factors
// 1..(N-1)/3.
Deviation htotdev(const LongTermSeries& s, int64_t m);

// The largest averaging factor of each statistic on N phase points, as the
// field's reference tool reports them: N/2 for totdev, N/3 for mtotdev and
// ttotdev, (N-1)/3 for htotdev (so that at least one term remains). Zero
// when there is none.
int64_t totdev_max_factor(int64_t phase_points);
int64_t mtotdev_max_factor(int64_t phase_points);
int64_t htotdev_max_factor(int64_t phase_points);

}  // namespace tauspan

#endif  // TAUSPAN_TOTAL_DEVIATIONS_H_
