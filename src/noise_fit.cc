// The noise model's responses, its non-negative weighted fit and the
// read-offs at fixed slopes.
#include "noise_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tauspan {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = std::numbers::pi;
const double kLn2 = std::log(2.0);
const double kLn3 = std::log(3.0);

using Columns = std::vector<std::vector<double>>;

// The length of v[from..], scaled by its largest element so that no square
// overflows (std::hypot per element would be most of a fit's time).
double length(const std::vector<double>& v, size_t from = 0) {
  double largest = 0;
  for (size_t i = from; i < v.size(); ++i) largest = std::max(largest, std::fabs(v[i]));
  if (largest == 0 || !std::isfinite(largest)) return largest;
  double sum = 0;
  for (size_t i = from; i < v.size(); ++i) {
    const double x = v[i] / largest;
    sum += x * x;
  }
  return largest * std::sqrt(sum);
}

// A least-squares solution over some columns, with the triangle of its QR
// factorisation for the covariance.
struct LeastSquares {
  std::vector<double> x;
  std::vector<std::vector<double>> r;  // r[i][j], i <= j
  bool ok = false;                     // false when the columns are dependent
};

// min |A x - b| over the columns `use` of A, by Householder reflections, which
// keep the accuracy that forming A'A would square away.
LeastSquares least_squares(const Columns& a, const std::vector<int>& use,
                           const std::vector<double>& b) {
  const size_t rows = b.size();
  const size_t k = use.size();
  Columns q(k);
  for (size_t j = 0; j < k; ++j) q[j] = a[static_cast<size_t>(use[j])];
  std::vector<double> y = b;
  LeastSquares ls;
  if (k > rows) return ls;
  for (size_t j = 0; j < k; ++j) {
    const double norm = length(q[j], j);
    if (norm == 0) return ls;
    const double alpha = q[j][j] > 0 ? -norm : norm;
    std::vector<double> v(rows, 0.0);
    v[j] = q[j][j] - alpha;
    for (size_t i = j + 1; i < rows; ++i) v[i] = q[j][i];
    double vv = 0;
    for (size_t i = j; i < rows; ++i) vv += v[i] * v[i];
    auto reflect = [&](std::vector<double>& c) {
      double d = 0;
      for (size_t i = j; i < rows; ++i) d += v[i] * c[i];
      const double f = 2 * d / vv;
      for (size_t i = j; i < rows; ++i) c[i] -= f * v[i];
    };
    for (size_t c = j; c < k; ++c) reflect(q[c]);
    reflect(y);
  }
  ls.r.assign(k, std::vector<double>(k, 0.0));
  for (size_t j = 0; j < k; ++j) {
    for (size_t i = 0; i <= j; ++i) ls.r[i][j] = q[j][i];
  }
  // A dependent column leaves no usable pivot, even when rounding keeps it from 0.
  double largest = 0;
  for (size_t j = 0; j < k; ++j) largest = std::max(largest, std::fabs(ls.r[j][j]));
  ls.x.assign(k, 0.0);
  for (size_t jj = k; jj-- > 0;) {
    if (std::fabs(ls.r[jj][jj]) <= 1e-13 * largest) return ls;
    double s = y[jj];
    for (size_t c = jj + 1; c < k; ++c) s -= ls.r[jj][c] * ls.x[c];
    ls.x[jj] = s / ls.r[jj][jj];
  }
  ls.ok = true;
  return ls;
}

// The diagonal of (R'R)^-1 = R^-1 R^-T.
std::vector<double> covariance_diagonal(const std::vector<std::vector<double>>& r) {
  const size_t k = r.size();
  std::vector<std::vector<double>> inv(k, std::vector<double>(k, 0.0));
  for (size_t c = 0; c < k; ++c) {
    for (size_t i = c + 1; i-- > 0;) {
      double s = i == c ? 1.0 : 0.0;
      for (size_t j = i + 1; j <= c; ++j) s -= r[i][j] * inv[j][c];
      inv[i][c] = s / r[i][i];
    }
  }
  std::vector<double> d(k, 0.0);
  for (size_t i = 0; i < k; ++i) {
    for (size_t c = i; c < k; ++c) d[i] += inv[i][c] * inv[i][c];
  }
  return d;
}

