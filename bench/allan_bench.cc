// The sweep of the default run, fast and literal, and the machine's own
// addition throughput and latency for comparison.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "allan.h"
#include "fast_sweep.h"
#include "fast_windows.h"
#include "reference.h"

namespace tauspan {
namespace {

SampleSeries even_series(size_t n) {
  SampleSeries s(n);
  double walk = 0;
  uint64_t x = 88172645463325252ull;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    walk += static_cast<double>(x >> 11) * 0x1p-53 - 0.5;
    s[i] = {static_cast<double>(i), 1e7 + walk};
  }
  return s;
}

// Additions of one sweep: each bin mean adds the time and the value of
// every sample in its window.
double sweep_additions(const SampleSeries& s, int32_t n, double lo, double hi, bool log) {
  double adds = 0;
  for (double k = 1; k <= n; k += 1) {
    const double tau = tau_at(k, n, lo, hi, log);
    size_t front = 0;
    for (size_t i = 1; i < s.size(); ++i) {
      if (tau > s[i].time - s[front].time) continue;
      adds += 2.0 * static_cast<double>(i - front);
      ++front;
    }
    if (s.back().time - s[front].time > 0.9 * tau) {
      adds += 2.0 * static_cast<double>(s.size() - front);
    }
  }
  return adds;
}

template <bool kLiteral>
void BM_Sweep(benchmark::State& state) {
  const SampleSeries s = even_series(static_cast<size_t>(state.range(0)));
  const bool log = state.range(1) != 0;
  const int32_t n = 100;
  const TauRange r = tau_range(s, time_extent(s, {}), {});
  if constexpr (!kLiteral) select_vector_width(static_cast<int>(state.range(2)));
  SampleSeries bins;
  for (auto _ : state) {
    double total = 0;
    for (double k = 1; k <= n; k += 1) {
      const double tau = tau_at(k, n, r.min_tau, r.max_tau, log);
      if constexpr (kLiteral) {
        bins = reference::average_bins(s, tau, true);
      } else {
        bins = average_bins(s, tau, true, std::move(bins));
      }
      if (bins.size() >= 2) total += allan_variance(bins, tau, 0);
    }
    benchmark::DoNotOptimize(total);
  }
  select_vector_width(0);
  state.counters["adds"] = benchmark::Counter(
      sweep_additions(s, n, r.min_tau, r.max_tau, log), benchmark::Counter::kIsIterationInvariantRate);
}

// Whole default sweeps (100 taus, overlap) of 10^5 evenly spaced samples; the
// "adds" rate is additions per second. The literal sweep takes minutes.
BENCHMARK(BM_Sweep<true>)->Name("BM_SweepLiteral")->ArgNames({"n", "log"})
    ->Args({100000, 0})->Args({100000, 1})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_Sweep<false>)->Name("BM_SweepFast")->ArgNames({"n", "log", "width"})
    ->Args({100000, 0, 8})->Args({100000, 0, 16})->Args({100000, 0, 32})
    ->Args({100000, 1, 32})->Unit(benchmark::kSecond);

// -fast: one tau of the default sweep at a time (the taus k = 1, 50 and 100
// of 100) on one thread, bins and variance, against one plain front-to-back
// pass over the same values. k = 100 spans more bins than the ring holds, so
// its lagging bins are made by a second walk.
void BM_FastTau(benchmark::State& state) {
  const SampleSeries s = even_series(static_cast<size_t>(state.range(0)));
  const TauRange r = tau_range(s, time_extent(s, {}), {});
  const std::vector<double> taus = {
      tau_at(static_cast<double>(state.range(1)), 100, r.min_tau, r.max_tau, false)};
  for (auto _ : state) benchmark::DoNotOptimize(fast_sweep(s, taus, true, 0, 1));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FastTau)->ArgNames({"n", "k"})
    ->Args({1000000, 1})->Args({1000000, 50})->Args({1000000, 100})
    ->Args({10000000, 1})->Args({10000000, 50})->Args({10000000, 100})->Unit(benchmark::kMillisecond);

// The one-time part of every BM_FastTau: how -fast will sum the series.
void BM_FastPlan(benchmark::State& state) {
  const SampleSeries s = even_series(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(fast::plan_series(s));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FastPlan)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);

void BM_PlainSum(benchmark::State& state) {
  const SampleSeries s = even_series(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    double sum = 0;
    for (const Sample& x : s) sum += x.value;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlainSum)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);

// Independent additions at the machine's peak: 16 accumulators in registers,
// no loads. Not reassociated (no -ffast-math), so every addition happens.
typedef double Lanes __attribute__((vector_size(64)));

[[gnu::target("avx512f")]] [[gnu::noipa]] double add_throughput(double step, int64_t rounds) {
  const Lanes v = Lanes{} + step;
  Lanes a0{}, a1{}, a2{}, a3{}, a4{}, a5{}, a6{}, a7{}, a8{}, a9{}, a10{}, a11{}, a12{}, a13{},
      a14{}, a15{};
  for (int64_t r = 0; r < rounds; ++r) {
    a0 += v, a1 += v, a2 += v, a3 += v, a4 += v, a5 += v, a6 += v, a7 += v;
    a8 += v, a9 += v, a10 += v, a11 += v, a12 += v, a13 += v, a14 += v, a15 += v;
    // Keeps every chain in its register and stops the compiler from folding it.
    asm("" : "+v"(a0), "+v"(a1), "+v"(a2), "+v"(a3), "+v"(a4), "+v"(a5), "+v"(a6), "+v"(a7));
    asm("" : "+v"(a8), "+v"(a9), "+v"(a10), "+v"(a11), "+v"(a12), "+v"(a13), "+v"(a14), "+v"(a15));
  }
  const Lanes t = ((a0 + a1) + (a2 + a3)) + ((a4 + a5) + (a6 + a7)) + ((a8 + a9) + (a10 + a11)) +
                  ((a12 + a13) + (a14 + a15));
  double sum = 0;
  for (int j = 0; j < 8; ++j) sum += t[j];
  return sum;
}

void BM_AddThroughput(benchmark::State& state) {
  if (!__builtin_cpu_supports("avx512f")) {
    state.SkipWithError("no AVX-512 on this machine");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(add_throughput(1.0, 100000));
  state.counters["adds"] =
      benchmark::Counter(128.0 * 100000, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AddThroughput);

// One chain of dependent additions: what a front-to-back sum costs alone.
void BM_AddLatency(benchmark::State& state) {
  std::vector<double> x(2048, 1.0);
  for (auto _ : state) {
    double sum = 0;
    for (int r = 0; r < 100; ++r) {
      for (const double v : x) sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["adds"] =
      benchmark::Counter(2048.0 * 100, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AddLatency);

}  // namespace
}  // namespace tauspan
