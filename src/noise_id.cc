// Noise identification: which power law dominates a grid at an averaging
// factor, for the error bars of the standard statistics.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

#include "double_double.h"
#include "intervals.h"
#include "noise_points.h"

namespace tauspan {
namespace {

// Fewest averaged points for the lag-1 autocorrelation; with fewer, the B1
// ratio (and R(n)) decide.
constexpr int64_t kMinAutocorrelationPoints = 30;

// Fewest frequency averages for which the B1 ratio depends on the noise
// (with two it is 1 whatever the noise).
constexpr int64_t kMinB1Averages = 3;

// R(n) takes its terms this many to an averaging factor (every term below
// this factor), but never fewer than kMinRatioTerms of them: neighbouring
// terms share all but a sliver of their samples, so the ratio loses next to
// nothing, and each row costs O(N/m) plus a constant.
constexpr int64_t kRatioTermsPerFactor = 16;
constexpr int64_t kMinRatioTerms = 256;

// A series with holes: value[k] counts only where present[k] is 1.
struct Series {
  std::vector<double> value;
  std::vector<uint8_t> present;
};

// The second difference a - 2b + c of prefix-sum entries, as (a - b) - (b - c).
HiLo<double> second_difference(HiLo<double> a, HiLo<double> b, HiLo<double> c) {
  return prefix_difference(prefix_difference(a, b), prefix_difference(b, c));
}

// The grid at factor m: means of m consecutive frequency slots (present only
// when all m are), or every m-th phase slot. Frequency means come from the
// phase's prefix sums (which hold y less its mean); phase values are taken
// relative to the first sample, so a large offset (phase near 1e9 s) is gone
// before anything is summed.
Series averaged(const PreparedGrid& p, int64_t m) {
  const Grid& grid = *p.grid;
  const size_t slots = slot_count(grid);
  const size_t step = static_cast<size_t>(m);
  Series z;
  // Exactly as long as it will be: at m = 1 it is the grid's length.
  const size_t length = grid.kind == DataKind::kPhase ? (slots + step - 1) / step : slots / step;
  z.value.reserve(length);
  z.present.reserve(length);
  if (grid.kind == DataKind::kPhase) {
    const double reference = first_present_value(grid);
    for (size_t i = 0; i < slots; i += step) {
      z.value.push_back(grid.present[i] ? grid.values[i] - reference : 0);
      z.present.push_back(grid.present[i]);
    }
    return z;
  }
  for (size_t start = 0; start + step <= slots; start += step) {
    const uint8_t all = slots_whole(p, start, start + step);
    const double sum = prefix_difference(prefix_entry(p.phase_hi, p.phase_lo, start + step),
                                         prefix_entry(p.phase_hi, p.phase_lo, start))
                           .hi;
    z.value.push_back(all ? sum / static_cast<double>(m) : 0);
    z.present.push_back(all);
  }
  return z;
}

// Steps between neighbours, in place (one entry fewer); a step needs both
// of them. In place because at m = 1 the series is as long as the grid.
void difference(Series& z) {
  if (z.value.empty()) return;
  for (size_t k = 0; k + 1 < z.value.size(); ++k) {
    const uint8_t both = z.present[k] && z.present[k + 1];
    z.value[k] = both ? z.value[k + 1] - z.value[k] : 0;
    z.present[k] = both;
  }
  z.value.pop_back();
  z.present.pop_back();
}

// r1 = sum over neighbour pairs of (z_k - mean)(z_k+1 - mean), over the sum
// of (z_k - mean)^2, for the points stepped `steps` times. With gaps the
// pair sum is scaled up to the n - 1 pairs that n present points in a row
// would give. NaN without spread or pairs.
double lag1_autocorrelation(const DetrendedPoints& z, int steps) {
  // Sums run in locals within a block, so that they stay in registers.
  double sum = 0;
  int64_t n = 0;
  z.walk(steps, [&](size_t, const double* value, const uint8_t* present, size_t count) {
    double s = sum;
    int64_t c = n;
    for (size_t i = 0; i < count; ++i) {
      if (!present[i]) continue;
      s += value[i];
      ++c;
    }
    sum = s;
    n = c;
  });
  const double mean = sum / static_cast<double>(n);
  double numerator = 0;
  double denominator = 0;
  int64_t pairs = 0;
  // Each pair is counted at its second point; the sums take their terms in
  // the order of the first.
  double before = 0;
  uint8_t before_present = 0;
  z.walk(steps, [&](size_t k, const double* value, const uint8_t* present, size_t count) {
    double num = numerator;
    double den = denominator;
    int64_t c = pairs;
    double b = before;
    uint8_t bp = before_present;
    for (size_t i = 0; i < count; ++i) {
      const double v = value[i];
      if (k + i > 0 && bp && present[i]) {
        num += (b - mean) * (v - mean);
        ++c;
      }
      if (present[i]) den += (v - mean) * (v - mean);
      b = v;
      bp = present[i];
    }
    numerator = num;
    denominator = den;
    pairs = c;
    before = b;
    before_present = bp;
  });
  if (pairs == 0 || !(denominator > 0)) return std::numeric_limits<double>::quiet_NaN();
  return numerator * static_cast<double>(n - 1) / static_cast<double>(pairs) / denominator;
}

// Differences the points until they are stationary (delta < 0.25) or d_max
// times; delta = r1 / (1 + r1) estimates the exponent of (2 sin pi f)^-2delta.
int autocorrelation_alpha(const AveragedPoints& points, DataKind kind, int d_max, int alpha_min) {
  const DetrendedPoints z = detrended(points, kind == DataKind::kPhase ? 2 : 1);
  for (int d = 0;; ++d) {
    const double r1 = lag1_autocorrelation(z, d);
    if (std::isnan(r1)) return kNoAlpha;
    const double delta = r1 / (1 + r1);
    if (delta < 0.25 || d >= d_max) {
      const double p = -std::round(2 * delta) - 2 * d;
      const double alpha = kind == DataKind::kPhase ? p + 2 : p;
      // Steeper or bluer than the statistic can tell: the nearest it can.
      return static_cast<int>(std::clamp(alpha, static_cast<double>(alpha_min), 2.0));
    }
  }
}

// The expected ratio of the standard variance of n frequency averages to
// their Allan variance, for an Allan variance that goes as tau^mu.
double b1_expected(double n, int mu) {
  if (mu == 0) return n * std::log(n) / (2 * (n - 1) * std::log(2.0));
  return n * (1 - std::pow(n, mu)) / (2 * (n - 1) * (1 - std::pow(2.0, mu)));
}

// The overlapping Allan variance and the modified Allan variance at m, each
// up to the same factor, from every term or from terms evenly apart (see
// kRatioTermsPerFactor); their ratio
// R(n) is 1/m for white PM and about 1.5 ln(256/27) / (1.038 + 3 ln(pi m))
// for flicker PM. NaN when either has no term.
double modified_to_allan_ratio(const PreparedGrid& p, int64_t m) {
  const Grid& grid = *p.grid;
  const size_t slots = slot_count(grid);
  const size_t step = static_cast<size_t>(m);
  const bool phase = grid.kind == DataKind::kPhase;
  const auto starts = static_cast<int64_t>(slots) - 3 * m;  // about as many of either term
  const size_t stride = static_cast<size_t>(
      std::max<int64_t>(1, std::min(m / kRatioTermsPerFactor, starts / kMinRatioTerms)));
  // A frequency Allan term is the second difference of the phase at lag m
  // and spans slots [i, i + 2m); a phase term uses x_i, x_i+m and x_i+2m.
  // A modified term is the sum of m consecutive Allan terms: the third
  // difference of the phase's running sum, spanning [i, i + 3m - 1) of
  // frequency slots or [i, i + 3m) of phase slots.
  const size_t allan_span = phase ? 2 * step + 1 : 2 * step;
  const size_t modified_span = phase ? 3 * step : 3 * step - 1;
  double allan = 0;
  int64_t allan_terms = 0;
  for (size_t i = 0; i + allan_span <= slots; i += stride) {
    double d;
    if (phase) {
      if (!grid.present[i] || !grid.present[i + step] || !grid.present[i + 2 * step]) continue;
      const double* x = grid.values.data() + i;
      d = (x[2 * step] - x[step]) - (x[step] - x[0]);
    } else {
      if (!slots_whole(p, i, i + 2 * step)) continue;
      d = second_difference(prefix_entry(p.phase_hi, p.phase_lo, i + 2 * step),
                            prefix_entry(p.phase_hi, p.phase_lo, i + step),
                            prefix_entry(p.phase_hi, p.phase_lo, i))
              .hi;
    }
    allan += d * d;
    ++allan_terms;
  }
  // The running sums where the modified terms need them: from the prepared
  // ones, or (a run that needs them for nothing else) made for these alone.
  std::vector<size_t> starts_used;
  for (size_t i = 0; i + modified_span <= slots; i += stride) {
    if (slots_whole(p, i, i + modified_span)) starts_used.push_back(i);
  }
  std::vector<HiLo<double>> made;
  if (p.sum_hi.empty()) {
    std::vector<size_t> indices;
    indices.reserve(4 * starts_used.size());
    for (const size_t i : starts_used) {
      for (size_t j = 0; j < 4; ++j) indices.push_back(i + j * step);
    }
    made = running_sums_at(p, indices);
  }
  auto sum_at = [&](size_t term, size_t j) {
    return made.empty() ? prefix_entry(p.sum_hi, p.sum_lo, starts_used[term] + j * step)
                        : made[4 * term + j];
  };
  double modified = 0;
  const auto modified_terms = static_cast<int64_t>(starts_used.size());
  for (size_t t = 0; t < starts_used.size(); ++t) {
    const HiLo<double> s0 = sum_at(t, 0);
    const HiLo<double> s1 = sum_at(t, 1);
    const HiLo<double> s2 = sum_at(t, 2);
    const HiLo<double> s3 = sum_at(t, 3);
    const double d =
        prefix_difference(second_difference(s3, s2, s1), second_difference(s2, s1, s0)).hi;
    modified += d * d;
  }
  if (allan_terms == 0 || modified_terms == 0) return std::numeric_limits<double>::quiet_NaN();
  const double md = static_cast<double>(m);
  return (modified / (md * md * static_cast<double>(modified_terms))) /
         (allan / static_cast<double>(allan_terms));
}

// White or flicker PM, which the B1 ratio cannot tell apart, by R(n).
int pm_alpha(const PreparedGrid& grid, int64_t m) {
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
int b1_alpha(const PreparedGrid& grid, const Series& averages, int64_t m) {
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

int noise_alpha(const PreparedGrid& prepared, Statistic s, int64_t m) {
  const Grid& grid = *prepared.grid;
  const size_t slots = slot_count(grid);
  // A prepared frequency grid may have given up its values for its phase.
  const bool values = grid.values.size() == slots ||
                      (grid.kind == DataKind::kFrequency && grid.values.empty());
  if (m < 1 || slots == 0 || !values) return kNoAlpha;
  const bool hadamard = s == Statistic::kHdev || s == Statistic::kOhdev;
  const AveragedPoints points = averaged_points(prepared, m);
  if (count_present(points, kMinAutocorrelationPoints) >= kMinAutocorrelationPoints) {
    return autocorrelation_alpha(points, grid.kind, hadamard ? 3 : 2, hadamard ? -4 : -2);
  }
  Series z = averaged(prepared, m);
  if (grid.kind == DataKind::kPhase) difference(z);
  return b1_alpha(prepared, z, m);
}

int noise_alpha(const Grid& grid, Statistic s, int64_t m) {
  if (m < 1 || grid.values.empty() || grid.present.size() != grid.values.size()) return kNoAlpha;
  return noise_alpha(prepare_grid(grid), s, m);
}

}  // namespace tauspan
