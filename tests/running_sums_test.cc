// Bin means from running sums (-fast): the same windows as the fresh pass,
// each mean within an ulp of the exact one.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "allan.h"
#include "fast_reference.h"
#include "reference.h"
#include "test_util.h"

namespace tauspan {
namespace {

// The mean, summed exactly in 113 bits (enough for the series below) and
// rounded to a double.
double exact_mean(const SampleSeries& s, size_t b, size_t e, double Sample::*field) {
  __float128 sum = 0;
  for (size_t i = b; i < e; ++i) sum += static_cast<__float128>(s[i].*field);
  return static_cast<double>(sum / static_cast<__float128>(e - b));
}

int64_t ulps_apart(double a, double b) {
  if (a == b) return 0;
  if (std::signbit(a) != std::signbit(b)) return INT64_MAX;
  const int64_t d = std::bit_cast<int64_t>(a) - std::bit_cast<int64_t>(b);
  return d < 0 ? -d : d;
}

SampleSeries offset_series(std::mt19937_64& rng, size_t n, int shape) {
  std::uniform_real_distribution<double> u(0, 1);
  SampleSeries s;
  double t = shape == 0 ? 1.7e9 + 0.123456 : 0;
  for (size_t i = 0; i < n; ++i) {
    t += shape == 0 ? 0.1 + 1e-4 * u(rng) : shape == 1 ? 1.0 : (u(rng) < 0.05 ? 20 * u(rng) : u(rng));
    // A reference near 10 MHz with noise in the last digits.
    const double v = shape == 2 ? u(rng) - 0.5 : 10000000.000123 + std::round(u(rng) * 1e3) * 1e-9;
    s.push_back({t, v});
  }
  return s;
}

TEST(RunningSumsTest, EveryMeanIsWithinAnUlpOfTheExactMean) {
  std::mt19937_64 rng(17);
  int64_t worst = 0;
  for (int round = 0; round < 15; ++round) {
    const SampleSeries s = offset_series(rng, 200 + rng() % 1500, round % 3);
    const TauRange r = tau_range(s, time_extent(s, {}), {});
    for (int32_t k = 1; k <= 12; ++k) {
      const double tau = tau_at(k, 12, r.min_tau, r.max_tau, round % 2);
      for (const bool overlap : {true, false}) {
        const SampleSeries bins = average_bins_running(s, tau, overlap);
        const auto w = bin_windows(s, tau, overlap);
        ASSERT_EQ(bins.size(), w.size());
        for (size_t j = 0; j < w.size(); ++j) {
          const int64_t dt = ulps_apart(bins[j].time, exact_mean(s, w[j].first, w[j].second, &Sample::time));
          const int64_t dv = ulps_apart(bins[j].value, exact_mean(s, w[j].first, w[j].second, &Sample::value));
          ASSERT_LE(dt, 1) << "round " << round << " tau " << tau << " bin " << j;
          ASSERT_LE(dv, 1) << "round " << round << " tau " << tau << " bin " << j;
          worst = std::max({worst, dt, dv});
        }
      }
    }
  }
  EXPECT_LE(worst, 1);
}

TEST(RunningSumsTest, AHugeSampleAmongOrdinaryOnesLeavesEveryMeanWithinAnUlp) {
  // An overrange code of 9.91e37 once swamped the prefix sums of every later
  // window: thousands of ulps. On a grid (readings near 10 MHz) and off any
  // grid (values around 0 at full precision).
  std::mt19937_64 rng(31);
  std::normal_distribution<double> g(0, 1);
  for (const bool on_grid : {true, false}) {
    SampleSeries s;
    for (int i = 0; i < 1500; ++i) {
      s.push_back({1.7e9 + 0.1 * i, on_grid ? 1e7 * (1 + 1e-12 * g(rng)) : g(rng)});
    }
    s[600].value = 9.91e37;
    s[601].value = -3e36;
    const TauRange r = tau_range(s, time_extent(s, {}), {});
    for (int32_t k = 1; k <= 8; ++k) {
      const double tau = tau_at(k, 8, r.min_tau, r.max_tau, true);
      for (const bool overlap : {true, false}) {
        const SampleSeries bins = average_bins_running(s, tau, overlap);
        const auto w = bin_windows(s, tau, overlap);
        ASSERT_EQ(bins.size(), w.size());
        for (size_t j = 0; j < w.size(); ++j) {
          ASSERT_LE(ulps_apart(bins[j].time, exact_mean(s, w[j].first, w[j].second, &Sample::time)), 1);
          ASSERT_LE(ulps_apart(bins[j].value, exact_mean(s, w[j].first, w[j].second, &Sample::value)), 1)
              << (on_grid ? "grid" : "off grid") << " tau " << tau << " bin " << j;
        }
      }
    }
  }
}

TEST(RunningSumsTest, WholeNumberTimesPairIdentically) {
  std::mt19937_64 rng(23);
  for (const size_t n : {size_t{20}, size_t{257}, size_t{4000}}) {
    SampleSeries s;
    for (size_t i = 0; i < n; ++i) s.push_back({static_cast<double>(i + 1000), std::sin(double(i)) + 1e3});
    const TauRange r = tau_range(s, time_extent(s, {}), {});
    for (const bool log : {false, true}) {
      for (int32_t k = 1; k <= 40; ++k) {
        const double tau = tau_at(k, 40, r.min_tau, r.max_tau, log);
        for (const bool overlap : {true, false}) {
          const SampleSeries fast = average_bins_running(s, tau, overlap);
          const SampleSeries plain = average_bins(s, tau, overlap);
          ASSERT_EQ(fast.size(), plain.size());
          for (size_t j = 0; j < fast.size(); ++j) ASSERT_EQ(fast[j].time, plain[j].time) << j;
          // The same bin times make the same pairs. The values may differ in
          // their last bit, which on a tiny variance of values near 1000 shows
          // from the ninth digit on.
          const double a = allan_variance(fast, tau, 0);
          const double b = allan_variance(plain, tau, 0);
          EXPECT_NEAR(a, b, 1e-6 * b);
        }
      }
    }
  }
}

TEST(RunningSumsTest, AgreesWithTheFreshPassToTenDigits) {
  std::mt19937_64 rng(29);
  std::uniform_real_distribution<double> u(0, 1);
  for (int round = 0; round < 20; ++round) {
    SampleSeries s;
    double t = 0, walk = 0;
    for (size_t i = 0; i < 1500; ++i) {
      t += round % 2 ? 1.0 : 0.5 + u(rng);
      walk += u(rng) - 0.5;
      s.push_back({t, 5.0 + walk + u(rng)});
    }
    const TauRange r = tau_range(s, time_extent(s, {}), {});
    for (int32_t k = 1; k <= 20; ++k) {
      const double tau = tau_at(k, 20, r.min_tau, r.max_tau, round % 4 < 2);
      for (const bool overlap : {true, false}) {
        const SampleSeries plain = average_bins(s, tau, overlap);
        if (plain.size() < 2) continue;
        const double a = allan_variance(average_bins_running(s, tau, overlap), tau, 0.01);
        const double b = allan_variance(plain, tau, 0.01);
        EXPECT_NEAR(a, b, 1e-10 * std::fabs(b)) << round << " " << tau;
      }
    }
  }
}

TEST(RunningSumsTest, InfinitiesHugeValuesAndMissingSamples) {
  SampleSeries s;
  for (int i = 0; i < 30; ++i) s.push_back({static_cast<double>(i), 1.0 + i % 4});
  s[7].value = HUGE_VAL;
  s[12].value = 1.7e308;
  s[13].value = 1.7e308;
  s[20] = {kMissing, kMissing};
  s[24].value = kMissing;
  for (const bool overlap : {true, false}) {
    const SampleSeries fast = average_bins_running(s, 3, overlap);
    const SampleSeries plain = reference::average_bins(s, 3, overlap);
    ASSERT_EQ(fast.size(), plain.size());
    for (size_t j = 0; j < fast.size(); ++j) {
      // Windows with a wild sample take the fresh pass: the same bits.
      EXPECT_EQ(fast[j].time, plain[j].time);
      if (std::isfinite(plain[j].value)) {
        EXPECT_NEAR(fast[j].value, plain[j].value, 1e-15 * std::fabs(plain[j].value));
      } else {
        EXPECT_EQ(std::bit_cast<uint64_t>(fast[j].value), std::bit_cast<uint64_t>(plain[j].value));
      }
    }
  }
}

TEST(RunningSumsTest, OptionEchoHeaderAndHelp) {
  test::ScratchDir dir;
  dir.write("w.dat", test::numbered_lines({1, 3, 2, 5, 4, 6, 5, 7, 6, 8, 7, 9, 8, 10, 9, 11, 10, 12, 11, 13}));
  test::RunOptions o;
  o.cwd = dir.dir;
  const auto r = test::run_tool({"-fast", "-n", "3", "-fast", "w.dat"}, o);
  EXPECT_EQ(r.out.substr(0, 64),
            "Using running sums for bin means.\nCalculating for 3 tau values\nU");
  EXPECT_NE(r.out.find("tau\tAVAR\tADEV\n2.000000\t0.671875\t0.819680\n3.375000\t2.286458\t1.512104\n"
                       "4.750000\t3.510000\t1.873499\n"),
            std::string::npos);
  const std::string header =
      "#Overlapped Allan variance of w.dat\n#Using column 1 as time, column 2 as data\n"
      "#Using linearly spaced taus\n#Using running sums for bin means\n#tau\tavar\tadev\n";
  EXPECT_EQ(dir.read("w_avar.dat").substr(0, header.size()), header);
  const std::string help = test::run_tool({"--help"}).out;
  EXPECT_EQ(help.substr(0, test::run_tool({"-h"}).out.size()), test::run_tool({"-h"}).out);
  EXPECT_NE(help.find("\n  -fast "), std::string::npos);
  EXPECT_EQ(test::run_tool({"-h"}).out.find("-fast"), std::string::npos);
}

}  // namespace
}  // namespace tauspan
