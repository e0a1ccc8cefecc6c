// Bin means from running sums (-fast): the windows of average_bins, each mean
// from the difference of two prefix sums (see fast_windows.h).
#include "allan.h"
#include "fast_windows.h"

namespace tauspan {
namespace {

template <typename Sum>
[[gnu::always_inline]] inline void collect(const SampleSeries& series, double tau, bool overlap,
                                           const fast::SeriesPlan& plan, SampleSeries& bins) {
  fast::Windows<true, Sum> windows(series, tau, overlap, plan);
  fast::Bin bin;
  while (windows.next(bin)) bins.push_back(bin.mean);
}

// The same code, compiled once more for CPUs with FMA.
[[gnu::target("avx2,fma")]] void collect_fma(const SampleSeries& series, double tau,
                                             bool overlap, const fast::SeriesPlan& plan,
                                             SampleSeries& bins) {
  if (plan.on_grid) {
    collect<fast::GridSum>(series, tau, overlap, plan, bins);
  } else {
    collect<fast::PairSum>(series, tau, overlap, plan, bins);
  }
}

void collect_plain(const SampleSeries& series, double tau, bool overlap,
                   const fast::SeriesPlan& plan, SampleSeries& bins) {
  if (plan.on_grid) {
    collect<fast::GridSum>(series, tau, overlap, plan, bins);
  } else {
    collect<fast::PairSum>(series, tau, overlap, plan, bins);
  }
}

}  // namespace

SampleSeries average_bins_running(const SampleSeries& series, double tau, bool overlap,
                                  SampleSeries reuse) {
  SampleSeries bins = std::move(reuse);
  bins.clear();
  if (series.empty()) return bins;
  const fast::SeriesPlan plan = fast::plan_series(series);
  if (fast::cpu_has_fma()) {
    collect_fma(series, tau, overlap, plan, bins);
  } else {
    collect_plain(series, tau, overlap, plan, bins);
  }
  return bins;
}

}  // namespace tauspan
