// Samples placed on slots of tau0: rounding, gaps, the sampling interval and
// the inputs that cannot make a grid.
#include "grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>

namespace tauspan {
namespace {

SampleSeries at_times(const std::vector<double>& times) {
  SampleSeries s;
  for (size_t i = 0; i < times.size(); ++i) s.push_back({times[i], static_cast<double>(i + 1)});
  return s;
}

GridSettings with_tau0(double tau0) {
  GridSettings settings;
  settings.tau0 = tau0;
  return settings;
}

TEST(MakeGrid, RoundsEachTimeToTheNearestSlotAndCountsGaps) {
  // Slots 0, 1, 2, 5 (2.5 s after the first, rounded half away), out of
  // file order after the first; slots 3 and 4 are gaps.
  const GridBuild b = make_grid(at_times({10, 11.4, 12.5, 10.6}), with_tau0(0.5));
  ASSERT_EQ("", b.error);
  EXPECT_EQ(std::vector<double>({1, 4, 0, 2, 0, 3}), b.grid.values);
  EXPECT_EQ(std::vector<uint8_t>({1, 1, 0, 1, 0, 1}), b.grid.present);
  EXPECT_EQ(4, b.grid.samples);
  EXPECT_EQ(2, b.grid.gaps);
  EXPECT_EQ(0.5, b.grid.tau0);
}

TEST(MakeGrid, JitteredTimestampsLandInTheirOwnSlots) {
  // A log of 1 s steps with timestamps off by up to a quarter step either
  // way, a few readings lost. The plain median step is off by about 1e-3
  // here, which would put the samples after the first few hundred in the
  // wrong slots; the refined tau0 keeps every one in its own.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> jitter(-0.25, 0.25);
  SampleSeries s;
  std::vector<uint8_t> expected(100000, 0);
  for (int k = 0; k < 100000; ++k) {
    if (k % 997 == 5) continue;
    s.push_back({1.7e9 + k + (k ? jitter(rng) : 0), static_cast<double>(k)});
    expected[static_cast<size_t>(k)] = 1;
  }
  const GridBuild b = make_grid(s, GridSettings{});
  ASSERT_EQ("", b.error);
  ASSERT_EQ(expected.size(), b.grid.values.size());
  EXPECT_EQ(expected, b.grid.present);
  EXPECT_NEAR(1.0, b.grid.tau0, 1e-5);
  for (size_t k = 0; k < expected.size(); ++k) {
    if (expected[k]) {
      ASSERT_EQ(static_cast<double>(k), b.grid.values[k]) << k;
    }
  }
  EXPECT_EQ(101, b.grid.gaps);
}

TEST(MakeGrid, Tau0IsTheMedianStepUnlessGiven) {
  // Exactly periodic times, a gap among them: the period, unrefined.
  std::vector<double> times;
  for (int k = 0; k < 5000; ++k) times.push_back(k < 3000 ? 0.1 * k : 0.1 * (k + 700));
  EXPECT_EQ(0.1, make_grid(at_times(times), GridSettings{}).grid.tau0);
  // Steps 1, 1, 3 (a gap), 1.5: median 1.25, the midpoint of the middle two.
  EXPECT_EQ(1.25, make_grid(at_times({0, 1, 2, 5, 6.5}), GridSettings{}).grid.tau0);
  // Steps 2, 2, 60: the gap does not move an odd count's median.
  const GridBuild odd = make_grid(at_times({0, 2, 4, 64}), GridSettings{});
  EXPECT_EQ(2, odd.grid.tau0);
  EXPECT_EQ(33u, odd.grid.values.size());
  EXPECT_EQ(0.25, make_grid(at_times({0, 1, 2, 5}), with_tau0(0.25)).grid.tau0);
}

TEST(MakeGrid, NominalIsTakenOffExactlyForFrequencyOnly) {
  SampleSeries s = {{0, 10000000.000001}, {1, 9999999.9999993}, {2, 1e7}};
  GridSettings settings;
  settings.nominal = 1e7;
  const GridBuild f = make_grid(s, settings);
  ASSERT_EQ("", f.error);
  EXPECT_EQ(std::vector<double>({10000000.000001 - 1e7, 9999999.9999993 - 1e7, 0}), f.grid.values);
  EXPECT_EQ(1e7, f.grid.nominal);
  // The differences are exact: adding f0 back gives the readings.
  EXPECT_EQ(10000000.000001, f.grid.values[0] + 1e7);
  settings.kind = DataKind::kPhase;
  const GridBuild p = make_grid(s, settings);
  EXPECT_EQ(0, p.grid.nominal);
  EXPECT_EQ(1e7, p.grid.values[2]);
}

TEST(MakeGrid, RefusesWhatCannotBeAGridNamingTheTimesOrValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    SampleSeries series;
    double tau0;
    const char* error;
  } kCases[] = {
      {at_times({0, 1, 1.4, 3}), 1, "samples at times 1 and 1.4 fall in one slot of tau0 1"},
      {at_times({5, 6, 4.75}), 1, "the sample at time 4.75 comes before the first sample (time 5)"},
      // A wrong time is reported before a shared slot or a bad value met
      // earlier.
      {at_times({0, 1, 1.4, -3}), 1,
       "the sample at time -3 comes before the first sample (time 0)"},
      {{{0, 1}, {1, inf}, {2, 1}, {1e300, 1}}, 1,
       "the sample at time 1e+300 lies 1e+300 steps of tau0 1 after the first (time 0): "
       "more slots than 8 per sample plus 4194304 would be mostly gaps"},
      {at_times({0, 1, 1e300}), 1,
       "the sample at time 1e+300 lies 1e+300 steps of tau0 1 after the first (time 0): "
       "more slots than 8 per sample plus 4194304 would be mostly gaps"},
      {at_times({0, 1, inf}), 1,
       "the sample at time inf lies inf steps of tau0 1 after the first (time 0): "
       "more slots than 8 per sample plus 4194304 would be mostly gaps"},
      {{{0, 1}, {1, inf}}, 1, "the value inf at time 1 is not a finite number"},
      {{}, 1, "no samples"},
      {at_times({3}), 0, "one sample gives no step between sample times to take tau0 from"},
      {at_times({3, 3, 3}), 0,
       "the median step between sample times is 0, not a sampling interval; give -tau0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.error);
    const GridBuild b = make_grid(c.series, with_tau0(c.tau0));
    EXPECT_EQ(c.error, b.error);
    EXPECT_TRUE(b.grid.values.empty());
    // A series given up to the grid is whole for every message.
    SampleSeries taken = c.series;
    EXPECT_EQ(c.error, make_grid(std::move(taken), with_tau0(c.tau0)).error);
    EXPECT_TRUE(taken.empty());
  }
}

TEST(MakeGrid, ASeriesGivenUpGivesTheSameGridAsOneKept) {
  // Millions of bytes of jittered samples, so that their pages go back as
  // the grid fills: lost readings, a few late ones written out of order,
  // and a nominal taken off. The grid's tau0 and every slot are the same.
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> jitter(-0.2, 0.2);
  SampleSeries s;
  for (int k = 0; k < 600000; ++k) {
    if (k % 101 == 7) continue;
    s.push_back({1e6 + 0.5 * (k + (k ? jitter(rng) : 0)), 1e7 + static_cast<double>(rng() % 1000)});
    if (k % 5003 == 9 && s.size() > 3) std::swap(s[s.size() - 1], s[s.size() - 3]);
  }
  GridSettings settings;
  settings.nominal = 1e7;
  const GridBuild kept = make_grid(s, settings);
  ASSERT_EQ("", kept.error);
  SampleSeries copy = s;
  const GridBuild given = make_grid(std::move(copy), settings);
  ASSERT_EQ("", given.error);
  EXPECT_TRUE(copy.empty());
  EXPECT_EQ(kept.grid.tau0, given.grid.tau0);
  EXPECT_EQ(kept.grid.values, given.grid.values);
  EXPECT_EQ(kept.grid.present, given.grid.present);
  EXPECT_EQ(kept.grid.gaps, given.grid.gaps);
  EXPECT_GT(kept.grid.gaps, 5000);
}

TEST(MakeGrid, EvenTimesFillTheSameSlotsAsTheWalk) {
  // Times exactly 0.25 apart take the short way; one more sample after a gap
  // sends the same samples the long way. Their slots and values agree.
  std::mt19937_64 rng(5);
  SampleSeries even;
  for (int k = 0; k < 300000; ++k) {
    even.push_back({1e6 + 0.25 * k, 1e7 + static_cast<double>(rng() % 1000) * 1e-3});
  }
  SampleSeries gapped = even;
  gapped.push_back({even.back().time + 1.0, 1e7});
  GridSettings settings;
  settings.nominal = 1e7;
  const GridBuild walked = make_grid(gapped, settings);
  ASSERT_EQ("", walked.error);
  ASSERT_EQ(walked.grid.gaps, 3);
  for (const bool give_up : {false, true}) {
    SampleSeries copy = even;
    const GridBuild short_way = give_up ? make_grid(std::move(copy), settings) : make_grid(copy, settings);
    ASSERT_EQ("", short_way.error);
    EXPECT_EQ(short_way.grid.tau0, walked.grid.tau0);
    EXPECT_EQ(short_way.grid.gaps, 0);
    EXPECT_EQ(short_way.grid.samples, static_cast<int64_t>(even.size()));
    const std::vector<double> values(walked.grid.values.begin(),
                                     walked.grid.values.begin() + static_cast<ptrdiff_t>(even.size()));
    const std::vector<uint8_t> present(walked.grid.present.begin(),
                                       walked.grid.present.begin() + static_cast<ptrdiff_t>(even.size()));
    EXPECT_EQ(short_way.grid.values, values);
    EXPECT_EQ(short_way.grid.present, present);
  }
}

TEST(MakeGrid, AllowsSparseGridsUpToTheSlotLimit) {
  // Two samples: 8 * 2 + 2^22 slots are allowed, one more is not.
  EXPECT_EQ(0x1p22 + 16, make_grid(at_times({0, 0x1p22 + 15}), with_tau0(1)).grid.values.size());
  EXPECT_NE("", make_grid(at_times({0, 0x1p22 + 16}), with_tau0(1)).error);
}

}  // namespace
}  // namespace tauspan
