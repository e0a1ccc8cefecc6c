// How -fast sums one series: offsets, the grid, and the samples set aside.
#include "fast_windows.h"

#include <bit>

namespace tauspan::fast {
namespace {

constexpr int kBias = 1100;  // index of exponent 0 in the histograms
constexpr int kExponents = 2200;

bool is_missing(const Sample& x) { return x.time == kMissing || x.value == kMissing; }

// An offset whose subtraction is exact for every sample: the first when all
// lie within a factor of 2 of it (Sterbenz's lemma), else 0.
double exact_offset(double first, double least, double most) {
  if (first > 0 && least >= first / 2 && most <= first * 2) return first;
  if (first < 0 && most <= first / 2 && least >= first * 2) return first;
  return 0.0;
}

// Exponents of the highest and the lowest set bit of a finite, nonzero y.
struct Bits {
  int top;
  int low;
};

Bits bits_of(double y) {
  const auto u = std::bit_cast<uint64_t>(y);
  const auto biased = static_cast<int>((u >> 52) & 0x7ff);
  const uint64_t mantissa = u & ((uint64_t{1} << 52) - 1);
  if (biased == 0) {  // subnormal
    return {-1074 + 63 - std::countl_zero(mantissa), -1074 + std::countr_zero(mantissa)};
  }
  return {biased - 1023, biased - 1075 + std::countr_zero(mantissa | (uint64_t{1} << 52))};
}

// Samples whose top bit is at or above the cut are set aside: at most one in
// 4096 of them (and 16 more), and only those beyond 2^30 times the median
// size.
int aside_cut(const std::vector<int64_t>& histogram, size_t n) {
  int64_t total = 0;
  for (const int64_t h : histogram) total += h;
  if (total == 0) return kExponents;
  int median = 0;
  for (int64_t seen = 0; median < kExponents; ++median) {
    seen += histogram[static_cast<size_t>(median)];
    if (2 * seen >= total) break;
  }
  const auto limit = static_cast<int64_t>(n / 4096 + 16);
  int cut = kExponents;
  for (int64_t above = 0; cut > 0; --cut) {
    above += histogram[static_cast<size_t>(cut - 1)];
    if (above > limit) break;
  }
  return std::min(std::max(cut, median + 30), 960 + kBias);
}

}  // namespace

bool cpu_has_fma() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("fma") &&
                           __builtin_cpu_supports("avx2"));
  return has;
}

SeriesPlan plan_series(const SampleSeries& series) {
  SeriesPlan plan;
  const size_t n = series.size();
  // Offsets, from the extremes of the present, finite samples.
  double least[2] = {INFINITY, INFINITY};
  double most[2] = {-INFINITY, -INFINITY};
  double first[2] = {0, 0};
  bool seen[2] = {false, false};
  for (size_t i = 0; i < n; ++i) {
    const Sample& x = series[i];
    if (is_missing(x)) {
      plan.missing.push_back(i);
      continue;
    }
    const double v[2] = {x.time, x.value};
    for (int k = 0; k < 2; ++k) {
      if (!std::isfinite(v[k])) continue;
      if (!seen[k]) first[k] = v[k];
      seen[k] = true;
      least[k] = std::min(least[k], v[k]);
      most[k] = std::max(most[k], v[k]);
    }
  }
  for (int k = 0; k < 2; ++k) plan.offset[k] = exact_offset(first[k], least[k], most[k]);

  // Sizes of (x - offset), to find the few that would swamp the sums, and
  // the bits spanned by the samples with both finite. Four histograms a lane
  // keep runs of equal sizes from waiting on each other's counts.
  std::vector<int64_t> counts[2] = {std::vector<int64_t>(4 * kExponents),
                                    std::vector<int64_t>(4 * kExponents)};
  std::vector<size_t> infinite;  // samples with a lane not finite: always set aside
  int top[2] = {INT32_MIN, INT32_MIN};
  int low[2] = {INT32_MAX, INT32_MAX};
  for (size_t i = 0; i < n; ++i) {
    const Sample& x = series[i];
    if (is_missing(x)) continue;
    const double v[2] = {x.time - plan.offset[0], x.value - plan.offset[1]};
    Bits b[2] = {{INT32_MIN, INT32_MAX}, {INT32_MIN, INT32_MAX}};
    bool finite = true;
    for (int k = 0; k < 2; ++k) {
      if (!std::isfinite(v[k])) {
        finite = false;
      } else if (v[k] != 0) {
        b[k] = bits_of(v[k]);
        ++counts[k][static_cast<size_t>(4 * (b[k].top + kBias)) + (i & 3)];
      }
    }
    if (!finite) {
      infinite.push_back(i);
      continue;
    }
    for (int k = 0; k < 2; ++k) {
      top[k] = std::max(top[k], b[k].top);
      low[k] = std::min(low[k], b[k].low);
    }
  }
  std::vector<int64_t> histogram[2] = {std::vector<int64_t>(kExponents),
                                       std::vector<int64_t>(kExponents)};
  for (int k = 0; k < 2; ++k) {
    for (size_t e = 0; e < kExponents; ++e) {
      histogram[k][e] = (counts[k][4 * e] + counts[k][4 * e + 1]) +
                        (counts[k][4 * e + 2] + counts[k][4 * e + 3]);
    }
  }
  const int cut[2] = {aside_cut(histogram[0], n) - kBias, aside_cut(histogram[1], n) - kBias};

  if (top[0] < cut[0] && top[1] < cut[1]) {
    // Nothing finite is large enough to set aside: the bits above stand.
    plan.aside = std::move(infinite);
  } else {
    // The set-aside samples, and the bits the others span.
    top[0] = top[1] = INT32_MIN;
    low[0] = low[1] = INT32_MAX;
    for (size_t i = 0; i < n; ++i) {
      const Sample& x = series[i];
      if (is_missing(x)) continue;
      const double v[2] = {x.time - plan.offset[0], x.value - plan.offset[1]};
      Bits b[2] = {{0, INT32_MAX}, {0, INT32_MAX}};
      bool aside = false;
      for (int k = 0; k < 2; ++k) {
        if (!std::isfinite(v[k])) {
          aside = true;
        } else if (v[k] != 0) {
          b[k] = bits_of(v[k]);
          aside = aside || b[k].top >= cut[k];
        }
      }
      if (aside) {
        plan.aside.push_back(i);
        continue;
      }
      for (int k = 0; k < 2; ++k) {
        if (v[k] == 0) continue;
        top[k] = std::max(top[k], b[k].top);
        low[k] = std::min(low[k], b[k].low);
      }
    }
  }

  // The grid: the lowest bit in use, when every sample then fits in 62 bits.
  plan.on_grid = true;
  int bits = 0;
  for (int k = 0; k < 2; ++k) {
    if (top[k] == INT32_MIN) continue;  // all zero
    if (top[k] + 1 - low[k] > 62 || low[k] < -1022 || low[k] > 1023) {
      plan.on_grid = false;
      continue;
    }
    plan.to_grid[k] = std::ldexp(1.0, -low[k]);
    plan.from_grid[k] = std::ldexp(1.0, low[k]);
    bits = std::max(bits, top[k] + 1 - low[k]);
  }
  // Each sample is below 2^bits on the grid.
  if (plan.on_grid && plan.missing.empty() && plan.aside.empty()) {
    plan.lean_count = size_t{1} << (62 - bits);
  }
  plan.missing.push_back(n);
  plan.aside.push_back(n);
  return plan;
}

}  // namespace tauspan::fast
