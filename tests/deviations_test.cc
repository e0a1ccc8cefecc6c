// The standard statistics against their direct definitions in 113-bit
// arithmetic, with and without gaps, and against published values.
#include "deviations.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "deviation_reference.h"
#include "difference_sums.h"

namespace tauspan {
namespace {

constexpr Statistic kAll[] = {Statistic::kAdev, Statistic::kOadev, Statistic::kMdev,
                              Statistic::kTdev, Statistic::kHdev,  Statistic::kOhdev};

Grid grid_of(const std::vector<double>& values, DataKind kind, double tau0 = 1) {
  Grid g;
  g.kind = kind;
  g.tau0 = tau0;
  g.values = values;
  g.present.assign(values.size(), 1);
  g.samples = static_cast<int64_t>(values.size());
  return g;
}

// x(0) = 0, x(k) = x(k-1) + y(k-1) tau0, rounded at each step.
Grid phase_of(const std::vector<double>& y, double tau0 = 1) {
  std::vector<double> x = {0};
  for (double v : y) x.push_back(x.back() + v * tau0);
  return grid_of(x, DataKind::kPhase, tau0);
}

// Empties about 3 % of the slots at random and a run of 7 in the middle.
Grid with_gaps(Grid g, uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (size_t k = 0; k < g.values.size(); ++k) {
    const size_t mid = g.values.size() / 2;
    if (rng() % 32 == 0 || (k >= mid && k < mid + 7)) {
      g.present[k] = 0;
      g.values[k] = 0;
    }
  }
  g.samples = std::count(g.present.begin(), g.present.end(), 1);
  g.gaps = static_cast<int64_t>(g.values.size()) - g.samples;
  return g;
}

// The 1000-point frequency set of the field's test suite.
std::vector<double> nist_frequencies() {
  std::vector<double> y;
  int64_t n = 1234567890;
  for (int i = 0; i < 1000; ++i) {
    y.push_back(static_cast<double>(n) / 2147483647.0);
    n = 16807 * n % 2147483647;
  }
  return y;
}

std::string seven_digits(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6e", v);
  return buf;
}

// 1, 2, 3, 5, 8, ... up to the largest factor with a term, and the default
// largest factor and the largest one themselves.
std::vector<int64_t> factors(Statistic s, const Grid& g) {
  std::vector<int64_t> m;
  for (int64_t a = 1, b = 2; a < max_factor(s, g); std::tie(a, b) = std::pair(b, a + b)) {
    m.push_back(a);
  }
  m.push_back(default_max_factor(s, g));
  m.push_back(max_factor(s, g));
  return m;
}

// Every statistic at every factor within 1e-12 of the direct definition,
// with the same number of terms.
void expect_as_defined(const Grid& g, const std::vector<int64_t>& only = {}) {
  const PreparedGrid p = prepare_grid(g);
  for (Statistic s : kAll) {
    for (int64_t m : only.empty() ? factors(s, g) : only) {
      if (m > max_factor(s, g)) continue;
      SCOPED_TRACE(std::string(statistic_name(s)) + " m " + std::to_string(m));
      const Deviation want = reference_deviation(g, s, m);
      const Deviation got = deviation(p, s, m);
      EXPECT_EQ(want.n, got.n);
      EXPECT_EQ(want.tau, got.tau);
      if (want.dev == 0) {
        EXPECT_EQ(0, got.dev);
      } else if (want.n > 0) {
        EXPECT_NEAR(1, got.dev / want.dev, 1e-12) << got.dev << " " << want.dev;
      }
    }
  }
}

// NIST SP 1065 (2008), the stability table of the 1000-point test suite
// (also W. J. Riley, "The Calculation of Time Domain Frequency Stability",
// Table III), at AF 1, 10, 100 with their term counts, from the frequency
// set and from its phase form. hdev at AF 100 is 3.91086056e-02 by its
// definition, 3.910861e-02 to seven digits; the table's 3.910860e-02 comes
// from the set written with seven significant digits (next test).
TEST(Deviation, NistThousandPointSetGivesThePublishedDigits) {
  const struct {
    Statistic s;
    const char* dev[3];
    int64_t n[3];
  } kTable[] = {
      {Statistic::kAdev, {"2.922319e-01", "9.965736e-02", "3.897804e-02"}, {999, 99, 9}},
      {Statistic::kOadev, {"2.922319e-01", "9.159953e-02", "3.241343e-02"}, {999, 981, 801}},
      {Statistic::kMdev, {"2.922319e-01", "6.172376e-02", "2.170921e-02"}, {999, 972, 702}},
      {Statistic::kTdev, {"1.687202e-01", "3.563623e-01", "1.253382e+00"}, {999, 972, 702}},
      {Statistic::kHdev, {"2.943883e-01", "1.052754e-01", "3.910861e-02"}, {998, 98, 8}},
      {Statistic::kOhdev, {"2.943883e-01", "9.581083e-02", "3.237638e-02"}, {998, 971, 701}},
  };
  const Grid forms[] = {grid_of(nist_frequencies(), DataKind::kFrequency),
                        phase_of(nist_frequencies())};
  for (const Grid& g : forms) {
    const PreparedGrid p = prepare_grid(g);
    for (const auto& row : kTable) {
      for (int i = 0; i < 3; ++i) {
        const int64_t m = i == 0 ? 1 : i == 1 ? 10 : 100;
        SCOPED_TRACE(std::string(statistic_name(row.s)) + " AF " + std::to_string(m) +
                     (g.kind == DataKind::kPhase ? " phase" : " frequency"));
        const Deviation d = deviation(p, row.s, m);
        EXPECT_EQ(row.dev[i], seven_digits(d.dev));
        EXPECT_EQ(row.n[i], d.n);
        EXPECT_EQ(static_cast<double>(m), d.tau);
      }
    }
  }
}

TEST(Deviation, NistSetWithSevenDigitsGivesThePublishedHadamardAt100) {
  std::vector<double> y = nist_frequencies();
  for (double& v : y) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6e", v);
    v = std::strtod(buf, nullptr);
  }
  const Grid g = grid_of(y, DataKind::kFrequency);
  const PreparedGrid p = prepare_grid(g);
  EXPECT_EQ("3.910860e-02", seven_digits(deviation(p, Statistic::kHdev, 100).dev));
  EXPECT_EQ("3.241343e-02", seven_digits(deviation(p, Statistic::kOadev, 100).dev));
}

TEST(Deviation, MatchesTheDirectDefinitionWithAndWithoutGaps) {
  std::mt19937_64 rng(12);
  std::uniform_real_distribution<double> uniform(0, 1);
  std::vector<double> white(400);
  std::vector<double> walk(400);
  double level = 0;
  for (size_t i = 0; i < white.size(); ++i) {
    white[i] = uniform(rng);
    walk[i] = level += uniform(rng) - 0.5;
  }
  const Grid grids[] = {grid_of(white, DataKind::kFrequency), grid_of(walk, DataKind::kFrequency),
                        phase_of(white, 0.5), grid_of(walk, DataKind::kPhase, 2)};
  for (const Grid& g : grids) {
    SCOPED_TRACE(g.kind == DataKind::kPhase ? "phase" : "frequency");
    expect_as_defined(g);
    expect_as_defined(with_gaps(g, 3));
  }
}

// Lags beyond the 1024 terms that the code takes in one piece.
TEST(Deviation, MatchesTheDirectDefinitionAtLongLags) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> uniform(-1, 1);
  std::vector<double> walk(3400);
  double level = 0;
  for (double& v : walk) v = level += uniform(rng);
  const Grid grids[] = {grid_of(walk, DataKind::kFrequency), grid_of(walk, DataKind::kPhase)};
  for (const Grid& g : grids) {
    expect_as_defined(g, {1024, 1100});
    expect_as_defined(with_gaps(g, 2), {1025});
  }
}

