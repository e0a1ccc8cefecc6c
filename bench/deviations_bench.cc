// The standard statistics at 10^6 samples: the grid and its preparation, one
// averaging factor at a time, a whole octave sweep and a sampled sweep of
// every factor, with and without gaps, with AVX2 and without.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "deviations.h"
#include "difference_sums.h"

namespace tauspan {
namespace {

constexpr int64_t kSamples = 1000000;

// White frequency noise around 0.5 (or its running sum as phase), with one
// slot in a hundred empty when asked.
Grid make_test_grid(DataKind kind, bool gaps) {
  Grid g;
  g.kind = kind;
  g.values.resize(kSamples);
  g.present.assign(kSamples, 1);
  uint64_t x = 88172645463325252ull;
  double phase = 0;
  for (int64_t i = 0; i < kSamples; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const double y = static_cast<double>(x >> 11) * 0x1p-53;
    phase += y;
    g.values[static_cast<size_t>(i)] = kind == DataKind::kFrequency ? y : phase;
    if (gaps && x % 100 == 0) {
      g.present[static_cast<size_t>(i)] = 0;
      g.values[static_cast<size_t>(i)] = 0;
      ++g.gaps;
    }
  }
  g.samples = kSamples - g.gaps;
  return g;
}

const Grid& test_grid(int64_t kind, int64_t gaps) {
  static const Grid grids[2][2] = {
      {make_test_grid(DataKind::kFrequency, false), make_test_grid(DataKind::kFrequency, true)},
      {make_test_grid(DataKind::kPhase, false), make_test_grid(DataKind::kPhase, true)}};
  return grids[kind][gaps];
}

const PreparedGrid& prepared(int64_t kind, int64_t gaps) {
  static const PreparedGrid p[2][2] = {
      {prepare_grid(test_grid(0, 0)), prepare_grid(test_grid(0, 1))},
      {prepare_grid(test_grid(1, 0)), prepare_grid(test_grid(1, 1))}};
  return p[kind][gaps];
}

std::string label(Statistic s, int64_t kind, int64_t gaps, int64_t avx2) {
  return std::string(statistic_name(s)) + (kind ? " phase" : " frequency") + (gaps ? " gaps" : "") +
         (avx2 ? "" : " baseline");
}

// Samples 1 s apart with timestamps jittered by up to 0.1 ms, tau0 taken
// from the times.
void BM_MakeGrid(benchmark::State& state) {
  SampleSeries series(kSamples);
  uint64_t x = 88172645463325252ull;
  for (int64_t i = 0; i < kSamples; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const double jitter = (static_cast<double>(x >> 11) * 0x1p-53 - 0.5) * 2e-4;
    series[static_cast<size_t>(i)] = {1.7e9 + static_cast<double>(i) + jitter, 1e7 + jitter};
  }
  GridSettings settings;
  settings.nominal = 1e7;
  for (auto _ : state) benchmark::DoNotOptimize(make_grid(series, settings));
  state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_PrepareGrid(benchmark::State& state) {
  const Grid& g = test_grid(state.range(0), state.range(1));
  for (auto _ : state) benchmark::DoNotOptimize(prepare_grid(g));
  state.SetItemsProcessed(state.iterations() * kSamples);
  state.SetLabel(state.range(0) ? "phase" : "frequency");
}

// Args: statistic, kind, gaps, AVX2, m.
void BM_Deviation(benchmark::State& state) {
  const auto s = static_cast<Statistic>(state.range(0));
  const PreparedGrid& p = prepared(state.range(1), state.range(2));
  use_avx2(state.range(3) != 0);
  int64_t terms = 0;
  for (auto _ : state) {
    const Deviation d = deviation(p, s, state.range(4));
    benchmark::DoNotOptimize(d);
    terms += d.n;
  }
  state.SetItemsProcessed(terms);
  state.SetLabel(label(s, state.range(1), state.range(2), state.range(3)));
}

// Args: statistic, kind, gaps, AVX2. Every factor 1, 2, 4, ... up to the
// default largest.
void BM_OctaveSweep(benchmark::State& state) {
  const auto s = static_cast<Statistic>(state.range(0));
  const PreparedGrid& p = prepared(state.range(1), state.range(2));
  use_avx2(state.range(3) != 0);
  const int64_t last = default_max_factor(s, *p.grid);
  for (auto _ : state) {
    for (int64_t m = 1; m <= last; m *= 2) benchmark::DoNotOptimize(deviation(p, s, m));
  }
  state.SetLabel(label(s, state.range(1), state.range(2), state.range(3)));
}

// Args: statistic, kind. Every 1000th factor up to the largest with a term
// (what `-taus all` reaches); `all_m_seconds` is 1000 times the time of one
// such pass, the time of the whole sweep of every factor.
void BM_AllFactorsSampled(benchmark::State& state) {
  constexpr int64_t kEvery = 1000;
  const auto s = static_cast<Statistic>(state.range(0));
  const PreparedGrid& p = prepared(state.range(1), 0);
  use_avx2(true);
  const int64_t last = max_factor(s, *p.grid);
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (int64_t m = 1; m <= last; m += kEvery) benchmark::DoNotOptimize(deviation(p, s, m));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["all_m_seconds"] =
      benchmark::Counter(seconds * kEvery, benchmark::Counter::kAvgIterations);
  state.SetLabel(label(s, state.range(1), 0, 1));
}

void statistics_by_kind(benchmark::internal::Benchmark* b, bool with_variants) {
  for (int64_t s = 0; s < 6; ++s) {
    for (int64_t kind = 0; kind < 2; ++kind) {
      if (!with_variants) {
        b->Args({s, kind});
        continue;
      }
      for (int64_t gaps = 0; gaps < 2; ++gaps) b->Args({s, kind, gaps, 1});
      b->Args({s, kind, 0, 0});
    }
  }
}

BENCHMARK(BM_MakeGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareGrid)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Deviation)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5},
                   {0, 1},
                   {0},
                   {1},
                   {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768,
                    65536, 131072}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Deviation)
    ->ArgsProduct({{1, 4}, {0, 1}, {0, 1}, {0, 1}, {1, 64, 4096}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OctaveSweep)
    ->Apply([](benchmark::internal::Benchmark* b) { statistics_by_kind(b, true); })
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllFactorsSampled)
    ->Apply([](benchmark::internal::Benchmark* b) { statistics_by_kind(b, false); })
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tauspan
