// The whole -fast sweep in one call: every tau's Allan variance from window
// sums, spread over threads.
#ifndef TAUSPAN_FAST_SWEEP_H_
#define TAUSPAN_FAST_SWEEP_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fast_even.h"
#include "fast_table.h"
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
// a sample), and other series with nothing missing or set aside a table of
// double-double prefix sums (32 bytes a sample, up to kPairTableBytes),
// unless `lean` is false; again the same bits.
inline constexpr size_t kFastRing = size_t{1} << 16;

std::vector<FastRow> fast_sweep(const SampleSeries& series, const std::vector<double>& taus,
                                bool overlap, double jitter, int threads,
                                size_t ring = kFastRing, bool lean = true);

// The same one tau at a time, for callers that share the taus among their
// own workers. What every tau shares is made once for the series (its plan
// and the table of prefix sums, if any) and only read after;
// each worker brings its own scratch, made by fast_scratch.
namespace fast {
struct LeanPrefix {
  uint64_t time;
  uint64_t value;
};
struct LeanBin {
  double time;  // the estimate of the mean time, as make_bin gives it
  double slack;
  int64_t grid_time;
  int64_t grid_value;
  size_t count;
  double inverse;
};
}  // namespace fast

struct FastShared {
  const SampleSeries* series = nullptr;
  std::shared_ptr<const SampleSeries> owned;   // when take_fast_sweep has the series
  std::shared_ptr<const fast::EvenTable> even;  // evenly spaced times, overlapped bins
  fast::SeriesPlan plan;
  std::vector<fast::LeanPrefix> prefix;  // empty unless plan.lean_count > 0
  std::vector<fast::PairPrefix> pair_prefix;  // off the grid; may be empty
  bool overlap = true;
  double jitter = 0;
  size_t ring_size = 1;
};
struct FastScratch {
  std::vector<fast::Bin> bins;
  std::vector<fast::LeanBin> lean;
  std::vector<fast::TableBin> table;
};
FastShared share_fast_sweep(const SampleSeries& series, bool overlap, double jitter,
                             size_t ring = kFastRing, bool lean = true);
// The same for a series the sweep may keep. With overlapped bins, evenly
// spaced times and nothing missing or set aside, the Allan variance needs
// only the values: the series' memory then becomes a table of their prefix
// sums (fast::EvenTable), and no more is allocated. Its results agree with
// the general loop's to the accuracy of either, not to the bit.
FastShared take_fast_sweep(SampleSeries&& series, bool overlap, double jitter);
// The same when the caller has looked at the times already.
FastShared take_fast_sweep(SampleSeries&& series, bool overlap, double jitter,
                           fast::EvenTimes times, int threads);
FastScratch fast_scratch(const FastShared& shared);
FastRow fast_tau(const FastShared& shared, double tau, FastScratch& scratch);
// Several taus at once: with the even table their passes share its blocks.
std::vector<FastRow> fast_taus(const FastShared& shared, std::span<const double> taus,
                               FastScratch& scratch);

}  // namespace tauspan

#endif  // TAUSPAN_FAST_SWEEP_H_
