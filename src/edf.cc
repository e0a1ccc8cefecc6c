// Equivalent degrees of freedom of the standard statistics under power-law
// noise, by Greenhall's generalized algorithm for finite-difference variances.
#include <algorithm>
#include <cmath>
#include <limits>

#include "intervals.h"

namespace tauspan {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Covariance terms summed exactly; longer records use the large-record forms.
constexpr double kJmax = 100;

// How an estimator reaches its terms from the phase samples.
struct Estimator {
  int d = 2;              // order of the phase difference: 2 Allan, 3 Hadamard
  double f = 1;           // filter factor: m for plain averages, 1 for modified
  double s = 1;           // stride factor: m when every start is used, 1 when
                          // consecutive terms are tau apart
  bool modified = false;  // the averages are themselves averaged (mdev, tdev)
};

Estimator estimator_of(Statistic statistic, int64_t m) {
  const double md = static_cast<double>(m);
  switch (statistic) {
    case Statistic::kAdev:
      return {2, md, 1, false};
    case Statistic::kOadev:
      return {2, md, md, false};
    case Statistic::kMdev:
    case Statistic::kTdev:
      return {2, 1, md, true};
    case Statistic::kHdev:
      return {3, md, 1, false};
    case Statistic::kOhdev:
      return {3, md, md, false};
    default:  // the long-term statistics have their own edf (total_edf.h)
      return {};
  }
}

// The generalized autocovariance of the integrated phase under noise alpha,
// up to a constant factor. The factor cancels from the ratios, except against
// the flicker-PM constants below, which are for this scaling.
double sw(double t, int alpha) {
  const double a = std::fabs(t);
  switch (alpha) {
    case 2:
      return -a;
    case 1:
      return t == 0 ? 0 : a * a * std::log(a);
    case 0:
      return a * a * a;
    case -1:
      return t == 0 ? 0 : -(a * a) * (a * a) * std::log(a);
    case -2:
      return -(a * a) * (a * a) * a;
    case -3:
      return t == 0 ? 0 : (a * a * a) * (a * a * a) * std::log(a);
    case -4:
      return (a * a * a) * (a * a * a) * a;
  }
  return kNan;
}

// The same for the phase averaged over 1/f of tau; f infinite is the phase
// itself.
double sx(double t, double f, int alpha) {
  if (std::isinf(f)) return sw(t, alpha + 2);
  return f * f * (2 * sw(t, alpha) - sw(t - 1 / f, alpha) - sw(t + 1 / f, alpha));
}

// The same for one term of the statistic: the d-th difference, at lag tau, of
// those averages. t is in units of tau.
double sz(double t, double f, int alpha, int d) {
  // (-1)^k C(2d, d + k) for k = 0 .. d
  static constexpr double kWeights[4][4] = {
      {1, 0, 0, 0}, {2, -1, 0, 0}, {6, -4, 1, 0}, {20, -15, 6, -1}};
  double sum = kWeights[d][0] * sx(t, f, alpha);
  for (int k = 1; k <= d; ++k) {
    sum += kWeights[d][k] * (sx(t - k, f, alpha) + sx(t + k, f, alpha));
  }
  return sum;
}

double squared(double v) { return v * v; }

// The variance of the sum of the M squared terms, up to the common factor,
// with the covariances of terms J or more strides apart left out.
double basic_sum(double j_terms, double m_terms, double s, double f, int alpha, int d) {
  double sum =
      squared(sz(0, f, alpha, d)) + (1 - j_terms / m_terms) * squared(sz(j_terms / s, f, alpha, d));
  for (double j = 1; j <= j_terms - 1; ++j) {
    sum += 2 * (1 - j / m_terms) * squared(sz(j / s, f, alpha, d));
  }
  return sum;
}

// Large-record constants (a0, a1): 1/edf = (a0 - a1 / r) / r for r = M / S
// strides. They are the integrals of sz^2 and |t| sz^2 over |t| < d + 1,
// divided by sz(0)^2. Rows alpha = 2, 1, ..., -4; columns d = 1, 2, 3; NaN
// where the variance does not converge.
struct Constants {
  double a0 = kNan;
  double a1 = kNan;
};
constexpr Constants kNone{};

// Modified statistics (filter factor 1).
constexpr Constants kModifiedTable[7][3] = {
    {{2.0 / 3, 1.0 / 3}, {7.0 / 9, 1.0 / 2}, {22.0 / 25, 2.0 / 3}},
    {{0.840, 0.345}, {0.997, 0.616}, {1.141, 0.843}},
    {{1.079, 0.368}, {1.033, 0.607}, {1.184, 0.848}},
    {kNone, {1.048, 0.534}, {1.180, 0.816}},
    {kNone, {1.302, 0.535}, {1.175, 0.777}},
    {kNone, kNone, {1.194, 0.703}},
    {kNone, kNone, {1.489, 0.702}},
};

// Plain statistics (filter factor infinite). For alpha = 2 these are
// C(4d, 2d) / C(2d, d)^2 and d / 2, and 1/edf = (a0 - a1 / r) / M; for
// alpha = 1 the integrals are not divided by sz(0)^2, which grows with log m
// (see kFlickerPmScale).
constexpr Constants kPlainTable[7][3] = {
    {{3.0 / 2, 1.0 / 2}, {35.0 / 18, 1.0}, {231.0 / 100, 3.0 / 2}},
    {{78.6, 25.2}, {790.0, 410.0}, {9950.0, 6520.0}},
    {{2.0 / 3, 1.0 / 6}, {2.0 / 3, 1.0 / 3}, {7.0 / 9, 1.0 / 2}},
    {kNone, {0.852, 0.375}, {0.997, 0.617}},
    {kNone, {1.079, 0.368}, {1.033, 0.607}},
    {kNone, kNone, {1.053, 0.553}},
    {kNone, kNone, {1.302, 0.535}},
};

// For flicker PM and plain averages, sz(0, m, 1, d) = b0 + b1 ln m for large
// m: (b0, b1) for d = 1, 2, 3.
constexpr Constants kFlickerPmScale[3] = {{6.0, 4.0}, {15.23, 12.0}, {47.8, 40.0}};

Constants table_entry(const Constants (&table)[7][3], int alpha, int d) {
  return table[2 - alpha][d - 1];
}

double binomial(int n, int k) {
  double c = 1;
  for (int i = 1; i <= k; ++i) c = c * (n - k + i) / i;
  return c;
}

// Modified statistics, every alpha.
double modified_inverse(double j_terms, double m_terms, double s, double r, int alpha, int d) {
  if (j_terms <= kJmax) {
    return basic_sum(j_terms, m_terms, s, 1, alpha, d) / (squared(sz(0, 1, alpha, d)) * m_terms);
  }
  if (r > d + 1) {
    const Constants c = table_entry(kModifiedTable, alpha, d);
    return (c.a0 - c.a1 / r) / r;
  }
  const double m_prime = kJmax / r;
  return basic_sum(kJmax, kJmax, m_prime, 1, alpha, d) / (squared(sz(0, 1, alpha, d)) * kJmax);
}

// Plain statistics, alpha <= 0.
double plain_frequency_noise_inverse(double j_terms, double m_terms, double s, double r, double m,
                                     int alpha, int d) {
  if (j_terms <= kJmax) {
    // Past a few dozen samples per tau, the averaging over one sample no
    // longer matters.
    const double m_prime = m * (d + 1) <= kJmax ? m : kInfinity;
    return basic_sum(j_terms, m_terms, s, m_prime, alpha, d) /
           (squared(sz(0, m_prime, alpha, d)) * m_terms);
  }
  if (r > d + 1) {
    const Constants c = table_entry(kPlainTable, alpha, d);
    return (c.a0 - c.a1 / r) / r;
  }
  const double m_prime = kJmax / r;
  return basic_sum(kJmax, kJmax, m_prime, kInfinity, alpha, d) /
         (squared(sz(0, kInfinity, alpha, d)) * kJmax);
}

// Plain statistics, flicker PM: the averaging over one sample always matters.
double plain_flicker_pm_inverse(double j_terms, double m_terms, double s, double r, double m,
                                int d) {
  if (j_terms <= kJmax) {
    return basic_sum(j_terms, m_terms, s, m, 1, d) / (squared(sz(0, m, 1, d)) * m_terms);
  }
  const Constants b = kFlickerPmScale[d - 1];
  const double scale = squared(b.a0 + b.a1 * std::log(m));
  if (r > d + 1) {
    const Constants c = table_entry(kPlainTable, 1, d);
    return (c.a0 - c.a1 / r) / (scale * r);
  }
  const double m_prime = kJmax / r;
  return basic_sum(kJmax, kJmax, m_prime, m_prime, 1, d) / (scale * kJmax);
}

// Plain statistics, white PM: terms correlate only where they share a
// sample, so the sum is exact.
double plain_white_pm_inverse(double m_terms, double r, int d) {
  const double k_max = std::ceil(r);
  if (k_max > d) {
    const Constants c = table_entry(kPlainTable, 2, d);
    return (c.a0 - c.a1 / r) / m_terms;
  }
  double sum = 0;
  for (int k = 1 - static_cast<int>(k_max); k <= static_cast<int>(k_max) - 1; ++k) {
    sum += (1 - std::abs(k) / r) * squared(binomial(2 * d, d - k) / binomial(2 * d, d));
  }
  return sum / m_terms;
}

}  // namespace

