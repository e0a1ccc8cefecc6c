// The standard stability statistics of evenly sampled data, one function per
// statistic over a grid, each O(N) per averaging factor.
#ifndef TAUSPAN_DEVIATIONS_H_
#define TAUSPAN_DEVIATIONS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "grid.h"

namespace tauspan {

enum class Statistic { kAdev, kOadev, kMdev, kTdev, kHdev, kOhdev };

// "adev", "oadev", "mdev", "tdev", "hdev", "ohdev".
std::string_view statistic_name(Statistic s);
// The statistic of a name; false for an unknown one.
bool parse_statistic(std::string_view name, Statistic& s);

// What every statistic shares, built once per grid (prefix sums and the
// like); the grid must outlive it. Its fields belong to the statistics code.
struct PreparedGrid {
  const Grid* grid = nullptr;
};
PreparedGrid prepare_grid(const Grid& grid);

// One row of a statistic: averaging factor m, tau = m * tau0, the deviation
// (NaN when no term could be formed) and the number of terms used.
struct Deviation {
  int64_t m = 0;
  double tau = 0;
  double dev = 0;
  int64_t n = 0;
};

// Statistic `s` at averaging factor m >= 1. Terms that need a missing sample
// are left out and not counted in n.
Deviation deviation(const PreparedGrid& prepared, Statistic s, int64_t m);

// Frequency samples of a grid: its slots for frequency data, one fewer for
// phase data.
int64_t frequency_count(const Grid& grid);

// The largest averaging factor that the field's reference tools report by
// default: N/5 for adev and hdev, N/4 for the others (N frequency samples).
int64_t default_max_factor(Statistic s, const Grid& grid);

// The largest averaging factor for which the statistic has at least one term
// on a grid of this length (gaps aside).
int64_t max_factor(Statistic s, const Grid& grid);

}  // namespace tauspan

#endif  // TAUSPAN_DEVIATIONS_H_
