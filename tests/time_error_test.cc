// MTIE and TIE rms: hand-worked values, brute force with and without gaps,
// and MTIE over a million points against an independent block algorithm.
#include "time_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "long_term_fixtures.h"

namespace tauspan {
namespace {

using test::Quad;

TEST(TimeError, HandWorkedPhase) {
  const LongTermSeries s =
      prepare_long_term(test::grid_of(DataKind::kPhase, {0, 1, -1, 2, 0}, 0.5));
  EXPECT_EQ(3, mtie(s, 1).dev);  // -1 to 2
  EXPECT_EQ(3, mtie(s, 2).dev);  // windows of three: 2, 3, 3
  EXPECT_EQ(3, mtie(s, 4).dev);
  EXPECT_EQ(5, mtie(s, 4).n);
  EXPECT_EQ(2.0, mtie(s, 4).tau);
  const Deviation t = tierms(s, 1);
  EXPECT_DOUBLE_EQ(std::sqrt(18.0 / 4), t.dev);  // 1, 4, 9, 4
  EXPECT_EQ(4, t.n);
  EXPECT_TRUE(std::isnan(mtie(s, 5).dev));
  EXPECT_EQ(2, mtie_max_factor(5));
  EXPECT_EQ(1, tierms_max_factor(5));
}

TEST(TimeError, FrequencyDataIntegrateToPhaseInSeconds) {
  // y = 1, -2, 3 at tau0 = 2 s: phase 0, 2, -2, 4 s.
  const LongTermSeries s = prepare_long_term(test::grid_of(DataKind::kFrequency, {1, -2, 3}, 2));
  EXPECT_EQ(6, mtie(s, 1).dev);
  EXPECT_EQ(6, mtie(s, 3).dev);
  EXPECT_EQ(4, mtie(s, 3).n);
  EXPECT_DOUBLE_EQ(std::sqrt((4.0 + 16 + 36) / 3), tierms(s, 1).dev);
}

struct Brute {
  double mtie;
  int64_t mtie_n;
  double tierms;
  int64_t tierms_n;
};

Brute brute(const Grid& g, int64_t m) {
  const test::QuadPhase q = test::quad_phase(g);
  const int64_t n_pts = static_cast<int64_t>(q.x.size());
  Quad widest = -1;
  std::vector<uint8_t> covered(static_cast<size_t>(n_pts), 0);
  Quad squares = 0;
  int64_t terms = 0;
  for (int64_t i = 0; i + m < n_pts; ++i) {
    if (test::quad_difference_ok(q, i, i + m)) {
      const Quad d = q.x[static_cast<size_t>(i + m)] - q.x[static_cast<size_t>(i)];
      squares += d * d;
      ++terms;
    }
    if (!test::quad_window_ok(q, i, i + m)) continue;
    const auto b = q.x.begin() + i;
    widest = std::max(widest, *std::max_element(b, b + m + 1) - *std::min_element(b, b + m + 1));
    std::fill(covered.begin() + i, covered.begin() + i + m + 1, uint8_t{1});
  }
  const int64_t n = std::count(covered.begin(), covered.end(), uint8_t{1});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  return {n ? static_cast<double>(widest) : nan, n,
          terms ? std::sqrt(static_cast<double>(squares / terms)) : nan, terms};
}

TEST(TimeError, BruteForceWithAndWithoutGaps) {
  std::mt19937_64 rng(8);
  std::vector<double> walk = test::noise(rng, 301, -2, 1e-9, 1e3);
  const Grid grids[] = {
      test::grid_of(DataKind::kPhase, walk, 1),
      test::grid_of(DataKind::kFrequency, test::noise(rng, 300, 0, 1e-9, 1e-7), 0.1),
      test::with_gaps(test::grid_of(DataKind::kPhase, walk, 1), {0, 40, 41, 200}),
      test::with_gaps(
          test::grid_of(DataKind::kFrequency, test::noise(rng, 300, -2, 1e-6, 10), 1, {}, 1e7),
          {10, 11, 12, 250}),
  };
  for (const Grid& g : grids) {
    const LongTermSeries s = prepare_long_term(g);
    for (const int64_t m : {1, 2, 3, 7, 30, 39, 75, 150, 299, 300}) {
      SCOPED_TRACE(testing::Message() << "gaps " << g.gaps << " m " << m);
      const Brute b = brute(g, m);
      const Deviation mt = mtie(s, m);
      const Deviation tr = tierms(s, m);
      EXPECT_EQ(b.mtie_n, mt.n);
      EXPECT_EQ(b.tierms_n, tr.n);
      if (b.mtie_n > 0) {
        EXPECT_LE(test::relative(mt.dev, b.mtie), 1e-13);
      }
      if (b.tierms_n > 0) {
        EXPECT_LE(test::relative(tr.dev, b.tierms), 1e-13);
      }
    }
  }
}

// Window extremes by blocks of the window length (prefix maxima within each
// block, suffix maxima within each block): another O(N) method, with no
// queue, to check the queues on a series far too long for an N x m table.
double block_mtie(const std::vector<double>& x, size_t w) {
  const size_t n = x.size();
  std::vector<double> pre_hi(n), pre_lo(n), suf_hi(n), suf_lo(n);
  for (size_t i = 0; i < n; ++i) {
    const bool start = i % w == 0;
    pre_hi[i] = start ? x[i] : std::max(pre_hi[i - 1], x[i]);
    pre_lo[i] = start ? x[i] : std::min(pre_lo[i - 1], x[i]);
  }
  for (size_t i = n; i-- > 0;) {
    const bool end = i == n - 1 || (i + 1) % w == 0;
    suf_hi[i] = end ? x[i] : std::max(suf_hi[i + 1], x[i]);
    suf_lo[i] = end ? x[i] : std::min(suf_lo[i + 1], x[i]);
  }
  double widest = 0;
  for (size_t i = 0; i + w <= n; ++i) {
    const size_t j = i + w - 1;
    const double hi = std::max(suf_hi[i], pre_hi[j]);
    const double lo = std::min(suf_lo[i], pre_lo[j]);
    widest = std::max(widest, hi - lo);
  }
  return widest;
}

TEST(TimeError, MtieOfAMillionPointsInLinearMemory) {
  std::mt19937_64 rng(1);
  const std::vector<double> x = test::noise(rng, 1000000, -2, 1e-9);
  const LongTermSeries s = prepare_long_term(test::grid_of(DataKind::kPhase, x, 1));
  for (const int64_t m : {1, 1000, 65536, 500000}) {
    SCOPED_TRACE(m);
    const Deviation d = mtie(s, m);
    EXPECT_EQ(block_mtie(x, static_cast<size_t>(m + 1)), d.dev);
    EXPECT_EQ(1000000, d.n);
  }
}

}  // namespace
}  // namespace tauspan
