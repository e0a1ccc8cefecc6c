// Thêo1 over the phase series of a grid, alone or for many averaging factors
// at once.
//
// Gaps. A Thêo1 term i uses every phase point from i to i + m, so it needs
// all of them (for frequency data, every sample between them); terms that
// need a missing sample are left out and n counts the terms used.
#ifndef TAUSPAN_THEO1_H_
#define TAUSPAN_THEO1_H_

#include <cstdint>
#include <vector>

// deviations.h uses Deviation in a declaration before it defines it.
namespace tauspan {
struct Deviation;
}  // namespace tauspan

#include "deviations.h"
#include "long_term_series.h"

namespace tauspan {

// How theo1() sums: the cheaper way per run (the default), or always one of
// them (tests and benchmarks compare the two).
enum class Theo1Way { kAuto, kTerms, kProducts };

// Thêo1 at an even averaging factor m (2 <= m <= N - 1 on N phase points):
//   sum over i = 0..N-m-1 and d = 0..m/2-1 of
//   [(x(i) - x(i - d + m/2)) + (x(i + m) - x(i + d + m/2))]^2 / (m/2 - d),
// divided by 0.75 (N - m) (m tau0)^2, at tau = 0.75 m tau0. No bias
// correction. n counts the terms i used; an odd or out-of-range m gives NaN
// with n = 0. The term sums are O(N m), on doubles centred within blocks a
// few m long (the statistic ignores any line in the phase) and summed in
// double-double; the lagged products (theo1_fast.h) are O(N log m +
// m log^2 m) and stand in for them where that is cheaper and their rounding,
// estimated as they go, stays below 1e-12 of the variance.
Deviation theo1(const LongTermSeries& s, int64_t m, Theo1Way way = Theo1Way::kAuto);

// Thêo1 at each of the given factors, as theo1() would give them. When the
// factors are dense (every even m, say) the sums are shared: every term is
// a weighted difference of windowed sums of (x(j) - x(j + l))^2, and one
// pass per lag l feeds every factor, so all factors up to M together cost
// O(N M) instead of O(N M^2).
std::vector<Deviation> theo1_factors(const LongTermSeries& s, const std::vector<int64_t>& factors);

// The bias removal of ThêoBR: the mean over i = 0..n of the overlapping
// Allan variance at m = 9 + 3i divided by Thêo1 at m = 12 + 4i (the same
// tau), n = floor(0.1 N / 3 - 3) on N phase points. The bias-removed Thêo1
// variance is Thêo1 times this, the deviation times its square root. NaN on
// fewer than 120 points or when a term cannot be formed.
double theo_br_ratio(const LongTermSeries& s);

// The largest even averaging factor on N phase points: N - 1 or N - 2.
int64_t theo1_max_factor(int64_t phase_points);

}  // namespace tauspan

#endif  // TAUSPAN_THEO1_H_
