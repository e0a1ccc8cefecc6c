// The sweep's cost model and its check against the clock.
#include "sweep_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace tauspan {
namespace {

// Measured on a 2.6 GHz Zen 5 with AVX-512 (bench/, and whole runs): they
// only shape the model; the clock scales it to the machine at hand.
constexpr double kRowSeconds = 2e-6;              // a row printed and written
constexpr double kOverlapSampleSeconds = 10e-9;   // a bin made and paired
constexpr double kDisjointSampleSeconds = 3e-9;   // a sample in disjoint bins
constexpr double kRunningSampleSeconds = 12e-9;   // a bin from running sums
constexpr double kEvenSampleSeconds = 1e-9;       // the same on evenly spaced times
constexpr double kWindowSampleSeconds = 0.1e-9;   // a sample added to a window mean
// A slot in a -stat row: the classical statistics with their noise
// identification; totdev and the time-error ones; the modified total ones;
// Thêo1, per unit of m.
constexpr double kStatsSlotSeconds = 10e-9;
constexpr double kTotalSlotSeconds = 40e-9;
constexpr double kModifiedTotalSlotSeconds = 500e-9;
constexpr double kTheo1SlotSeconds = 0.2e-9;

constexpr double kTooLong = 60;        // seconds before a sweep is announced
constexpr double kNotWatched = 1;      // modelled seconds below which the clock is not read
constexpr double kLook = 0.2;          // seconds of sweep that the estimate rests on
constexpr double kLongTau = 0.5;       // a tau this long is not waited for
constexpr int kModelPoints = 1024;

double now() {
  timespec t;
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double tau_of(const SweepShape& s, double k) {
  return tau_at(k, s.tau_count, s.range.min_tau, s.range.max_tau, s.log_spacing);
}

}  // namespace

SweepShape sweep_shape(size_t samples, const TimeExtent& extent, const TauRange& range,
                       const RunSettings& settings) {
  SweepShape s;
  s.samples = static_cast<double>(samples);
  if (samples > 1) s.spacing = (extent.t_max - extent.t_min) / (s.samples - 1);
  if (!(s.spacing > 0) || !std::isfinite(s.spacing)) s.spacing = 0;
  s.range = range;
  s.tau_count = settings.tau_count;
  s.log_spacing = settings.log_spacing;
  s.overlap = settings.overlap;
  return s;
}

double tau_seconds(const SweepShape& s, double tau, bool running_sums) {
  const double n = s.samples;
  if (running_sums && s.even) return kRowSeconds + n * kEvenSampleSeconds;
  if (!s.overlap) return kRowSeconds + n * kDisjointSampleSeconds;
  if (running_sums) return kRowSeconds + n * kRunningSampleSeconds;
  // Samples a window: equal times or an unknown spacing put every sample in one.
  double window = s.spacing > 0 ? std::fabs(tau) / s.spacing : n;
  if (!(window >= 1)) window = 1;
  window = std::min(window, n);
  return kRowSeconds + n * kOverlapSampleSeconds + (n - window + 1) * window * kWindowSampleSeconds;
}

double sweep_seconds(const SweepShape& s, bool running_sums) {
  if (s.tau_count < 1) return 0;
  const double n = s.tau_count;
  const int points = static_cast<int>(std::min<double>(n, kModelPoints));
  double sum = 0;
  for (int i = 0; i < points; ++i) {
    // Evenly spread over 1 ... n, both ends included.
    const double k = points == 1 ? 1 : 1 + std::round((n - 1) * i / (points - 1));
    sum += tau_seconds(s, tau_of(s, k), running_sums);
  }
  return sum * n / points;
}

SweepWatch watch_sweep(const SweepShape& shape, bool running_sums) {
  SweepWatch w;
  w.shape = shape;
  w.running_sums = running_sums;
  w.total = sweep_seconds(shape, running_sums);
  if ((shape.overlap || shape.even) && !running_sums) w.fast_total = sweep_seconds(shape, true);
  w.armed = w.total >= kNotWatched;
  w.start = now();
  return w;
}

SweepEstimate check_sweep(SweepWatch& w, double k) {
  SweepEstimate e;
  if (k > 1) w.done += tau_seconds(w.shape, tau_of(w.shape, k - 1), w.running_sums);
  if (!w.armed) return e;
  const double elapsed = now() - w.start;
  const double scale = w.done > 0 && elapsed > 0 ? elapsed / w.done : 1;
  const double next = tau_seconds(w.shape, tau_of(w.shape, k), w.running_sums);
  if (elapsed < kLook && scale * next < kLongTau) return e;
  w.armed = false;
  e.seconds = scale * w.total;
  e.fast_seconds = scale * w.fast_total;
  e.too_long = e.seconds > kTooLong;
  return e;
}

double sweep_seconds_left(const SweepWatch& w) {
  const double elapsed = now() - w.start;
  if (!(w.done > 0) || !(elapsed > 0)) return -1;
  return std::max(0.0, elapsed / w.done * (w.total - w.done));
}

double stats_row_seconds(Statistic s, double slots, double m) {
  double per_slot = kStatsSlotSeconds;
  switch (s) {
    case Statistic::kTotdev:
    case Statistic::kMtie:
    case Statistic::kTierms:
      per_slot = kTotalSlotSeconds;
      break;
    case Statistic::kMtotdev:
    case Statistic::kTtotdev:
    case Statistic::kHtotdev:
      per_slot = kModifiedTotalSlotSeconds;
      break;
    case Statistic::kTheo1:
      per_slot = kTheo1SlotSeconds * std::max(m, 1.0);
      break;
    default:
      break;
  }
  return kRowSeconds + slots * per_slot;
}

std::string describe_duration(double seconds) {
  char text[64];
  if (seconds < 1.5) {
    return "1 second";
  } else if (seconds < 90) {
    std::snprintf(text, sizeof text, "%.0f seconds", seconds);
  } else if (seconds < 90 * 60) {
    std::snprintf(text, sizeof text, "%.0f minutes", seconds / 60);
  } else if (seconds < 48 * 3600) {
    std::snprintf(text, sizeof text, "%.1f hours", seconds / 3600);
  } else if (seconds < 3 * 365.25 * 86400) {
    std::snprintf(text, sizeof text, "%.0f days", seconds / 86400);
  } else if (seconds < 1e6 * 365.25 * 86400) {
    std::snprintf(text, sizeof text, "%.0f years", seconds / (365.25 * 86400));
  } else {
    return "over a million years";
  }
  return text;
}

}  // namespace tauspan
