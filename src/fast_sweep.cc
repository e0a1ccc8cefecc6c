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

using fast::EvenTable;
using fast::LeanBin;
using fast::LeanPrefix;

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

[[gnu::always_inline]] inline FastRow finish(FastRow row, const Squares& squares) {
  if (squares.count > 0) {
    const double sum = squares.wild != 0 ? squares.wild + squares.sum.hi
                                         : squares.sum.hi + squares.sum.lo;
    row.avar = (sum / static_cast<double>(squares.count)) * 0.5;
  }
  return row;
}

// The lean loop, for windows of up to plan.lean_count samples: every sample
// on the grid and every window sum below 2^62. The prefix sums then run in
// 64 bits, wrapping as they may: the difference of two is still the window's
// exact sum. They are made once for all taus, into a table as large as the
// series, so that a bin is two lookups and two subtractions. Each step below
// does what the general code does for such a series, on the same numbers, so
// the bits are the same.
// prefix[i] holds the sums over [0, i).
std::vector<LeanPrefix> lean_prefixes(const SampleSeries& series, const fast::SeriesPlan& p) {
  std::vector<LeanPrefix> prefix(series.size() + 1);
  const fast::Lanes offset{p.offset[0], p.offset[1]};
  const fast::Lanes to_grid{p.to_grid[0], p.to_grid[1]};
  LeanPrefix sum{0, 0};
  prefix[0] = sum;
  for (size_t i = 0; i < series.size(); ++i) {
    const fast::Lanes g = (fast::lanes_of(series[i]) - offset) * to_grid;
    sum.time += static_cast<uint64_t>(static_cast<int64_t>(g[0]));
    sum.value += static_cast<uint64_t>(static_cast<int64_t>(g[1]));
    prefix[i + 1] = sum;
  }
  return prefix;
}

struct LeanWindows {
  const Sample* s;
  const LeanPrefix* prefix;
  size_t n;
  double tau;
  bool overlap;
  const fast::SeriesPlan* plan;
  size_t first = 0;
  size_t i = 1;
  bool done = false;
  size_t last_count = 0;  // 1 / count only when the count changes
  double last_inverse = 0;
  bool power_of_two = false;  // last_count is one
  // Whether a grid step over a count up to 2^62 stays a normal double.
  bool scale_exact;

  LeanWindows(const SampleSeries& series, const LeanPrefix* prefix_, double tau_, bool overlap_,
              const fast::SeriesPlan& p)
      : s(series.data()), prefix(prefix_), n(series.size()), tau(tau_), overlap(overlap_),
        plan(&p), scale_exact(p.from_grid[0] >= 0x1p-960 && p.from_grid[0] <= 0x1p900) {}

  [[gnu::always_inline]] void make(size_t begin, size_t end, LeanBin& bin) {
    const size_t count = end - begin;
    if (count != last_count) {
      last_count = count;
      last_inverse = 1 / static_cast<double>(count);
      power_of_two = std::has_single_bit(count);
    }
    bin.count = count;
    bin.inverse = last_inverse;
    bin.grid_time = static_cast<int64_t>(prefix[end].time - prefix[begin].time);
    bin.grid_value = static_cast<int64_t>(prefix[end].value - prefix[begin].value);
    const double q = static_cast<double>(bin.grid_time) * plan->from_grid[0] * bin.inverse;
    bin.time = plan->offset[0] + q;
    bin.slack = 0x1p-49 * (std::fabs(q) + std::fabs(bin.time));
    // Over a power of two a sum of at most 53 bits divides exactly, and the
    // estimate is the mean rounded once, as exact_time would give it. Evenly
    // spaced times tie with the threshold often; this spares those the long way.
    const uint64_t magnitude = bin.grid_time < 0 ? 0 - static_cast<uint64_t>(bin.grid_time)
                                                 : static_cast<uint64_t>(bin.grid_time);
    if (power_of_two && scale_exact && magnitude <= (uint64_t{1} << 53)) bin.slack = 0;
  }

  [[gnu::always_inline]] bool next(LeanBin& bin) { return fast::next_from_table(*this, bin); }
};

