// -fast on evenly spaced times: the table made once for a file, and the
// passes of the 100 logarithmic or linear taus of a default sweep on one
// thread, given a group at a time as the run gives them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "allan.h"
#include "fast_even.h"

namespace tauspan {
namespace {

// White noise at times 0, 1, 2, ...; values with nine decimals, as a
// counter's log holds them.
SampleSeries white_series(size_t n) {
  SampleSeries s(n);
  uint64_t x = 88172645463325252ull;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const double u = static_cast<double>(x >> 11) * 0x1p-53 - 0.5;
    s[i] = {static_cast<double>(i), std::round(u * 3.4e9) * 1e-9};
  }
  return s;
}

void BM_EvenTable(benchmark::State& state) {
  const SampleSeries s = white_series(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    SampleSeries copy = s;
    state.ResumeTiming();
    fast::EvenTable table;
    benchmark::DoNotOptimize(fast::take_even_table(copy, fast::even_times(copy), table));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EvenTable)->Arg(10000000)->Unit(benchmark::kMillisecond);

// Items are samples times taus.
void BM_EvenRows(benchmark::State& state) {
  SampleSeries s = white_series(static_cast<size_t>(state.range(0)));
  const TauRange r = tau_range(s, time_extent(s, {}), {});
  const bool log = state.range(1) != 0;
  const auto group = static_cast<size_t>(state.range(2));
  std::vector<double> taus;
  for (int k = 1; k <= 100; ++k) taus.push_back(tau_at(k, 100, r.min_tau, r.max_tau, log));
  fast::EvenTable table;
  if (!fast::take_even_table(s, fast::even_times(s), table)) state.SkipWithError("not even");
  for (auto _ : state) {
    for (size_t k = 0; k < taus.size(); k += group) {
      const size_t end = std::min(taus.size(), k + group);
      benchmark::DoNotOptimize(
          fast::even_rows(table, std::span<const double>(taus).subspan(k, end - k), 0));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 100);
}
BENCHMARK(BM_EvenRows)->ArgNames({"n", "log", "group"})
    ->Args({100000, 1, 6})->Args({10000000, 1, 1})->Args({10000000, 1, 6})->Args({10000000, 1, 16})
    ->Args({10000000, 0, 1})->Args({10000000, 0, 6})->Args({10000000, 0, 16})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tauspan
