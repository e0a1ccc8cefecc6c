// Bin means from running sums: one pass over the series per tau, whatever
// the window length. Prefix sums of (x - offset) are kept at the
// window's back and front, each as an unevaluated pair of doubles (hi, lo):
// hi is the plain running sum, lo collects the exact rounding errors of hi's
// additions (and of the subtractions of the offset), and every few samples lo
// is folded into hi. A window's sum is the difference of the two prefixes.
// Times and values go through the same steps side by side, as the two lanes
// of one vector. The offset is the first sample, which keeps the sums small
// for data far from 0 (timestamps, a 10 MHz reading), or 0 when the data
// spans more than a factor of 2 around it.
//
// Error: |lo| stays within a few ulps of hi, so each addition to lo is off by
// at most about 2^-104 of the prefix; over N samples the sums carry an error
// near N * 2^-104 of the largest prefix, far below the last bit of any mean.
//
// Samples that could overflow the sums (infinite, NaN or beyond 2^960) are
// counted instead, and a window that holds one takes the plain fresh pass,
// so it gives exactly what the default gives. Series without such samples,
// or missing ones, the usual case, take a leaner loop that checks nothing
// per sample.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "allan.h"

namespace tauspan {
namespace {

constexpr double kBig = 0x1p960;
constexpr int kFoldEvery = 8;  // samples between folds of lo into hi

typedef double Pair __attribute__((vector_size(16)));  // (time, value)

[[gnu::always_inline]] inline Pair load(const Sample& s) {
  Pair p;
  std::memcpy(&p, &s, sizeof p);
  return p;
}

// A running sum as (hi, lo).
struct Sums {
  Pair hi{};
  Pair lo{};
  int fold = 0;
};

// sums += d (+ de, the exact error of d, where there is one). hi + e is old
// hi + d exactly (TwoSum); only hi's addition is on the chain.
template <bool kWithError>
[[gnu::always_inline]] inline void add(Sums& p, Pair d, Pair de = Pair{}) {
  const Pair h = p.hi + d;
  const Pair bp = h - p.hi;
  const Pair e = (p.hi - (h - bp)) + (d - bp);
  p.hi = h;
  if constexpr (kWithError) {
    p.lo += e + de;
  } else {
    p.lo += e;
  }
  if (++p.fold == kFoldEvery) {
    p.fold = 0;
    const Pair s2 = p.hi + p.lo;
    p.lo = p.lo - (s2 - p.hi);  // exact: lo is far below hi
    p.hi = s2;
  }
}

// hi - q * c with one rounding: an instruction where the caller is compiled
// for FMA, a library call elsewhere.
[[gnu::always_inline]] inline Pair remainder(Pair hi, Pair q, Pair c) {
  return Pair{std::fma(-q[0], c[0], hi[0]), std::fma(-q[1], c[1], hi[1])};
}

// offset + (back - front) / count, rounded once from about 100 bits. The
// difference is a TwoSum of the his plus the los; q need only be near
// sum / count, as the remainder carries the rest.
[[gnu::always_inline]] inline Sample mean(const Sums& back, const Sums& front, Pair offset,
                                          int64_t count) {
  const Pair h = back.hi - front.hi;
  const Pair bp = h - back.hi;
  const Pair e = (back.hi - (h - bp)) + (-front.hi - bp);
  const Pair t = e + (back.lo - front.lo);
  const Pair hi = h + t;
  const Pair lo = t - (hi - h);
  const auto c = static_cast<double>(count);
  const Pair cc = Pair{} + c;
  const Pair inverse = Pair{} + 1.0 / c;
  const Pair q = hi * inverse;
  const Pair q2 = (remainder(hi, q, cc) + lo) * inverse;
  const Pair m = offset + q;
  const Pair mp = m - offset;
  const Pair me = (offset - (m - mp)) + (q - mp);
  const Pair result = m + (me + q2);
  return {result[0], result[1]};
}

// The windows of one tau, closed as average_bins closes them. `take` adds a
// sample to a prefix; `mean_of(back, front, begin, end)` is the mean of the
// window [begin, end) whose prefixes are back (over [0, end)) and front
// (over [0, begin)).
template <typename Prefix, typename Take, typename MeanOf>
[[gnu::always_inline]] inline void close_windows(const SampleSeries& series, double tau,
                                                 bool overlap, SampleSeries& bins, Take take,
                                                 MeanOf mean_of) {
  const size_t n = series.size();
  const Sample* s = series.data();
  Prefix back;
  Prefix front;
  size_t first = 0;
  for (size_t i = 1; i < n; ++i) {
    take(back, s[i - 1]);
    if (tau > s[i].time - s[first].time) continue;
    bins.push_back(mean_of(back, front, first, i));
    if (overlap) {
      take(front, s[first]);
      ++first;
    } else {
      front = back;
      first = i;
    }
  }
  take(back, s[n - 1]);
  if (s[n - 1].time - s[first].time > 0.9 * tau) bins.push_back(mean_of(back, front, first, n));
}

// Series with missing or wild samples: every sample is checked, and the
// offset subtraction carries its rounding error.
struct CheckedPrefix {
  Sums sums;
  int64_t count = 0;  // samples that are not missing
  int64_t wild = 0;   // of those, samples kept out of the sums
};

void bins_of_any_series(const SampleSeries& series, double tau, bool overlap,
                        SampleSeries& bins) {
  const Sample* s = series.data();
  const Pair offset{std::fabs(s[0].time) <= kBig ? s[0].time : 0.0,
                    std::fabs(s[0].value) <= kBig ? s[0].value : 0.0};
  auto take = [offset](CheckedPrefix& p, const Sample& x) {
    if (x.time == kMissing || x.value == kMissing) return;
    ++p.count;
    if (!(std::fabs(x.time) <= kBig && std::fabs(x.value) <= kBig)) {
      ++p.wild;
      return;
    }
    const Pair v = load(x);
    const Pair d = v - offset;  // d + de = v - offset exactly (TwoSum)
    const Pair dp = d - v;
    const Pair de = (v - (d - dp)) + (-offset - dp);
    add<true>(p.sums, d, de);
  };
  auto mean_of = [offset, s](const CheckedPrefix& back, const CheckedPrefix& front, size_t begin,
                             size_t end) -> Sample {
    if (back.wild != front.wild) return window_mean(std::span(s + begin, end - begin));
    const int64_t count = back.count - front.count;
    if (count == 0) return {kMissing, kMissing};
    return mean(back.sums, front.sums, offset, count);
  };
  close_windows<CheckedPrefix>(series, tau, overlap, bins, take, mean_of);
}

// What a series holds, found once per call: whether every sample is present
// and of moderate size, and for each of time and value an offset whose
// subtraction is exact for every sample (the first sample when all lie
// within a factor of 2 of it, by Sterbenz's lemma; else 0).
struct SeriesShape {
  bool clean = true;
  Pair offset{};
};

SeriesShape shape_of(const SampleSeries& series) {
  typedef long long Mask __attribute__((vector_size(16)));
  SeriesShape shape;
  // Both lanes at once, branch-free. kMissing counts as big.
  Pair lo = load(series[0]);
  Pair hi = lo;
  Mask small = Mask{} - 1;
  const Pair big = Pair{} + kBig;
  for (const Sample& x : series) {
    const Pair v = load(x);
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
    small &= (v < 0 ? -v : v) < big;
  }
  shape.clean = small[0] != 0 && small[1] != 0;
  auto exact_offset = [](double first, double least, double most) {
    if (first > 0 && least >= first / 2 && most <= first * 2) return first;
    if (first < 0 && most <= first / 2 && least >= first * 2) return first;
    return 0.0;
  };
  shape.offset = Pair{exact_offset(series[0].time, lo[0], hi[0]),
                      exact_offset(series[0].value, lo[1], hi[1])};
  return shape;
}

// A clean series: (x - offset) is exact and nothing needs checking.
[[gnu::always_inline]] inline void bins_of_clean_series(const SampleSeries& series, double tau,
                                                        bool overlap, Pair offset,
                                                        SampleSeries& bins) {
  auto take = [offset](Sums& p, const Sample& x) { add<false>(p, load(x) - offset); };
  auto mean_of = [offset](const Sums& back, const Sums& front, size_t begin, size_t end) {
    return mean(back, front, offset, static_cast<int64_t>(end - begin));
  };
  close_windows<Sums>(series, tau, overlap, bins, take, mean_of);
}

// The same code, compiled once more for CPUs with FMA.
[[gnu::target("avx2,fma")]] void bins_of_clean_series_fma(const SampleSeries& series, double tau,
                                                          bool overlap, Pair offset,
                                                          SampleSeries& bins) {
  bins_of_clean_series(series, tau, overlap, offset, bins);
}

void bins_of_clean_series_plain(const SampleSeries& series, double tau, bool overlap,
                                Pair offset, SampleSeries& bins) {
  bins_of_clean_series(series, tau, overlap, offset, bins);
}

}  // namespace

SampleSeries average_bins_running(const SampleSeries& series, double tau, bool overlap,
                                  SampleSeries reuse) {
  static const bool has_fma = (__builtin_cpu_init(), __builtin_cpu_supports("fma") &&
                               __builtin_cpu_supports("avx2"));
  SampleSeries bins = std::move(reuse);
  bins.clear();
  if (series.empty()) return bins;
  if (overlap) bins.reserve(series.size());
  const SeriesShape shape = shape_of(series);
  if (!shape.clean) {
    bins_of_any_series(series, tau, overlap, bins);
  } else if (has_fma) {
    bins_of_clean_series_fma(series, tau, overlap, shape.offset, bins);
  } else {
    bins_of_clean_series_plain(series, tau, overlap, shape.offset, bins);
  }
  return bins;
}

}  // namespace tauspan