double equivalent_dof(Statistic statistic, int alpha, int64_t m, int64_t phase_points) {
  if (is_long_term(statistic)) return kNan;
  const Estimator e = estimator_of(statistic, m);
  if (m < 1 || alpha > 2 || alpha + 2 * e.d <= 1) return kNan;
  const double md = static_cast<double>(m);
  const double n = static_cast<double>(phase_points);
  const double span = md / e.f + md * e.d;  // phase samples one term spans
  if (n < span) return kNan;
  const double m_terms = 1 + std::floor(e.s * (n - span) / md);
  const double j_terms = std::min(m_terms, (e.d + 1) * e.s);
  const double r = m_terms / e.s;

  double inverse = kNan;
  if (e.modified) {
    inverse = modified_inverse(j_terms, m_terms, e.s, r, alpha, e.d);
  } else if (alpha <= 0) {
    inverse = plain_frequency_noise_inverse(j_terms, m_terms, e.s, r, md, alpha, e.d);
  } else if (alpha == 1) {
    inverse = plain_flicker_pm_inverse(j_terms, m_terms, e.s, r, md, e.d);
  } else {
    inverse = plain_white_pm_inverse(m_terms, r, e.d);
  }
  return 1 / inverse;
}

int64_t edf_phase_points(Statistic statistic, int64_t m, int64_t terms) {
  if (is_long_term(statistic) || m < 1 || terms < 1) return 0;
  const Estimator e = estimator_of(statistic, m);
  // The span of one term, then one stride (m / S samples) per further term.
  const int64_t span = e.modified ? m * (e.d + 1) : 1 + m * e.d;
  const int64_t stride = e.s == 1 ? m : 1;
  return span + (terms - 1) * stride;
}

}  // namespace tauspan
