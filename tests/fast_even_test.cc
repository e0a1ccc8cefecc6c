// -fast on evenly spaced times: which series take the table, that the
// others are given back untouched, and that the table's passes give the
// estimator's value and bins, with the same bits however they are run.
#include "fast_even.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "allan.h"
#include "fast_reference.h"
#include "fast_sweep.h"

namespace tauspan {
namespace {

SampleSeries even(size_t n, double t0, double dt, const std::function<double(size_t)>& value) {
  SampleSeries s(n);
  for (size_t i = 0; i < n; ++i) s[i] = {t0 + static_cast<double>(i) * dt, value(i)};
  return s;
}

std::vector<double> sweep_taus(const SampleSeries& s, int32_t n, bool log) {
  const TauRange r = tau_range(s, time_extent(s, {}), {});
  std::vector<double> taus;
  for (int32_t k = 1; k <= n; ++k) taus.push_back(tau_at(k, n, r.min_tau, r.max_tau, log));
  return taus;
}

bool same_bits(const SampleSeries& a, const SampleSeries& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::bit_cast<uint64_t>(a[i].time) != std::bit_cast<uint64_t>(b[i].time) ||
        std::bit_cast<uint64_t>(a[i].value) != std::bit_cast<uint64_t>(b[i].value)) {
      return false;
    }
  }
  return true;
}

// Checks every tau against the 113-bit estimator, overlapped and not, the
// series taken by take_fast_sweep as the run takes it.
void expect_exact(const SampleSeries& s, const std::vector<double>& taus, double jitter,
                  double tolerance) {
  for (const bool overlap : {true, false}) {
    SampleSeries taken = s;
    const FastShared shared = take_fast_sweep(std::move(taken), overlap, jitter);
    ASSERT_TRUE(shared.even) << "not taken as even";
    FastScratch scratch;
    const std::vector<FastRow> rows = fast_taus(shared, taus, scratch);
    for (size_t k = 0; k < taus.size(); ++k) {
      const Exact e = exact_avar(s, taus[k], overlap, jitter);
      ASSERT_EQ(rows[k].bins, e.bins) << "tau " << taus[k] << (overlap ? "" : " disjoint");
      EXPECT_NEAR(rows[k].avar, e.avar, tolerance * e.avar)
          << "tau " << taus[k] << (overlap ? "" : " disjoint");
    }
  }
}

TEST(FastEvenTest, EvenSeriesMatchTheExactEstimator) {
  std::mt19937_64 rng(61);
  std::normal_distribution<double> g(0, 1);
  // White noise written with nine decimals, as the benchmark files are.
  const SampleSeries white =
      even(1500, 0, 1, [&](size_t) { return std::round(g(rng) * 1e9) * 1e-9; });
  // 10 MHz readings with noise of 1e-13 relative, at Unix times.
  const SampleSeries readings = even(1200, 1.7e9, 0.5, [&](size_t) { return 1e7 * (1 + 1e-13 * g(rng)); });
  // A random walk with a drift: its prefix sums are far larger than its
  // windows' differences.
  double walk = 0;
  const SampleSeries drift = even(1000, -300, 0.25, [&](size_t i) {
    walk += g(rng);
    return 5e3 + 2e-2 * static_cast<double>(i) * static_cast<double>(i) + walk;
  });
  // A long random walk with a drift: the prefix sums are 10^7 times the
  // differences of short windows, whose last bits come from the sums' low
  // parts. With those the result is far closer than 1e-12.
  double step = 0;
  const SampleSeries wander = even(20000, 0, 1, [&](size_t) { return step += 0.05 + g(rng); });
  expect_exact(wander, {2, 3, 5, 8, 13}, 0, 1e-14);
  for (const SampleSeries* s : {&white, &readings, &drift}) {
    expect_exact(*s, sweep_taus(*s, 24, true), 0, 1e-12);
    expect_exact(*s, sweep_taus(*s, 12, false), 0.03, 1e-12);
  }
}

TEST(FastEvenTest, TausAtAndBetweenTheStepsAndOutOfRangeGiveTheEstimatorsBins) {
  std::mt19937_64 rng(67);
  std::normal_distribution<double> g(0, 1);
  const SampleSeries s = even(300, 10, 0.5, [&](size_t) { return g(rng); });
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> taus = {0.5, 1.0, 1.25, 5.5, 5.500000000000001, 0.25, 0, -3,
                                    74.5, 149.4, 149.5, 149.6, 1e300, inf, nan};
  expect_exact(s, taus, 0, 1e-12);
  // With a jitter the pairs lie fewer bins apart than a bin's count.
  expect_exact(s, taus, 0.45, 1e-12);
}

TEST(FastEvenTest, OnlyExactlyEvenTimesAreTaken) {
  const auto flat = [](size_t i) { return static_cast<double>(i % 7); };
  EXPECT_TRUE(fast::even_times(even(100, 0, 1, flat)).even);
  EXPECT_TRUE(fast::even_times(even(100, 1.7e9, 0.125, flat)).even);
  EXPECT_TRUE(fast::even_times(even(100, -2, 3, flat)).even);
  // Steps of 0.1 are not whole multiples of one power of two near 1.7e9.
  EXPECT_FALSE(fast::even_times(even(100, 1.7e9, 0.1, flat)).even);
  SampleSeries off = even(100, 0, 1, flat);
  off[57].time = std::nextafter(off[57].time, 100.0);
  EXPECT_FALSE(fast::even_times(off).even);
  SampleSeries gap = even(100, 0, 1, flat);
  gap.erase(gap.begin() + 40);
  EXPECT_FALSE(fast::even_times(gap).even);
  EXPECT_FALSE(fast::even_times(even(100, 5, -1, flat)).even);
  EXPECT_FALSE(fast::even_times(even(100, 5, 0, flat)).even);
  // Times whose differences round in doubles.
  EXPECT_FALSE(fast::even_times(even(100, 0x1p52, 1, flat)).even);
  SampleSeries negative_zero = even(100, -1, 1, flat);
  negative_zero[1].time = -0.0;
  EXPECT_FALSE(fast::even_times(negative_zero).even);
}