struct Nnls {
  std::vector<double> x;
  std::vector<bool> free;   // off the bound
  std::vector<double> var;  // variance of each free x; 0 at the bound
};

// Lawson and Hanson's active-set method on columns already scaled to unit
// length. Each pass frees the column that most lowers the residual, solves
// over the free ones and, where that leaves a negative value, steps back to
// the bound.
Nnls nnls_columns(const Columns& a, const std::vector<double>& b) {
  const size_t n = a.size();
  Nnls out;
  out.x.assign(n, 0.0);
  out.free.assign(n, false);
  out.var.assign(n, 0.0);
  const double b_norm = length(b);
  const double tol = 1e-12 * (b_norm > 0 ? b_norm : 1.0);
  auto gradient = [&](size_t j) {
    double g = 0;
    for (size_t i = 0; i < b.size(); ++i) {
      double fit = 0;
      for (size_t c = 0; c < n; ++c) fit += a[c][i] * out.x[c];
      g += a[j][i] * (b[i] - fit);
    }
    return g;
  };
  auto free_columns = [&] {
    std::vector<int> use;
    for (size_t j = 0; j < n; ++j) {
      if (out.free[j]) use.push_back(static_cast<int>(j));
    }
    return use;
  };
  for (size_t pass = 0; pass < 3 * n + 3; ++pass) {
    size_t best = n;
    double best_g = tol;
    for (size_t j = 0; j < n; ++j) {
      if (out.free[j]) continue;
      const double g = gradient(j);
      if (g > best_g) {
        best_g = g;
        best = j;
      }
    }
    if (best == n) break;
    out.free[best] = true;
    for (size_t inner = 0; inner < 3 * n + 3; ++inner) {
      const std::vector<int> use = free_columns();
      const LeastSquares ls = least_squares(a, use, b);
      if (!ls.ok) {  // the freed column adds nothing: back to the bound
        out.free[best] = false;
        break;
      }
      bool all_positive = true;
      for (const double z : ls.x) all_positive = all_positive && z > 0;
      if (all_positive) {
        for (size_t u = 0; u < use.size(); ++u) out.x[static_cast<size_t>(use[u])] = ls.x[u];
        break;
      }
      double step = 1;
      for (size_t u = 0; u < use.size(); ++u) {
        const double x = out.x[static_cast<size_t>(use[u])];
        if (ls.x[u] <= 0) step = std::min(step, x / (x - ls.x[u]));
      }
      for (size_t u = 0; u < use.size(); ++u) {
        double& x = out.x[static_cast<size_t>(use[u])];
        x += step * (ls.x[u] - x);
        if (x <= 0 || (ls.x[u] <= 0 && x <= 1e-15 * b_norm)) {
          x = 0;
          out.free[static_cast<size_t>(use[u])] = false;
        }
      }
    }
  }
  const std::vector<int> use = free_columns();
  const LeastSquares ls = least_squares(a, use, b);
  if (ls.ok) {
    const std::vector<double> d = covariance_diagonal(ls.r);
    for (size_t u = 0; u < use.size(); ++u) out.var[static_cast<size_t>(use[u])] = d[u];
  }
  return out;
}

// Scales each column to unit length; returns the scales (1 for a zero column).
std::vector<double> normalise(Columns& a) {
  std::vector<double> scale(a.size(), 1.0);
  for (size_t j = 0; j < a.size(); ++j) {
    const double norm = length(a[j]);
    if (norm > 0) {
      scale[j] = norm;
      for (double& v : a[j]) v /= norm;
    }
  }
  return scale;
}

bool positive(double x) { return std::isfinite(x) && x > 0; }

}  // namespace

bool fits_noise(Statistic s) {
  return s == Statistic::kAdev || s == Statistic::kOadev || s == Statistic::kMdev ||
         s == Statistic::kHdev || s == Statistic::kOhdev;
}

