#include "allan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "reference.h"

namespace tauspan {
namespace {

SampleSeries at_times(const std::vector<double>& times, double value = 1.0) {
  SampleSeries s;
  for (double t : times) s.push_back({t, value});
  return s;
}

SampleSeries evenly(size_t n, double dt = 1.0) {
  SampleSeries s;
  for (size_t i = 0; i < n; ++i) s.push_back({static_cast<double>(i) * dt, 1.0});
  return s;
}

std::vector<double> times_of(const SampleSeries& bins) {
  std::vector<double> t;
  for (const Sample& b : bins) t.push_back(b.time);
  return t;
}

bool same_bits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

TEST(TimeExtentTest, LowestAndHighestWhereverTheyStand) {
  const SampleSeries s = at_times({10, 0, 20, 30, 5});
  const TimeExtent e = time_extent(s, {});
  EXPECT_EQ(e.t_min, 0);
  EXPECT_EQ(e.t_max, 30);
  EXPECT_EQ(tau_range(s, e, {}).min_tau, 20);  // third sample in file order, less t_min
}

TEST(TimeExtentTest, RowNumberBaseIgnoresTheTimes) {
  RunSettings rows;
  rows.time_column = -1;
  rows.time_multiplier = 1.0;
  // One rejected header line: the samples lie at 1 ... 8.
  const SampleSeries s = at_times({1, 2, 3, 4, 5, 6, 7, 8});
  const TimeExtent e = time_extent(s, rows);
  EXPECT_EQ(e.t_min, 0);
  EXPECT_EQ(e.t_max, 7);
  const TauRange r = tau_range(s, e, rows);
  EXPECT_EQ(r.min_tau, 3);
  EXPECT_EQ(r.max_tau, 1.75);
  rows.time_multiplier = 0.5;
  EXPECT_EQ(time_extent(s, rows).t_max, 3.5);
}

TEST(TauRangeTest, DefaultsAndSettings) {
  const SampleSeries s = evenly(1000);
  const TimeExtent e = time_extent(s, {});
  EXPECT_EQ(tau_range(s, e, {}).min_tau, 2);
  EXPECT_EQ(tau_range(s, e, {}).max_tau, 249.75);
  RunSettings given;
  given.min_tau = -5;
  given.max_tau = 1e9;
  EXPECT_EQ(tau_range(s, e, given).min_tau, -5);
  EXPECT_EQ(tau_range(s, e, given).max_tau, 1e9);
}

TEST(TauAtTest, Schedule) {
  EXPECT_EQ(tau_at(1, 1, 3, 9, false), 3);
  EXPECT_EQ(tau_at(1, 0, 3, 9, true), 3);
  EXPECT_EQ(tau_at(1, 3, 2, 4.75, false), 2);
  EXPECT_EQ(tau_at(2, 3, 2, 4.75, false), 3.375);
  EXPECT_EQ(tau_at(3, 3, 2, 4.75, false), 4.75);
  EXPECT_EQ(tau_at(3, 3, 2, 4.75, true), 4.75);
  // The first logarithmic tau is a computed product, not min_tau itself.
  const SampleSeries s = evenly(92, 3);
  const TauRange r = tau_range(s, time_extent(s, {}), {});
  EXPECT_EQ(r.min_tau, 6);
  EXPECT_EQ(r.max_tau, 68.25);
  const double first = tau_at(1, 100, r.min_tau, r.max_tau, true);
  EXPECT_EQ(first, 6.000000000000001);
  // So the sample at 6 still joins the first window: bins of 3 samples.
  EXPECT_EQ(average_bins(s, first, true)[0].time, 3);
  // Equal times: 0/0 makes every logarithmic tau NaN but the last.
  EXPECT_TRUE(std::isnan(tau_at(1, 3, 0, 0, true)));
  EXPECT_EQ(tau_at(3, 3, 0, 0, true), 0);
}

TEST(AverageBinsTest, OverlapSlidesByOneSample) {
  const SampleSeries s = evenly(10);
  const SampleSeries bins = average_bins(s, 3, true);
  EXPECT_EQ(times_of(bins), (std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(allan_variance(bins, 3, 0), 0);
}

TEST(AverageBinsTest, WithoutOverlapBinsAreDisjoint) {
  EXPECT_EQ(times_of(average_bins(evenly(10), 3, false)), (std::vector<double>{1, 4, 7}));
  // The last window (6..8) spans 2 > 0.9 * 2.1 and is added.
  EXPECT_EQ(times_of(average_bins(evenly(9), 2.1, false)), (std::vector<double>{1, 4, 7}));
  EXPECT_EQ(times_of(average_bins(evenly(10), 3.1, false)), (std::vector<double>{1.5, 5.5}));
}

TEST(AverageBinsTest, GapsMixBothSides) {
  std::vector<double> t;
  for (int i = 0; i < 10; ++i) t.push_back(i);
  for (int i = 100; i < 110; ++i) t.push_back(i);
  const std::vector<double> got = times_of(average_bins(at_times(t), 3, true));
  ASSERT_GE(got.size(), 10u);
  EXPECT_EQ(got[6], 7);
  EXPECT_EQ(got[7], 8);
  EXPECT_EQ(got[8], 39);
  EXPECT_EQ(got[9], 70);
  EXPECT_EQ(got[10], 101);
}

TEST(AverageBinsTest, ClosingSampleRemovesOnlyTheFront) {
  const SampleSeries bins = average_bins(at_times({0, 0.9, 1.0, 1.1, 2.5}), 1, true);
  ASSERT_EQ(bins.size(), 3u);
  EXPECT_EQ(bins[0].time, (0 + 0.9) / 2);
  EXPECT_EQ(bins[1].time, (0.9 + 1.0 + 1.1) / 3);
  EXPECT_EQ(bins[2].time, (1.0 + 1.1 + 2.5) / 3);
}

TEST(AverageBinsTest, LongTausAndNanTaus) {
  EXPECT_TRUE(average_bins(evenly(10), 11, true).empty());
  EXPECT_TRUE(average_bins(evenly(10), 10, true).empty());  // 9 is not above 0.9 * 10
  EXPECT_EQ(average_bins(evenly(10), 9.5, true).size(), 1u);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const SampleSeries bins = average_bins(evenly(6), nan, true);
  EXPECT_EQ(times_of(bins), (std::vector<double>{0, 1, 2, 3, 4}));
  EXPECT_EQ(allan_variance(bins, nan, 0), 0);
}

TEST(AverageBinsTest, MissingSamplesAreSkipped) {
  EXPECT_EQ(window_mean(std::vector<Sample>{{kMissing, 1}, {2, kMissing}}).time, kMissing);
  EXPECT_EQ(window_mean(std::vector<Sample>{{kMissing, 1}, {2, 4}, {4, 6}}).value, 5);
  EXPECT_EQ(window_mean(std::vector<Sample>{}).value, kMissing);
}

TEST(AllanVarianceTest, WorkedRun) {
  const double values[] = {1, 3, 2, 5, 4, 6, 5, 7, 6, 8, 7, 9, 8, 10, 9, 11, 10, 12, 11, 13};
  SampleSeries s;
  for (int i = 0; i < 20; ++i) s.push_back({static_cast<double>(i), values[i]});
  const TauRange r = tau_range(s, time_extent(s, {}), {});
  EXPECT_EQ(r.min_tau, 2);
  EXPECT_EQ(r.max_tau, 4.75);
  struct Want {
    size_t bins;
    double avar;
  };
  const Want overlapped[] = {{18, 0.671875}, {16, 2.28645833333333}, {15, 3.51}};
  const Want disjoint[] = {{9, 0.65625}, {4, 2.59375}, {3, 4.1}};
  for (int k = 1; k <= 3; ++k) {
    const double tau = tau_at(k, 3, r.min_tau, r.max_tau, false);
    const SampleSeries o = average_bins(s, tau, true);
    EXPECT_EQ(o.size(), overlapped[k - 1].bins);
    EXPECT_NEAR(allan_variance(o, tau, 0), overlapped[k - 1].avar, 5e-15);
    const SampleSeries d = average_bins(s, tau, false);
    EXPECT_EQ(d.size(), disjoint[k - 1].bins);
    EXPECT_NEAR(allan_variance(d, tau, 0), disjoint[k - 1].avar, 5e-15);
  }
  EXPECT_EQ(allan_variance(average_bins(s, 2, true), 2, 0), 0.671875);
  EXPECT_EQ(allan_variance(average_bins(s, 2, false), 2, 0), 0.65625);
}

TEST(AllanVarianceTest, PairingThreshold) {
  const SampleSeries bins{{0, 1}, {0.95, 2}, {1.9, 4}};
  EXPECT_EQ(allan_variance(bins, 1, 0), 4.5);      // only 0 and 1.9 pair
  EXPECT_EQ(allan_variance(bins, 1, 0.1), 1.25);   // jitter is a fraction of tau
  EXPECT_EQ(allan_variance(bins, 0, 0), 0);        // every lead pairs with itself
  // Only the lead is tested: a missing lag value makes the sum overflow.
  EXPECT_EQ(allan_variance({{0, kMissing}, {5, 1}}, 1, 0), HUGE_VAL);
  EXPECT_EQ(allan_variance({{0, 1}, {1, kMissing}, {2, 3}}, 1, 0), 2);  // the lead is tested
}

TEST(AllanVarianceTest, ConstantsGiveTinyVariancesFromRounding) {
  const SampleSeries whole = average_bins(at_times({0, 1, 2, 3, 4, 5, 6, 7}, 3.0), 2, true);
  EXPECT_EQ(allan_variance(whole, 2, 0), 0);
  const SampleSeries s = at_times({0, 0.5, 1, 1.5, 2.5, 3, 3.5}, 0.1);
  const double avar = allan_variance(average_bins(s, 1.5, false), 1.5, 0);
  EXPECT_GT(avar, 9e-35);
  EXPECT_LT(avar, 1e-34);
}

// Random series of every awkward shape; the fast bins must equal the
// literal ones bit for bit.
SampleSeries random_series(std::mt19937_64& rng, size_t n) {
  std::uniform_real_distribution<double> u(0, 1);
  const int shape = static_cast<int>(rng() % 6);
  SampleSeries s;
  double t = shape == 5 ? 1.7e9 + 0.123 : 0;
  for (size_t i = 0; i < n; ++i) {
    switch (shape) {
      case 0: t = static_cast<double>(i); break;                     // even, whole
      case 1: t += 0.1; break;                                       // even, rounded
      case 2: t += u(rng) < 0.02 ? 50 * u(rng) : u(rng); break;      // gaps
      case 3: t += u(rng) < 0.2 ? 0 : (u(rng) < 0.1 ? -2 : 1); break;  // duplicates, decreasing
      case 4: t = std::floor(u(rng) * static_cast<double>(n)); break;  // shuffled
      default: t += 0.001 * (1 + u(rng)); break;                      // big offset
    }
    double v = 1e7 + u(rng) - 0.5;
    if (rng() % 500 == 0) v = HUGE_VAL;
    if (rng() % 700 == 0) v = -0.0;
    s.push_back({t, v});
  }
  return s;
}

void expect_same_bins(const SampleSeries& got, const SampleSeries& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_TRUE(same_bits(got[i].time, want[i].time)) << i << ": " << got[i].time << " " << want[i].time;
    ASSERT_TRUE(same_bits(got[i].value, want[i].value)) << i << ": " << got[i].value << " " << want[i].value;
  }
}

TEST(AverageBinsTest, FastEqualsLiteralBitForBit) {
  std::mt19937_64 rng(3);
  SampleSeries reuse;
  SampleSeries scratch;
  const int widths[] = {8, 16, 32};
  for (int round = 0; round < 150; ++round) {
    select_vector_width(widths[round % 3]);
    const size_t n = 4 + rng() % (round % 10 == 0 ? 6000 : 400);
    SampleSeries s = random_series(rng, n);
    if (round % 7 == 3) s[rng() % n] = {kMissing, kMissing};
    if (round % 7 == 4) s[rng() % n].value = kMissing;
    const TauRange r = tau_range(s, time_extent(s, {}), {});
    const int32_t taus = 1 + static_cast<int32_t>(rng() % 12);
    for (const bool log_spacing : {false, true}) {
      for (int32_t k = 0; k <= taus; ++k) {
        // k = 0: a NaN, zero or negative tau.
        const double odd[] = {NAN, 0.0, -1.5};
        const double tau = k == 0 ? odd[round % 3] : tau_at(k, taus, r.min_tau, r.max_tau, log_spacing);
        for (const bool overlap : {true, false}) {
          reuse = average_bins(s, tau, overlap, std::move(reuse));
          const SampleSeries want = reference::average_bins(s, tau, overlap);
          SCOPED_TRACE(testing::Message() << "round " << round << " tau " << tau
                                          << " overlap " << overlap);
          expect_same_bins(reuse, want);
          const double jitter = round % 3 ? 0.0 : 0.05;
          const double avar = allan_variance(want, tau, jitter);
          EXPECT_TRUE(same_bits(allan_variance(reuse, tau, jitter), avar));
          // The sweep's own tau pairs bins as they are made and drops the
          // paired ones: the same count and bits, however few are kept.
          const size_t keep = round % 3 == 0 ? 1 : (round % 3 == 1 ? 7 : 4096);
          const TauVariance one = allan_tau(s, tau, overlap, jitter, scratch, keep);
          EXPECT_EQ(one.bins, want.size());
          if (want.size() >= 2) {
            EXPECT_TRUE(same_bits(one.avar, avar));
          }
        }
      }
    }
  }
  select_vector_width(0);
}

}  // namespace
}  // namespace tauspan
