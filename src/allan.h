// The analysis: time extent, tau range and schedule, bin means, estimator.
// Pure functions of their arguments; nothing here reads or prints.
#ifndef TAUSPAN_ALLAN_H_
#define TAUSPAN_ALLAN_H_

#include <cstdint>
#include <span>

#include "sample.h"

namespace tauspan {

struct TimeExtent {
  double t_min = 0;
  double t_max = 0;
};

struct TauRange {
  double min_tau = 0;
  double max_tau = 0;
};

// Lowest and highest sample time, wherever they stand in the series. With the
// row-number time base (negative time_column) the times are not consulted:
// 0 to (N - 1) * time_multiplier.
TimeExtent time_extent(const SampleSeries& series, const RunSettings& settings);

// The settings' min_tau and max_tau, each replaced when it is 0: the smallest
// by (third sample's time - t_min), the largest by (t_max - t_min) * 0.25.
// Nothing else is checked: the smallest may exceed the largest. Needs at least
// three samples.
TauRange tau_range(const SampleSeries& series, const TimeExtent& extent,
                   const RunSettings& settings);

// The k-th of n taus (k from 1). With n < 2, min_tau. Logarithmic spacing
// ends exactly on max_tau but meets min_tau only up to rounding.
double tau_at(double k, int32_t n, double min_tau, double max_tau, bool log_spacing);

// Mean time and mean value of the window's samples, skipping any whose time
// or value is kMissing; (kMissing, kMissing) when none is left.
Sample window_mean(std::span<const Sample> window);

// The bin means of one tau, in the order they close. A sample closes the
// window when it lies tau or more after the window's front sample; with
// overlap only that front sample then leaves, without it the whole window.
// The last window counts when it spans strictly more than 0.9 * tau. Each
// mean is a fresh front-to-back sum over its window. `reuse` lends its
// storage to the result, so a sweep can recycle one buffer.
SampleSeries average_bins(const SampleSeries& series, double tau, bool overlap,
                          SampleSeries reuse = {});

// The same bins as average_bins, each mean taken from prefix sums instead
// of a fresh pass, so a tau costs one pass over the series (see
// fast_windows.h): exact integer sums when the series lies on a binary grid,
// double-doubles otherwise, with the few samples far above the rest added
// per window. Every mean is within an ulp of the true mean (usually correctly
// rounded), except off the grid for a mean over 2^50 times smaller than the
// prefix sums over its count; they may differ from average_bins in the last
// bit. Windows holding an infinite, NaN or huge (beyond 2^960) time or value
// take the fresh pass.
SampleSeries average_bins_running(const SampleSeries& series, double tau, bool overlap,
                                  SampleSeries reuse = {});

// Chooses how many overlapped windows average_bins sums at once: 8 (any
// x86-64), 16 (AVX2) or 32 (AVX-512), or 0 for the widest this CPU has.
// Widths the CPU lacks are ignored. Returns the width in use. For tests and
// benchmarks: every width gives the same bits.
int select_vector_width(int width);

// Half the mean squared difference of the bin values paired at least
// tau * (1 - jitter) apart, or 0 when no pair is found. A bin whose value is
// kMissing is never a lead.
double allan_variance(const SampleSeries& bins, double tau, double jitter);

// One tau of the sweep: average_bins and then, from 2 bins on,
// allan_variance, with the same bits, but holding only the bins from the
// lagging one of the pair under way on (and at most half as many again), as they
// are made: memory follows how far apart pairs lie rather than how many bins
// there are. `scratch` lends its storage; `keep` is the most bins made before
// they are paired (for tests).
struct TauVariance {
  double avar = 0;
  size_t bins = 0;
};
TauVariance allan_tau(const SampleSeries& series, double tau, bool overlap, double jitter,
                      SampleSeries& scratch, size_t keep = 4096);

}  // namespace tauspan

#endif  // TAUSPAN_ALLAN_H_