// Levels far above the noise: the running sums must not round it away.
TEST(Deviation, StaysWithin1e12OfTheDefinitionOnLargeLevels) {
  std::mt19937_64 rng(5);
  std::normal_distribution<double> noise(0, 1);
  const size_t n = 1000;
  std::vector<double> counter(n), raw(n), half(n), clock(n), coarse(n), drifting(n);
  for (size_t i = 0; i < n; ++i) {
    counter[i] = 10000000.3 + 1e-6 * noise(rng) - 10000000;  // readings less f0, exact
    raw[i] = 10000000.3 + 1e-6 * noise(rng);                 // the same without -nominal
    half[i] = 0.5 + 0.01 * noise(rng);                       // phase integrates to ~500
    clock[i] = 1e9 + 1e-9 * noise(rng);   // seconds, ns noise: all 1e9, each term exactly 0
    coarse[i] = 1e9 + 3e-7 * noise(rng);  // a few ulps of 1e9
    drifting[i] = 1e9 + 1e-6 * static_cast<double>(i) + 1e-9 * noise(rng);
  }
  Grid nominal = grid_of(counter, DataKind::kFrequency);
  nominal.nominal = 1e7;
  const Grid grids[] = {nominal,
                        grid_of(raw, DataKind::kFrequency),
                        grid_of(half, DataKind::kFrequency),
                        grid_of(clock, DataKind::kPhase),
                        grid_of(coarse, DataKind::kPhase),
                        grid_of(drifting, DataKind::kPhase, 1e-3)};
  const std::vector<int64_t> some = {1, 2, 5, 16, 50, 200, 250, 333, 500};
  for (const Grid& g : grids) {
    SCOPED_TRACE(testing::Message() << g.values[0] << (g.nominal != 0 ? " nominal" : ""));
    expect_as_defined(g, some);
    expect_as_defined(with_gaps(g, 9), some);
  }
}

