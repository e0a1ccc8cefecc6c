// The standard stability statistics of evenly sampled data, one function per
// statistic over a grid, each O(N) per averaging factor.
#ifndef TAUSPAN_DEVIATIONS_H_
#define TAUSPAN_DEVIATIONS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "double_double.h"
#include "grid.h"

namespace tauspan {

// The classical statistics come first; from kTotdev on, the total, Thêo1
// and time-error statistics, which are computed from a LongTermSeries (see
// long_term_rows.h) rather than by deviation() below.
enum class Statistic {
  kAdev,
  kOadev,
  kMdev,
  kTdev,
  kHdev,
  kOhdev,
  kTotdev,
  kMtotdev,
  kTtotdev,
  kHtotdev,
  kTheo1,
  kMtie,
  kTierms,
};

// Whether `s` is one of the total, Thêo1 or time-error statistics.
constexpr bool is_long_term(Statistic s) { return s >= Statistic::kTotdev; }

// "adev", "oadev", "mdev", "tdev", "hdev", "ohdev", "totdev", "mtotdev",
// "ttotdev", "htotdev", "theo1", "mtie", "tierms".
std::string_view statistic_name(Statistic s);
// The statistic of a name; false for an unknown one.
bool parse_statistic(std::string_view name, Statistic& s);

// The state of the running sums (see PreparedGrid::sum_hi) at an index that
// is a multiple of kSumMarkEvery: where the sums are not kept, these marks
// let running_sums_at make any of them in at most that many steps.
struct SumMark {
  double hi = 0;
  double lo = 0;
  int since_fold = 0;  // see RunningSum
};
inline constexpr size_t kSumMarkEvery = 32;

// What every statistic shares, built once per grid (prefix sums and the
// like); the grid must outlive it. Its fields belong to the statistics code.
// Sums are double-double (hi + lo) and exclude a level that no statistic
// sees (see deviations.cc); gaps add nothing to them.
struct PreparedGrid {
  const Grid* grid = nullptr;
  // Frequency data only: the phase in units of tau0 less the mean frequency
  // times k, the running sum of y - mean over the first k slots, k = 0..slots.
  std::vector<double> phase_hi;
  std::vector<double> phase_lo;
  // The running sum over the first k phase points (frequency data: of the
  // phase above, k = 0..slots + 1; phase data: of x less a straight line
  // through the first and last samples, k = 0..slots), for mdev and tdev;
  // empty when prepared without it.
  std::vector<double> sum_hi;
  std::vector<double> sum_lo;
  // Where the running sums are not kept: their state at every
  // kSumMarkEvery-th index (under a byte a slot).
  std::vector<SumMark> sum_marks;
  // Gaps among the first k slots, k = 0..slots; empty for a grid without gaps.
  std::vector<int64_t> gap_prefix;
};
// O(slots); about 32 bytes a slot for frequency data, 16 for phase data,
// 8 more when there are gaps.
PreparedGrid prepare_grid(const Grid& grid);
// The same sums for a run, in less memory: the running sums only when
// `running_sums` (mdev and tdev need them; deviation() gives those no terms
// without), and a frequency grid's values become the phase in place, so
// that grid.values is left empty (the statistics of a prepared frequency
// grid read the sums only). 16 bytes a slot for frequency data, 0 for phase
// data, 16 more with the running sums (under 1 for their marks without)
// and 8 more with gaps.
PreparedGrid prepare_grid_taking_values(Grid& grid, bool running_sums);

// The running sums (see PreparedGrid::sum_hi) at the given indices, in their
// order, with the same bits as prepare_grid gives them but without holding
// them all: from the marks of a lean preparation, at most kSumMarkEvery
// steps for each; without marks, one walk of O(slots). An index past the
// last gives no sum.
std::vector<HiLo<double>> running_sums_at(const PreparedGrid& prepared,
                                          const std::vector<size_t>& indices);

// One row of a statistic: averaging factor m, tau = m * tau0, the deviation
// (NaN when no term could be formed) and the number of terms used.
struct Deviation {
  int64_t m = 0;
  double tau = 0;
  double dev = 0;
  int64_t n = 0;
};

// Statistic `s` at averaging factor m >= 1, O(slots), within about 1e-13 of
// its definition evaluated exactly on the grid's values (the tests see a few
// units of 1e-16). Terms that need a missing sample are left out and not
// counted in n (a frequency term needs every y it spans, a phase term the x
// it uses). An m below 1 or above max_factor gives n 0 and a NaN deviation,
// and so does a long-term statistic (is_long_term), which this does not compute.
// Safe to call from several threads on one PreparedGrid.
Deviation deviation(const PreparedGrid& prepared, Statistic s, int64_t m);

// Frequency samples of a grid: its slots for frequency data, one fewer for
// phase data.
int64_t frequency_count(const Grid& grid);

// The largest averaging factor that the field's reference tools report by
// default: N/5 for adev and hdev, N/4 for the other classical ones (N
// frequency samples); for the long-term statistics, their max_factor.
int64_t default_max_factor(Statistic s, const Grid& grid);

// The largest averaging factor for which the statistic has at least one term
// on a grid of this length (gaps aside). On N phase points: totdev and mtie
// N/2, mtotdev and ttotdev N/3, htotdev (N-1)/3, tierms N/4, theo1 the
// largest even m below N.
int64_t max_factor(Statistic s, const Grid& grid);

}  // namespace tauspan

#endif  // TAUSPAN_DEVIATIONS_H_
