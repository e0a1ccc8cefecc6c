// Thêo1, term by term in centred blocks, or for many factors from windowed
// sums of squared phase differences shared between them.
//
// With a = m/2 - d and K = N - m, the term of Thêo1 is
//   u(i, a) = (x(i) - x(i+a)) - (x(i+m-a) - x(i+m)),
// and (A - B)(C - D) = [(A-D)^2 + (B-C)^2 - (A-C)^2 - (B-D)^2] / 2 turns
// u^2 into six squared differences, so that with W(l, t) = sum_{j=t}^{t+K-1}
// (x(j) - x(j+l))^2
//   sum_i u(i, a)^2 = W(a, 0) + W(a, m-a) + W(m-a, 0) + W(m-a, a)
//                     - W(m, 0) - W(m-2a, a).
// Every W is a difference of one running sum per lag, and the terms are
// non-negative sums, so the cancellation between them is only that of the
// harmonic weights: a factor of about 2 ln m.
#include "theo1.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "lag_products.h"
#include "theo1_fast.h"

namespace tauspan {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Windows of 256 terms are summed in double, then added in double-double:
// the rounding of a window sum stays near 256 ulps at worst.
constexpr int64_t kChunk = 256;

// The lagged products stand in for the term sums only while their estimated
// rounding stays below this fraction of the result (of the variance: half
// that on the deviation, and the estimate has a margin of about ten).
constexpr double kProductsTolerance = 1e-12;
constexpr int64_t kSampledWindows = 32;

using Run = std::pair<int64_t, int64_t>;  // phase points [first, last)

// Stretches of phase points that can be used together.
std::vector<Run> point_runs(const LongTermSeries& s) {
  std::vector<Run> runs;
  const int64_t n_pts = phase_points(s);
  int64_t start = -1;
  for (int64_t k = 0; k < n_pts; ++k) {
    const bool usable = window_known(s, k, k);
    const bool joins = usable && start >= 0 && window_known(s, k - 1, k);
    if (usable && !joins) {
      if (start >= 0) runs.push_back({start, k});
      start = k;
    } else if (!usable && start >= 0) {
      runs.push_back({start, k});
      start = -1;
    }
  }
  if (start >= 0) runs.push_back({start, n_pts});
  return runs;
}

// Sum of the Thêo1 terms of windows i in [first, first + windows), all inside
// one run: the points first..first+windows+m-1 are centred on the line
// through the ends in double-double and rounded, then the terms are summed
// lag by lag, which keeps four forward streams.
dd::Num term_sum(const LongTermSeries& s, int64_t first, int64_t windows, int64_t m,
                 std::vector<double>& v, std::vector<double>& ends) {
  const int64_t len = windows + m;
  const dd::Num origin = s.phase[static_cast<size_t>(first)];
  const double slope =
      dd::to_double(dd::sub(s.phase[static_cast<size_t>(first + len - 1)], origin)) /
      static_cast<double>(len - 1);
  v.resize(static_cast<size_t>(len));
  for (int64_t j = 0; j < len; ++j) {
    const dd::Num centred = dd::sub(dd::sub(s.phase[static_cast<size_t>(first + j)], origin),
                                    dd::two_prod(slope, static_cast<double>(j)));
    v[static_cast<size_t>(j)] = dd::to_double(centred);
  }
  ends.resize(static_cast<size_t>(windows));
  for (int64_t i = 0; i < windows; ++i)
    ends[static_cast<size_t>(i)] = v[static_cast<size_t>(i)] + v[static_cast<size_t>(i + m)];
  // Tiles of kChunk lags by kChunk windows keep the three streams in the
  // first-level cache; each tile's sums are added in double-double.
  const int64_t half = m / 2;
  std::vector<dd::Num> lag(static_cast<size_t>(half + 1));
  const double* e = ends.data();
  for (int64_t a0 = 1; a0 <= half; a0 += kChunk) {
    const int64_t a1 = std::min(half + 1, a0 + kChunk);
    for (int64_t c = 0; c < windows; c += kChunk) {
      const int64_t stop = std::min(windows, c + kChunk);
      for (int64_t a = a0; a < a1; ++a) {
        const double* inner = v.data() + a;
        const double* mirror = v.data() + (m - a);
        // Four running sums, so that the additions need not wait on each
        // other.
        double acc[4] = {0, 0, 0, 0};
        int64_t i = c;
        for (; i + 4 <= stop; i += 4) {
          for (int lane = 0; lane < 4; ++lane) {
            const double u = e[i + lane] - (inner[i + lane] + mirror[i + lane]);
            acc[lane] += u * u;
          }
        }
        for (; i < stop; ++i) {
          const double u = e[i] - (inner[i] + mirror[i]);
          acc[0] += u * u;
        }
        lag[static_cast<size_t>(a)] =
            dd::add(lag[static_cast<size_t>(a)], (acc[0] + acc[1]) + (acc[2] + acc[3]));
      }
    }
  }
  dd::Num total;
  for (int64_t a = 1; a <= half; ++a)
    total = dd::add(total, dd::div(lag[static_cast<size_t>(a)], static_cast<double>(a)));
  return total;
}

Deviation finish(const LongTermSeries& s, int64_t m, dd::Num sum, int64_t n) {
  const double tau = 0.75 * static_cast<double>(m) * s.tau0;
  if (n == 0) return {m, tau, kNaN, 0};
  const double mm = static_cast<double>(m);
  const double f = frequency_scale(s);
  return {m, tau, std::sqrt(dd::to_double(sum) / (0.75 * static_cast<double>(n) * mm * mm)) * f, n};
}

bool valid_factor(int64_t m, int64_t n_pts) { return m >= 2 && m % 2 == 0 && m <= n_pts - 1; }

// The term sums of one run for factor m.
dd::Num run_by_terms(const LongTermSeries& s, const Run& r, int64_t m) {
  std::vector<double> v;
  std::vector<double> ends;
  dd::Num sum;
  const int64_t per_block = std::max<int64_t>(4 * m, 64);
  const int64_t windows = r.second - r.first - m;
  for (int64_t b = 0; b < windows; b += per_block)
    sum = dd::add(sum, term_sum(s, r.first + b, std::min(per_block, windows - b), m, v, ends));
  return sum;
}

// Work of the term sums and of the lagged products for one run, in units of
// one term; the constants come from bench/long_term_bench.cc.
double terms_work(int64_t len, int64_t m) {
  return static_cast<double>(len - m) * static_cast<double>(m / 2);
}
double products_work(int64_t len, int64_t m) {
  const double lg = std::log2(static_cast<double>(m) + 2);
  return 48 * static_cast<double>(len) * (lg + 2) + 24 * static_cast<double>(m) * lg * lg;
}

// The points of a run about the line through its ends, rounded once.
std::vector<double> centred_run(const LongTermSeries& s, const Run& r) {
  const int64_t len = r.second - r.first;
  const dd::Num origin = s.phase[static_cast<size_t>(r.first)];
  const double slope =
      len > 1 ? dd::to_double(dd::sub(s.phase[static_cast<size_t>(r.second - 1)], origin)) /
                    static_cast<double>(len - 1)
              : 0;
  std::vector<double> v(static_cast<size_t>(len));
  for (int64_t j = 0; j < len; ++j) {
    v[static_cast<size_t>(j)] =
        dd::to_double(dd::sub(dd::sub(s.phase[static_cast<size_t>(r.first + j)], origin),
                              dd::two_prod(slope, static_cast<double>(j))));
  }
  return v;
}

// Sums of every valid factor over every run, each run and factor by the
// cheaper way: the lagged products when they pay and their estimated
// rounding stays far below the result, the term sums otherwise.
std::vector<dd::Num> sums_by_factor(const LongTermSeries& s, const std::vector<Run>& runs,
                                    const std::vector<int64_t>& factors, Theo1Way way) {
  std::vector<dd::Num> sums(factors.size());
  for (const Run& r : runs) {
    const int64_t len = r.second - r.first;
    int64_t top = 0;
    std::vector<bool> fast(factors.size());
    for (size_t f = 0; f < factors.size(); ++f) {
      const int64_t m = factors[f];
      if (m > len - 1) continue;
      fast[f] = way == Theo1Way::kProducts ||
                (way == Theo1Way::kAuto && products_work(len, m) < terms_work(len, m));
      if (fast[f]) top = std::max(top, m);
    }
    std::vector<double> v;
    std::vector<dd::Num> squares;
    std::vector<double> lags;
    if (top > 0) {
      v = centred_run(s, r);
      squares = prefix_squares(v);
      // A first look at a few windows: where the products would round above
      // the tolerance, the term sums are used without trying them.
      if (way == Theo1Way::kAuto) {
        top = 0;
        const double squares_sum = dd::to_double(squares.back());
        for (size_t f = 0; f < factors.size(); ++f) {
          if (!fast[f]) continue;
          const int64_t m = factors[f];
          fast[f] = theo1_run_error(len, m, squares_sum) <
                    0.5 * kProductsTolerance * theo1_sampled_sum(v, m, kSampledWindows);
          if (fast[f]) top = std::max(top, m);
        }
      }
      lags = autocorrelation(v, top);
    }
    for (size_t f = 0; f < factors.size(); ++f) {
      const int64_t m = factors[f];
      if (m > len - 1) continue;
      if (fast[f]) {
        const Theo1Sum t =
            theo1_run_sum({v, squares, lags, dd::to_double(squares.back())}, m);
        if (way == Theo1Way::kProducts || t.error <= kProductsTolerance * dd::to_double(t.sum)) {
          sums[f] = dd::add(sums[f], t.sum);
          continue;
        }
      }
      sums[f] = dd::add(sums[f], run_by_terms(s, r, m));
    }
  }
  return sums;
}

int64_t terms_used(const std::vector<Run>& runs, int64_t m) {
  int64_t n = 0;
  for (const Run& r : runs) n += std::max<int64_t>(0, r.second - r.first - m);
  return n;
}

// All factors of one run from one pass per lag.
void add_run_by_lags(const LongTermSeries& s, const Run& r, const std::vector<int64_t>& factors,
                     std::vector<dd::Num>& sums) {
  const int64_t len = r.second - r.first;
  int64_t top = 0;
  for (const int64_t m : factors) {
    if (m <= len - 1) top = std::max(top, m);
  }
  std::vector<dd::Num> harmonic(static_cast<size_t>(top / 2 + 1));
  std::vector<dd::Num> reciprocal(static_cast<size_t>(top + 1));
  for (size_t a = 1; a < reciprocal.size(); ++a)
    reciprocal[a] = dd::div({1, 0}, static_cast<double>(a));
  for (size_t a = 1; a < harmonic.size(); ++a)
    harmonic[a] = dd::add(harmonic[a - 1], reciprocal[a]);
  // The squared differences are taken about the line through the ends of the
  // run (Thêo1 ignores any line): a frequency offset would otherwise swell
  // every square and leave the digits to the cancellation between them.
  const dd::Num origin = s.phase[static_cast<size_t>(r.first)];
  const double slope =
      len > 1 ? dd::to_double(dd::sub(s.phase[static_cast<size_t>(r.second - 1)], origin)) /
                    static_cast<double>(len - 1)
              : 0;
  std::vector<dd::Num> run_sum(static_cast<size_t>(len + 1));
  for (int64_t l = 1; l <= top; ++l) {
    // run_sum[j] = sum over j' < j of (x(j') - x(j' + l))^2, in double-double
    // throughout.
    const dd::Num trend = dd::two_prod(slope, static_cast<double>(l));
    for (int64_t j = 0; j + l < len; ++j) {
      const dd::Num d = dd::sub(dd::sub(s.phase[static_cast<size_t>(r.first + j + l)],
                                        s.phase[static_cast<size_t>(r.first + j)]),
                                trend);
      run_sum[static_cast<size_t>(j + 1)] = dd::add(run_sum[static_cast<size_t>(j)], dd::mul(d, d));
    }
    for (size_t f = 0; f < factors.size(); ++f) {
      const int64_t m = factors[f];
      if (m < l || m > len - 1) continue;
      const int64_t k = len - m;
      const auto w = [&](int64_t t) {
        return dd::sub(run_sum[static_cast<size_t>(t + k)], run_sum[static_cast<size_t>(t)]);
      };
      dd::Num& sum = sums[f];
      if (l == m) {
        sum = dd::sub(sum, dd::mul(w(0), harmonic[static_cast<size_t>(m / 2)]));
        continue;
      }
      // As a = l (when 2l <= m) and as m - a = l (when 2l >= m).
      const dd::Num pair = dd::add(w(0), w(m - l));
      if (2 * l <= m) sum = dd::add(sum, dd::mul(pair, reciprocal[static_cast<size_t>(l)]));
      if (2 * l >= m) sum = dd::add(sum, dd::mul(pair, reciprocal[static_cast<size_t>(m - l)]));
      // As m - 2a = l.
      if ((m - l) % 2 == 0) {
        const int64_t a = (m - l) / 2;
        sum = dd::sub(sum, dd::mul(w(a), reciprocal[static_cast<size_t>(a)]));
      }
    }
  }
}

}  // namespace

