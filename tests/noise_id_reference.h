// Noise identification by its first, direct form: every average and every
// term of R(n) formed from the grid's values on each call.
#ifndef TAUSPAN_NOISE_ID_REFERENCE_H_
#define TAUSPAN_NOISE_ID_REFERENCE_H_

#include <cstdint>

#include "deviations.h"
#include "grid.h"
#include "intervals.h"

namespace tauspan {

// What noise_alpha gives, computed in O(N) per call: means of m slots summed
// one by one, and R(n) from every overlapping Allan and modified Allan term.
int reference_noise_alpha(const Grid& grid, Statistic s, int64_t m);

}  // namespace tauspan

#endif  // TAUSPAN_NOISE_ID_REFERENCE_H_