// As fast::exact_time for an exact bin.
[[gnu::always_inline]] inline double exact_time(const LeanBin& bin, const fast::SeriesPlan& p) {
  if (bin.slack == 0) return bin.time;
  const dd::Num sum = fast::scaled(fast::to_dd(bin.grid_time), p.from_grid[0]);
  return fast::mean_of(sum, static_cast<double>(bin.count), bin.inverse, p.offset[0]);
}

// As fast::far_enough.
[[gnu::always_inline]] inline bool far_enough(const LeanBin& lead, const LeanBin& lag,
                                              double threshold, const fast::SeriesPlan& p) {
  const double gap = lead.time - lag.time;
  if (lead.slack == 0 && lag.slack == 0) return !(threshold > gap);
  const double margin = 2 * (lead.slack + lag.slack) + 0x1p-51 * std::fabs(gap);
  if (threshold > gap + margin) return false;
  if (threshold < gap - margin) return true;
  return !(threshold > exact_time(lead, p) - exact_time(lag, p));
}

// As fast::value_difference for two exact bins; the difference of two
// sums below 2^62 fits in 64 bits.
[[gnu::always_inline]] inline dd::Num value_difference(const LeanBin& lag, const LeanBin& lead,
                                                       const fast::SeriesPlan& p) {
  if (lag.count == lead.count) {
    return {static_cast<double>(lag.grid_value - lead.grid_value) * p.from_grid[1] * lag.inverse, 0};
  }
  const int64_t v[2] = {lag.grid_value, lead.grid_value};
  const size_t c[2] = {lag.count, lead.count};
  const double inv[2] = {lag.inverse, lead.inverse};
  dd::Num q[2];
  for (int k = 0; k < 2; ++k) {
    q[k] = fast::quotient(fast::scaled(fast::to_dd(v[k]), p.from_grid[1]),
                          static_cast<double>(c[k]), inv[k]);
  }
  return dd::sub(q[0], q[1]);
}

// Empty when a window outgrows plan.lean_count. The lagging bins are kept
// in the ring while they fit, as in one_tau below, else walked again.
[[gnu::always_inline]] inline std::optional<FastRow> lean_tau(const SampleSeries& series,
                                                              const fast::SeriesPlan& plan,
                                                              const LeanPrefix* prefix,
                                                              double tau, bool overlap,
                                                              double jitter,
                                                              std::vector<LeanBin>& ring) {
  const double threshold = tau * (1.0 - jitter);
  LeanWindows leads(series, prefix, tau, overlap, plan);
  FastRow row;
  Squares squares;
  const size_t mask = ring.size() - 1;
  size_t lag = 0;
  // While the ring holds every bin from the lagging one on.
  while (row.bins - lag < ring.size()) {
    LeanBin& lead = ring[row.bins & mask];
    if (!leads.next(lead)) return finish(row, squares);
    // Every lagging bin has been a leading one.
    if (lead.count > plan.lean_count) return std::nullopt;
    ++row.bins;
    const LeanBin& lagging = ring[lag & mask];
    if (!far_enough(lead, lagging, threshold, plan)) continue;
    squares.add(value_difference(lagging, lead, plan));
    ++lag;
  }
  // Then the lagging bins are walked again.
  LeanWindows lags(series, prefix, tau, overlap, plan);
  LeanBin lead{};
  LeanBin lagging{};
  for (size_t j = 0; j <= lag; ++j) lags.next(lagging);
  while (leads.next(lead)) {
    if (lead.count > plan.lean_count) return std::nullopt;
    ++row.bins;
    if (!far_enough(lead, lagging, threshold, plan)) continue;
    squares.add(value_difference(lagging, lead, plan));
    lags.next(lagging);
  }
  return finish(row, squares);
}

// The pairing's steps for the cursors' bins and for the table's.
[[gnu::always_inline]] inline bool missing(const fast::Bin& bin) {
  return bin.mean.value == kMissing;
}
[[gnu::always_inline]] inline bool missing(const fast::TableBin&) { return false; }

