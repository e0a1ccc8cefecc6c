// The -fast estimator evaluated in 113 bits, for the tests of its loops:
// the bins found as the bin averaging finds them, window sums exact for the
// series the tests use, bin times rounded to doubles for the pairing, and
// differences and squares in __float128.
#ifndef TAUSPAN_FAST_REFERENCE_H_
#define TAUSPAN_FAST_REFERENCE_H_

#include <cstddef>
#include <utility>
#include <vector>

#include "sample.h"

namespace tauspan {

struct Exact {
  double avar = 0;
  size_t bins = 0;
};

Exact exact_avar(const SampleSeries& s, double tau, bool overlap, double jitter);

// The windows [begin, end) that the bins of one tau average, found as the
// bin averaging finds them.
std::vector<std::pair<size_t, size_t>> bin_windows(const SampleSeries& s, double tau,
                                                   bool overlap);

}  // namespace tauspan

#endif  // TAUSPAN_FAST_REFERENCE_H_
