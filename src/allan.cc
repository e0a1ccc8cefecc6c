// The analysis. Bin means are summed front to back, one window per vector
// lane, so the rounding of every mean is that of a plain loop.
#include "allan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tauspan {
namespace {

// Overlapped windows start one sample apart. At step i, window j needs sample
// f0 + j + i, so the samples of W windows at one step lie side by side, and a
// (time, value) pair in memory is already a pair of lanes: adding the raw
// memory of W samples to W accumulator pairs sums W windows at once.
constexpr int kMaxWidth = 32;

// One native register per accumulator: 1 sample in SSE2, 2 in AVX2, 4 in
// AVX-512. Eight accumulators keep the adder's pipeline full.
typedef double Lanes2 __attribute__((vector_size(16)));
typedef double Lanes4 __attribute__((vector_size(32)));
typedef double Lanes8 __attribute__((vector_size(64)));
typedef long long Masks2 __attribute__((vector_size(16)));
typedef long long Masks4 __attribute__((vector_size(32)));
typedef long long Masks8 __attribute__((vector_size(64)));

template <typename V>
[[gnu::always_inline]] inline V load(const Sample* p) {
  V x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

// Means of the W windows [f0 + j, f0 + j + len[j]), with V holding P
// samples. Reads up to sample f0 + max(len) + W - 2, which the caller keeps
// inside the series.
template <typename V, typename M, size_t W>
[[gnu::always_inline]] inline void mean_of_windows(const Sample* s, size_t f0,
                                                   const size_t* len, Sample* out) {
  constexpr size_t P = sizeof(V) / sizeof(Sample);
  constexpr size_t K = W / P;
  V acc[K];
  for (size_t k = 0; k < K; ++k) acc[k] = V{};
  const size_t lmin = *std::min_element(len, len + W);
  const size_t lmax = *std::max_element(len, len + W);
  const Sample* base = s + f0;
  for (size_t i = 0; i < lmin; ++i) {
#pragma GCC unroll 8
    for (size_t k = 0; k < K; ++k) acc[k] += load<V>(base + i + P * k);
  }
  if (lmin < lmax) {
    // Windows that are done keep their sum; blending rather than adding 0
    // keeps a sum of -0.0 negative.
    M lens[K];
    for (size_t k = 0; k < K; ++k) {
      for (size_t m = 0; m < 2 * P; ++m) lens[k][m] = static_cast<long long>(len[P * k + m / 2]);
    }
    for (size_t i = lmin; i < lmax; ++i) {
      const M step = M{} + static_cast<long long>(i);
#pragma GCC unroll 8
      for (size_t k = 0; k < K; ++k) {
        const V x = load<V>(base + i + P * k);
        acc[k] = step < lens[k] ? acc[k] + x : acc[k];
      }
    }
  }
  for (size_t j = 0; j < W; ++j) {
    const double count = static_cast<double>(len[j]);
    out[j] = Sample{acc[j / P][(j % P) * 2] / count, acc[j / P][(j % P) * 2 + 1] / count};
  }
}

void means_base(const Sample* s, size_t f0, const size_t* len, Sample* out) {
  mean_of_windows<Lanes2, Masks2, 8>(s, f0, len, out);
}
[[gnu::target("avx2")]] void means_avx2(const Sample* s, size_t f0, const size_t* len,
                                        Sample* out) {
  mean_of_windows<Lanes4, Masks4, 16>(s, f0, len, out);
}
[[gnu::target("avx512f")]] void means_avx512(const Sample* s, size_t f0, const size_t* len,
                                             Sample* out) {
  mean_of_windows<Lanes8, Masks8, 32>(s, f0, len, out);
}

struct Kernel {
  int width;
  void (*means)(const Sample*, size_t, const size_t*, Sample*);
};

Kernel widest_kernel() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return {32, means_avx512};
  if (__builtin_cpu_supports("avx2")) return {16, means_avx2};
  return {8, means_base};
}

Kernel g_kernel = widest_kernel();

bool is_missing(const Sample& s) { return s.time == kMissing || s.value == kMissing; }

// Windows closed but not yet averaged. Overlapped windows wait until a full
// vector of them is there; everything else is averaged at once.
struct PendingWindows {
  const SampleSeries& series;
  SampleSeries& bins;
  Kernel kernel;
  size_t first_begin = 0;
  size_t len[kMaxWidth] = {};
  int count = 0;

  void flush() {
    const size_t first_bin = bins.size() - static_cast<size_t>(count);
    const size_t lmax = count ? *std::max_element(len, len + static_cast<size_t>(count)) : 0;
    if (count == kernel.width &&
        first_begin + lmax + static_cast<size_t>(count) - 2 < series.size()) {
      kernel.means(series.data(), first_begin, len, bins.data() + first_bin);
    } else {
      for (int j = 0; j < count; ++j) {
        bins[first_bin + static_cast<size_t>(j)] =
            window_mean(std::span(series.data() + first_begin + static_cast<size_t>(j), len[j]));
      }
    }
    count = 0;
  }

  void add(size_t begin, size_t end, bool vectorizable) {
    if (count > 0 && begin != first_begin + static_cast<size_t>(count)) flush();
    if (count == 0) first_begin = begin;
    bins.emplace_back();
    len[count++] = end - begin;
    if (!vectorizable || count == kernel.width) flush();
  }
};

}  // namespace

