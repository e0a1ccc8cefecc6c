// Thêo1's sum over one run from prefix sums and lagged products.
#include "theo1_fast.h"

#include <cmath>

#include "lag_products.h"

namespace tauspan {
namespace {

// Sums of 256 squares are added in double-double, as in the term sums.
constexpr int64_t kChunk = 256;

// sum over i < k of (v(i) + v(i + m))^2.
dd::Num end_pairs(const std::vector<double>& v, int64_t m, int64_t k) {
  dd::Num total;
  for (int64_t c = 0; c < k; c += kChunk) {
    double acc = 0;
    const int64_t stop = std::min(k, c + kChunk);
    for (int64_t i = c; i < stop; ++i) {
      const double s = v[static_cast<size_t>(i)] + v[static_cast<size_t>(i + m)];
      acc += s * s;
    }
    total = dd::add(total, acc);
  }
  return total;
}

// Corner(d) = sum over p < m/2 - d of e(p) e(p + 2d) on the m end points e,
// returned at index m - 2 - 2d: with e reversed as the second operand, the
// condition p + q <= m - 2 becomes p <= q'.
std::vector<double> corners(std::vector<double> e) {
  e.pop_back();
  const std::vector<double> reversed(e.rbegin(), e.rend());
  return upper_convolution(e, reversed);
}

}  // namespace

std::vector<dd::Num> prefix_squares(const std::vector<double>& v) {
  std::vector<dd::Num> p(v.size() + 1);
  for (size_t k = 0; k < v.size(); ++k) p[k + 1] = dd::add(p[k], dd::two_prod(v[k], v[k]));
  return p;
}

Theo1Sum theo1_run_sum(const Theo1Run& run, int64_t m) {
  const std::vector<double>& v = run.v;
  const std::vector<dd::Num>& sq = run.squares;
  const std::vector<double>& c = run.autocorrelation;
  const auto at = [](const std::vector<double>& a, int64_t k) { return a[static_cast<size_t>(k)]; };
  const int64_t len = static_cast<int64_t>(v.size());
  const int64_t h = m / 2;
  const dd::Num ends = end_pairs(v, m, len - m);
  const std::vector<double> head(v.begin(), v.begin() + m);
  const std::vector<double> tail(v.end() - m, v.end());
  const std::vector<double> head_lags = autocorrelation(head, m);
  const std::vector<double> tail_lags = autocorrelation(tail, m);
  const std::vector<double> head_corner = corners(head);
  const std::vector<double> tail_corner = corners({tail.rbegin(), tail.rend()});
  const auto window = [&](int64_t from, int64_t to) {
    return dd::sub(sq[static_cast<size_t>(to)], sq[static_cast<size_t>(from)]);
  };
  dd::Num total;
  for (int64_t a = 1; a <= h; ++a) {
    const int64_t r = h - a;
    // The window products: v(c -+ m/2) against v(c -+ r), four windows of
    // lags a and m - a.
    const double cross = 2 * at(c, a) + 2 * at(c, m - a) - at(tail_lags, a) -
                         at(tail_lags, m - a) - at(head_lags, a) - at(head_lags, m - a);
    // v(c - r) v(c + r) over the centres m/2..N-1-m/2.
    const double mirror =
        at(c, 2 * r) - at(head_corner, m - 2 - 2 * r) - at(tail_corner, m - 2 - 2 * r);
    const dd::Num singles = dd::add(window(h - r, len - h - r), window(h + r, len - h + r));
    const dd::Num term = dd::add(dd::add(ends, singles), 2 * mirror - 2 * cross);
    total = dd::add(total, dd::div(term, static_cast<double>(a)));
  }
  return {total, theo1_run_error(len, m, run.sum_of_squares)};
}

double theo1_run_error(int64_t len, int64_t m, double sum_of_squares) {
  // Each term a takes 22 transform outputs (counted with their weights) and
  // is divided by a; each output is rounded by about the scale times the sum
  // of squares of the run. The roundings of different lags are nearly
  // independent, so they add as the root of the sum of 1/a^2, not as the
  // harmonic sum (measured: the worst case, m = 2 on a random walk, stays
  // twenty times below this).
  double weights = 0;
  for (int64_t a = 1; a <= m / 2; ++a) weights += 1 / (static_cast<double>(a) * static_cast<double>(a));
  return 22 * std::sqrt(weights) * product_error_scale(len) * sum_of_squares;
}

double theo1_sampled_sum(const std::vector<double>& v, int64_t m, int64_t count) {
  const int64_t windows = static_cast<int64_t>(v.size()) - m;
  const int64_t step = std::max<int64_t>(1, windows / count);
  double sum = 0;
  int64_t used = 0;
  for (int64_t i = step / 2; i < windows; i += step) {
    for (int64_t a = 1; a <= m / 2; ++a) {
      const double u = (v[static_cast<size_t>(i)] - v[static_cast<size_t>(i + a)]) +
                       (v[static_cast<size_t>(i + m)] - v[static_cast<size_t>(i + m - a)]);
      sum += u * u / static_cast<double>(a);
    }
    ++used;
  }
  return used > 0 ? sum * static_cast<double>(windows) / static_cast<double>(used) : 0;
}

}  // namespace tauspan
