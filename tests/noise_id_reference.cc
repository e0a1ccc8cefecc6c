// Noise identification as first written, O(N) per call: the yardstick that
// the prefix-sum version in src/noise_id.cc must agree with.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

#include "noise_id_reference.h"

namespace tauspan {
namespace {

// Fewest averaged points for the lag-1 autocorrelation; with fewer, the B1
// ratio (and R(n)) decide.
constexpr int64_t kMinAutocorrelationPoints = 30;

// Fewest frequency averages for which the B1 ratio depends on the noise
// (with two it is 1 whatever the noise).
constexpr int64_t kMinB1Averages = 3;

// A series with holes: value[k] counts only where present[k] is 1.
struct Series {
  std::vector<double> value;
  std::vector<uint8_t> present;
};

int64_t count_present(const Series& z) {
  return std::count(z.present.begin(), z.present.end(), uint8_t{1});
}

double first_present_value(const Grid& grid) {
  for (size_t i = 0; i < grid.values.size(); ++i) {
    if (grid.present[i]) return grid.values[i];
  }
  return 0;
}

// The grid at factor m: means of m consecutive frequency slots (present only
// when all m are), or every m-th phase slot. Values are taken relative to the
// first sample, so a large offset (phase near 1e9 s, a frequency far from
// its noise) is gone before anything is summed.
Series averaged(const Grid& grid, int64_t m) {
  const size_t slots = grid.values.size();
  const size_t step = static_cast<size_t>(m);
  const double reference = first_present_value(grid);
  Series z;
  if (grid.kind == DataKind::kPhase) {
    for (size_t i = 0; i < slots; i += step) {
      z.value.push_back(grid.present[i] ? grid.values[i] - reference : 0);
      z.present.push_back(grid.present[i]);
    }
    return z;
  }
  for (size_t start = 0; start + step <= slots; start += step) {
    double sum = 0;
    uint8_t whole = 1;
    for (size_t i = start; i < start + step; ++i) {
      if (!grid.present[i]) {
        whole = 0;
        break;
      }
      sum += grid.values[i] - reference;
    }
    z.value.push_back(whole ? sum / static_cast<double>(m) : 0);
    z.present.push_back(whole);
  }
  return z;
}

// Steps between neighbours; a step needs both of them.
Series difference(const Series& z) {
  Series steps;
  for (size_t k = 0; k + 1 < z.value.size(); ++k) {
    const uint8_t both = z.present[k] && z.present[k + 1];
    steps.value.push_back(both ? z.value[k + 1] - z.value[k] : 0);
    steps.present.push_back(both);
  }
  return steps;
}

// Removes the least-squares polynomial of the index (degree 1: a frequency
// drift; degree 2: the frequency offset and drift of phase data), which would
// otherwise read as a steeper noise. Leaves z alone when the fit is singular.
void remove_trend(Series& z, int degree) {
  const size_t n = z.value.size();
  const double centre = static_cast<double>(n - 1) / 2;
  const double half = std::max(centre, 1.0);  // the index mapped onto [-1, 1]
  double power_sums[5] = {};
  double a[3][4] = {};  // normal equations, right-hand side in column 3
  for (size_t k = 0; k < n; ++k) {
    if (!z.present[k]) continue;
    const double u = (static_cast<double>(k) - centre) / half;
    double p = 1;
    for (int j = 0; j <= 2 * degree; ++j) {
      power_sums[j] += p;
      if (j <= degree) a[j][3] += p * z.value[k];
      p *= u;
    }
  }
  const int size = degree + 1;
  for (int i = 0; i < size; ++i) {
    for (int j = 0; j < size; ++j) a[i][j] = power_sums[i + j];
  }
  for (int col = 0; col < size; ++col) {
    int pivot = col;
    for (int row = col + 1; row < size; ++row) {
      if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
    }
    if (!(std::fabs(a[pivot][col]) > 1e-12 * power_sums[0])) return;
    std::swap(a[col], a[pivot]);
    for (int row = 0; row < size; ++row) {
      if (row == col) continue;
      const double factor = a[row][col] / a[col][col];
      for (int j = col; j < 4; ++j) a[row][j] -= factor * a[col][j];
    }
  }
  for (size_t k = 0; k < n; ++k) {
    if (!z.present[k]) continue;
    const double u = (static_cast<double>(k) - centre) / half;
    double fit = 0;
    for (int j = degree; j >= 0; --j) fit = fit * u + a[j][3] / a[j][j];
    z.value[k] -= fit;
  }
}

// r1 = sum over neighbour pairs of (z_k - mean)(z_k+1 - mean), over the sum
// of (z_k - mean)^2. With gaps the pair sum is scaled up to the n - 1 pairs
// that n present points in a row would give. NaN without spread or pairs.
double lag1_autocorrelation(const Series& z) {
  double sum = 0;
  int64_t n = 0;
  for (size_t k = 0; k < z.value.size(); ++k) {
    if (!z.present[k]) continue;
    sum += z.value[k];
    ++n;
  }
  const double mean = sum / static_cast<double>(n);
  double numerator = 0;
  double denominator = 0;
  int64_t pairs = 0;
  for (size_t k = 0; k < z.value.size(); ++k) {
    if (!z.present[k]) continue;
    denominator += (z.value[k] - mean) * (z.value[k] - mean);
    if (k + 1 < z.value.size() && z.present[k + 1]) {
      numerator += (z.value[k] - mean) * (z.value[k + 1] - mean);
      ++pairs;
    }
  }
  if (pairs == 0 || !(denominator > 0)) return std::numeric_limits<double>::quiet_NaN();
  return numerator * static_cast<double>(n - 1) / static_cast<double>(pairs) / denominator;
}

// Differences the series until it is stationary (delta < 0.25) or d_max
// times; delta = r1 / (1 + r1) estimates the exponent of (2 sin pi f)^-2delta.
int autocorrelation_alpha(Series z, DataKind kind, int d_max, int alpha_min) {
  remove_trend(z, kind == DataKind::kPhase ? 2 : 1);
  for (int d = 0;; ++d) {
    const double r1 = lag1_autocorrelation(z);
    if (std::isnan(r1)) return kNoAlpha;
    const double delta = r1 / (1 + r1);
    if (delta < 0.25 || d >= d_max) {
      const double p = -std::round(2 * delta) - 2 * d;
      const double alpha = kind == DataKind::kPhase ? p + 2 : p;
      // Steeper or bluer than the statistic can tell: the nearest it can.
      return static_cast<int>(std::clamp(alpha, static_cast<double>(alpha_min), 2.0));
    }
    z = difference(z);
  }
}

// The expected ratio of the standard variance of n frequency averages to
// their Allan variance, for an Allan variance that goes as tau^mu.
double b1_expected(double n, int mu) {
  if (mu == 0) return n * std::log(n) / (2 * (n - 1) * std::log(2.0));
  return n * (1 - std::pow(n, mu)) / (2 * (n - 1) * (1 - std::pow(2.0, mu)));
}

// The overlapping Allan variance and the modified Allan variance at m from
// the whole grid, each up to the same factor; their ratio R(n) is 1/m for
// white PM and about 1.5 ln(256/27) / (1.038 + 3 ln(pi m)) for flicker PM.
// NaN when either has no term.
double modified_to_allan_ratio(const Grid& grid, int64_t m) {
  const size_t slots = grid.values.size();
  const size_t step = static_cast<size_t>(m);
  const double reference = first_present_value(grid);
  // m times the frequency average over slots [i, i + m) (tau0 cancels).
  const bool phase = grid.kind == DataKind::kPhase;
  const size_t windows = slots < step + (phase ? 1 : 0) ? 0 : slots - step + (phase ? 0 : 1);
  std::vector<double> mean(windows, 0.0);
  std::vector<uint8_t> ok(windows, 0);
  if (phase) {
    for (size_t i = 0; i < windows; ++i) {
      ok[i] = grid.present[i] && grid.present[i + step];
      if (ok[i]) mean[i] = grid.values[i + step] - grid.values[i];
    }
  } else {
    double sum = 0;
    size_t missing = 0;
    for (size_t i = 0; i < slots; ++i) {
      if (grid.present[i]) {
        sum += grid.values[i] - reference;
      } else {
        ++missing;
      }
      if (i >= step) {
        if (grid.present[i - step]) {
          sum -= grid.values[i - step] - reference;
        } else {
          --missing;
        }
      }
      if (i + 1 >= step) {
        ok[i + 1 - step] = missing == 0;
        if (missing == 0) mean[i + 1 - step] = sum;
      }
    }
  }
  // Allan terms D_i = mean_i+m - mean_i, in place.
  const size_t terms = windows > step ? windows - step : 0;
  double allan = 0;
  int64_t allan_terms = 0;
  for (size_t i = 0; i < terms; ++i) {
    ok[i] = ok[i] && ok[i + step];
    mean[i] = ok[i] ? mean[i + step] - mean[i] : 0;
    allan += mean[i] * mean[i];
    allan_terms += ok[i];
  }
  // Modified terms: m times the mean of m consecutive Allan terms.
  double modified = 0;
  double window_sum = 0;
  int64_t modified_terms = 0;
  int64_t window_missing = 0;
  for (size_t i = 0; i < terms; ++i) {
    const bool leaves = i >= step;
    window_sum += mean[i] - (leaves ? mean[i - step] : 0);
    window_missing += (ok[i] ? 0 : 1) - (leaves && !ok[i - step] ? 1 : 0);
    if (i + 1 >= step && window_missing == 0) {
      modified += window_sum * window_sum;
      ++modified_terms;
    }
  }
  if (allan_terms == 0 || modified_terms == 0) return std::numeric_limits<double>::quiet_NaN();
  const double md = static_cast<double>(m);
  return (modified / (md * md * static_cast<double>(modified_terms))) /
         (allan / static_cast<double>(allan_terms));
}

// White or flicker PM, which the B1 ratio cannot tell apart, by R(n).
int pm_alpha(const Grid& grid, int64_t m) {
  // At m = 1 the two variances are one and the same.
  if (m == 1) return 2;
  const double ratio = modified_to_allan_ratio(grid, m);
  if (std::isnan(ratio)) return 2;
  const double md = static_cast<double>(m);
  const double white = 1 / md;
  const double flicker = 1.5 * std::log(256.0 / 27) / (1.038 + 3 * std::log(std::numbers::pi * md));
  return ratio > std::sqrt(white * flicker) ? 1 : 2;
}

// The B1 ratio against its expected values for Allan-variance slopes mu = 1
// (random-walk FM), 0 (flicker FM), -1 (white FM) and -2 (white or flicker
// PM), the boundaries at their geometric means.
int b1_alpha(const Grid& grid, const Series& averages, int64_t m) {
  double sum = 0;
  int64_t n = 0;
  for (size_t k = 0; k < averages.value.size(); ++k) {
    if (!averages.present[k]) continue;
    sum += averages.value[k];
    ++n;
  }
  if (n < kMinB1Averages) return kNoAlpha;
  const double mean = sum / static_cast<double>(n);
  double spread = 0, allan = 0;
  int64_t pairs = 0;
  for (size_t k = 0; k < averages.value.size(); ++k) {
    if (!averages.present[k]) continue;
    spread += (averages.value[k] - mean) * (averages.value[k] - mean);
    if (k + 1 < averages.value.size() && averages.present[k + 1]) {
      const double step = averages.value[k + 1] - averages.value[k];
      allan += step * step;
      ++pairs;
    }
  }
  if (pairs == 0 || !(allan > 0)) return kNoAlpha;
  const double nd = static_cast<double>(n);
  const double b1 = (spread / (nd - 1)) / (allan / (2 * static_cast<double>(pairs)));
  for (int mu = 1; mu > -2; --mu) {
    if (b1 > std::sqrt(b1_expected(nd, mu) * b1_expected(nd, mu - 1))) return -mu - 1;
  }
  return pm_alpha(grid, m);
}

}  // namespace

int reference_noise_alpha(const Grid& grid, Statistic s, int64_t m) {
  if (m < 1 || grid.values.empty() || grid.present.size() != grid.values.size()) return kNoAlpha;
  const bool hadamard = s == Statistic::kHdev || s == Statistic::kOhdev;
  const Series z = averaged(grid, m);
  if (count_present(z) >= kMinAutocorrelationPoints) {
    return autocorrelation_alpha(z, grid.kind, hadamard ? 3 : 2, hadamard ? -4 : -2);
  }
  return b1_alpha(grid, grid.kind == DataKind::kPhase ? difference(z) : z, m);
}

}  // namespace tauspan
