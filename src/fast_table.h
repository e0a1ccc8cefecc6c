// The bins of -fast off the grid from a table of double-double prefix sums,
// made once for all taus, instead of cursors that sum the series anew for
// each tau.
//
// A cursor started at 0 holds the same sums at index i however many windows
// it has closed on the way, as its fold count too depends only on i. So the
// table keeps, for each i, the sums a cursor holds there, and a bin is two
// lookups: the same numbers as the cursors' and then the same steps.
#ifndef TAUSPAN_FAST_TABLE_H_
#define TAUSPAN_FAST_TABLE_H_

#include <cstddef>
#include <new>
#include <vector>

#include "fast_windows.h"
#include "sample.h"

namespace tauspan::fast {

// A PairSum cursor's sums at one index, without its fold count: 32 bytes.
struct PairPrefix {
  Lanes hi;
  Lanes lo;
};

// The table costs twice the series' memory; past this it is not made and
// each tau walks the series with cursors as before.
inline constexpr size_t kPairTableBytes = size_t{1} << 29;

// prefix[i] holds the sums of a cursor started at 0 after i steps. Empty
// when the series is on the grid (its sums are integers), has samples
// missing or set aside (the table keeps no counts of them), or is too long.
inline std::vector<PairPrefix> pair_prefixes(const SampleSeries& series, const SeriesPlan& p) {
  const size_t n = series.size();
  if (p.on_grid || p.missing.size() != 1 || p.aside.size() != 1) return {};
  if (n + 1 > kPairTableBytes / sizeof(PairPrefix)) return {};
  std::vector<PairPrefix> prefix;
  try {
    prefix.resize(n + 1);
  } catch (const std::bad_alloc&) {
    return {};  // the cursors need no more memory
  }
  Cursor<PairSum> c = start_cursor<PairSum>(p);
  prefix[0] = {c.sum.hi, c.sum.lo};
  for (size_t i = 0; i < n; ++i) {
    step(c, series.data(), p);
    prefix[i + 1] = {c.sum.hi, c.sum.lo};
  }
  return prefix;
}

// make_bin<false, PairSum> for a series with nothing missing or set aside,
// from the table's sums at the window's two ends. The grid fields are left
// alone: off the grid nothing reads them.
[[gnu::always_inline]] inline void make_table_bin(const PairPrefix& back, const PairPrefix& front,
                                                  size_t begin, size_t end, const SeriesPlan& p,
                                                  Bin& bin) {
  bin.count = static_cast<double>(end - begin);  // never 0: a window holds its front sample
  bin.plain = false;
  bin.exact = false;
  bin.inverse = 1 / bin.count;
  // window_sum's steps (dd::two_sum, then dd::add of a double) on both
  // lanes at once: the same operations, each rounded as there.
  Lanes h, he, s, se;
  two_sum(back.hi, -front.hi, h, he);
  two_sum(h, back.lo - front.lo, s, se);
  const Lanes low = se + he;
  const Lanes high = s + low;
  const Lanes rest = low - (high - s);
  bin.time_sum = {high[0], rest[0]};
  bin.value_sum = {high[1], rest[1]};
  const double q = bin.time_sum.hi * bin.inverse;
  bin.mean = {p.offset[0] + q, 0};
  bin.slack = 0x1p-49 * (std::fabs(q) + std::fabs(bin.mean.time));
}

// As Windows<false, PairSum>, with the table for the cursors.
struct TableWindows {
  const Sample* s;
  const PairPrefix* prefix;
  size_t n;
  double tau;
  bool overlap;
  const SeriesPlan* plan;
  size_t first = 0;
  size_t i = 1;
  bool done = false;

  TableWindows(const SampleSeries& series, const PairPrefix* prefix_, double tau_, bool overlap_,
               const SeriesPlan& p)
      : s(series.data()), prefix(prefix_), n(series.size()), tau(tau_), overlap(overlap_),
        plan(&p) {}

  [[gnu::always_inline]] bool next(Bin& bin) {
    if (done) return false;
    const double start = s[first].time;
    for (; i < n; ++i) {
      if (tau > s[i].time - start) continue;
      make_table_bin(prefix[i], prefix[first], first, i, *plan, bin);
      first = overlap ? first + 1 : i;
      ++i;
      return true;
    }
    done = true;
    if (!(s[n - 1].time - start > 0.9 * tau)) return false;
    make_table_bin(prefix[n], prefix[first], first, n, *plan, bin);
    return true;
  }
};

}  // namespace tauspan::fast

#endif  // TAUSPAN_FAST_TABLE_H_
