// The bins of -fast, one window at a time: sums built by cursors that walk
// the series once per tau, so no bin is ever stored. Shared by the -fast
// sweep and by average_bins_running.
//
// Most series are summed exactly: when every sample, less a per-lane offset,
// is a whole multiple of one power of two (a grid) within 62 bits of the
// largest, the sums are 128-bit integers on that grid. Readings near one value
// (a 10 MHz counter, Unix times) always are. Other series are summed as
// double-doubles of (x - offset). Either way a window's sum is the difference
// of two prefix sums, and its mean is rounded once from about 106 bits.
//
// A few samples far above the rest (more than 2^30 times the median size,
// at most 16 and one in 4096) would swamp the prefixes; they are set aside and added
// to each window that holds them. Missing samples are only counted.
#ifndef TAUSPAN_FAST_WINDOWS_H_
#define TAUSPAN_FAST_WINDOWS_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

#include "allan.h"
#include "double_double.h"
#include "sample.h"

namespace tauspan::fast {

__extension__ typedef __int128 Int128;

// How one series is summed, found once for all its taus.
struct SeriesPlan {
  bool on_grid = false;             // integer sums (GridSum) are exact
  // Windows of up to this many samples have sums below 2^62 on the grid, and
  // nothing is missing or set aside: the sweep's 64-bit loop takes them. 0
  // when that loop cannot.
  size_t lean_count = 0;
  double offset[2] = {0, 0};        // per lane (time, value), subtracted exactly
  double to_grid[2] = {1, 1};       // 2^-e: (x - offset) * to_grid is a whole number
  double from_grid[2] = {1, 1};     // 2^e
  std::vector<size_t> missing;      // samples with a missing time or value; ends with n
  std::vector<size_t> aside;        // present samples kept out of the sums; ends with n
};

SeriesPlan plan_series(const SampleSeries& series);

// Whether this CPU runs the FMA builds of the -fast loops.
bool cpu_has_fma();

// Beyond this a set-aside sample makes its windows take the plain mean, as
// double-double sums of such numbers could overflow.
inline constexpr double kWild = 0x1p960;

struct GridSum {
  Int128 lane[2] = {0, 0};
};

// (hi, lo) per lane; lo collects the exact rounding errors of hi. The two
// lanes are the two halves of one vector.
typedef double Lanes __attribute__((vector_size(16)));

struct PairSum {
  Lanes hi{};
  Lanes lo{};
  int fold = 0;
};

[[gnu::always_inline]] inline Lanes lanes_of(const Sample& x) { return Lanes{x.time, x.value}; }

[[gnu::always_inline]] inline void add(GridSum& s, const Sample& x, const SeriesPlan& p) {
  const Lanes g = (lanes_of(x) - Lanes{p.offset[0], p.offset[1]}) * Lanes{p.to_grid[0], p.to_grid[1]};
  s.lane[0] += static_cast<int64_t>(g[0]);
  s.lane[1] += static_cast<int64_t>(g[1]);
}

// TwoSum on both lanes: a + b = s + e exactly.
[[gnu::always_inline]] inline void two_sum(Lanes a, Lanes b, Lanes& s, Lanes& e) {
  s = a + b;
  const Lanes bb = s - a;
  e = (a - (s - bb)) + (b - bb);
}

[[gnu::always_inline]] inline void add(PairSum& s, const Sample& x, const SeriesPlan& p) {
  Lanes d, de, h, he;
  two_sum(lanes_of(x), -Lanes{p.offset[0], p.offset[1]}, d, de);
  two_sum(s.hi, d, h, he);
  s.hi = h;
  s.lo += he + de;
  if (++s.fold == 8) {  // keeps lo far below hi, so each addition to lo is exact enough
    s.fold = 0;
    const Lanes f = s.hi + s.lo;
    s.lo = s.lo - (f - s.hi);
    s.hi = f;
  }
}

// A whole number of at most 116 bits as a double-double: three exact parts.
[[gnu::always_inline]] inline dd::Num to_dd(Int128 d) {
  const auto high = static_cast<int64_t>(d >> 64);
  const auto low = static_cast<uint64_t>(d);
  const double a = static_cast<double>(high) * 0x1p64;
  const double b = static_cast<double>(low >> 32) * 0x1p32;
  const double c = static_cast<double>(low & 0xffffffffu);
  return dd::add(dd::two_sum(a, b), c);
}

[[gnu::always_inline]] inline dd::Num scaled(dd::Num x, double power_of_two) {
  return {x.hi * power_of_two, x.lo * power_of_two};
}

// Prefix sums over [0, pos), and how many missing and set-aside samples lie
// before pos.
template <typename Sum>
struct Cursor {
  Sum sum{};
  size_t pos = 0;
  size_t missing = 0;
  size_t aside = 0;
  size_t next_special = 0;  // the first missing or set-aside sample at or after pos
};

template <typename Sum>
Cursor<Sum> start_cursor(const SeriesPlan& p) {
  Cursor<Sum> c;
  c.next_special = std::min(p.missing[0], p.aside[0]);
  return c;
}

template <typename Sum>
[[gnu::always_inline]] inline void step(Cursor<Sum>& c, const Sample* s, const SeriesPlan& p) {
  if (c.pos == c.next_special) [[unlikely]] {
    if (p.missing[c.missing] == c.pos) {
      ++c.missing;
    } else {
      ++c.aside;
    }
    c.next_special = std::min(p.missing[c.missing], p.aside[c.aside]);
  } else {
    add(c.sum, s[c.pos], p);
  }
  ++c.pos;
}

// A 128-bit integer kept as two 64-bit halves, which the compiler moves as
// it wrote them (a 16-byte load of two fresh 8-byte stores stalls).
struct Wide {
  uint64_t low;
  int64_t high;
};

[[gnu::always_inline]] inline Wide wide(Int128 x) {
  return {static_cast<uint64_t>(x), static_cast<int64_t>(x >> 64)};
}

[[gnu::always_inline]] inline Int128 whole(Wide w) {
  return static_cast<Int128>(w.high) * (Int128{1} << 64) + static_cast<Int128>(w.low);
}

// One bin: its mean as average_bins gives it, and what the variance needs.
// Without kValueMean (the sweep), mean.time is an estimate within `slack`
// of the rounded exact mean, which exact_time gives; the pairing needs the
// exact one only when the estimate is too close to call.
struct Bin {
  Sample mean;
  double slack;
  dd::Num time_sum;   // of (time - offset) over the window
  dd::Num value_sum;  // of (value - offset) over the window
  Wide grid_value;  // the same on the grid, when `exact`
  Wide grid_time;   // on the grid, when `exact` and time_sum is not made
  double count;
  double inverse;  // 1 / count
  bool exact;      // grid_value holds the whole sum
  bool plain;      // missing or wild: only `mean` counts
};

// sum / count as a double-double, given inverse = 1 / count. q is within a
// few ulps of the quotient, so its remainder is exact and the pair carries
// about 106 bits.
[[gnu::always_inline]] inline dd::Num quotient(dd::Num sum, double count, double inverse) {
  const double q = sum.hi * inverse;
  const double r = std::fma(-q, count, sum.hi);
  return dd::quick_two_sum(q, (r + sum.lo) * inverse);
}

// offset + sum / count, rounded once from about 106 bits.
[[gnu::always_inline]] inline double mean_of(dd::Num sum, double count, double inverse,
                                             double offset) {
  const dd::Num q = quotient(sum, count, inverse);
  const dd::Num m = dd::two_sum(offset, q.hi);
  return m.hi + (m.lo + q.lo);
}

template <typename Sum>
[[gnu::always_inline]] inline dd::Num window_sum(const Cursor<Sum>& back, const Cursor<Sum>& front,
                                                 const SeriesPlan& p, int k, Int128* grid) {
  if constexpr (std::is_same_v<Sum, GridSum>) {
    *grid = back.sum.lane[k] - front.sum.lane[k];
    return scaled(to_dd(*grid), p.from_grid[k]);
  } else {
    const dd::Num h = dd::two_sum(back.sum.hi[k], -front.sum.hi[k]);
    return dd::add(h, back.sum.lo[k] - front.sum.lo[k]);
  }
}

// A whole number of up to 127 bits, rounded to a double (within an ulp or
// so) without the library's conversion.
[[gnu::always_inline]] inline double approximate(Int128 d) {
  const auto low = static_cast<int64_t>(static_cast<uint64_t>(d));
  const auto high = static_cast<int64_t>(d >> 64);
  if (high == (low >> 63)) return static_cast<double>(low);  // fits in 64 bits
  // At least 2^63: the rounding of the low half is below an ulp.
  return std::fma(static_cast<double>(high), 0x1p64, static_cast<double>(static_cast<uint64_t>(low)));
}

// The bin of the window [begin, end), whose prefixes are back and front.
// Without kValueMean the value's mean is left out unless the bin is plain.
template <bool kValueMean, typename Sum>
[[gnu::always_inline]] inline void make_bin(const Cursor<Sum>& back, const Cursor<Sum>& front,
                                            size_t begin, size_t end, const Sample* s,
                                            const SeriesPlan& p, Bin& bin) {
  // Written field by field where it is kept: copying or zeroing the whole
  // record costs more than the rest.
  bin.count = static_cast<double>((end - begin) - (back.missing - front.missing));
  bin.slack = 0;
  bin.plain = false;
  if (bin.count == 0) {
    bin.plain = true;
    bin.exact = false;
    bin.mean = {kMissing, kMissing};
    return;
  }
  bin.inverse = 1 / bin.count;
  bin.exact = p.on_grid && back.aside == front.aside;
  if constexpr (!kValueMean && std::is_same_v<Sum, GridSum>) {
    if (bin.exact) {
      // Integer sums: the estimate and the value difference need no
      // double-double; exact_time makes the time's sum when it is asked for.
      const Int128 grid_time = back.sum.lane[0] - front.sum.lane[0];
      bin.grid_time = wide(grid_time);
      bin.grid_value = wide(back.sum.lane[1] - front.sum.lane[1]);
      const double q = approximate(grid_time) * p.from_grid[0] * bin.inverse;
      bin.mean = {p.offset[0] + q, 0};
      bin.slack = 0x1p-49 * (std::fabs(q) + std::fabs(bin.mean.time));
      return;
    }
  }
  Int128 grid[2] = {0, 0};
  bin.time_sum = window_sum(back, front, p, 0, &grid[0]);
  bin.value_sum = window_sum(back, front, p, 1, &grid[1]);
  bin.grid_value = wide(grid[1]);
  for (size_t k = front.aside; k < back.aside; ++k) {
    const Sample& x = s[p.aside[k]];
    if (!(std::fabs(x.time - p.offset[0]) <= kWild && std::fabs(x.value - p.offset[1]) <= kWild)) {
      bin.plain = true;
      bin.mean = window_mean(std::span(s + begin, end - begin));
      return;
    }
    bin.time_sum = dd::add(bin.time_sum, dd::two_sum(x.time, -p.offset[0]));
    bin.value_sum = dd::add(bin.value_sum, dd::two_sum(x.value, -p.offset[1]));
  }
  if constexpr (kValueMean) {
    bin.mean.time = mean_of(bin.time_sum, bin.count, bin.inverse, p.offset[0]);
    bin.mean.value = mean_of(bin.value_sum, bin.count, bin.inverse, p.offset[1]);
  } else {
    const double q = bin.time_sum.hi * bin.inverse;
    bin.mean = {p.offset[0] + q, 0};
    bin.slack = 0x1p-49 * (std::fabs(q) + std::fabs(bin.mean.time));
  }
}

// The bin's mean time, rounded once from about 106 bits.
[[gnu::always_inline]] inline double exact_time(const Bin& bin, const SeriesPlan& p) {
  if (bin.slack == 0) return bin.mean.time;
  const dd::Num sum = bin.exact ? scaled(to_dd(whole(bin.grid_time)), p.from_grid[0]) : bin.time_sum;
  return mean_of(sum, bin.count, bin.inverse, p.offset[0]);
}

// Whether the pairing pairs lead with lag: whether their mean times, as
// rounded doubles, lie at least threshold apart. The estimates decide unless
// they are too close to call.
[[gnu::always_inline]] inline bool far_enough(const Bin& lead, const Bin& lag, double threshold,
                                              const SeriesPlan& p) {
  const double gap = lead.mean.time - lag.mean.time;
  if (lead.slack == 0 && lag.slack == 0) return !(threshold > gap);
  const double margin = 2 * (lead.slack + lag.slack) + 0x1p-51 * std::fabs(gap);
  if (threshold > gap + margin) return false;
  if (threshold < gap - margin) return true;
  return !(threshold > exact_time(lead, p) - exact_time(lag, p));
}

// lag's value less lead's, from the sums rather than the rounded means. The
// integer sums subtract exactly and round once; double-double sums keep
// about 106 bits through the subtraction.
[[gnu::always_inline]] inline dd::Num value_difference(const Bin& lag, const Bin& lead,
                                                       const SeriesPlan& p) {
  if (lag.plain || lead.plain) return {lag.mean.value - lead.mean.value, 0};
  if (lag.exact && lead.exact) {
    if (lag.count == lead.count) {
      return {approximate(whole(lag.grid_value) - whole(lead.grid_value)) * p.from_grid[1] * lag.inverse, 0};
    }
    const Int128 v[2] = {whole(lag.grid_value), whole(lead.grid_value)};
    const double c[2] = {lag.count, lead.count};
    const double inv[2] = {lag.inverse, lead.inverse};
    dd::Num q[2];
    for (int k = 0; k < 2; ++k) q[k] = quotient(scaled(to_dd(v[k]), p.from_grid[1]), c[k], inv[k]);
    return dd::sub(q[0], q[1]);
  }
  if (lag.count == lead.count) {
    return quotient(dd::sub(lag.value_sum, lead.value_sum), lag.count, lag.inverse);
  }
  return dd::sub(quotient(lag.value_sum, lag.count, lag.inverse),
                 quotient(lead.value_sum, lead.count, lead.inverse));
}

// The bins of one tau in closing order, made on demand: a sample closes the
// window when it lies tau or more after the window's front sample; with
// overlap only that front sample then leaves, without it the whole window;
// the last window counts when it spans strictly more than 0.9 * tau.
template <bool kValueMean, typename Sum>
struct Windows {
  const Sample* s;
  size_t n;
  double tau;
  bool overlap;
  const SeriesPlan* plan;
  Cursor<Sum> back;
  Cursor<Sum> front;
  size_t first = 0;
  size_t i = 1;
  bool done = false;

