// The total deviations over a prepared phase series.
#include "total_deviations.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "reflected_energy.h"

namespace tauspan {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Below this averaging factor the definition with running box sums costs
// less than the closed form.
constexpr int64_t kClosedFormFrom = 24;

Deviation row(int64_t m, double tau, double variance, int64_t n) {
  if (n == 0) return {m, tau, kNaN, 0};
  return {m, tau, std::sqrt(variance), n};
}

// The phase point k for mtotdev, the frequency value k (phase step k) for
// htotdev, in double-double.
dd::Num phase_at(const LongTermSeries& s, int64_t k) { return s.phase[static_cast<size_t>(k)]; }
dd::Num step_at(const LongTermSeries& s, int64_t k) {
  return dd::sub(s.phase[static_cast<size_t>(k + 1)], s.phase[static_cast<size_t>(k)]);
}

// Sum of the reflected energies of the windows [first, last) of 3m values
// value(k). Blocks of windows are centred on the line through their ends,
// exactly, before rounding to doubles, so the values carry only what varies
// within a few windows: an offset or a trend of any size costs no digits.
template <typename Value>
dd::Num sum_energy(Value value, int64_t first, int64_t last, int64_t m) {
  const bool closed = m >= kClosedFormFrom;
  const int64_t per_block = closed ? 8 * m : std::max<int64_t>(64, 16 * m);
  std::vector<double> v;
  dd::Num total;
  for (int64_t b = first; b < last; b += per_block) {
    const int64_t windows = std::min(per_block, last - b);
    const int64_t len = windows + 3 * m - 1;
    const dd::Num origin = value(b);
    const double slope =
        dd::to_double(dd::sub(value(b + len - 1), origin)) / static_cast<double>(len - 1);
    v.resize(static_cast<size_t>(len));
    for (int64_t j = 0; j < len; ++j) {
      const dd::Num centred =
          dd::sub(dd::sub(value(b + j), origin), dd::two_prod(slope, static_cast<double>(j)));
      v[static_cast<size_t>(j)] = dd::to_double(centred);
    }
    total = dd::add(total, closed ? reflected_energy(v.data(), windows, m)
                                  : reflected_energy_direct(v.data(), windows, m));
  }
  return total;
}

// Sum over the windows [0, count) whose span known(window) holds, run by run.
template <typename Known, typename Value>
dd::Num sum_known_windows(Known known, Value value, int64_t count, int64_t m, int64_t& n) {
  dd::Num total;
  n = 0;
  for (int64_t i = 0; i < count;) {
    if (!known(i)) {
      ++i;
      continue;
    }
    int64_t j = i + 1;
    while (j < count && known(j)) ++j;
    total = dd::add(total, sum_energy(value, i, j, m));
    n += j - i;
    i = j;
  }
  return total;
}

// Sum of (x(i+m) - x(i)) - (x(i) - x(i-m)) squared over centres i in
// [first, last): blocks of points are centred on the line through their ends
// in double-double and rounded, so each second difference is formed in
// double from values that vary only over a few m.
dd::Num interior_second_differences(const LongTermSeries& s, int64_t first, int64_t last,
                                    int64_t m) {
  const int64_t per_block = std::max<int64_t>(4 * m, 1024);
  std::vector<double> v;
  dd::Num total;
  for (int64_t b = first; b < last; b += per_block) {
    const int64_t centres = std::min(per_block, last - b);
    const int64_t len = centres + 2 * m;
    const dd::Num origin = phase_at(s, b - m);
    const double slope =
        dd::to_double(dd::sub(phase_at(s, b - m + len - 1), origin)) / static_cast<double>(len - 1);
    v.resize(static_cast<size_t>(len));
    for (int64_t j = 0; j < len; ++j) {
      v[static_cast<size_t>(j)] = dd::to_double(dd::sub(
          dd::sub(phase_at(s, b - m + j), origin), dd::two_prod(slope, static_cast<double>(j))));
    }
    const double* w = v.data() + m;
    for (int64_t c = 0; c < centres; c += 256) {
      const int64_t stop = std::min(centres, c + 256);
      double acc[2] = {0, 0};
      int64_t i = c;
      for (; i + 2 <= stop; i += 2) {
        for (int lane = 0; lane < 2; ++lane) {
          const int64_t k = i + lane;
          const double d = (w[k + m] - w[k]) - (w[k] - w[k - m]);
          acc[lane] += d * d;
        }
      }
      for (; i < stop; ++i) {
        const double d = (w[i + m] - w[i]) - (w[i] - w[i - m]);
        acc[0] += d * d;
      }
      total = dd::add(total, acc[0] + acc[1]);
    }
  }
  return total;
}

}  // namespace