TermArray term_response(Statistic s, double m, double tau) {
  switch (s) {
    case Statistic::kAdev:
    case Statistic::kOadev:
      return {3 / (tau * tau), 1 / tau, 2 * kLn2 / kPi, tau / 3, tau * tau / 2};
    case Statistic::kMdev:
      return {3 / (m * tau * tau), (m * m + 1) / (2 * m * m * tau),
              (27 * kLn3 - 32 * kLn2) / (8 * kPi), 11 * tau / 40, tau * tau / 2};
    case Statistic::kHdev:
    case Statistic::kOhdev:
      return {10 / (3 * tau * tau), 1 / tau, (8 * kLn2 - 3 * kLn3) / (2 * kPi), tau / 6, 0};
    default:
      return {};
  }
}

std::string term_slope(Statistic s, NoiseTerm t) {
  switch (t) {
    case kTermQ:
      return s == Statistic::kMdev ? "-3/2" : "-1";
    case kTermN:
      return "-1/2";
    case kTermB:
      return "0";
    case kTermK:
      return "+1/2";
    case kTermR:
      return s == Statistic::kHdev || s == Statistic::kOhdev ? "" : "+1";
  }
  return "";
}

NoiseFit fit_noise(Statistic s, const std::vector<NoisePoint>& points) {
  NoiseFit fit;
  std::vector<NoisePoint> rows;
  for (const NoisePoint& p : points) {
    if (positive(p.tau) && positive(p.variance) && positive(p.edf) && p.m >= 1) rows.push_back(p);
  }
  fit.rows = static_cast<int>(rows.size());
  const TermArray unit = term_response(s, 1, 1);
  for (size_t j = 0; j < kNoiseTerms; ++j) fit.seen[j] = unit[j] != 0;
  Columns g(kNoiseTerms, std::vector<double>(rows.size(), 0.0));
  for (size_t i = 0; i < rows.size(); ++i) {
    const TermArray r = term_response(s, static_cast<double>(rows[i].m), rows[i].tau);
    for (size_t j = 0; j < kNoiseTerms; ++j) g[j][i] = r[j];
  }
  int seen = 0;
  for (const bool b : fit.seen) seen += b ? 1 : 0;
  if (seen == 0 || fit.rows < seen + 1) {
    fit.error = std::to_string(fit.rows) + (fit.rows == 1 ? " row" : " rows") +
                " with a variance and an edf; the fit needs at least " + std::to_string(seen + 1) +
                " (one more than its " + std::to_string(seen) + " terms)";
    fit.value.fill(kNan);
    fit.uncertainty.fill(kNan);
    return fit;
  }
  std::vector<int> seen_terms;
  for (int j = 0; j < kNoiseTerms; ++j) {
    if (fit.seen[static_cast<size_t>(j)]) seen_terms.push_back(j);
  }

  // Rows within a factor 2 of each other in tau share most of their data;
  // each is given the weight of one row over the number of rows in that
  // span, so that an octave of tau counts about once however densely it is
  // sampled (octave rows: a third inside, half at the ends).
  std::vector<double> taus;  // sorted: -taus all gives a row per factor
  for (const NoisePoint& p : rows) taus.push_back(p.tau);
  std::sort(taus.begin(), taus.end());
  std::vector<double> share(rows.size(), 0.0);
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto lo = std::lower_bound(taus.begin(), taus.end(), rows[i].tau * 0.5 * (1 - 1e-9));
    const auto hi = std::upper_bound(taus.begin(), taus.end(), rows[i].tau * 2 * (1 + 1e-9));
    share[i] = static_cast<double>(hi - lo);
  }
  std::vector<double> v(rows.size());  // the variance each row's weight assumes
  for (size_t i = 0; i < rows.size(); ++i) v[i] = rows[i].variance;
  std::vector<double> c(kNoiseTerms, 0.0), c_var(kNoiseTerms, 0.0);
  std::vector<bool> free(kNoiseTerms, false);
  for (int pass = 0; pass < 8; ++pass) {
    Columns a;
    std::vector<double> b(rows.size());
    std::vector<double> w(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      w[i] = std::sqrt(rows[i].edf / (2 * share[i])) / v[i];
      b[i] = rows[i].variance * w[i];
    }
    for (const int j : seen_terms) {
      std::vector<double> col = g[static_cast<size_t>(j)];
      for (size_t i = 0; i < rows.size(); ++i) col[i] *= w[i];
      a.push_back(col);
    }
    const std::vector<double> scale = normalise(a);
    const Nnls solved = nnls_columns(a, b);
    double change = 0;
    for (size_t u = 0; u < seen_terms.size(); ++u) {
      const auto j = static_cast<size_t>(seen_terms[u]);
      const double next = solved.x[u] / scale[u];
      const double ref = std::max(std::fabs(next), std::fabs(c[j]));
      if (ref > 0) change = std::max(change, std::fabs(next - c[j]) / ref);
      c[j] = next;
      c_var[j] = solved.var[u] / (scale[u] * scale[u]);
      free[j] = solved.free[u];
    }
    fit.chi2 = 0;
    bool moved = false;
    for (size_t i = 0; i < rows.size(); ++i) {
      double model = 0;
      for (size_t j = 0; j < kNoiseTerms; ++j) model += g[j][i] * c[j];
      const double r = (rows[i].variance - model) * w[i];
      fit.chi2 += r * r;
      const double next = model > 0 ? model : rows[i].variance;
      moved = moved || next != v[i];
      v[i] = next;
    }
    if (pass > 0 && (change < 1e-10 || !moved)) break;
  }
  fit.free_terms = 0;
  for (size_t j = 0; j < kNoiseTerms; ++j) {
    fit.value[j] = std::sqrt(c[j]);
    if (!fit.seen[j]) {
      fit.value[j] = kNan;
      fit.uncertainty[j] = kNan;
    } else if (!free[j] || c[j] <= 0) {
      fit.value[j] = 0;
      fit.at_bound[j] = true;
      fit.uncertainty[j] = kNan;
    } else {
      ++fit.free_terms;
      fit.uncertainty[j] = std::sqrt(c_var[j]) / (2 * fit.value[j]);
    }
  }
  return fit;
}