template <typename Walk>
[[gnu::always_inline]] inline bool apart(const Walk&, const fast::Bin& lead, const fast::Bin& lag,
                                         double threshold, const fast::SeriesPlan& plan) {
  return fast::far_enough(lead, lag, threshold, plan);
}
[[gnu::always_inline]] inline bool apart(const fast::TableWindows& walk, const fast::TableBin& lead,
                                         const fast::TableBin& lag, double threshold,
                                         const fast::SeriesPlan& plan) {
  return fast::far_enough(lead, lag, threshold, plan, walk.prefix);
}

[[gnu::always_inline]] inline dd::Num difference(const fast::Bin& lag, const fast::Bin& lead,
                                                 const fast::SeriesPlan& plan) {
  return fast::value_difference(lag, lead, plan);
}
[[gnu::always_inline]] inline dd::Num difference(const fast::TableBin& lag,
                                                 const fast::TableBin& lead,
                                                 const fast::SeriesPlan&) {
  return fast::value_difference(lag, lead);
}

// Bins from the lagging one to the leading one are kept in a ring while they
// fit (taus up to about that many samples); past that the lagging bins are
// made again by a second walk of the series, so memory stays flat however
// many bins lie between. Either way a bin comes out the same bits: a prefix
// sum depends only on where it stands. `leads` is a fresh fast::Windows or
// fast::TableWindows of the tau.
template <typename Walk, typename Bin>
[[gnu::always_inline]] inline FastRow one_tau(Walk leads, const fast::SeriesPlan& plan,
                                              double tau, double jitter, std::vector<Bin>& ring) {
  const double threshold = tau * (1.0 - jitter);
  Walk lags = leads;  // for the second walk
  FastRow row;
  Squares squares;
  const size_t mask = ring.size() - 1;
  size_t lag = 0;  // the index of the lagging bin
  // While the ring holds every bin from the lagging one on, each bin is made
  // in its slot.
  while (row.bins - lag < ring.size()) {
    Bin& lead = ring[row.bins & mask];
    if (!leads.next(lead)) return finish(row, squares);
    ++row.bins;
    const Bin& lagging = ring[lag & mask];
    if (missing(lead)) continue;
    if (!apart(leads, lead, lagging, threshold, plan)) continue;
    squares.add(difference(lagging, lead, plan));
    ++lag;
  }
  // Then the lagging bins are walked again.
  Bin lead{};
  Bin lagging{};
  for (size_t j = 0; j <= lag; ++j) lags.next(lagging);
  while (leads.next(lead)) {
    ++row.bins;
    if (missing(lead)) continue;
    if (!apart(leads, lead, lagging, threshold, plan)) continue;
    squares.add(difference(lagging, lead, plan));
    lags.next(lagging);
  }
  return finish(row, squares);
}

[[gnu::always_inline]] inline FastRow any_tau(const FastShared& w, double tau,
                                              FastScratch& rings) {
  const SampleSeries& series = *w.series;
  const fast::SeriesPlan& plan = w.plan;
  const bool overlap = w.overlap;
  const double jitter = w.jitter;
  if (plan.lean_count > 0) {
    const std::optional<FastRow> row =
        lean_tau(series, plan, w.prefix.data(), tau, overlap, jitter, rings.lean);
    if (row) return *row;
  }
  if (!w.pair_prefix.empty()) {
    return one_tau(fast::TableWindows(series, w.pair_prefix.data(), tau, overlap, plan), plan, tau,
                   jitter, rings.table);
  }
  if (plan.on_grid) {
    return one_tau(fast::Windows<false, fast::GridSum>(series, tau, overlap, plan), plan, tau,
                   jitter, rings.bins);
  }
  return one_tau(fast::Windows<false, fast::PairSum>(series, tau, overlap, plan), plan, tau,
                 jitter, rings.bins);
}

[[gnu::target("avx2,fma")]] FastRow tau_fma(const FastShared& w, double tau,
                                            FastScratch& rings) {
  return any_tau(w, tau, rings);
}

FastRow tau_plain(const FastShared& w, double tau, FastScratch& rings) {
  return any_tau(w, tau, rings);
}

}  // namespace

