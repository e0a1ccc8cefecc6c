// -fast -nooverlap on evenly spaced times: a tau's bins follow one another,
// so its pass takes one term in every `count` samples.
#include <algorithm>
#include <cmath>

#include "double_double.h"
#include "fast_even.h"

namespace tauspan::fast {
namespace {

// The sum of the values over samples [a, b) less the offset, from the table.
dd::Num window_sum(const double* x, size_t a, size_t b) {
  const double high_b = x[2 * b - 2];
  const double low_b = x[2 * b - 1];
  const double high_a = a == 0 ? 0.0 : x[2 * a - 2];
  const double low_a = a == 0 ? 0.0 : x[2 * a - 1];
  return dd::two_sum(high_b - high_a, low_b - low_a);  // the highs' difference is exact
}

// The mean time of samples [a, a + count), exact: both ends lie on the
// times' grid and the mean on its half.
double mean_time(const EvenTable& t, size_t a, size_t count) {
  return t.t0 + static_cast<double>(2 * a + count - 1) * t.dt * 0.5;
}

EvenRow disjoint_row(const EvenTable& t, double tau, double jitter) {
  const size_t n = t.n;
  const double dt = t.dt;
  const size_t c = first_not_below(tau, dt, n);
  EvenRow row;
  if (c >= n) {  // no sample closes a bin: the last window holds them all
    row.bins = static_cast<double>(n - 1) * dt > 0.9 * tau ? 1 : 0;
    return row;
  }
  const size_t closed = (n - 1) / c;  // bin j closes at sample (j + 1) c
  const size_t rest = n - closed * c;  // the last window's samples, 1 to c
  const bool last = static_cast<double>(rest - 1) * dt > 0.9 * tau;
  row.bins = closed + (last ? 1 : 0);
  const double threshold = tau * (1.0 - jitter);
  // Whole bins lie c dt apart; a threshold of 0 or less (or NaN) pairs every
  // bin with itself, and every difference is then 0.
  if (!(threshold > 0)) return row;
  const size_t apart = first_not_below(threshold, static_cast<double>(c) * dt, closed + 1);
  const size_t pairs = apart < closed ? closed - apart : 0;

  const double* x = t.sums();
  dd::Num squares{0, 0};
  for (size_t j = 0; j < pairs; ++j) {
    const size_t a = j * c;
    const size_t e = a + apart * c;
    const double high = ((x[2 * (a + c) - 2] - (a == 0 ? 0.0 : x[2 * a - 2])) -
                         (x[2 * (e + c) - 2] - x[2 * e - 2]));
    const double low = ((x[2 * (a + c) - 1] - (a == 0 ? 0.0 : x[2 * a - 1])) -
                        (x[2 * (e + c) - 1] - x[2 * e - 1]));
    const double d = high + low;
    squares = dd::add(squares, d * d);
  }
  const double whole = static_cast<double>(c);
  double sum = (squares.hi + squares.lo) / (whole * whole);
  size_t count = pairs;
  // The last window pairs with the bin after the last lagging one, if far
  // enough from it; their counts may differ.
  if (last) {
    const size_t lag = pairs;
    const double gap = mean_time(t, closed * c, rest) - mean_time(t, lag * c, c);
    if (!(threshold > gap)) {
      const double part = static_cast<double>(rest);
      const dd::Num lagging = dd::mul(window_sum(x, lag * c, lag * c + c), part);
      const dd::Num leading = dd::mul(window_sum(x, closed * c, n), whole);
      const dd::Num d = dd::div(dd::sub(lagging, leading), whole * part);
      sum += d.hi * d.hi;
      ++count;
    }
  }
  if (count > 0) row.avar = (sum / static_cast<double>(count)) * 0.5;
  return row;
}

}  // namespace

std::vector<EvenRow> even_rows_disjoint(const EvenTable& table, std::span<const double> taus,
                                        double jitter) {
  std::vector<EvenRow> rows(taus.size());
  for (size_t k = 0; k < taus.size(); ++k) rows[k] = disjoint_row(table, taus[k], jitter);
  return rows;
}

}  // namespace tauspan::fast
