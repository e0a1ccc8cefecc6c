// The -fast sweep: per tau one walk of the series by the window ends of the
// leading bins, and for long taus a second one for the lagging bins.
#include "fast_sweep.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <optional>
#include <system_error>
#include <thread>

#include "fast_windows.h"

namespace tauspan {
namespace {

// d^2 summed in double-double, with anything infinite or NaN kept apart so
// that it comes out as a plain sum would give it.
struct Squares {
  dd::Num sum;
  double wild = 0;
  int64_t count = 0;

  [[gnu::always_inline]] void add(dd::Num d) {
    ++count;
    const double p = d.hi * d.hi;
    if (!std::isfinite(p)) [[unlikely]] {
      wild += p;
      return;
    }
    const double e = std::fma(d.hi, d.hi, -p) + 2 * d.hi * d.lo;
    const dd::Num s = dd::two_sum(sum.hi, p);  // p >= 0: no cancellation, lo stays small
    sum = {s.hi, sum.lo + (s.lo + e)};
  }
};

// Bins from the lagging one to the leading one are kept in a ring while they
// fit (taus up to about that many samples); past that the lagging bins are
// made again by a second walk of the series, so memory stays flat however
// many bins lie between. Either way a bin comes out the same bits: a prefix
// sum depends only on where it stands.
template <typename Sum>
[[gnu::always_inline]] inline FastRow one_tau(const SampleSeries& series,
                                              const fast::SeriesPlan& plan, double tau,
                                              bool overlap, double jitter,
                                              std::vector<fast::Bin>& ring) {
  const double threshold = tau * (1.0 - jitter);
  fast::Windows<false, Sum> leads(series, tau, overlap, plan);
  std::optional<fast::Windows<false, Sum>> lags;  // once the ring is outgrown
  fast::Bin spare;
  fast::Bin replayed;
  FastRow row;
  Squares squares;
  const size_t mask = ring.size() - 1;
  size_t lag = 0;  // the index of the lagging bin
  for (;;) {
    // Made where it is kept: a ring slot while the ring holds every bin from
    // the lagging one on, else the spare.
    const size_t k = row.bins;
    const bool kept = !lags && k - lag < ring.size();
    fast::Bin& lead = kept ? ring[k & mask] : spare;
    if (!leads.next(lead)) break;
    ++row.bins;
    if (!kept && !lags) {
      lags.emplace(series, tau, overlap, plan);
      for (size_t j = 0; j <= lag; ++j) lags->next(replayed);
    }
    const fast::Bin& lagging = lags ? replayed : ring[lag & mask];
    if (lead.mean.value == kMissing) continue;
    if (!fast::far_enough(lead, lagging, threshold, plan)) continue;
    squares.add(fast::value_difference(lagging, lead, plan));
    ++lag;
    if (lags) lags->next(replayed);
  }
  if (squares.count > 0) {
    const double sum = squares.wild != 0 ? squares.wild + squares.sum.hi
                                         : squares.sum.hi + squares.sum.lo;
    row.avar = (sum / static_cast<double>(squares.count)) * 0.5;
  }
  return row;
}

[[gnu::always_inline]] inline FastRow any_tau(const SampleSeries& series,
                                              const fast::SeriesPlan& plan, double tau,
                                              bool overlap, double jitter,
                                              std::vector<fast::Bin>& ring) {
  return plan.on_grid ? one_tau<fast::GridSum>(series, plan, tau, overlap, jitter, ring)
                      : one_tau<fast::PairSum>(series, plan, tau, overlap, jitter, ring);
}

[[gnu::target("avx2,fma")]] FastRow tau_fma(const SampleSeries& series,
                                            const fast::SeriesPlan& plan, double tau,
                                            bool overlap, double jitter,
                                            std::vector<fast::Bin>& ring) {
  return any_tau(series, plan, tau, overlap, jitter, ring);
}

FastRow tau_plain(const SampleSeries& series, const fast::SeriesPlan& plan, double tau,
                  bool overlap, double jitter, std::vector<fast::Bin>& ring) {
  return any_tau(series, plan, tau, overlap, jitter, ring);
}

}  // namespace

std::vector<FastRow> fast_sweep(const SampleSeries& series, const std::vector<double>& taus,
                                bool overlap, double jitter, int threads, size_t ring) {
  std::vector<FastRow> rows(taus.size());
  if (series.empty() || taus.empty()) return rows;
  const fast::SeriesPlan plan = fast::plan_series(series);
  const auto one = fast::cpu_has_fma() ? tau_fma : tau_plain;
  size_t workers = threads > 0 ? static_cast<size_t>(threads) : std::thread::hardware_concurrency();
  workers = std::clamp<size_t>(workers, 1, taus.size());
  // Allocated here, so that a shortage is this thread's exception.
  // A tau has at most as many bins as samples.
  const size_t ring_size = std::bit_ceil(std::clamp<size_t>(ring, 1, series.size()));
  std::vector<std::vector<fast::Bin>> rings(workers, std::vector<fast::Bin>(ring_size));
  std::atomic<size_t> next{0};
  auto work = [&](size_t worker) {
    for (size_t k; (k = next.fetch_add(1)) < taus.size();) {
      rows[k] = one(series, plan, taus[k], overlap, jitter, rings[worker]);
    }
  };
  std::vector<std::thread> pool;
  try {
    for (size_t t = 1; t < workers; ++t) pool.emplace_back(work, t);
  } catch (const std::system_error&) {
    // Fewer threads than asked for: the taus are shared among those there are.
  }
  work(0);
  for (std::thread& t : pool) t.join();
  return rows;
}

FastSeries plan_fast_sweep(const SampleSeries& series) {
  return {&series, fast::plan_series(series)};
}

std::vector<fast::Bin> fast_ring(const SampleSeries& series, size_t ring) {
  return std::vector<fast::Bin>(std::bit_ceil(std::clamp<size_t>(ring, 1, series.size())));
}

FastRow fast_tau(const FastSeries& fast, double tau, bool overlap, double jitter,
                 std::vector<fast::Bin>& ring) {
  if (fast.series->empty()) return {};
  const auto one = fast::cpu_has_fma() ? tau_fma : tau_plain;
  return one(*fast.series, fast.plan, tau, overlap, jitter, ring);
}

}  // namespace tauspan
