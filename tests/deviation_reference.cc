// Direct definitions of the standard statistics in __float128.
#include "deviation_reference.h"

#include <cmath>
#include <limits>
#include <vector>

namespace tauspan {
namespace {

__extension__ typedef __float128 Quad;

struct Squares {
  Quad sum = 0;
  int64_t n = 0;
  void add(Quad t) {
    sum += t * t;
    ++n;
  }
};

bool all_present(const Grid& g, int64_t begin, int64_t end) {
  for (int64_t k = begin; k < end; ++k) {
    if (!g.present[static_cast<size_t>(k)]) return false;
  }
  return true;
}

Quad value(const Grid& g, int64_t k) { return g.values[static_cast<size_t>(k)]; }

// Means of y over [i, i + m) for every i. The window's sum slides (one
// value in, one out): in 113 bits its error stays near 1e-30 of the values
// over the series lengths of the tests.
std::vector<Quad> window_means(const Grid& g, int64_t m) {
  const auto n = static_cast<int64_t>(g.values.size());
  std::vector<Quad> means;
  Quad s = 0;
  for (int64_t k = 0; k < m && k < n; ++k) s += value(g, k);
  for (int64_t i = 0; i + m <= n; ++i) {
    if (i > 0) s += value(g, i + m - 1) - value(g, i - 1);
    means.push_back(s / static_cast<Quad>(m));
  }
  return means;
}

// Frequency data: sum of squared terms; `divisor` gets the constant of the
// statistic's variance.
Squares frequency_terms(const Grid& g, Statistic s, int64_t m, Quad& divisor) {
  const auto n = static_cast<int64_t>(g.values.size());
  const std::vector<Quad> y = window_means(g, m);
  auto mean = [&](int64_t i) { return y[static_cast<size_t>(i)]; };
  Squares sq;
  switch (s) {
    case Statistic::kAdev:
    case Statistic::kOadev:
      divisor = 2;
      for (int64_t i = 0; i + 2 * m <= n; i += s == Statistic::kAdev ? m : 1) {
        if (all_present(g, i, i + 2 * m)) sq.add(mean(i + m) - mean(i));
      }
      break;
    case Statistic::kHdev:
    case Statistic::kOhdev:
      divisor = 6;
      for (int64_t i = 0; i + 3 * m <= n; i += s == Statistic::kHdev ? m : 1) {
        if (all_present(g, i, i + 3 * m)) sq.add(mean(i + 2 * m) - 2 * mean(i + m) + mean(i));
      }
      break;
    case Statistic::kMdev:
    case Statistic::kTdev:
      divisor = 2;
      for (int64_t j = 0; j + 3 * m - 1 <= n; ++j) {
        if (!all_present(g, j, j + 3 * m - 1)) continue;
        Quad inner = 0;
        for (int64_t i = j; i < j + m; ++i) inner += mean(i + m) - mean(i);
        sq.add(inner / static_cast<Quad>(m));
      }
      break;
    default:  // the long-term statistics have references of their own
      break;
  }
  return sq;
}

// Phase data: as above, the divisor without tau^2.
Squares phase_terms(const Grid& g, Statistic s, int64_t m, Quad& divisor) {
  const auto n = static_cast<int64_t>(g.values.size());
  auto x = [&](int64_t k) { return value(g, k); };
  auto present = [&](int64_t k) { return g.present[static_cast<size_t>(k)] != 0; };
  const auto mm = static_cast<Quad>(m) * static_cast<Quad>(m);
  Squares sq;
  switch (s) {
    case Statistic::kAdev:
    case Statistic::kOadev:
      divisor = 2 * mm;
      for (int64_t i = 0; i + 2 * m < n; i += s == Statistic::kAdev ? m : 1) {
        if (present(i) && present(i + m) && present(i + 2 * m)) {
          sq.add(x(i + 2 * m) - 2 * x(i + m) + x(i));
        }
      }
      break;
    case Statistic::kHdev:
    case Statistic::kOhdev:
      divisor = 6 * mm;
      for (int64_t i = 0; i + 3 * m < n; i += s == Statistic::kHdev ? m : 1) {
        if (present(i) && present(i + m) && present(i + 2 * m) && present(i + 3 * m)) {
          sq.add(x(i + 3 * m) - 3 * x(i + 2 * m) + 3 * x(i + m) - x(i));
        }
      }
      break;
    case Statistic::kMdev:
    case Statistic::kTdev:
      divisor = 2 * mm * mm;
      for (int64_t j = 0; j + 3 * m <= n; ++j) {
        if (!all_present(g, j, j + 3 * m)) continue;
        Quad inner = 0;
        for (int64_t i = j; i < j + m; ++i) inner += x(i + 2 * m) - 2 * x(i + m) + x(i);
        sq.add(inner);
      }
      break;
    default:  // the long-term statistics have references of their own
      break;
  }
  return sq;
}

}  // namespace

Deviation reference_deviation(const Grid& grid, Statistic s, int64_t m) {
  Deviation row{m, static_cast<double>(m) * grid.tau0, std::numeric_limits<double>::quiet_NaN(), 0};
  Quad divisor = 1;
  const bool frequency = grid.kind == DataKind::kFrequency;
  const Squares sq =
      frequency ? frequency_terms(grid, s, m, divisor) : phase_terms(grid, s, m, divisor);
  row.n = sq.n;
  if (sq.n == 0) return row;
  Quad variance = sq.sum / (divisor * static_cast<Quad>(sq.n));
  if (!frequency) variance /= static_cast<Quad>(grid.tau0) * static_cast<Quad>(grid.tau0);
  if (grid.nominal != 0) {
    variance /= static_cast<Quad>(grid.nominal) * static_cast<Quad>(grid.nominal);
  }
  if (s == Statistic::kTdev) variance *= static_cast<Quad>(row.tau) * row.tau / 3;
  row.dev = std::sqrt(static_cast<double>(variance));
  return row;
}

}  // namespace tauspan
