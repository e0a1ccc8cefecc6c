// The option values of a -stat run and the averaging factors they give.
#include "stats_settings.h"

#include <gtest/gtest.h>

#include "result_file.h"

namespace tauspan {
namespace {

// A gap-free grid of n frequency samples, tau0 apart.
Grid frequency_grid(int64_t n, double tau0 = 1) {
  Grid g;
  g.tau0 = tau0;
  g.values.assign(static_cast<size_t>(n), 0.0);
  g.present.assign(static_cast<size_t>(n), 1);
  g.samples = n;
  return g;
}

TEST(ParseStatistics, KeepsTheOrderAndDropsRepeats) {
  const StatisticsParse p = parse_statistics("mdev,adev,mdev,ohdev");
  EXPECT_EQ(p.statistics,
            (std::vector<Statistic>{Statistic::kMdev, Statistic::kAdev, Statistic::kOhdev}));
  EXPECT_EQ(p.unknown, "");
}

TEST(ParseStatistics, TheFirstUnknownNameLeavesNone) {
  const struct {
    const char* text;
    const char* unknown;
  } kCases[] = {{"oadev,avar,bogus", "avar"}, {"", ""},       {"adev,", ""},
                {"ADEV", "ADEV"},             {"adev ,mdev", "adev "}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const StatisticsParse p = parse_statistics(c.text);
    EXPECT_TRUE(p.statistics.empty());
    EXPECT_EQ(p.unknown, c.unknown);
  }
  EXPECT_EQ(statistic_names(), "adev, oadev, mdev, tdev, hdev, ohdev, totdev, mtotdev, ttotdev, htotdev, "
            "theo1, mtie, tierms");
}

TEST(ParseTauSet, KeywordsAndLists) {
  EXPECT_EQ(parse_tau_set("octave").tau_set, TauSet::kOctave);
  EXPECT_EQ(parse_tau_set("decade").tau_set, TauSet::kDecade);
  EXPECT_EQ(parse_tau_set("all").tau_set, TauSet::kAll);
  const TauSetParse list = parse_tau_set("10,0.5,1e3,10");
  EXPECT_TRUE(list.valid);
  EXPECT_EQ(list.tau_set, TauSet::kList);
  EXPECT_EQ(list.taus, (std::vector<double>{10, 0.5, 1000, 10}));  // sorted per grid, later
  for (const char* bad :
       {"", "Octave", "1,,2", "1,", "x", "0", "-1", "2s", "inf", "1e999", "nan"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parse_tau_set(bad).valid);
  }
}

TEST(AveragingFactors, OctaveAndDecadeStopAtTheDefaultLargestFactor) {
  const Grid g = frequency_grid(1000);  // N/4 = 250, N/5 = 200
  StatsSettings s;
  EXPECT_EQ(averaging_factors(s, Statistic::kOadev, g),
            (std::vector<int64_t>{1, 2, 4, 8, 16, 32, 64, 128}));
  s.tau_set = TauSet::kDecade;
  EXPECT_EQ(averaging_factors(s, Statistic::kOadev, g),
            (std::vector<int64_t>{1, 2, 4, 10, 20, 40, 100, 200}));
  EXPECT_EQ(averaging_factors(s, Statistic::kAdev, g),
            (std::vector<int64_t>{1, 2, 4, 10, 20, 40, 100, 200}));
  EXPECT_EQ(averaging_factors(s, Statistic::kHdev, frequency_grid(999)),
            (std::vector<int64_t>{1, 2, 4, 10, 20, 40, 100}));
}

TEST(AveragingFactors, AllAndAListReachEveryFactorWithATerm) {
  const Grid g = frequency_grid(20, 0.5);
  StatsSettings s;
  s.tau_set = TauSet::kAll;
  const std::vector<int64_t> all = averaging_factors(s, Statistic::kOadev, g);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front(), 1);
  EXPECT_EQ(all.back(), max_factor(Statistic::kOadev, g));
  EXPECT_EQ(all.size(), static_cast<size_t>(all.back()));
  // Taus in time units: 0.2 rounds to m = 0, 0.6 and 0.5 to 1, 1.3 to 3;
  // 1e300 is far beyond the record.
  s.tau_set = TauSet::kList;
  s.taus = {1.3, 0.2, 0.6, 0.5, 1e300, 2};
  EXPECT_EQ(averaging_factors(s, Statistic::kOadev, g), (std::vector<int64_t>{1, 3, 4}));
}

TEST(ResultFileName, ATagNamesAnotherResultTheSameWay) {
  EXPECT_EQ(result_file_name("run1234.dat", "oadev"), "run1234_oadev.dat");
  EXPECT_EQ(result_file_name("data.old/run", "mdev"), "data.old/run_mdev");
  EXPECT_EQ(result_file_name("run1234.dat"), "run1234_avar.dat");
}

}  // namespace
}  // namespace tauspan
