// Samples placed on slots of tau0: the sampling interval, the slot of each
// sample, and the checks that keep a grid what the statistics assume.
#include "grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sys/mman.h>

#include "fast_even.h"
#include "median_select.h"
#include "sample_blocks.h"

namespace tauspan {
namespace {

// The shortest text that reads back as x.
std::string number(double x) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
}

// The median of the steps between consecutive times, in file order; NaN for
// fewer than two samples. Walked rather than copied: the steps would cost
// half the samples' memory again.
double median_step(const SampleSeries& series) {
  if (series.size() < 2) return std::nan("");
  return median_of_walk([&](auto&& take) {
    for (size_t i = 0; i + 1 < series.size(); ++i) take(series[i + 1].time - series[i].time);
  });
}

// The slot of a time, unrounded.
double position(double t, double t_first, double tau0) { return (t - t_first) / tau0; }

// std::round(p), without a call for the positions of a grid: p - trunc(p)
// is exact below 2^52, so the half is seen as std::round sees it.
double round_position(double p) {
  if (!(p >= 0 && p < 0x1p52)) return std::round(p);
  const auto whole = static_cast<double>(static_cast<int64_t>(p));
  return p - whole >= 0.5 ? whole + 1 : whole;
}

int64_t slot_of(double t, double t_first, double tau0) {
  return static_cast<int64_t>(round_position(position(t, t_first, tau0)));
}

// The median step of jittered times is off by about the jitter over
// sqrt(N), and a slot number multiplies that error: a long record would
// drift out of its slots (a 1 kHz log with 0.1 ms jitter within seconds).
// So tau0 is refined in stages of slots [2^s, 2^(s+1)) from 16 on: each
// sample of a stage, placed by the estimate from the stages before, gives
// (t - t_first) / slot, and the median of those is the next estimate. The
// errors of an estimate shrink as fast as the slot numbers grow. Times are
// taken to increase in file order; a sample behind its stage does not vote.
// Exactly periodic times keep their period. A stage's votes are the samples
// from where it began to where the next begins, made again for each pass of
// the median; where they are all one number (exactly periodic times), that
// is seen as they are first made and is the median.
double refined_step(const SampleSeries& series, double tau0) {
  const double t_first = series.front().time;
  double begin = 16;
  double end = 32;
  size_t stage_start = 0;
  size_t votes = 0;
  double low = 0;
  double high = 0;
  auto refine = [&](size_t stage_end) {
    const double stage_tau0 = tau0;
    const double stage_begin = begin;
    if (votes > 0 && low == high && !(low == 0 && std::signbit(low))) {
      tau0 = low;
    } else if (votes > 0) {
      tau0 = median_of_walk([&](auto&& take) {
        for (size_t i = stage_start; i < stage_end; ++i) {
          const double p = position(series[i].time, t_first, stage_tau0);
          if (p >= stage_begin) take((series[i].time - t_first) / round_position(p));
        }
      });
    }
    stage_start = stage_end;
    votes = 0;
  };
  size_t i = 0;
  for (; i < series.size(); ++i) {
    double p = position(series[i].time, t_first, tau0);
    if (!std::isfinite(p)) break;
    if (p >= end) {
      refine(i);
      p = position(series[i].time, t_first, tau0);
      while (p >= end) {
        begin = end;
        end *= 2;
      }
    }
    if (p >= begin) {
      // A vote is never NaN: p is finite and at least 16.
      const double r = (series[i].time - t_first) / round_position(p);
      low = votes == 0 ? r : std::min(low, r);
      high = votes == 0 ? r : std::max(high, r);
      ++votes;
    }
  }
  refine(i);
  return tau0;
}

// Samples placed between releases of the pages they came from: 4 MB of them.
constexpr size_t kReleaseEvery = size_t{1} << 18;
constexpr uintptr_t kReleaseAlign = uintptr_t{1} << 21;  // whole huge pages

// Gives back to the system the whole pages among the first `upto` samples
// that are not yet given back (from `*released` on); they read as zeros
// after, and nothing reads them again.
void release_samples(const SampleSeries& series, size_t upto, uintptr_t* released) {
  const auto base = reinterpret_cast<uintptr_t>(series.data());
  const uintptr_t from = std::max(*released, (base + kReleaseAlign - 1) & ~(kReleaseAlign - 1));
  const uintptr_t to = (base + upto * sizeof(Sample)) & ~(kReleaseAlign - 1);
  if (to <= from) return;
  // A failure only leaves the pages where they were.
  ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  *released = to;
}

// make_grid; with `consume`, the samples' pages are given back as they are
// placed, so that the series and the grid are not held whole at once.
GridBuild make_grid_from(const SampleSeries& series, const GridSettings& settings, bool consume) {
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

  // Times exactly one tau0 apart put sample i in slot i: every check below
  // passes for them but a value's, so only the values are walked.
  if (const fast::EvenTimes even = fast::even_times(series); even.even && even.dt == g.tau0) {
    bool finite = true;
    for (const Sample& s : series) {
      finite = finite && std::isfinite(g.nominal != 0 ? s.value - g.nominal : s.value);
    }
    if (finite) {
      const size_t n = series.size();
      g.present.assign(n, 1);
      g.values.reserve(n + 1);  // as below
      advise_huge_pages(g.values.data(), g.values.capacity() * sizeof(double));
      uintptr_t released = 0;
      for (size_t i = 0; i < n; ++i) {
        const Sample& s = series[i];
        g.values.push_back(g.nominal != 0 ? s.value - g.nominal : s.value);
        if (consume && i % kReleaseEvery == 0) release_samples(series, i, &released);
      }
      g.samples = static_cast<int64_t>(n);
      g.gaps = 0;
      return build;
    }
  }

  // Every time is checked before anything is sized by it, so that a stray
  // huge time costs an error rather than a huge allocation; a time error
  // anywhere is the one reported. The same pass marks the slots, with the
  // checks that may refuse the samples; the values come once nothing can
  // fail, so that a consumed series is whole for every message. The marks
  // have room reserved for the most slots allowed, which costs memory only
  // as far as they are written.
  const double t_first = series.front().time;
  const auto count = static_cast<double>(series.size());
  const double max_position = std::min(kMaxSlotsPerSample * count + kSlotAllowance, 0x1p31);
  g.present.reserve(static_cast<size_t>(max_position) + 1);
  std::string refusal;  // two samples in a slot or a value that is not finite
  double last = 0;
  for (const Sample& s : series) {
    if (s.time < t_first) {
      build.error = "the sample at time " + number(s.time) +
                    " comes before the first sample (time " + number(t_first) + ")";
      build.grid = Grid{};
      return build;
    }
    const double p = position(s.time, t_first, g.tau0);
    if (!(p + 0.5 < max_position)) {
      build.error = "the sample at time " + number(s.time) + " lies " + number(std::round(p)) +
                    " steps of tau0 " + number(g.tau0) + " after the first (time " +
                    number(t_first) + "): more slots than " + number(kMaxSlotsPerSample) +
                    " per sample plus " + number(kSlotAllowance) + " would be mostly gaps";
      build.grid = Grid{};
      return build;
    }
    last = std::max(last, p);
    if (!refusal.empty()) continue;
    const auto k = static_cast<size_t>(round_position(p));
    if (k == g.present.size()) {
      g.present.push_back(0);
    } else if (k > g.present.size()) {
      g.present.resize(k + 1, 0);
    }
    if (g.present[k]) {
      const auto first = std::find_if(series.begin(), series.end(), [&](const Sample& o) {
        return static_cast<size_t>(slot_of(o.time, t_first, g.tau0)) == k;
      });
      refusal = "samples at times " + number(first->time) + " and " + number(s.time) +
                " fall in one slot of tau0 " + number(g.tau0);
      continue;
    }
    // v - f0 is exact when v lies within a factor 2 of f0 (Sterbenz).
    const double v = g.nominal != 0 ? s.value - g.nominal : s.value;
    if (!std::isfinite(v)) {
      refusal = "the value " + number(s.value) + " at time " + number(s.time) +
                (std::isfinite(s.value) ? " is too far from the nominal frequency"
                                        : " is not a finite number");
      continue;
    }
    g.present[k] = 1;
  }
  if (!refusal.empty()) {
    build.error = refusal;
    build.grid = Grid{};
    return build;
  }
  const auto slots = static_cast<size_t>(std::round(last)) + 1;
  g.present.resize(slots, 0);
  // Filled in file order, so that the pages of the values are first touched
  // as those of the samples go back. One more than the slots is reserved:
  // prepare_grid_taking_values turns the values into a prefix sum in place.
  g.values.reserve(slots + 1);
  advise_huge_pages(g.values.data(), g.values.capacity() * sizeof(double));
  uintptr_t released = 0;
  for (size_t i = 0; i < series.size(); ++i) {
    const Sample& s = series[i];
    const auto k = static_cast<size_t>(slot_of(s.time, t_first, g.tau0));
    const double v = g.nominal != 0 ? s.value - g.nominal : s.value;
    while (g.values.size() < k) g.values.push_back(0.0);
    if (k == g.values.size()) {
      g.values.push_back(v);
    } else {
      g.values[k] = v;
    }
    if (consume && i % kReleaseEvery == 0) release_samples(series, i, &released);
  }
  g.values.resize(slots);
  g.samples = static_cast<int64_t>(series.size());
  g.gaps = static_cast<int64_t>(slots) - g.samples;
  return build;
}

}  // namespace

GridBuild make_grid(const SampleSeries& series, const GridSettings& settings) {
  return make_grid_from(series, settings, false);
}

GridBuild make_grid(SampleSeries&& series, const GridSettings& settings) {
  GridBuild build = make_grid_from(series, settings, true);
  series = SampleSeries();
  return build;
}

}  // namespace tauspan
