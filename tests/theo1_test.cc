// Thêo1: the published values, and both ways of summing against the literal
// definition in 113-bit arithmetic, with and without gaps.
#include "theo1.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "long_term_fixtures.h"

namespace tauspan {
namespace {

using test::Quad;

struct Literal {
  double dev;
  int64_t n;
};

Literal literal_theo1(const Grid& g, int64_t m) {
  const test::QuadPhase q = test::quad_phase(g);
  const int64_t n_pts = static_cast<int64_t>(q.x.size());
  const auto x = [&](int64_t k) { return q.x[static_cast<size_t>(k)]; };
  const int64_t h = m / 2;
  Quad sum = 0;
  int64_t n = 0;
  for (int64_t i = 0; i < n_pts - m; ++i) {
    if (!test::quad_window_ok(q, i, i + m)) continue;
    for (int64_t d = 0; d < h; ++d) {
      const Quad u = (x(i) - x(i - d + h)) + (x(i + m) - x(i + d + h));
      sum += u * u / (h - d);
    }
    ++n;
  }
  const Quad tau = static_cast<Quad>(m) * static_cast<Quad>(g.tau0);
  return {std::sqrt(static_cast<double>(sum / (Quad{0.75} * n * tau * tau))), n};
}

// NIST SP 1065 (2008), the 1000-point set: Thêo1 1.0757e-01, 3.1789e-02 and
// 5.0524e-03 at m = 10, 100, 1000 (tau 7.5, 75, 750).
TEST(Theo1, NistThousandPointSetFrequencyAndPhaseForms) {
  for (const Grid& g : {test::grid_of(DataKind::kFrequency, test::nist_frequency()),
                        test::grid_of(DataKind::kPhase, test::nist_phase())}) {
    const LongTermSeries s = prepare_long_term(g);
    const int64_t factors[] = {10, 100, 1000};
    const double published[] = {1.0757e-01, 3.1789e-02, 5.0524e-03};
    const std::vector<Deviation> shared = theo1_factors(s, {10, 100, 1000});
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(factors[i]);
      const Deviation d = theo1(s, factors[i]);
      const double unit = std::pow(10.0, std::floor(std::log10(published[i])) - 4);
      EXPECT_NEAR(published[i], d.dev, 0.5 * unit);
      EXPECT_EQ(0.75 * static_cast<double>(factors[i]), d.tau);
      EXPECT_EQ(1001 - factors[i], d.n);
      EXPECT_EQ(factors[i], shared[static_cast<size_t>(i)].m);
      EXPECT_LE(test::relative(shared[static_cast<size_t>(i)].dev, d.dev), 1e-13);
    }
  }
}

TEST(Theo1, FactorsAreEvenAndReachTheWholeRecord) {
  EXPECT_EQ(1000, theo1_max_factor(1001));
  EXPECT_EQ(1000, theo1_max_factor(1002));
  EXPECT_EQ(0, theo1_max_factor(2));
  const LongTermSeries s = prepare_long_term(test::grid_of(DataKind::kPhase, test::nist_phase()));
  EXPECT_EQ(1, theo1(s, 1000).n);
  for (const int64_t m : {0, 7, 1001, 1002}) {
    EXPECT_TRUE(std::isnan(theo1(s, m).dev));
    EXPECT_EQ(0, theo1(s, m).n);
  }
}

std::vector<Grid> seeded_grids() {
  std::mt19937_64 rng(77);
  std::vector<double> phase = test::noise(rng, 261, 2, 1e-9);
  for (size_t k = 0; k < phase.size(); ++k) phase[k] += 1e9 + 3e-6 * static_cast<double>(k);
  return {test::grid_of(DataKind::kFrequency, test::noise(rng, 240, 0, 1e-11, 2e-9), 0.5),
          test::grid_of(DataKind::kFrequency, test::noise(rng, 250, -2, 1e-12, 1e-8), 4),
          test::grid_of(DataKind::kPhase, phase, 0.1)};
}

void expect_matches(const Deviation& d, const Literal& l) {
  EXPECT_EQ(l.n, d.n);
  if (l.n > 0) {
    EXPECT_LE(test::relative(d.dev, l.dev), 1e-12) << d.dev << " vs " << l.dev;
  }
}

// Every even factor shares one pass per lag; a few sparse ones go term by
// term or by lagged products. All must give the literal sums.
TEST(Theo1, BothWaysEqualTheLiteralDefinition) {
  for (const Grid& plain : seeded_grids()) {
    for (const bool gaps : {false, true}) {
      const Grid g = gaps ? test::with_gaps(plain, {1, 60, 61, 200}) : plain;
      SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(g.kind) << " gaps " << gaps);
      const LongTermSeries s = prepare_long_term(g);
      std::vector<int64_t> every;
      for (int64_t m = 2; m <= theo1_max_factor(phase_points(s)); m += 2) every.push_back(m);
      const std::vector<Deviation> dense = theo1_factors(s, every);
      for (size_t i = 0; i < every.size(); i += 7) {
        SCOPED_TRACE(every[i]);
        const Literal l = literal_theo1(g, every[i]);
        {
          SCOPED_TRACE("shared");
          expect_matches(dense[i], l);
        }
        expect_matches(theo1(s, every[i]), l);
        {
          SCOPED_TRACE("terms");
          expect_matches(theo1(s, every[i], Theo1Way::kTerms), l);
        }
        // Forced at small m the products round far above 1e-12 on these
        // short walks (the default way then keeps the term sums).
        if (4 * every[i] >= phase_points(s)) {
          SCOPED_TRACE("products");
          expect_matches(theo1(s, every[i], Theo1Way::kProducts), l);
        }
      }
    }
  }
}

