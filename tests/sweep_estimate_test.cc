// The cost model behind the warning of a runaway sweep, and how it words a
// duration.
#include "sweep_estimate.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tauspan {
namespace {

// n samples one second apart, taus from 2 to max_tau.
SweepShape shape(double samples, int32_t taus, double max_tau, bool overlap = true) {
  SweepShape s;
  s.samples = samples;
  s.spacing = 1;
  s.range = {2, max_tau};
  s.tau_count = taus;
  s.overlap = overlap;
  return s;
}

TEST(SweepEstimateTest, OnlyOverlappedExactMeansCostMoreForLongerTaus) {
  const SweepShape s = shape(1e6, 100, 250000);
  EXPECT_GT(tau_seconds(s, 10000, false), 50 * tau_seconds(s, 2, false));
  EXPECT_EQ(tau_seconds(s, 1000, true), tau_seconds(s, 2, true));
  const SweepShape disjoint = shape(1e6, 100, 250000, false);
  EXPECT_EQ(tau_seconds(disjoint, 1000, false), tau_seconds(disjoint, 2, false));
  // A window holds at most the series: taus beyond the span cost no more.
  EXPECT_EQ(tau_seconds(s, 2e6, false), tau_seconds(s, 4e6, false));
}

TEST(SweepEstimateTest, OddTausAndSpacingsGiveAFiniteCost) {
  SweepShape s = shape(1000, 10, 100);
  for (const double tau : {std::nan(""), -5.0, 0.0, HUGE_VAL}) {
    SCOPED_TRACE(tau);
    EXPECT_TRUE(std::isfinite(tau_seconds(s, tau, false)));
  }
  s.spacing = 0;  // equal times: every window takes the whole series
  EXPECT_EQ(tau_seconds(s, 5, false), tau_seconds(s, 1e9, false));
  s.tau_count = -3;
  EXPECT_EQ(sweep_seconds(s, false), 0);
}

TEST(SweepEstimateTest, SweepsAreSummedOverSpreadTaus) {
  // Every tau costs the same without overlap: the sampled sum scales exactly.
  const SweepShape many = shape(20, 2147483647, 4.75, false);
  const double each = tau_seconds(many, 3, false);
  EXPECT_NEAR(sweep_seconds(many, false), 2147483647.0 * each, 1e-9 * 2147483647.0 * each);
  // Up to 1024 taus, each is counted.
  const SweepShape few = shape(1e5, 7, 25000);
  double sum = 0;
  for (int k = 1; k <= 7; ++k) sum += tau_seconds(few, tau_at(k, 7, 2, 25000, false), false);
  EXPECT_DOUBLE_EQ(sweep_seconds(few, false), sum);
}

TEST(SweepEstimateTest, TheSweepsThatMatterFallOnTheirSideOfAMinute) {
  // The bundled example's run, and a long log with and without -fast.
  EXPECT_LT(sweep_seconds(shape(4000, 100, 1000), false), 1);
  EXPECT_GT(sweep_seconds(shape(1e7, 100, 2.5e6), false), 3600);
  EXPECT_LT(sweep_seconds(shape(1e7, 100, 2.5e6), true), 60);
  // On evenly spaced times -fast is one pass of simple arithmetic a tau.
  SweepShape even = shape(1e7, 100, 2.5e6);
  even.even = true;
  EXPECT_LT(sweep_seconds(even, true), 5);
  EXPECT_LT(sweep_seconds(even, true), sweep_seconds(shape(1e7, 100, 2.5e6), true) / 5);
  // A mistyped tau count on a short file.
  EXPECT_GT(sweep_seconds(shape(20, 2147483647, 4.75), false), 600);
}

TEST(SweepEstimateTest, ASmallSweepIsNeitherWatchedNorAnnounced) {
  SweepWatch w = watch_sweep(shape(4000, 100, 1000), false);
  EXPECT_FALSE(w.armed);
  EXPECT_FALSE(check_sweep(w, 1).too_long);
  // A sweep whose first tau alone is long is judged before it starts.
  w = watch_sweep(shape(1e8, 10, 1e7, true), false);
  ASSERT_TRUE(w.armed);
  const SweepEstimate e = check_sweep(w, 1);
  EXPECT_TRUE(e.too_long);
  EXPECT_GT(e.fast_seconds, 0);
  EXPECT_LT(e.fast_seconds, e.seconds);
  EXPECT_FALSE(w.armed);  // once
}

TEST(SweepEstimateTest, TheTimeLeftFollowsTheTausDone) {
  SweepWatch w = watch_sweep(shape(1e5, 10, 25000, false), false);
  EXPECT_LT(sweep_seconds_left(w), 0);  // nothing done: unknown
  check_sweep(w, 1);
  EXPECT_LT(sweep_seconds_left(w), 0);
  // Tau 1 done: the other nine, at its pace (every disjoint tau costs the same).
  check_sweep(w, 2);
  w.start -= 1;  // it took a second
  EXPECT_NEAR(sweep_seconds_left(w), 9, 0.1);
  for (int k = 3; k <= 11; ++k) check_sweep(w, k);  // all done
  EXPECT_NEAR(sweep_seconds_left(w), 0, 1e-9);
}

TEST(SweepEstimateTest, StatsRowsCostMoreForTheTotalAndTheo1Families) {
  const double oadev = stats_row_seconds(Statistic::kOadev, 1e6, 8);
  EXPECT_EQ(stats_row_seconds(Statistic::kOadev, 1e6, 1024), oadev);
  EXPECT_GT(stats_row_seconds(Statistic::kTotdev, 1e6, 8), oadev);
  EXPECT_GT(stats_row_seconds(Statistic::kMtotdev, 1e6, 8),
            stats_row_seconds(Statistic::kTotdev, 1e6, 8));
  // Thêo1's cost grows with m; a longer grid costs more for every statistic.
  EXPECT_GT(stats_row_seconds(Statistic::kTheo1, 1e6, 1000),
            100 * stats_row_seconds(Statistic::kTheo1, 1e6, 2));
  EXPECT_GT(stats_row_seconds(Statistic::kMdev, 1e7, 8), 5 * oadev);
}

TEST(DescribeDurationTest, WordsAndRounding) {
  EXPECT_EQ(describe_duration(0.2), "1 second");
  EXPECT_EQ(describe_duration(61), "61 seconds");
  EXPECT_EQ(describe_duration(600), "10 minutes");
  EXPECT_EQ(describe_duration(5400), "1.5 hours");
  EXPECT_EQ(describe_duration(3 * 86400), "3 days");
  EXPECT_EQ(describe_duration(5 * 365.25 * 86400), "5 years");
  EXPECT_EQ(describe_duration(1e300), "over a million years");
}

}  // namespace
}  // namespace tauspan
