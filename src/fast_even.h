// -fast on evenly spaced times. Every bin of a tau then holds the same count
// of samples, each pair of bins lies a fixed count of bins apart, and a tau's
// Allan variance is one pass of simple arithmetic over a table of prefix sums
// of the values, made once for the file in the series' own memory.
#ifndef TAUSPAN_FAST_EVEN_H_
#define TAUSPAN_FAST_EVEN_H_

#include <cstddef>
#include <span>
#include <vector>

#include "sample.h"

namespace tauspan::fast {

// Times t0 + i dt exactly, with dt > 0, where every time, every mean of a run
// of times and every difference of two of them is exact in doubles: the
// window and pairing rules on time differences then reduce to counts.
struct EvenTimes {
  bool even = false;
  double t0 = 0;
  double dt = 0;
};
EvenTimes even_times(const SampleSeries& series);

// P[k], the sum of (value - offset) over the first k samples, as
// high[k] + low[k]: every high on one binary grid, below 2^50 of its steps,
// so that any sum of four of them with signs is exact, and every low within
// a few steps. The sums are accurate to about 2^-100 of the largest |P|.
struct EvenTable {
  size_t n = 0;  // samples
  double t0 = 0;
  double dt = 0;
  double offset = 0;
  // The series' own memory: sample i's slot holds P[i + 1], its high in
  // place of the time and its low in place of the value. P[0] is 0.
  SampleSeries memory;

  const double* sums() const;  // high, low, high, low, ...
};

// Makes the table from the values of a series with even times, in the
// series' memory: `series` is then left empty. Returns false, and leaves the
// series untouched, when a value is missing, infinite or NaN, or lies more
// than 2^30 times the median step from one value to the next away from the
// mean: such a value would set the grid of every sum. Its passes run on up
// to `threads` threads, with the same result for any count.
bool take_even_table(SampleSeries& series, EvenTimes times, EvenTable& table, int threads = 1);

struct EvenRow {
  double avar = 0;
  size_t bins = 0;
};

// The rows of some taus with overlapped bins, as the running-sum sweep pairs
// them; the pass over the table is shared, a block at a time, so that its
// first stretch is read once for all of them. The result for a tau does not
// depend on the other taus given with it.
std::vector<EvenRow> even_rows(const EvenTable& table, std::span<const double> taus,
                               double jitter);

// The rows of some taus with disjoint bins (-nooverlap). Bin j holds
// samples [j count, (j + 1) count) and pairs with bin j + apart; only the last
// window may hold fewer, and its pair is formed in double-double.
std::vector<EvenRow> even_rows_disjoint(const EvenTable& table, std::span<const double> taus,
                                        double jitter);

// The first k in [1, n - 1] with !(limit > k step), or n if none; every
// k step below n must be exact, as even times make their differences.
size_t first_not_below(double limit, double step, size_t n);

// The same pass without the vector instructions of this CPU: the same bits.
std::vector<EvenRow> even_rows_plain(const EvenTable& table, std::span<const double> taus,
                                     double jitter);

}  // namespace tauspan::fast

#endif  // TAUSPAN_FAST_EVEN_H_