int select_vector_width(int width) {
  const Kernel widest = widest_kernel();
  if (width == 8) g_kernel = {8, means_base};
  if (width == 16 && widest.width >= 16) g_kernel = {16, means_avx2};
  if (width == 32 && widest.width >= 32) g_kernel = widest;
  if (width == 0) g_kernel = widest;
  return g_kernel.width;
}

TimeExtent time_extent(const SampleSeries& series, const RunSettings& settings) {
  if (settings.time_column < 0) {
    return {0, static_cast<double>(series.size() - 1) * settings.time_multiplier};
  }
  TimeExtent e{series.front().time, series.back().time};
  for (const Sample& s : series) {
    if (s.time <= e.t_min) e.t_min = s.time;
    if (s.time >= e.t_max) e.t_max = s.time;
  }
  return e;
}

TauRange tau_range(const SampleSeries& series, const TimeExtent& extent,
                   const RunSettings& settings) {
  TauRange r{settings.min_tau, settings.max_tau};
  if (r.min_tau == 0) r.min_tau = series[2].time - extent.t_min;
  if (r.max_tau == 0) r.max_tau = (extent.t_max - extent.t_min) * 0.25;
  return r;
}

double tau_at(double k, int32_t n, double min_tau, double max_tau, bool log_spacing) {
  const double nd = n;
  if (nd < 2) return min_tau;
  if (log_spacing) return std::pow(min_tau / max_tau, (nd - k) / (nd - 1)) * max_tau;
  return (k - 1) / (nd - 1) * (max_tau - min_tau) + min_tau;
}

Sample window_mean(std::span<const Sample> window) {
  double sum_time = 0;
  double sum_value = 0;
  int64_t count = 0;
  for (const Sample& s : window) {
    if (s.value == kMissing || s.time == kMissing) continue;
    sum_time += s.time;
    sum_value += s.value;
    ++count;
  }
  if (count > 0) {
    return {sum_time / static_cast<double>(count), sum_value / static_cast<double>(count)};
  }
  return {kMissing, kMissing};
}

namespace {

// The bin averaging's walk of a series that is not empty: appends the bins
// to `pending`'s bins, calling after_close() once a window closes.
template <typename AfterClose>
void walk_windows(const SampleSeries& series, double tau, bool overlap, PendingWindows& pending,
                  AfterClose after_close) {
  const size_t n = series.size();
  const Sample* s = series.data();
  bool clean = !is_missing(s[0]);  // the vector sums do not skip missing samples
  size_t front = 0;
  for (size_t i = 1; i < n; ++i) {
    if (clean && is_missing(s[i])) {
      pending.flush();
      clean = false;
    }
    if (tau > s[i].time - s[front].time) continue;
    pending.add(front, i, overlap && clean);
    front = overlap ? front + 1 : i;
    after_close();
  }
  if (s[n - 1].time - s[front].time > 0.9 * tau) pending.add(front, n, overlap && clean);
  pending.flush();
}

}  // namespace

SampleSeries average_bins(const SampleSeries& series, double tau, bool overlap,
                          SampleSeries reuse) {
  SampleSeries bins = std::move(reuse);
  bins.clear();
  if (series.empty()) return bins;
  if (overlap) bins.reserve(series.size());
  PendingWindows pending{series, bins, g_kernel};
  walk_windows(series, tau, overlap, pending, [] {});
  return bins;
}

namespace {

// The estimator's loop over the bins, taken up where it stopped as more
// bins arrive.
struct Pairing {
  double threshold;
  double sum = 0;
  int64_t count = 0;
  size_t lag = 0;
  size_t next = 0;  // the next lead

  void take(const SampleSeries& bins, size_t end) {
    for (; next < end; ++next) {
      const Sample& lead = bins[next];
      if (lead.value == kMissing) continue;
      if (threshold > lead.time - bins[lag].time) continue;
      const double d = bins[lag].value - lead.value;
      sum += d * d;
      ++count;
      ++lag;
    }
  }

  // Drops the bins before the lagging one once they are a third of those
  // held, so that each bin moves at most twice on average.
  void trim(SampleSeries& bins, size_t& dropped) {
    if (lag == 0 || 3 * lag < bins.size()) return;
    bins.erase(bins.begin(), bins.begin() + static_cast<std::ptrdiff_t>(lag));
    dropped += lag;
    next -= lag;
    lag = 0;
  }

  double variance() const { return count > 0 ? (sum / static_cast<double>(count)) * 0.5 : 0; }
};

}  // namespace

TauVariance allan_tau(const SampleSeries& series, double tau, bool overlap, double jitter,
                      SampleSeries& scratch, size_t keep) {
  SampleSeries& bins = scratch;
  bins.clear();
  TauVariance result;
  if (series.empty()) return result;
  PendingWindows pending{series, bins, g_kernel};
  Pairing pairing{tau * (1.0 - jitter)};
  size_t dropped = 0;
  keep = std::max<size_t>(keep, 1);
  // The bins whose means are made are paired now and then; the pending ones
  // sit at the end until their flush.
  const auto pair_made = [&] {
    pairing.take(bins, bins.size() - static_cast<size_t>(pending.count));
    pairing.trim(bins, dropped);
  };
  walk_windows(series, tau, overlap, pending, [&] {
    if (bins.size() - pairing.next >= keep) pair_made();
  });
  result.bins = dropped + bins.size();
  if (result.bins < 2) return result;
  pair_made();
  result.avar = pairing.variance();
  return result;
}

double allan_variance(const SampleSeries& bins, double tau, double jitter) {
  Pairing pairing{tau * (1.0 - jitter)};
  pairing.take(bins, bins.size());
  return pairing.variance();
}

}  // namespace tauspan
