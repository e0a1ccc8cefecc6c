// Samples placed on slots of tau0: the sampling interval, the slot of each
// sample, and the checks that keep a grid what the statistics assume.
#include "grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>

namespace tauspan {
namespace {

// The shortest text that reads back as x.
std::string number(double x) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
}

// The median of v (reordered); with an even count, the midpoint of the two
// middle values.
double median(std::vector<double>& v) {
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  if (v.size() % 2 == 1) return *mid;
  return std::midpoint(*std::max_element(v.begin(), mid), *mid);
}

// The median of the steps between consecutive times, in file order; NaN for
// fewer than two samples.
double median_step(const SampleSeries& series) {
  if (series.size() < 2) return std::nan("");
  std::vector<double> steps(series.size() - 1);
  for (size_t i = 0; i + 1 < series.size(); ++i) {
    steps[i] = series[i + 1].time - series[i].time;
  }
  return median(steps);
}

// The slot of a time, unrounded.
double position(double t, double t_first, double tau0) { return (t - t_first) / tau0; }

int64_t slot_of(double t, double t_first, double tau0) {
  return static_cast<int64_t>(std::round(position(t, t_first, tau0)));
}

// The median step of jittered times is off by about the jitter over
// sqrt(N), and a slot number multiplies that error: a long record would
// drift out of its slots (a 1 kHz log with 0.1 ms jitter within seconds).
// So tau0 is refined in stages of slots [2^s, 2^(s+1)) from 16 on: each
// sample of a stage, placed by the estimate from the stages before, gives
// (t - t_first) / slot, and the median of those is the next estimate. The
// errors of an estimate shrink as fast as the slot numbers grow. Times are
// taken to increase in file order; a sample behind its stage does not vote.
// Exactly periodic times keep their period.
double refined_step(const SampleSeries& series, double tau0) {
  const double t_first = series.front().time;
  std::vector<double> ratios;
  double begin = 16;
  double end = 32;
  auto refine = [&] {
    if (!ratios.empty()) tau0 = median(ratios);
    ratios.clear();
  };
  for (const Sample& s : series) {
    double p = position(s.time, t_first, tau0);
    if (!std::isfinite(p)) break;
    if (p >= end) {
      refine();
      p = position(s.time, t_first, tau0);
      while (p >= end) {
        begin = end;
        end *= 2;
      }
    }
    if (p >= begin) ratios.push_back((s.time - t_first) / std::round(p));
  }
  refine();
  return tau0;
}

}  // namespace

GridBuild make_grid(const SampleSeries& series, const GridSettings& settings) {
  GridBuild build;
  Grid& g = build.grid;
  g.kind = settings.kind;
  g.nominal = settings.kind == DataKind::kFrequency ? settings.nominal : 0;
  if (series.empty()) {
    build.error = "no samples";
    return build;
  }
  if (settings.tau0 > 0) {
    g.tau0 = settings.tau0;
  } else {
    g.tau0 = median_step(series);
    if (!(g.tau0 > 0) || !std::isfinite(g.tau0)) {
      build.error = series.size() < 2
                        ? "one sample gives no step between sample times to take tau0 from"
                        : "the median step between sample times is " + number(g.tau0) +
                              ", not a sampling interval; give -tau0";
      return build;
    }
    g.tau0 = refined_step(series, g.tau0);
  }
  if (!std::isfinite(g.tau0)) {
    build.error = "tau0 " + number(g.tau0) + " is not a finite number";
    return build;
  }
  if (!std::isfinite(g.nominal) || g.nominal < 0) {
    build.error = "nominal " + number(g.nominal) + " is not a positive finite number";
    return build;
  }

  // Check every time before sizing anything, so that a stray huge time
  // costs an error rather than a huge allocation.
  const double t_first = series.front().time;
  const auto count = static_cast<double>(series.size());
  const double max_position = std::min(kMaxSlotsPerSample * count + kSlotAllowance, 0x1p31);
  double last = 0;
  for (const Sample& s : series) {
    if (s.time < t_first) {
      build.error = "the sample at time " + number(s.time) +
                    " comes before the first sample (time " + number(t_first) + ")";
      return build;
    }
    const double p = position(s.time, t_first, g.tau0);
    if (!(p + 0.5 < max_position)) {
      build.error = "the sample at time " + number(s.time) + " lies " + number(std::round(p)) +
                    " steps of tau0 " + number(g.tau0) + " after the first (time " +
                    number(t_first) + "): more slots than " + number(kMaxSlotsPerSample) +
                    " per sample plus " + number(kSlotAllowance) + " would be mostly gaps";
      return build;
    }
    last = std::max(last, p);
  }

  const auto slots = static_cast<size_t>(std::round(last)) + 1;
  g.values.assign(slots, 0.0);
  g.present.assign(slots, 0);
  for (const Sample& s : series) {
    const auto k = static_cast<size_t>(slot_of(s.time, t_first, g.tau0));
    if (g.present[k]) {
      const auto first = std::find_if(series.begin(), series.end(), [&](const Sample& o) {
        return static_cast<size_t>(slot_of(o.time, t_first, g.tau0)) == k;
      });
      build.error = "samples at times " + number(first->time) + " and " + number(s.time) +
                    " fall in one slot of tau0 " + number(g.tau0);
      build.grid = Grid{};
      return build;
    }
    // v - f0 is exact when v lies within a factor 2 of f0 (Sterbenz).
    const double v = g.nominal != 0 ? s.value - g.nominal : s.value;
    if (!std::isfinite(v)) {
      build.error = "the value " + number(s.value) + " at time " + number(s.time) +
                    (std::isfinite(s.value) ? " is too far from the nominal frequency"
                                            : " is not a finite number");
      build.grid = Grid{};
      return build;
    }
    g.present[k] = 1;
    g.values[k] = v;
  }
  g.samples = static_cast<int64_t>(series.size());
  g.gaps = static_cast<int64_t>(slots) - g.samples;
  return build;
}

}  // namespace tauspan
