// The long-term statistics on white-FM frequency series of 10^4, 10^5 and
// 10^6 samples at octave averaging factors up to each statistic's largest,
// and Thêo1 against its literal double loop.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "long_term_series.h"
#include "theo1.h"
#include "time_error.h"
#include "total_deviations.h"

namespace tauspan {
namespace {

Grid white_fm(int64_t n) {
  Grid g;
  g.kind = DataKind::kFrequency;
  g.tau0 = 1;
  g.values.resize(static_cast<size_t>(n));
  g.present.assign(static_cast<size_t>(n), 1);
  uint64_t x = 88172645463325252ull;
  for (double& v : g.values) {
    // Sum of four uniforms: close enough to Gaussian for timing.
    double s = 0;
    for (int k = 0; k < 4; ++k) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      s += static_cast<double>(x >> 11) * 0x1p-53;
    }
    v = 1e-11 * (s - 2) + 3e-9;
  }
  g.samples = n;
  return g;
}

std::vector<int64_t> octaves(int64_t first, int64_t max) {
  std::vector<int64_t> ms;
  for (int64_t m = first; m <= max; m *= 2) ms.push_back(m);
  return ms;
}

template <Deviation (*kStat)(const LongTermSeries&, int64_t), int64_t (*kMax)(int64_t)>
void BM_Octaves(benchmark::State& state) {
  const LongTermSeries s = prepare_long_term(white_fm(state.range(0)));
  const std::vector<int64_t> ms = octaves(1, kMax(phase_points(s)));
  for (auto _ : state) {
    double total = 0;
    for (const int64_t m : ms) total += kStat(s, m).dev;
    benchmark::DoNotOptimize(total);
  }
  state.counters["factors"] = static_cast<double>(ms.size());
}

// Thêo1 at m = 2, 4, 8, ... up to the whole record, or up to state.range(1),
// each factor by the cheaper way (state.range(2) 0) or by the term sums
// alone (1).
void BM_Theo1Octaves(benchmark::State& state) {
  const LongTermSeries s = prepare_long_term(white_fm(state.range(0)));
  const int64_t top = state.range(1) > 0 ? state.range(1) : theo1_max_factor(phase_points(s));
  const std::vector<int64_t> ms = octaves(2, top);
  double terms = 0;
  for (const int64_t m : ms)
    terms += static_cast<double>(phase_points(s) - m) * static_cast<double>(m / 2);
  for (auto _ : state) {
    double total = 0;
    for (const int64_t m : ms)
      total += theo1(s, m, state.range(2) == 1 ? Theo1Way::kTerms : Theo1Way::kAuto).dev;
    benchmark::DoNotOptimize(total);
  }
  state.counters["terms"] =
      benchmark::Counter(terms, benchmark::Counter::kIsIterationInvariantRate);
}

// The definition as it reads, one term at a time: the yardstick for the
// speed-up of the blocked term sums.
double literal_theo1(const std::vector<double>& x, int64_t m) {
  const int64_t n = static_cast<int64_t>(x.size());
  const int64_t h = m / 2;
  double sum = 0;
  for (int64_t i = 0; i < n - m; ++i) {
    for (int64_t d = 0; d < h; ++d) {
      const double u = (x[static_cast<size_t>(i)] - x[static_cast<size_t>(i - d + h)]) +
                       (x[static_cast<size_t>(i + m)] - x[static_cast<size_t>(i + d + h)]);
      sum += u * u / static_cast<double>(h - d);
    }
  }
  return std::sqrt(sum / (0.75 * static_cast<double>(n - m) * static_cast<double>(m * m)));
}

std::vector<double> phase_of(const Grid& g) {
  std::vector<double> x{0};
  for (const double y : g.values) x.push_back(x.back() + y);
  return x;
}

void BM_Theo1Literal(benchmark::State& state) {
  const std::vector<double> x = phase_of(white_fm(state.range(0)));
  const int64_t top =
      state.range(1) > 0 ? state.range(1) : theo1_max_factor(static_cast<int64_t>(x.size()));
  const std::vector<int64_t> ms = octaves(2, top);
  for (auto _ : state) {
    double total = 0;
    for (const int64_t m : ms) total += literal_theo1(x, m);
    benchmark::DoNotOptimize(total);
  }
}

// Every even factor: shared sums per lag against the literal loop.
void BM_Theo1EveryFactor(benchmark::State& state) {
  const LongTermSeries s = prepare_long_term(white_fm(state.range(0)));
  std::vector<int64_t> ms;
  for (int64_t m = 2; m <= theo1_max_factor(phase_points(s)); m += 2) ms.push_back(m);
  for (auto _ : state) benchmark::DoNotOptimize(theo1_factors(s, ms));
  state.counters["factors"] = static_cast<double>(ms.size());
}

void BM_Theo1EveryFactorLiteral(benchmark::State& state) {
  const std::vector<double> x = phase_of(white_fm(state.range(0)));
  for (auto _ : state) {
    double total = 0;
    for (int64_t m = 2; m <= theo1_max_factor(static_cast<int64_t>(x.size())); m += 2)
      total += literal_theo1(x, m);
    benchmark::DoNotOptimize(total);
  }
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Octaves<totdev, totdev_max_factor>)->Name("BM_Totdev")->Apply(sizes);
BENCHMARK(BM_Octaves<mtotdev, mtotdev_max_factor>)->Name("BM_Mtotdev")->Apply(sizes);
BENCHMARK(BM_Octaves<htotdev, htotdev_max_factor>)->Name("BM_Htotdev")->Apply(sizes);
BENCHMARK(BM_Octaves<mtie, mtie_max_factor>)->Name("BM_Mtie")->Apply(sizes);
BENCHMARK(BM_Octaves<tierms, tierms_max_factor>)->Name("BM_Tierms")->Apply(sizes);
// The term sums alone are O(N m): at 10^6 samples their octaves stop at
// 2^14 so that a run takes seconds, not hours; the default way goes to the
// whole record.
BENCHMARK(BM_Theo1Octaves)
    ->ArgNames({"n", "top", "terms"})
    ->Args({10000, 0, 0})
    ->Args({100000, 0, 0})
    ->Args({1000000, 0, 0})
    ->Args({10000, 0, 1})
    ->Args({100000, 0, 1})
    ->Args({1000000, 16384, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Theo1Literal)
    ->ArgNames({"n", "top"})
    ->Args({10000, 0})
    ->Args({100000, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Theo1EveryFactor)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Theo1EveryFactorLiteral)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tauspan
