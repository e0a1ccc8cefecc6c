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

// What the pairing needs of one bin: a slim fast::Bin, so that a ring of
// them stays small. The time's sum is made again from the table in the few
// pairs too close to call.
struct TableBin {
  double time;  // the estimate of the mean time, as make_bin gives it
  double slack;
  dd::Num value_sum;
  double count;
  double inverse;
  size_t begin;
};

// window_sum<PairSum> of both lanes at once, for a series with nothing
// missing or set aside: the same operations (dd::two_sum, then dd::add of a
// double), each rounded as there.
[[gnu::always_inline]] inline void table_sums(const PairPrefix& back, const PairPrefix& front,
                                              Lanes& high, Lanes& rest) {
  Lanes h, he, s, se;
  two_sum(back.hi, -front.hi, h, he);
  two_sum(h, back.lo - front.lo, s, se);
  const Lanes low = se + he;
  high = s + low;
  rest = low - (high - s);
}

// As fast::exact_time.
[[gnu::always_inline]] inline double exact_time(const TableBin& bin, const SeriesPlan& p,
                                                const PairPrefix* prefix) {
  if (bin.slack == 0) return bin.time;
  Lanes high, rest;
  const auto end = bin.begin + static_cast<size_t>(bin.count);
  table_sums(prefix[end], prefix[bin.begin], high, rest);
  return mean_of({high[0], rest[0]}, bin.count, bin.inverse, p.offset[0]);
}

// As fast::far_enough.
[[gnu::always_inline]] inline bool far_enough(const TableBin& lead, const TableBin& lag,
                                              double threshold, const SeriesPlan& p,
                                              const PairPrefix* prefix) {
  const double gap = lead.time - lag.time;
  if (lead.slack == 0 && lag.slack == 0) return !(threshold > gap);
  const double margin = 2 * (lead.slack + lag.slack) + 0x1p-51 * std::fabs(gap);
  if (threshold > gap + margin) return false;
  if (threshold < gap - margin) return true;
  return !(threshold > exact_time(lead, p, prefix) - exact_time(lag, p, prefix));
}

// As fast::value_difference for two bins that are neither plain nor exact.
[[gnu::always_inline]] inline dd::Num value_difference(const TableBin& lag, const TableBin& lead) {
  if (lag.count == lead.count) {
    return quotient(dd::sub(lag.value_sum, lead.value_sum), lag.count, lag.inverse);
  }
  return dd::sub(quotient(lag.value_sum, lag.count, lag.inverse),
                 quotient(lead.value_sum, lead.count, lead.inverse));
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
  size_t last_count = 0;  // 1 / count only when the count changes
  double last_inverse = 0;

  TableWindows(const SampleSeries& series, const PairPrefix* prefix_, double tau_, bool overlap_,
               const SeriesPlan& p)
      : s(series.data()), prefix(prefix_), n(series.size()), tau(tau_), overlap(overlap_),
        plan(&p) {}

  // make_bin<false, PairSum>'s steps; a window is never empty.
  [[gnu::always_inline]] void make(size_t begin, size_t end, TableBin& bin) {
    const size_t count = end - begin;
    if (count != last_count) {
      last_count = count;
      last_inverse = 1 / static_cast<double>(count);
    }
    bin.count = static_cast<double>(count);
    bin.inverse = last_inverse;
    bin.begin = begin;
    Lanes high, rest;
    table_sums(prefix[end], prefix[begin], high, rest);
    bin.value_sum = {high[1], rest[1]};
    const double q = high[0] * bin.inverse;
    bin.time = plan->offset[0] + q;
    bin.slack = 0x1p-49 * (std::fabs(q) + std::fabs(bin.time));
  }

  [[gnu::always_inline]] bool next(TableBin& bin) { return next_from_table(*this, bin); }
};

}  // namespace tauspan::fast

#endif  // TAUSPAN_FAST_TABLE_H_