Deviation totdev(const LongTermSeries& s, int64_t m) {
  const int64_t n_pts = phase_points(s);
  const double tau = static_cast<double>(m) * s.tau0;
  if (m < 1 || n_pts < 3 || m > n_pts - 1) return {m, tau, kNaN, 0};
  const int64_t last = n_pts - 1;
  const auto x = [&](int64_t k) { return s.phase[static_cast<size_t>(k)]; };
  dd::Num sum;
  int64_t n = 0;
  // Without gaps the terms whose three points lie inside the record are
  // second differences of centred blocks, in double; the rest one by one.
  int64_t inner_lo = 1;
  int64_t inner_hi = 1;
  if (s.missing.empty() && m <= last - m) {
    inner_lo = std::max<int64_t>(1, m);
    inner_hi = std::min(last, last - m + 1);
    sum = interior_second_differences(s, inner_lo, inner_hi, m);
    n = inner_hi - inner_lo;
  }
  for (int64_t i = 1; i < last; ++i) {
    if (i == inner_lo && inner_hi > inner_lo) i = inner_hi;
    if (i >= last) break;
    // x(i) - x*(i - m) and x*(i + m) - x(i), a reflected point being
    // 2 x(end) - x(mirror).
    dd::Num left;
    dd::Num right;
    if (i >= m) {
      if (!difference_known(s, i - m, i)) continue;
      left = dd::sub(x(i), x(i - m));
    } else {
      if (!difference_known(s, 0, i) || !difference_known(s, 0, m - i)) continue;
      left = dd::add(dd::sub(x(i), x(0)), dd::sub(x(m - i), x(0)));
    }
    if (i + m <= last) {
      if (!difference_known(s, i, i + m)) continue;
      right = dd::sub(x(i + m), x(i));
    } else {
      const int64_t mirror = 2 * last - i - m;
      if (!difference_known(s, i, last) || !difference_known(s, mirror, last)) continue;
      right = dd::add(dd::sub(x(last), x(i)), dd::sub(x(last), x(mirror)));
    }
    const double d = dd::to_double(dd::sub(right, left));
    sum = dd::add(sum, dd::two_prod(d, d));
    ++n;
  }
  const double mm = static_cast<double>(m);
  const double f = frequency_scale(s);
  return row(m, tau, dd::to_double(sum) / (2 * mm * mm * static_cast<double>(n)) * f * f, n);
}

Deviation mtotdev(const LongTermSeries& s, int64_t m) {
  const int64_t n_pts = phase_points(s);
  const double tau = static_cast<double>(m) * s.tau0;
  if (m < 1 || 3 * m > n_pts) return {m, tau, kNaN, 0};
  int64_t n = 0;
  const dd::Num sum =
      sum_known_windows([&](int64_t i) { return window_known(s, i, i + 3 * m - 1); },
                        [&](int64_t k) { return phase_at(s, k); }, n_pts - 3 * m + 1, m, n);
  const double mm = static_cast<double>(m);
  const double f = frequency_scale(s);
  return row(m, tau, dd::to_double(sum) / (12 * mm * mm * mm * static_cast<double>(n)) * f * f, n);
}

Deviation ttotdev(const LongTermSeries& s, int64_t m) {
  Deviation d = mtotdev(s, m);
  d.dev *= d.tau / std::sqrt(3.0);
  return d;
}

Deviation htotdev(const LongTermSeries& s, int64_t m) {
  const int64_t n_pts = phase_points(s);
  const double tau = static_cast<double>(m) * s.tau0;
  if (m < 1 || 3 * m > n_pts - 1) return {m, tau, kNaN, 0};
  const double f = frequency_scale(s);
  if (m == 1) {
    // y(i) - 2 y(i+1) + y(i+2) is the third difference of the phase.
    const auto x = [&](int64_t k) { return s.phase[static_cast<size_t>(k)]; };
    dd::Num sum;
    int64_t n = 0;
    for (int64_t i = 0; i + 3 < n_pts; ++i) {
      if (!window_known(s, i, i + 3)) continue;
      const dd::Num outer = dd::sub(x(i + 3), x(i));
      const dd::Num inner = dd::sub(x(i + 2), x(i + 1));
      const double d = dd::to_double(dd::sub(outer, dd::mul(inner, 3.0)));
      sum = dd::add(sum, dd::two_prod(d, d));
      ++n;
    }
    return row(m, tau, dd::to_double(sum) / (6 * static_cast<double>(n)) * f * f, n);
  }
  int64_t n = 0;
  const dd::Num sum =
      sum_known_windows([&](int64_t i) { return window_known(s, i, i + 3 * m); },
                        [&](int64_t k) { return step_at(s, k); }, n_pts - 3 * m, m, n);
  const double mm = static_cast<double>(m);
  return row(m, tau, dd::to_double(sum) / (36 * mm * static_cast<double>(n)) * f * f, n);
}

int64_t totdev_max_factor(int64_t phase_points) { return phase_points >= 3 ? phase_points / 2 : 0; }
int64_t mtotdev_max_factor(int64_t phase_points) {
  return phase_points >= 3 ? phase_points / 3 : 0;
}
int64_t htotdev_max_factor(int64_t phase_points) {
  return phase_points >= 4 ? (phase_points - 1) / 3 : 0;
}

}  // namespace tauspan
