// Bin means from running sums: one pass over the series per tau, whatever
// the window length. Sums of (x - first sample) are kept as unevaluated pairs
// of doubles (double-double) with error-free additions, as prefix sums at the
// window's back and front; a window's sum is their difference. Samples that
// could overflow those sums (infinite, NaN or beyond 2^960) are counted
// instead, and a window holding one takes the plain fresh pass, so it gives
// exactly what the default gives.
#include <cmath>
#include <cstdint>

#include "allan.h"

namespace tauspan {
namespace {

constexpr double kBig = 0x1p960;

struct DoubleDouble {
  double hi = 0;
  double lo = 0;
};

// a += (x - offset): the difference and its rounding error (TwoSum), then
// the sum and its rounding error, with a fast renormalization.
inline void add(DoubleDouble& a, double x, double offset) {
  const double d = x - offset;
  const double dp = d - x;
  const double de = (x - (d - dp)) + (-offset - dp);
  const double s = a.hi + d;
  const double bp = s - a.hi;
  const double e = (a.hi - (s - bp)) + (d - bp);
  const double t = (e + de) + a.lo;
  a.hi = s + t;
  a.lo = t - (a.hi - s);
}

inline DoubleDouble difference(const DoubleDouble& a, const DoubleDouble& b) {
  const double s = a.hi - b.hi;
  const double bp = s - a.hi;
  const double e = (a.hi - (s - bp)) + (-b.hi - bp);
  const double t = e + (a.lo - b.lo);
  const double hi = s + t;
  return {hi, t - (hi - s)};
}

// offset + sum / count, rounded once from about 100 bits.
inline double mean(double offset, const DoubleDouble& sum, double count) {
  const double q = sum.hi / count;
  const double r = std::fma(-q, count, sum.hi) + sum.lo;  // the remainder, exact but for lo
  const double q2 = r / count;
  const double m = offset + q;
  const double bp = m - offset;
  const double e = (offset - (m - bp)) + (q - bp);
  return m + (e + q2);
}

// Sums over the samples before some index.
struct Prefix {
  DoubleDouble time;
  DoubleDouble value;
  int64_t count = 0;  // samples that are not missing
  int64_t wild = 0;   // of those, samples kept out of the sums
};

struct Offsets {
  double time;
  double value;
};

inline void take(Prefix& p, const Sample& s, const Offsets& o) {
  if (s.time == kMissing || s.value == kMissing) return;
  ++p.count;
  if (!(std::fabs(s.time) <= kBig && std::fabs(s.value) <= kBig)) {
    ++p.wild;
    return;
  }
  add(p.time, s.time, o.time);
  add(p.value, s.value, o.value);
}

inline Sample window_mean_of(const Prefix& back, const Prefix& front, const Offsets& o,
                             const Sample* s, size_t begin, size_t end) {
  if (back.wild != front.wild) return window_mean(std::span(s + begin, end - begin));
  const int64_t count = back.count - front.count;
  if (count == 0) return {kMissing, kMissing};
  const auto c = static_cast<double>(count);
  return {mean(o.time, difference(back.time, front.time), c),
          mean(o.value, difference(back.value, front.value), c)};
}

}  // namespace

SampleSeries average_bins_running(const SampleSeries& series, double tau, bool overlap,
                                  SampleSeries reuse) {
  SampleSeries bins = std::move(reuse);
  bins.clear();
  const size_t n = series.size();
  if (n == 0) return bins;
  if (overlap) bins.reserve(n);
  const Sample* s = series.data();
  const Offsets o{std::fabs(s[0].time) <= kBig ? s[0].time : 0.0,
                  std::fabs(s[0].value) <= kBig ? s[0].value : 0.0};
  Prefix back;   // over [0, i)
  Prefix front;  // over [0, first)
  size_t first = 0;
  for (size_t i = 1; i < n; ++i) {
    take(back, s[i - 1], o);
    if (tau > s[i].time - s[first].time) continue;
    bins.push_back(window_mean_of(back, front, o, s, first, i));
    if (overlap) {
      take(front, s[first], o);
      ++first;
    } else {
      front = back;
      first = i;
    }
  }
  take(back, s[n - 1], o);
  if (s[n - 1].time - s[first].time > 0.9 * tau) {
    bins.push_back(window_mean_of(back, front, o, s, first, n));
  }
  return bins;
}

}  // namespace tauspan