  Windows(const SampleSeries& series, double tau_, bool overlap_, const SeriesPlan& p)
      : s(series.data()), n(series.size()), tau(tau_), overlap(overlap_), plan(&p),
        back(start_cursor<Sum>(p)), front(back) {}

  // The next bin; false after the last.
  [[gnu::always_inline]] bool next(Bin& bin) {
    if (done) return false;
    for (; i < n; ++i) {
      step(back, s, *plan);
      if (tau > s[i].time - s[first].time) continue;
      make_bin<kValueMean>(back, front, first, i, s, *plan, bin);
      if (overlap) {
        step(front, s, *plan);
        ++first;
      } else {
        front = back;
        first = i;
      }
      ++i;
      return true;
    }
    done = true;
    step(back, s, *plan);
    if (!(s[n - 1].time - s[first].time > 0.9 * tau)) return false;
    make_bin<kValueMean>(back, front, first, n, s, *plan, bin);
    return true;
  }
};

// Windows::next for walkers whose bins come from prefix tables: with no
// cursors to step, a window is its two ends, and `w.make(begin, end, bin)`
// makes its bin from them. The windows close where Windows closes them.
template <typename Walker, typename B>
[[gnu::always_inline]] inline bool next_from_table(Walker& w, B& bin) {
  if (w.done) return false;
  const double start = w.s[w.first].time;
  for (; w.i < w.n; ++w.i) {
    if (w.tau > w.s[w.i].time - start) continue;
    w.make(w.first, w.i, bin);
    w.first = w.overlap ? w.first + 1 : w.i;
    ++w.i;
    return true;
  }
  w.done = true;
  if (!(w.s[w.n - 1].time - start > 0.9 * w.tau)) return false;
  w.make(w.first, w.n, bin);
  return true;
}

}  // namespace tauspan::fast

#endif  // TAUSPAN_FAST_WINDOWS_H_
