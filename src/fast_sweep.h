// The whole -fast sweep in one call: every tau's Allan variance from window
// sums, spread over threads.
#ifndef TAUSPAN_FAST_SWEEP_H_
#define TAUSPAN_FAST_SWEEP_H_

#include <cstddef>
#include <vector>

#include "fast_windows.h"
#include "sample.h"

namespace tauspan {

struct FastRow {
  double avar = 0;
  size_t bins = 0;  // how many bins the tau has; a row is printed from 2
};

// For each tau, the Allan variance of average_bins_running's bins paired as
// allan_variance pairs them, each difference formed from the window sums
// (not from two rounded means) and the squares summed in double-double.
// The bins are made as they are needed and never stored. `threads` workers
// share the taus (0: one per core); each tau is one worker's, so the result
// is the same for any count. The bins from each pair's lagging bin to its
// leading one are kept while `ring` of them (rounded up to a power of two)
// fit, and made again by a second walk of the series beyond; the result is
// the same bits either way. Series on a binary grid with nothing missing or
// set aside take a leaner loop over a table of 64-bit prefix sums (16 bytes
// a sample) unless `lean` is false; again the same bits.
inline constexpr size_t kFastRing = size_t{1} << 16;

std::vector<FastRow> fast_sweep(const SampleSeries& series, const std::vector<double>& taus,
                                bool overlap, double jitter, int threads,
                                size_t ring = kFastRing, bool lean = true);

// The same, one tau at a time, for callers that share the taus among their
// own workers: the series' plan is made once and read by all of them, and
// each worker brings its own ring (from fast_ring).
struct FastSeries {
  const SampleSeries* series = nullptr;
  fast::SeriesPlan plan;
};
FastSeries plan_fast_sweep(const SampleSeries& series);
std::vector<fast::Bin> fast_ring(const SampleSeries& series, size_t ring = kFastRing);
FastRow fast_tau(const FastSeries& fast, double tau, bool overlap, double jitter,
                 std::vector<fast::Bin>& ring);

}  // namespace tauspan

#endif  // TAUSPAN_FAST_SWEEP_H_
