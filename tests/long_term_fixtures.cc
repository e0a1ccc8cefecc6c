// Grids and series for the tests of the long-term statistics.
#include "long_term_fixtures.h"

#include <cmath>

namespace tauspan::test {

std::vector<double> nist_frequency() {
  std::vector<double> y;
  int64_t n = 1234567890;
  for (int i = 0; i < 1000; ++i) {
    y.push_back(static_cast<double>(n) / 2147483647.0);
    n = (16807 * n) % 2147483647;
  }
  return y;
}

std::vector<double> nist_phase() {
  std::vector<double> x{0};
  for (const double y : nist_frequency()) x.push_back(x.back() + y);
  return x;
}

Grid grid_of(DataKind kind, const std::vector<double>& values, double tau0,
             std::vector<uint8_t> present, double nominal) {
  Grid g;
  g.kind = kind;
  g.tau0 = tau0;
  g.nominal = nominal;
  g.values = values;
  g.present = present.empty() ? std::vector<uint8_t>(values.size(), 1) : present;
  for (size_t i = 0; i < g.values.size(); ++i) {
    if (!g.present[i]) g.values[i] = 0;
  }
  g.samples = 0;
  for (const uint8_t p : g.present) g.samples += p;
  g.gaps = static_cast<int64_t>(g.present.size()) - g.samples;
  return g;
}

Grid with_gaps(Grid g, const std::vector<int64_t>& slots) {
  for (const int64_t k : slots) {
    g.present[static_cast<size_t>(k)] = 0;
    g.values[static_cast<size_t>(k)] = 0;
  }
  return grid_of(g.kind, g.values, g.tau0, g.present, g.nominal);
}

std::vector<double> noise(std::mt19937_64& rng, size_t n, int alpha, double scale, double offset) {
  std::normal_distribution<double> normal;
  std::vector<double> y(n);
  double walk = 0;
  double previous = normal(rng);
  for (double& v : y) {
    if (alpha == -2) {
      walk += normal(rng);
      v = walk;
    } else if (alpha == 2) {
      const double next = normal(rng);
      v = next - previous;
      previous = next;
    } else {
      v = normal(rng);
    }
    v = offset + scale * v;
  }
  return y;
}

QuadPhase quad_phase(const Grid& g) {
  QuadPhase q;
  q.frequency = g.kind == DataKind::kFrequency;
  if (q.frequency) {
    const Quad f0 = g.nominal > 0 ? static_cast<Quad>(g.nominal) : 1;
    q.x.push_back(0);
    for (size_t k = 0; k < g.values.size(); ++k) {
      q.x.push_back(q.x.back() + static_cast<Quad>(g.values[k]) / f0 * static_cast<Quad>(g.tau0));
    }
    q.step_ok = g.present;
  } else {
    for (const double v : g.values) q.x.push_back(static_cast<Quad>(v));
    q.point_ok = g.present;
  }
  return q;
}

bool quad_window_ok(const QuadPhase& x, int64_t p, int64_t q) {
  if (p > q) std::swap(p, q);
  for (int64_t k = p; k < q + (x.frequency ? 0 : 1); ++k) {
    if (!(x.frequency ? x.step_ok : x.point_ok)[static_cast<size_t>(k)]) return false;
  }
  return true;
}

bool quad_difference_ok(const QuadPhase& x, int64_t p, int64_t q) {
  if (x.frequency) return quad_window_ok(x, p, q);
  return x.point_ok[static_cast<size_t>(p)] && x.point_ok[static_cast<size_t>(q)];
}

double relative(double a, double b) { return std::fabs(a - b) / std::fabs(b); }

}  // namespace tauspan::test