FastShared share_fast_sweep(const SampleSeries& series, bool overlap, double jitter,
                             size_t ring, bool lean) {
  FastShared shared;
  shared.series = &series;
  shared.overlap = overlap;
  shared.jitter = jitter;
  if (series.empty()) return shared;
  shared.plan = fast::plan_series(series);
  if (!lean) shared.plan.lean_count = 0;
  // A tau has at most as many bins as samples.
  shared.ring_size = std::bit_ceil(std::clamp<size_t>(ring, 1, series.size()));
  if (shared.plan.lean_count > 0) shared.prefix = lean_prefixes(series, shared.plan);
  if (lean) shared.pair_prefix = fast::pair_prefixes(series, shared.plan);
  return shared;
}

FastShared take_fast_sweep(SampleSeries&& series, bool overlap, double jitter) {
  const fast::EvenTimes times = fast::even_times(series);
  return take_fast_sweep(std::move(series), overlap, jitter, times, 1);
}

FastShared take_fast_sweep(SampleSeries&& series, bool overlap, double jitter,
                           fast::EvenTimes times, int threads) {
  {
    if (EvenTable table; fast::take_even_table(series, times, table, threads)) {
      FastShared shared;
      shared.overlap = overlap;
      shared.jitter = jitter;
      shared.even = std::make_shared<const fast::EvenTable>(std::move(table));
      return shared;
    }
  }
  auto owned = std::make_shared<const SampleSeries>(std::move(series));
  series = SampleSeries{};
  FastShared shared = share_fast_sweep(*owned, overlap, jitter);
  shared.owned = std::move(owned);
  return shared;
}

// The general ring serves only taus that neither table serves.
FastScratch fast_scratch(const FastShared& shared) {
  FastScratch scratch;
  if (shared.series == nullptr) return scratch;
  if (!shared.pair_prefix.empty()) {
    scratch.table.resize(shared.ring_size);
  } else if (shared.plan.lean_count < shared.series->size()) {
    scratch.bins.resize(shared.ring_size);
  }
  if (shared.plan.lean_count > 0) scratch.lean.resize(shared.ring_size);
  return scratch;
}

std::vector<FastRow> fast_taus(const FastShared& shared, std::span<const double> taus,
                               FastScratch& scratch) {
  std::vector<FastRow> rows(taus.size());
  if (shared.even) {
    const std::vector<fast::EvenRow> even =
        shared.overlap ? fast::even_rows(*shared.even, taus, shared.jitter)
                       : fast::even_rows_disjoint(*shared.even, taus, shared.jitter);
    for (size_t k = 0; k < taus.size(); ++k) rows[k] = {even[k].avar, even[k].bins};
    return rows;
  }
  for (size_t k = 0; k < taus.size(); ++k) rows[k] = fast_tau(shared, taus[k], scratch);
  return rows;
}

FastRow fast_tau(const FastShared& shared, double tau, FastScratch& scratch) {
  if (shared.even) return fast_taus(shared, std::span<const double>(&tau, 1), scratch)[0];
  if (shared.series == nullptr || shared.series->empty()) return {};
  const auto one = fast::cpu_has_fma() ? tau_fma : tau_plain;
  return one(shared, tau, scratch);
}

std::vector<FastRow> fast_sweep(const SampleSeries& series, const std::vector<double>& taus,
                                bool overlap, double jitter, int threads, size_t ring,
                                bool lean) {
  std::vector<FastRow> rows(taus.size());
  if (series.empty() || taus.empty()) return rows;
  const FastShared shared = share_fast_sweep(series, overlap, jitter, ring, lean);
  size_t workers = threads > 0 ? static_cast<size_t>(threads) : std::thread::hardware_concurrency();
  workers = std::clamp<size_t>(workers, 1, taus.size());
  // Allocated here, so that a shortage is this thread's exception.
  std::vector<FastScratch> scratch;
  for (size_t t = 0; t < workers; ++t) scratch.push_back(fast_scratch(shared));
  std::atomic<size_t> next{0};
  auto work = [&](size_t worker) {
    for (size_t k; (k = next.fetch_add(1)) < taus.size();) {
      rows[k] = fast_tau(shared, taus[k], scratch[worker]);
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

}  // namespace tauspan
