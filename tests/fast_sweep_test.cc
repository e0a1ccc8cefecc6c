// The -fast sweep: its Allan variance against an evaluation of the same bins
// and pairs in 113-bit arithmetic, and the same bits for any thread count.
#include "fast_sweep.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "allan.h"
#include "fast_reference.h"

namespace tauspan {
namespace {

// Readings of a 10 MHz source, white noise of `relative` size, at times
// 0.1 s apart (with a little jitter) from `start`.
SampleSeries readings(std::mt19937_64& rng, size_t n, double start, double relative) {
  std::normal_distribution<double> g(0, 1);
  std::uniform_real_distribution<double> u(0, 1);
  SampleSeries s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back({start + 0.1 * static_cast<double>(i) + 1e-3 * u(rng),
                 1e7 * (1 + relative * g(rng))});
  }
  return s;
}

std::vector<double> taus_of(const SampleSeries& s, int32_t n, bool log) {
  const TauRange r = tau_range(s, time_extent(s, {}), {});
  std::vector<double> taus;
  for (int32_t k = 1; k <= n; ++k) taus.push_back(tau_at(k, n, r.min_tau, r.max_tau, log));
  return taus;
}

void expect_exact(const SampleSeries& s, int32_t n, bool log, double jitter, double tolerance) {
  const std::vector<double> taus = taus_of(s, n, log);
  for (const bool overlap : {true, false}) {
    const std::vector<FastRow> rows = fast_sweep(s, taus, overlap, jitter, 2, log ? kFastRing : 3);
    for (size_t k = 0; k < taus.size(); ++k) {
      const Exact e = exact_avar(s, taus[k], overlap, jitter);
      ASSERT_EQ(rows[k].bins, e.bins) << "tau " << taus[k];
      EXPECT_NEAR(rows[k].avar, e.avar, tolerance * e.avar)
          << "tau " << taus[k] << (overlap ? " overlapped" : "");
    }
  }
}

TEST(FastSweepTest, TenMegahertzReadingsMatchTheExactEstimator) {
  std::mt19937_64 rng(41);
  // Noise down to 1e-13 relative: a few ulps of the readings, where two
  // rounded means of nearly equal readings lose most of their difference.
  for (const double relative : {1e-13, 1e-12, 1e-10}) {
    for (const double start : {0.0, 1.7e9}) {
      const SampleSeries s = readings(rng, 1500, start, relative);
      expect_exact(s, 12, true, 0, 1e-12);
      expect_exact(s, 8, false, 0.01, 1e-12);
    }
  }
}

TEST(FastSweepTest, SeriesOffAnyGridMatchTheExactEstimator) {
  // Values around 0 at full precision span more bits than the integer sums
  // hold: the double-double sums take them.
  std::mt19937_64 rng(43);
  std::normal_distribution<double> g(0, 1);
  SampleSeries s;
  for (int i = 0; i < 1200; ++i) s.push_back({0.5 * i, 3.0 + g(rng) * 1e-9 + (i % 3) * 1e-30});
  expect_exact(s, 10, true, 0, 1e-12);
  SampleSeries z;
  for (int i = 0; i < 1200; ++i) z.push_back({static_cast<double>(i), g(rng)});
  expect_exact(z, 10, false, 0, 1e-12);
}

TEST(FastSweepTest, AHugeSampleLeavesTheOtherWindowsExact) {
  std::mt19937_64 rng(47);
  SampleSeries s = readings(rng, 800, 1.7e9, 1e-12);
  s[400].value = 9.91e37;  // a counter's overrange code
  const std::vector<double> taus = taus_of(s, 10, true);
  const std::vector<FastRow> rows = fast_sweep(s, taus, true, 0, 1);
  for (size_t k = 0; k < taus.size(); ++k) {
    const Exact e = exact_avar(s, taus[k], true, 0);
    EXPECT_NEAR(rows[k].avar, e.avar, 1e-12 * e.avar) << taus[k];
  }
}

TEST(FastSweepTest, AnyThreadCountAndRingGiveTheSameBits) {
  std::mt19937_64 rng(53);
  SampleSeries s = readings(rng, 3000, 1.7e9, 1e-11);
  s[100].value = 9.91e37;
  s[700] = {kMissing, kMissing};
  s[701].value = kMissing;
  s[2000].value = HUGE_VAL;
  for (const bool overlap : {true, false}) {
    const std::vector<double> taus = taus_of(s, 23, overlap);
    const std::vector<FastRow> one = fast_sweep(s, taus, overlap, 0.02, 1);
    for (const int threads : {2, 7, 0}) {
      // A ring of 5 bins makes the lagging bins again for all but the
      // shortest taus.
      const std::vector<FastRow> many =
          fast_sweep(s, taus, overlap, 0.02, threads, threads == 7 ? 5 : kFastRing);
      ASSERT_EQ(many.size(), one.size());
      for (size_t k = 0; k < one.size(); ++k) {
        EXPECT_EQ(std::bit_cast<uint64_t>(many[k].avar), std::bit_cast<uint64_t>(one[k].avar))
            << threads << " threads, tau " << taus[k];
        EXPECT_EQ(many[k].bins, one[k].bins);
      }
    }
  }
}

TEST(FastSweepTest, TheLeanLoopGivesTheGeneralLoopsBits) {
  std::mt19937_64 rng(59);
  std::normal_distribution<double> g(0, 1);
  const size_t n = 2500;
  std::vector<SampleSeries> all(5);
  double walk = 0;
  for (size_t i = 0; i < n; ++i) {
    const auto t = static_cast<double>(i);
    walk += g(rng);
    all[0].push_back({t, 1e7 + walk * 1e-6});            // a counter's readings
    all[1].push_back({t, std::round(g(rng) * 1000)});    // whole numbers: bin times tie
    all[2].push_back({0.25 * t, std::round(g(rng) * 0x1p53)});  // wide: long windows leave the loop
    all[3].push_back({std::floor(t / 3), walk});          // repeated times
    all[4].push_back({t + (i % 5 == 3 ? -1.5 : 0.0), 3 + walk});  // times out of order
  }
  for (size_t k = 0; k < all.size(); ++k) {
    for (const bool log : {true, false}) {
      const std::vector<double> taus = taus_of(all[k], 25, log);
      for (const bool overlap : {true, false}) {
        for (const double jitter : {0.0, 0.02, 1.0}) {
          // A ring of 3 bins walks the lagging bins again for most taus.
          const std::vector<FastRow> lean =
              fast_sweep(all[k], taus, overlap, jitter, 1, log ? kFastRing : 3);
          const std::vector<FastRow> general =
              fast_sweep(all[k], taus, overlap, jitter, 1, log ? 3 : kFastRing, false);
          for (size_t j = 0; j < taus.size(); ++j) {
            EXPECT_EQ(std::bit_cast<uint64_t>(lean[j].avar), std::bit_cast<uint64_t>(general[j].avar))
                << "series " << k << ", tau " << taus[j] << ", overlap " << overlap
                << ", jitter " << jitter;
            EXPECT_EQ(lean[j].bins, general[j].bins);
          }
        }
      }
    }
  }
}

TEST(FastSweepTest, ThePrefixTableGivesTheCursorsBitsOffTheGrid) {
  std::mt19937_64 rng(61);
  std::normal_distribution<double> g(0, 1);
  std::uniform_real_distribution<double> u(0, 1);
  const size_t n = 2500;
  std::vector<SampleSeries> all(4);
  double walk = 0;
  for (size_t i = 0; i < n; ++i) {
    const auto t = static_cast<double>(i);
    walk += g(rng);
    // Decimal values: off any binary grid.
    const double printed = std::round(g(rng) * 1e9) / 1e9;
    all[0].push_back({t, printed});                                   // white noise
    all[1].push_back({std::round((t + 0.1 * u(rng)) * 1e6) / 1e6, 5 + printed * 1e-3});  // jittered times
    all[2].push_back({std::floor(t / 3) * 0.1, walk * 1e-7});         // repeated times
    all[3].push_back({t + (i % 5 == 3 ? -1.5 : 0.0) + 1e9, printed});  // out of order
  }
  for (size_t k = 0; k < all.size(); ++k) {
    ASSERT_FALSE(share_fast_sweep(all[k], true, 0).pair_prefix.empty()) << "series " << k;
    for (const bool log : {true, false}) {
      std::vector<double> taus = taus_of(all[k], 25, log);
      // Whole taus over whole times: bin times tie with the threshold, and
      // the pairing takes the exact mean times.
      if (log) taus.insert(taus.end(), {1, 2, 3, 5, 8, 13});
      for (const bool overlap : {true, false}) {
        for (const double jitter : {0.0, 0.02, 1.0}) {
          // A ring of 3 bins walks the lagging bins again for most taus.
          const std::vector<FastRow> table =
              fast_sweep(all[k], taus, overlap, jitter, 1, log ? kFastRing : 3);
          const std::vector<FastRow> cursors =
              fast_sweep(all[k], taus, overlap, jitter, 1, log ? 3 : kFastRing, false);
          for (size_t j = 0; j < taus.size(); ++j) {
            EXPECT_EQ(std::bit_cast<uint64_t>(table[j].avar), std::bit_cast<uint64_t>(cursors[j].avar))
                << "series " << k << ", tau " << taus[j] << ", overlap " << overlap
                << ", jitter " << jitter;
            EXPECT_EQ(table[j].bins, cursors[j].bins);
          }
        }
      }
    }
  }
  // The table keeps no counts: a missing or set-aside sample leaves it out.
  SampleSeries s = all[0];
  s[300].value = 9.91e37;
  EXPECT_TRUE(share_fast_sweep(s, true, 0).pair_prefix.empty());
  s = all[0];
  s[300].value = kMissing;
  EXPECT_TRUE(share_fast_sweep(s, true, 0).pair_prefix.empty());
}

TEST(FastSweepTest, MissingAndInfiniteSamplesActAsInThePlainPairing) {
  SampleSeries s;
  for (int i = 0; i < 60; ++i) s.push_back({static_cast<double>(i), 1.0 + i % 4});
  s[20] = {kMissing, kMissing};
  s[24].value = kMissing;
  s[25].value = kMissing;
  s[26].value = kMissing;
  std::vector<double> taus = {1, 2, 3, 5, 8};
  for (const bool overlap : {true, false}) {
    const std::vector<FastRow> rows = fast_sweep(s, taus, overlap, 0, 1);
    for (size_t k = 0; k < taus.size(); ++k) {
      const SampleSeries bins = average_bins(s, taus[k], overlap);
      EXPECT_EQ(rows[k].bins, bins.size());
      const double plain = allan_variance(bins, taus[k], 0);
      if (std::isfinite(plain)) {
        EXPECT_NEAR(rows[k].avar, plain, 1e-14 * plain) << taus[k];
      } else {
        EXPECT_EQ(rows[k].avar, plain) << taus[k];
      }
    }
  }
  s[40].value = HUGE_VAL;
  const std::vector<FastRow> rows = fast_sweep(s, taus, true, 0, 1);
  for (size_t k = 0; k < taus.size(); ++k) {
    EXPECT_EQ(rows[k].avar, allan_variance(average_bins(s, taus[k], true), taus[k], 0));
  }
  EXPECT_TRUE(std::isinf(rows[0].avar));
}

}  // namespace
}  // namespace tauspan
