// The total deviations: published values, the literal definitions in 113-bit
// arithmetic on seeded noise with and without gaps, and the closed form of
// the reflected sums against their definition.
#include "total_deviations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "long_term_fixtures.h"
#include "reflected_energy.h"

namespace tauspan {
namespace {

using test::Quad;
using test::QuadPhase;

double root(Quad v) { return std::sqrt(static_cast<double>(v)); }

// The literal definitions, term by term, in seconds and fractional frequency.
struct Literal {
  double dev;
  int64_t n;
};

Literal literal_totdev(const Grid& g, int64_t m) {
  const QuadPhase q = test::quad_phase(g);
  const int64_t last = static_cast<int64_t>(q.x.size()) - 1;
  const auto x = [&](int64_t k) { return q.x[static_cast<size_t>(k)]; };
  Quad sum = 0;
  int64_t n = 0;
  for (int64_t i = 1; i < last; ++i) {
    Quad lo;
    Quad hi;
    bool ok = true;
    if (i - m >= 0) {
      ok = ok && test::quad_difference_ok(q, i - m, i);
      lo = x(i - m);
    } else {
      ok = ok && test::quad_difference_ok(q, 0, i) && test::quad_difference_ok(q, 0, m - i);
      lo = 2 * x(0) - x(m - i);
    }
    if (i + m <= last) {
      ok = ok && test::quad_difference_ok(q, i, i + m);
      hi = x(i + m);
    } else {
      ok = ok && test::quad_difference_ok(q, i, last) &&
           test::quad_difference_ok(q, 2 * last - i - m, last);
      hi = 2 * x(last) - x(2 * last - i - m);
    }
    if (!ok) continue;
    const Quad d = lo - 2 * x(i) + hi;
    sum += d * d;
    ++n;
  }
  const Quad tau = static_cast<Quad>(m) * static_cast<Quad>(g.tau0);
  return {root(sum / (2 * tau * tau * n)), n};
}

// Half-average line, even reflection to 9m, 6m second differences of m-point
// means: the inner sum of one subsequence.
Quad reflected_inner(const std::vector<Quad>& w, int64_t m) {
  const int64_t n3 = 3 * m;
  const int64_t h1 = n3 / 2;
  Quad first = 0;
  Quad last = 0;
  for (int64_t j = 0; j < h1; ++j) {
    first += w[static_cast<size_t>(j)];
    last += w[static_cast<size_t>(n3 - h1 + j)];
  }
  const Quad slope = (last / h1 - first / h1) / (n3 - h1);
  std::vector<Quad> ext(static_cast<size_t>(9 * m));
  for (int64_t j = 0; j < n3; ++j) {
    const Quad v = w[static_cast<size_t>(j)] - slope * j;
    ext[static_cast<size_t>(n3 - 1 - j)] = v;
    ext[static_cast<size_t>(n3 + j)] = v;
    ext[static_cast<size_t>(9 * m - 1 - j)] = v;
  }
  // Sums of m extended points from prefix sums, which in 113 bits lose
  // nothing that matters here.
  std::vector<Quad> run(ext.size() + 1, 0);
  for (size_t k = 0; k < ext.size(); ++k) run[k + 1] = run[k] + ext[k];
  const auto box = [&](int64_t k) {
    return run[static_cast<size_t>(k + m)] - run[static_cast<size_t>(k)];
  };
  Quad sum = 0;
  for (int64_t k = 0; k < 6 * m; ++k) {
    const Quad z = (box(k) - 2 * box(k + m) + box(k + 2 * m)) / m;
    sum += z * z;
  }
  return sum / (6 * m);
}

Literal literal_mtotdev(const Grid& g, int64_t m) {
  const QuadPhase q = test::quad_phase(g);
  const int64_t n_pts = static_cast<int64_t>(q.x.size());
  Quad sum = 0;
  int64_t n = 0;
  for (int64_t s = 0; s + 3 * m <= n_pts; ++s) {
    if (!test::quad_window_ok(q, s, s + 3 * m - 1)) continue;
    sum += reflected_inner({q.x.begin() + s, q.x.begin() + s + 3 * m}, m);
    ++n;
  }
  const Quad tau = static_cast<Quad>(m) * static_cast<Quad>(g.tau0);
  return {root(sum / (2 * tau * tau * n)), n};
}

Literal literal_htotdev(const Grid& g, int64_t m) {
  const QuadPhase q = test::quad_phase(g);
  const int64_t n_pts = static_cast<int64_t>(q.x.size());
  std::vector<Quad> y;
  for (int64_t k = 0; k + 1 < n_pts; ++k) {
    y.push_back((q.x[static_cast<size_t>(k + 1)] - q.x[static_cast<size_t>(k)]) /
                static_cast<Quad>(g.tau0));
  }
  Quad sum = 0;
  int64_t n = 0;
  for (int64_t s = 0; s + 3 * m <= n_pts - 1; ++s) {
    if (!test::quad_window_ok(q, s, s + 3 * m)) continue;
    if (m == 1) {
      const Quad d = y[static_cast<size_t>(s)] - 2 * y[static_cast<size_t>(s + 1)] +
                     y[static_cast<size_t>(s + 2)];
      sum += d * d;
    } else {
      sum += reflected_inner({y.begin() + s, y.begin() + s + 3 * m}, m);
    }
    ++n;
  }
  return {root(sum / (6 * n)), n};
}

// Published digits: within half a unit of the last one printed.
void expect_digits(double published, int significant, double value) {
  const double unit =
      std::pow(10.0, std::floor(std::log10(std::fabs(published))) - (significant - 1));
  EXPECT_NEAR(published, value, 0.5 * unit);
}

// NIST SP 1065 (2008), the 1000-point set: totdev 2.922319e-01, 9.134743e-02,
// 3.406530e-02 at AF 1, 10, 100 (its doubly reflected definition); mtotdev
// and ttotdev as the field's reference tool prints them without bias
// correction; htotdev 2.943883e-01 at AF 1 and, before the white-FM bias
// correction of 0.995, 9.590720e-02 and 3.050448e-02.
TEST(TotalDeviations, NistThousandPointSetFrequencyAndPhaseForms) {
  for (const Grid& g : {test::grid_of(DataKind::kFrequency, test::nist_frequency()),
                        test::grid_of(DataKind::kPhase, test::nist_phase())}) {
    SCOPED_TRACE(g.kind == DataKind::kPhase ? "phase" : "frequency");
    const LongTermSeries s = prepare_long_term(g);
    ASSERT_EQ(1001, phase_points(s));
    const int64_t factors[] = {1, 10, 100};
    const double tot[] = {2.922319e-01, 9.134743e-02, 3.406530e-02};
    const double mtot[] = {2.0664e-01, 5.5529e-02, 1.9547e-02};
    const double ttot[] = {1.1930e-01, 3.2060e-01, 1.1285e+00};
    const double htot[] = {2.943883e-01, 9.590720e-02, 3.050448e-02};
    for (int i = 0; i < 3; ++i) {
      const int64_t m = factors[i];
      SCOPED_TRACE(m);
      const Deviation t = totdev(s, m);
      expect_digits(tot[i], 7, t.dev);
      EXPECT_EQ(999, t.n);
      EXPECT_EQ(static_cast<double>(m), t.tau);
      const Deviation mt = mtotdev(s, m);
      expect_digits(mtot[i], 5, mt.dev);
      EXPECT_EQ(1001 - 3 * m + 1, mt.n);
      expect_digits(ttot[i], 5, ttotdev(s, m).dev);
      const Deviation h = htotdev(s, m);
      expect_digits(htot[i], 7, h.dev);
      EXPECT_EQ(1001 - 3 * m, h.n);
    }
  }
}

TEST(TotalDeviations, LargestFactorsAsTheReferenceToolCountsThem) {
  EXPECT_EQ(500, totdev_max_factor(1001));
  EXPECT_EQ(333, mtotdev_max_factor(1001));
  EXPECT_EQ(333, htotdev_max_factor(1001));
  EXPECT_EQ(332, htotdev_max_factor(999));
  EXPECT_EQ(0, mtotdev_max_factor(2));
  const LongTermSeries s = prepare_long_term(test::grid_of(DataKind::kPhase, test::nist_phase()));
  EXPECT_EQ(3, mtotdev(s, 333).n);
  EXPECT_EQ(2, htotdev(s, 333).n);
  EXPECT_EQ(0, mtotdev(s, 334).n);
  EXPECT_TRUE(std::isnan(mtotdev(s, 334).dev));
}

struct Case {
  const char* name;
  Grid grid;
};

std::vector<Case> random_cases() {
  std::mt19937_64 rng(2024);
  std::vector<Case> cases;
  const std::vector<double> white = test::noise(rng, 320, 0, 1e-11, 3e-9);
  const std::vector<double> walk = test::noise(rng, 300, -2, 1e-12, -5e-8);
  std::vector<double> phase = test::noise(rng, 331, 2, 1e-9);
  for (size_t k = 0; k < phase.size(); ++k) phase[k] += 1e9 + 2e-6 * static_cast<double>(k);
  cases.push_back({"white FM frequency", test::grid_of(DataKind::kFrequency, white, 0.5)});
  cases.push_back({"random-walk FM frequency", test::grid_of(DataKind::kFrequency, walk, 2)});
  cases.push_back({"phase near 1e9 s", test::grid_of(DataKind::kPhase, phase, 0.1)});
  std::vector<double> mhz(310);
  std::normal_distribution<double> normal;
  for (double& v : mhz) v = 1e-6 * std::round(normal(rng) * 1e3);  // 10 MHz reading less f0, in Hz
  cases.push_back({"10 MHz with nominal", test::grid_of(DataKind::kFrequency, mhz, 1, {}, 1e7)});
  return cases;
}

std::vector<int64_t> test_factors(int64_t max) {
  std::vector<int64_t> ms;
  for (const int64_t m : {1, 2, 3, 4, 5, 7, 10, 16, 33, 47, 48, 50, 64, 97, 103, 150}) {
    if (m <= max) ms.push_back(m);
  }
  return ms;
}

void expect_matches(const Deviation& d, const Literal& l) {
  EXPECT_EQ(l.n, d.n);
  if (l.n == 0) {
    EXPECT_TRUE(std::isnan(d.dev));
  } else {
    EXPECT_LE(test::relative(d.dev, l.dev), 1e-12) << d.dev << " vs " << l.dev;
  }
}

TEST(TotalDeviations, EqualTheLiteralDefinitionsOnSeededNoise) {
  for (const Case& c : random_cases()) {
    SCOPED_TRACE(c.name);
    const LongTermSeries s = prepare_long_term(c.grid);
    const int64_t n_pts = phase_points(s);
    for (const int64_t m : test_factors(totdev_max_factor(n_pts))) {
      SCOPED_TRACE(m);
      expect_matches(totdev(s, m), literal_totdev(c.grid, m));
      if (m <= mtotdev_max_factor(n_pts)) expect_matches(mtotdev(s, m), literal_mtotdev(c.grid, m));
      if (m <= htotdev_max_factor(n_pts)) expect_matches(htotdev(s, m), literal_htotdev(c.grid, m));
    }
  }
}

TEST(TotalDeviations, GapsLeaveOutTheTermsThatNeedThem) {
  for (Case c : random_cases()) {
    SCOPED_TRACE(c.name);
    // An isolated gap near each end (inside the reflections) and a burst.
    const int64_t slots = static_cast<int64_t>(c.grid.values.size());
    c.grid = test::with_gaps(c.grid, {3, 120, 121, 122, slots - 6});
    const LongTermSeries s = prepare_long_term(c.grid);
    const int64_t n_pts = phase_points(s);
    for (const int64_t m : test_factors(totdev_max_factor(n_pts))) {
      SCOPED_TRACE(m);
      const Literal t = literal_totdev(c.grid, m);
      EXPECT_LT(t.n, n_pts - 2);
      expect_matches(totdev(s, m), t);
      if (m <= mtotdev_max_factor(n_pts)) expect_matches(mtotdev(s, m), literal_mtotdev(c.grid, m));
      if (m <= htotdev_max_factor(n_pts)) expect_matches(htotdev(s, m), literal_htotdev(c.grid, m));
    }
  }
}

TEST(TotalDeviations, TimeTotalIsTauOverRootThreeTimesModifiedTotal) {
  const LongTermSeries s =
      prepare_long_term(test::grid_of(DataKind::kFrequency, test::nist_frequency(), 0.25));
  for (const int64_t m : {1, 7, 40}) {
    const Deviation mt = mtotdev(s, m);
    const Deviation tt = ttotdev(s, m);
    EXPECT_EQ(0.25 * static_cast<double>(m), tt.tau);
    EXPECT_EQ(mt.n, tt.n);
    EXPECT_DOUBLE_EQ(mt.dev * tt.tau / std::sqrt(3.0), tt.dev);
  }
}

// The closed form, in the platform's wide type and in double-double, against
// the sums by definition, on segments whose trend and offset are far larger
// than what varies within a window: the closed form is exact in any line but
// must keep its digits.
TEST(ReflectedEnergy, ClosedFormEqualsTheDefinition) {
  std::mt19937_64 rng(99);
  for (const int64_t m : {1, 2, 3, 5, 16, 48, 61, 100}) {
    for (const int alpha : {0, -2, 2}) {
      SCOPED_TRACE(testing::Message() << "m " << m << " alpha " << alpha);
      const int64_t windows = 8 * m + 3;
      std::vector<double> v = test::noise(rng, static_cast<size_t>(windows + 3 * m - 1), alpha);
      // Centre as the deviations do, so that every path sees the same doubles.
      const double slope = (v.back() - v.front()) / static_cast<double>(v.size() - 1);
      const double origin = v.front();
      for (size_t j = 0; j < v.size(); ++j) v[j] = (v[j] - origin) - slope * static_cast<double>(j);
      const double direct = reflected_energy_direct(v.data(), windows, m);
      EXPECT_LE(test::relative(reflected_energy(v.data(), windows, m), direct), 1e-13);
      EXPECT_LE(test::relative(reflected_energy_dd(v.data(), windows, m), direct), 1e-13);
    }
  }
}

// On a long series of random-walk FM far from zero, the blocked closed form
// of mtotdev and htotdev equals the running-sum definition over the whole
// series at once.
TEST(TotalDeviations, ClosedFormOnALongSeriesEqualsTheRunningSums) {
  std::mt19937_64 rng(31);
  const Grid g = test::grid_of(DataKind::kFrequency, test::noise(rng, 20000, -2, 1e-13, 5e-9), 1);
  const LongTermSeries s = prepare_long_term(g);
  const test::QuadPhase q = test::quad_phase(g);
  std::vector<double> x;
  std::vector<double> y;
  for (size_t k = 0; k < q.x.size(); ++k) {
    // Centred on the line through the ends, in 113 bits, then rounded.
    const Quad line = q.x.front() + (q.x.back() - q.x.front()) * static_cast<Quad>(k) /
                                        static_cast<Quad>(q.x.size() - 1);
    x.push_back(static_cast<double>(q.x[k] - line));
  }
  for (size_t k = 0; k + 1 < q.x.size(); ++k) {
    y.push_back(static_cast<double>(
        q.x[k + 1] - q.x[k] - (q.x.back() - q.x.front()) / static_cast<Quad>(q.x.size() - 1)));
  }
#ifdef TAUSPAN_SANITIZE
  // The direct sums cost O(N m) each; unoptimised and instrumented, the
  // largest factor alone would take minutes.
  const std::vector<int64_t> factors = {24, 160};
#else
  const std::vector<int64_t> factors = {24, 160, 1500};
#endif
  for (const int64_t m : factors) {
    SCOPED_TRACE(m);
    const double mm = static_cast<double>(m);
    const int64_t mt_n = static_cast<int64_t>(x.size()) - 3 * m + 1;
    const double mt = std::sqrt(reflected_energy_direct(x.data(), mt_n, m) /
                                (12 * mm * mm * mm * static_cast<double>(mt_n)));
    EXPECT_LE(test::relative(mtotdev(s, m).dev, mt), 1e-12);
    const int64_t ht_n = static_cast<int64_t>(y.size()) - 3 * m + 1;
    const double ht = std::sqrt(reflected_energy_direct(y.data(), ht_n, m) /
                                (36 * mm * static_cast<double>(ht_n)));
    EXPECT_LE(test::relative(htotdev(s, m).dev, ht), 1e-12);
  }
}

// A long segment in one piece keeps its digits in double-double even though
// the running sums grow far beyond the window energies.
TEST(ReflectedEnergy, DoubleDoubleHoldsLongSegments) {
  std::mt19937_64 rng(5);
  const int64_t m = 50;
  const int64_t windows = 20000;
  const std::vector<double> v =
      test::noise(rng, static_cast<size_t>(windows + 3 * m - 1), -2, 1, 1e3);
  const double direct = reflected_energy_direct(v.data(), windows, m);
  EXPECT_LE(test::relative(reflected_energy_dd(v.data(), windows, m), direct), 1e-12);
}

}  // namespace
}  // namespace tauspan