Deviation theo1(const LongTermSeries& s, int64_t m, Theo1Way way) {
  if (!valid_factor(m, phase_points(s))) return finish(s, m, {}, 0);
  const std::vector<Run> runs = point_runs(s);
  return finish(s, m, sums_by_factor(s, runs, {m}, way)[0], terms_used(runs, m));
}

std::vector<Deviation> theo1_factors(const LongTermSeries& s, const std::vector<int64_t>& factors) {
  const int64_t n_pts = phase_points(s);
  const std::vector<Run> runs = point_runs(s);
  std::vector<int64_t> valid;
  for (const int64_t m : factors) {
    if (valid_factor(m, n_pts)) valid.push_back(m);
  }
  // Work of each way, in units of one term: a pass per lag costs about eight
  // terms per point (a double-double running sum).
  double by_factor = 0;
  double by_lags = 0;
  for (const Run& r : runs) {
    const int64_t len = r.second - r.first;
    int64_t top = 0;
    for (const int64_t m : valid) {
      if (m > len - 1) continue;
      by_factor += std::min(terms_work(len, m), products_work(len, m));
      top = std::max(top, m);
    }
    by_lags += 8 * static_cast<double>(top) * static_cast<double>(len - top / 2);
  }
  std::vector<dd::Num> sums;
  if (by_lags >= by_factor) {
    sums = sums_by_factor(s, runs, valid, Theo1Way::kAuto);
  } else {
    sums.resize(valid.size());
    for (const Run& r : runs) add_run_by_lags(s, r, valid, sums);
  }
  std::vector<Deviation> out;
  size_t next = 0;
  for (const int64_t m : factors) {
    if (!valid_factor(m, n_pts)) {
      out.push_back(finish(s, m, {}, 0));
      continue;
    }
    out.push_back(finish(s, m, sums[next++], terms_used(runs, m)));
  }
  return out;
}

