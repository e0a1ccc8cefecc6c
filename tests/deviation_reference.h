// The standard statistics straight from their textbook definitions, in
// 113-bit arithmetic: the yardstick of the statistics' tests.
#ifndef TAUSPAN_DEVIATION_REFERENCE_H_
#define TAUSPAN_DEVIATION_REFERENCE_H_

#include <cstdint>

#include "deviations.h"
#include "grid.h"

namespace tauspan {

// Statistic `s` at averaging factor m by its direct definition:
// frequency data by window means of y, phase data by differences of x,
// each term left out when a sample it uses is missing. The variance is
// summed in __float128; only the final square root is taken in double.
Deviation reference_deviation(const Grid& grid, Statistic s, int64_t m);

}  // namespace tauspan

#endif  // TAUSPAN_DEVIATION_REFERENCE_H_
