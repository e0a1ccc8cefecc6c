// The noise fit on a table: octave rows of a million-sample record (18 rows)
// and every factor up to 1000 (1000 rows, the -taus all case).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "noise_fit.h"

namespace tauspan {
namespace {

// A model curve with every term, each row's variance off by a few percent
// so that the fit has residuals to weigh.
std::vector<NoisePoint> table(int64_t rows, bool octave) {
  std::vector<NoisePoint> points;
  int64_t m = 1;
  for (int64_t i = 0; i < rows; ++i) {
    const double tau = static_cast<double>(m);
    const TermArray g = term_response(Statistic::kOadev, tau, tau);
    const double v =
        (1e-2 * g[kTermQ] + 4 * g[kTermN] + g[kTermB] + 1e-3 * g[kTermK] + 1e-9 * g[kTermR]) *
        (1 + 0.03 * std::sin(static_cast<double>(i)));
    points.push_back({m, tau, v, 1e6 / tau});
    m = octave ? 2 * m : m + 1;
  }
  return points;
}

void BM_FitNoise(benchmark::State& state) {
  const std::vector<NoisePoint> points = table(state.range(0), state.range(1) != 0);
  for (auto _ : state) benchmark::DoNotOptimize(fit_noise(Statistic::kOadev, points));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FitNoise)->Args({18, 1})->Args({1000, 0});

}  // namespace
}  // namespace tauspan