TEST(FastEvenTest, SeriesTheTableCannotHoldAreGivenBackUntouched) {
  std::mt19937_64 rng(71);
  std::normal_distribution<double> g(0, 1);
  const SampleSeries base = even(500, 3, 2, [&](size_t) { return g(rng); });
  for (const double odd : {9.91e37, std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(), kMissing}) {
    SampleSeries s = base;
    s[321].value = odd;
    const SampleSeries before = s;
    fast::EvenTable table;
    EXPECT_FALSE(fast::take_even_table(s, fast::even_times(s), table)) << odd;
    EXPECT_TRUE(same_bits(s, before)) << odd;
    // The general loop takes them, and sets the huge value aside.
    SampleSeries taken = s;
    const FastShared shared = take_fast_sweep(std::move(taken), true, 0);
    EXPECT_FALSE(shared.even);
    if (odd == 9.91e37) {
      FastScratch scratch;
      const double tau = 7;
      const FastRow row = fast_taus(shared, std::span<const double>(&tau, 1), scratch)[0];
      const Exact e = exact_avar(s, tau, true, 0);
      EXPECT_NEAR(row.avar, e.avar, 1e-12 * e.avar);
    }
  }
  // Values whose sums come near the top of the doubles' range.
  SampleSeries vast = even(500, 3, 2, [&](size_t) { return 1e300 * g(rng); });
  const SampleSeries before = vast;
  fast::EvenTable none;
  EXPECT_FALSE(fast::take_even_table(vast, fast::even_times(vast), none));
  EXPECT_TRUE(same_bits(vast, before));
  SampleSeries s = base;
  fast::EvenTable table;
  EXPECT_TRUE(fast::take_even_table(s, fast::even_times(s), table));
  EXPECT_TRUE(s.empty());
}

TEST(FastEvenTest, TheTableIsTheSameForAnyThreadsAndExactAcrossItsParts) {
  std::mt19937_64 rng(79);
  std::normal_distribution<double> g(0, 1);
  // Long enough to be made in parts; a drifting walk, so the lows matter.
  double step = 0;
  const SampleSeries s = even(70001, 5, 0.5, [&](size_t) { return step += 0.02 + g(rng); });
  SampleSeries one = s;
  fast::EvenTable first;
  ASSERT_TRUE(fast::take_even_table(one, fast::even_times(s), first, 1));
  for (const int threads : {2, 3}) {
    SampleSeries again = s;
    fast::EvenTable table;
    ASSERT_TRUE(fast::take_even_table(again, fast::even_times(s), table, threads));
    EXPECT_TRUE(same_bits(table.memory, first.memory)) << threads << " threads";
  }
  const std::vector<double> taus = {1, 1.5, 3.5, 20};
  const std::vector<fast::EvenRow> rows = fast::even_rows(first, taus, 0);
  for (size_t k = 0; k < taus.size(); ++k) {
    const Exact e = exact_avar(s, taus[k], true, 0);
    EXPECT_EQ(rows[k].bins, e.bins);
    EXPECT_NEAR(rows[k].avar, e.avar, 1e-14 * e.avar) << taus[k];
  }
}

TEST(FastEvenTest, GroupsAndVectorWidthsGiveTheSameBits) {
  std::mt19937_64 rng(73);
  std::normal_distribution<double> g(0, 1);
  // Long enough for several blocks of the shared pass.
  SampleSeries s = even(70000, 0, 1, [&](size_t) { return std::round(g(rng) * 1e9) * 1e-9; });
  std::vector<double> taus = sweep_taus(s, 30, true);
  const std::vector<double> linear = sweep_taus(s, 7, false);
  taus.insert(taus.end(), linear.begin(), linear.end());
  fast::EvenTable table;
  ASSERT_TRUE(fast::take_even_table(s, fast::even_times(s), table));
  for (const double jitter : {0.0, 0.3}) {
    const std::vector<fast::EvenRow> together = fast::even_rows(table, taus, jitter);
    const std::vector<fast::EvenRow> plain = fast::even_rows_plain(table, taus, jitter);
    for (size_t k = 0; k < taus.size(); ++k) {
      const std::vector<fast::EvenRow> alone =
          fast::even_rows(table, std::span<const double>(taus).subspan(k, 1), jitter);
      EXPECT_EQ(std::bit_cast<uint64_t>(together[k].avar), std::bit_cast<uint64_t>(alone[0].avar));
      EXPECT_EQ(std::bit_cast<uint64_t>(together[k].avar), std::bit_cast<uint64_t>(plain[k].avar));
      EXPECT_EQ(together[k].bins, alone[0].bins);
    }
  }
}

}  // namespace
}  // namespace tauspan