double theo_br_ratio(const LongTermSeries& s) {
  const int64_t n_pts = phase_points(s);
  const int64_t n = static_cast<int64_t>(std::floor(0.1 * static_cast<double>(n_pts) / 3 - 3));
  if (n < 0) return kNaN;
  std::vector<int64_t> factors;
  for (int64_t i = 0; i <= n; ++i) factors.push_back(12 + 4 * i);
  const std::vector<Deviation> theo = theo1_factors(s, factors);
  dd::Num sum;
  for (int64_t i = 0; i <= n; ++i) {
    // The overlapping Allan variance at m = 9 + 3i, from second differences
    // of the phase, in the same unit as Thêo1 before scaling.
    const int64_t m = 9 + 3 * i;
    dd::Num squares;
    int64_t terms = 0;
    for (int64_t j = 0; j + 2 * m < n_pts; ++j) {
      if (!difference_known(s, j, j + m) || !difference_known(s, j + m, j + 2 * m)) continue;
      const dd::Num far =
          dd::sub(s.phase[static_cast<size_t>(j + 2 * m)], s.phase[static_cast<size_t>(j + m)]);
      const dd::Num near =
          dd::sub(s.phase[static_cast<size_t>(j + m)], s.phase[static_cast<size_t>(j)]);
      const double d = dd::to_double(dd::sub(far, near));
      squares = dd::add(squares, dd::two_prod(d, d));
      ++terms;
    }
    const Deviation& t = theo[static_cast<size_t>(i)];
    if (terms == 0 || t.n == 0) return kNaN;
    const double mm = static_cast<double>(m);
    const double f = frequency_scale(s);
    const double avar = dd::to_double(squares) / (2 * mm * mm * static_cast<double>(terms)) * f * f;
    sum = dd::add(sum, avar / (t.dev * t.dev));
  }
  return dd::to_double(sum) / static_cast<double>(n + 1);
}

int64_t theo1_max_factor(int64_t phase_points) {
  const int64_t m = phase_points - 1;
  return m >= 2 ? m - m % 2 : 0;
}

}  // namespace tauspan