// On a long series the shared sums per lag and the blocked term sums agree.
TEST(Theo1, BothWaysAgreeOnALongSeries) {
  std::mt19937_64 rng(12);
  const LongTermSeries s = prepare_long_term(
      test::grid_of(DataKind::kFrequency, test::noise(rng, 20000, -2, 1e-13, 1e-8), 1));
  std::vector<int64_t> every;
  for (int64_t m = 2; m <= 600; m += 2) every.push_back(m);
  const std::vector<Deviation> dense = theo1_factors(s, every);
  for (const int64_t m : {2, 64, 338, 600}) {
    SCOPED_TRACE(m);
    EXPECT_LE(test::relative(dense[static_cast<size_t>(m / 2 - 1)].dev, theo1(s, m).dev), 1e-12);
  }
}

// Long runs with and without gaps, up to the whole record: the lagged
// products against the term sums, and the default way (which may mix them
// run by run) too. White PM on a large offset and slope, white FM and random
// walk FM; products are forced only where their rounding is small.
TEST(Theo1, LaggedProductsAgreeWithTheTermSumsOnLongSeries) {
  std::mt19937_64 rng(31);
  std::vector<double> phase = test::noise(rng, 12000, 2, 1e-9);
  for (size_t k = 0; k < phase.size(); ++k) phase[k] += 1e4 + 3e-6 * static_cast<double>(k);
  const Grid grids[] = {
      test::grid_of(DataKind::kPhase, phase, 1),
      test::grid_of(DataKind::kFrequency, test::noise(rng, 12000, 0, 1e-11, 3e-9), 1),
      test::grid_of(DataKind::kFrequency, test::noise(rng, 12000, -2, 1e-13, 1e-8), 1)};
  for (int g = 0; g < 3; ++g) {
    for (const bool gaps : {false, true}) {
      SCOPED_TRACE(testing::Message() << "grid " << g << " gaps " << gaps);
      const LongTermSeries s =
          prepare_long_term(gaps ? test::with_gaps(grids[g], {5, 3000, 3001, 9000}) : grids[g]);
      for (const int64_t m : {2, 64, 1000, 2048, 4096, 5990, 8192, 11998}) {
        SCOPED_TRACE(m);
        const Deviation terms = theo1(s, m, Theo1Way::kTerms);
        EXPECT_EQ(terms.n, theo1(s, m).n);
        if (terms.n == 0) continue;
        EXPECT_LE(test::relative(theo1(s, m).dev, terms.dev), 1e-12);
        if (g < 2 && m >= 1000) {
          EXPECT_LE(test::relative(theo1(s, m, Theo1Way::kProducts).dev, terms.dev), 1e-12);
        }
      }
    }
  }
}

// The ThêoBR ratio: the mean of Avar(9 + 3i) / Thêo1(12 + 4i), i = 0..n,
// n = floor(0.1 N / 3 - 3), each by its literal sum.
TEST(Theo1, BiasRemovalRatioFromItsDefinition) {
  std::mt19937_64 rng(4);
  for (const int alpha : {0, -2}) {
    const Grid g =
        test::grid_of(DataKind::kFrequency, test::noise(rng, 299, alpha, 1e-12, 1e-9), 2);
    const test::QuadPhase q = test::quad_phase(g);
    const int64_t n_pts = 300;
    const int64_t n = 7;  // floor(0.1 * 300 / 3 - 3)
    double sum = 0;
    for (int64_t i = 0; i <= n; ++i) {
      const int64_t m = 9 + 3 * i;
      Quad squares = 0;
      for (int64_t j = 0; j + 2 * m < n_pts; ++j) {
        const Quad d = q.x[static_cast<size_t>(j + 2 * m)] - 2 * q.x[static_cast<size_t>(j + m)] +
                       q.x[static_cast<size_t>(j)];
        squares += d * d;
      }
      const Quad tau = static_cast<Quad>(m) * 2;
      const double avar = static_cast<double>(squares / (2 * tau * tau * (n_pts - 2 * m)));
      const double theo = literal_theo1(g, 12 + 4 * i).dev;
      sum += avar / (theo * theo);
    }
    EXPECT_LE(test::relative(theo_br_ratio(prepare_long_term(g)), sum / (n + 1)), 1e-12) << alpha;
  }
  EXPECT_TRUE(std::isnan(theo_br_ratio(
      prepare_long_term(test::grid_of(DataKind::kPhase, std::vector<double>(100, 0.0))))));
}

}  // namespace
}  // namespace tauspan