TEST(Deviation, FrequencyAndPhaseFormsAgree) {
  const std::vector<double> y = nist_frequencies();
  const Grid frequency = grid_of(y, DataKind::kFrequency);
  const PreparedGrid f = prepare_grid(frequency);
  const Grid phase = phase_of(y, 0.25);
  const PreparedGrid x = prepare_grid(phase);
  for (Statistic s : kAll) {
    for (int64_t m : {1, 3, 64, 333}) {
      const Deviation a = deviation(f, s, m);
      const Deviation b = deviation(x, s, m);
      EXPECT_EQ(a.n, b.n);
      // tdev scales with tau, which is 4 times longer in the frequency form.
      // The phase form differs by its own rounding: x up to 125, to ~1e-14.
      EXPECT_NEAR(1, s == Statistic::kTdev ? a.dev / 4 / b.dev : a.dev / b.dev, 1e-10);
    }
  }
}

TEST(Deviation, NoTermGivesNaNAndNoCount) {
  const Grid g = grid_of(nist_frequencies(), DataKind::kFrequency);
  Grid sparse = g;
  for (size_t k = 1; k < sparse.values.size(); k += 2) {
    sparse.present[k] = 0;
    sparse.values[k] = 0;
  }
  sparse.samples = 500;
  sparse.gaps = 500;
  const PreparedGrid p = prepare_grid(g);
  const PreparedGrid q = prepare_grid(sparse);
  for (Statistic s : kAll) {
    SCOPED_TRACE(statistic_name(s));
    for (int64_t m : {int64_t{0}, int64_t{-3}, max_factor(s, g) + 1, int64_t{1} << 62}) {
      const Deviation d = deviation(p, s, m);
      EXPECT_TRUE(std::isnan(d.dev));
      EXPECT_EQ(0, d.n);
    }
    EXPECT_LE(1, deviation(p, s, max_factor(s, g)).n);
    // Every other y missing: no frequency term is whole.
    EXPECT_EQ(0, deviation(q, s, 1).n);
  }
}

TEST(Deviation, SameBitsWithAndWithoutAvx2) {
  const Grid grids[] = {grid_of(nist_frequencies(), DataKind::kFrequency),
                        with_gaps(phase_of(nist_frequencies()), 4)};
  for (const Grid& g : grids) {
    const PreparedGrid p = prepare_grid(g);
    for (Statistic s : kAll) {
      for (int64_t m : {1, 2, 7, 100}) {
        use_avx2(false);
        const Deviation a = deviation(p, s, m);
        use_avx2(true);
        const Deviation b = deviation(p, s, m);
        EXPECT_EQ(std::bit_cast<uint64_t>(a.dev), std::bit_cast<uint64_t>(b.dev));
      }
    }
  }
}

TEST(MaxFactor, LimitsOnTheNistSetInBothForms) {
  const Grid forms[] = {grid_of(nist_frequencies(), DataKind::kFrequency),
                        phase_of(nist_frequencies())};
  for (const Grid& g : forms) {
    EXPECT_EQ(1000, frequency_count(g));
    // The field's tools stop at N/5 and N/4: AF 100 is in every default sweep.
    EXPECT_EQ(200, default_max_factor(Statistic::kAdev, g));
    EXPECT_EQ(200, default_max_factor(Statistic::kHdev, g));
    for (Statistic s : {Statistic::kOadev, Statistic::kMdev, Statistic::kTdev, Statistic::kOhdev}) {
      EXPECT_EQ(250, default_max_factor(s, g));
    }
    EXPECT_EQ(500, max_factor(Statistic::kAdev, g));
    EXPECT_EQ(500, max_factor(Statistic::kOadev, g));
    EXPECT_EQ(333, max_factor(Statistic::kHdev, g));
    EXPECT_EQ(333, max_factor(Statistic::kOhdev, g));
    EXPECT_EQ(333, max_factor(Statistic::kMdev, g));
  }
  // mdev reaches (N + 1) / 3: one term at m = 3 on 8 frequency samples.
  const Grid eight = grid_of({1, 2, 3, 4, 5, 6, 7, 9}, DataKind::kFrequency);
  EXPECT_EQ(3, max_factor(Statistic::kMdev, eight));
  EXPECT_EQ(1, deviation(prepare_grid(eight), Statistic::kMdev, 3).n);
}

TEST(ParseStatistic, KnowsTheNamesAndNothingElse) {
  for (Statistic s : kAll) {
    Statistic parsed = Statistic::kAdev;
    EXPECT_TRUE(parse_statistic(statistic_name(s), parsed));
    EXPECT_EQ(s, parsed);
  }
  Statistic parsed;
  Statistic theo = Statistic::kAdev;
  EXPECT_TRUE(parse_statistic("theo1", theo));
  EXPECT_EQ(theo, Statistic::kTheo1);
  for (const char* name : {"avar", "ADEV", "", "oadev ", "totvar", "theo"}) {
    EXPECT_FALSE(parse_statistic(name, parsed)) << name;
  }
}

}  // namespace
}  // namespace tauspan