NoiseReadOffs read_offs(Statistic s, const std::vector<NoisePoint>& points) {
  NoiseReadOffs out{kNan, kNan, kNan};
  std::vector<NoisePoint> rows;
  for (const NoisePoint& p : points) {
    if (positive(p.tau) && positive(p.variance) && p.m >= 1) rows.push_back(p);
  }
  if (rows.empty()) return out;
  auto response = [&](size_t i, NoiseTerm t) {
    return term_response(s, static_cast<double>(rows[i].m), rows[i].tau)[t];
  };
  size_t lowest = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].variance < rows[lowest].variance) lowest = i;
  }
  out.b = std::sqrt(rows[lowest].variance / response(lowest, kTermB));
  if (rows.size() < 2) return out;
  // The deviation's slope: half the variance's.
  auto slope = [&](size_t i) {
    const size_t lo = i == 0 ? 0 : i - 1;
    const size_t hi = i + 1 == rows.size() ? i : i + 1;
    return 0.5 * std::log(rows[hi].variance / rows[lo].variance) /
           std::log(rows[hi].tau / rows[lo].tau);
  };
  auto nearest = [&](double target, NoiseTerm t) {
    size_t best = rows.size();
    double best_gap = 0.25;
    for (size_t i = 0; i < rows.size(); ++i) {
      const double gap = std::fabs(slope(i) - target);
      if (std::isfinite(gap) && gap <= best_gap) {
        best_gap = gap;
        best = i;
      }
    }
    return best == rows.size() ? kNan : std::sqrt(rows[best].variance / response(best, t));
  };
  out.n = nearest(-0.5, kTermN);
  out.k = nearest(0.5, kTermK);
  return out;
}

std::vector<double> nnls(const std::vector<double>& a, int cols, const std::vector<double>& b) {
  const auto n = static_cast<size_t>(cols);
  Columns c(n, std::vector<double>(b.size(), 0.0));
  for (size_t i = 0; i < b.size(); ++i) {
    for (size_t j = 0; j < n; ++j) c[j][i] = a[i * n + j];
  }
  const std::vector<double> scale = normalise(c);
  Nnls solved = nnls_columns(c, b);
  for (size_t j = 0; j < n; ++j) solved.x[j] /= scale[j];
  return solved.x;
}

}  // namespace tauspan
