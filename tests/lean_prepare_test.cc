// A grid prepared for a run in less memory (values made into the phase in
// place, running sums only on demand) must give every statistic and every
// noise estimate with the same bits as one prepared in full.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "deviations.h"
#include "intervals.h"

namespace tauspan {
namespace {

// Random-walk plus white noise on a large level (or white phase noise,
// `pm`), frequency or phase, with one slot in fifty and a run of slots
// missing when asked.
Grid noisy_grid(DataKind kind, bool gaps, size_t slots, bool pm = false) {
  std::mt19937_64 rng(kind == DataKind::kPhase ? 17 : 29);
  std::normal_distribution<double> normal(0, 1);
  Grid g;
  g.kind = kind;
  g.tau0 = 0.25;
  double walk = 0;
  double white = 0;
  for (size_t k = 0; k < slots; ++k) {
    double noise;
    if (pm) {
      const double before = white;
      white = normal(rng);
      noise = kind == DataKind::kPhase ? white : white - before;
    } else {
      walk += normal(rng);
      noise = walk + normal(rng);
    }
    const bool missing = gaps && (k % 50 == 13 || (k >= 300 && k < 340));
    g.values.push_back(missing ? 0 : 1e3 + 1e-3 * noise + 2e-9 * static_cast<double>(k));
    g.present.push_back(missing ? 0 : 1);
  }
  for (const uint8_t p : g.present) (p ? g.samples : g.gaps) += 1;
  return g;
}

std::string describe(const Grid& g) {
  return std::string(g.kind == DataKind::kPhase ? "phase" : "frequency") + ", " +
         std::to_string(g.gaps) + " gaps";
}

std::vector<Grid> all_grids(size_t slots, bool pm = false) {
  std::vector<Grid> grids;
  for (const DataKind kind : {DataKind::kFrequency, DataKind::kPhase}) {
    for (const bool gaps : {false, true}) grids.push_back(noisy_grid(kind, gaps, slots, pm));
  }
  return grids;
}

TEST(LeanPrepare, HoldsTheSameSumsAndGivesUpOnlyFrequencyValues) {
  for (const Grid& g : all_grids(5000)) {
    SCOPED_TRACE(describe(g));
    const PreparedGrid full = prepare_grid(g);
    Grid taken = g;
    const PreparedGrid lean = prepare_grid_taking_values(taken, true);
    EXPECT_EQ(full.phase_hi, lean.phase_hi);
    EXPECT_EQ(full.phase_lo, lean.phase_lo);
    EXPECT_EQ(full.sum_hi, lean.sum_hi);
    EXPECT_EQ(full.sum_lo, lean.sum_lo);
    EXPECT_EQ(full.gap_prefix, lean.gap_prefix);
    EXPECT_EQ(g.kind == DataKind::kPhase ? g.values : std::vector<double>(), taken.values);
    EXPECT_EQ(slot_count(g), slot_count(taken));
    EXPECT_EQ(frequency_count(g), frequency_count(taken));
  }
}

TEST(LeanPrepare, EveryStatisticHasTheSameBitsWithoutRunningSums) {
  for (const Grid& g : all_grids(3000)) {
    SCOPED_TRACE(describe(g));
    const PreparedGrid full = prepare_grid(g);
    Grid taken = g;
    const PreparedGrid lean = prepare_grid_taking_values(taken, false);
    EXPECT_TRUE(lean.sum_hi.empty());
    for (const Statistic s : {Statistic::kAdev, Statistic::kOadev, Statistic::kHdev,
                              Statistic::kOhdev, Statistic::kMdev, Statistic::kTdev}) {
      for (int64_t m = 1; m <= max_factor(s, g); m = m * 3 / 2 + 1) {
        SCOPED_TRACE(std::string(statistic_name(s)) + " m " + std::to_string(m));
        const Deviation want = deviation(full, s, m);
        const Deviation got = deviation(lean, s, m);
        if (s == Statistic::kMdev || s == Statistic::kTdev) {
          // They need the running sums: no terms rather than wrong ones.
          EXPECT_EQ(0, got.n);
          continue;
        }
        EXPECT_EQ(want.n, got.n);
        if (want.n > 0) {
          EXPECT_EQ(want.dev, got.dev);
        }
      }
    }
  }
}

TEST(LeanPrepare, RunningSumsMadeOnDemandAreThePreparedOnes) {
  for (const Grid& g : all_grids(2000)) {
    SCOPED_TRACE(describe(g));
    const PreparedGrid full = prepare_grid(g);
    Grid taken = g;
    const PreparedGrid lean = prepare_grid_taking_values(taken, false);
    // Out of order, repeated, and both ends.
    std::vector<size_t> indices = {full.sum_hi.size() - 1, 0, 977, 5, 977, 1999, 1};
    for (size_t k = 3; k < full.sum_hi.size(); k += 37) indices.push_back(k);
    // From the marks of the lean preparation (under a byte a slot), and by
    // one walk from the start without them.
    EXPECT_LE(lean.sum_marks.size() * sizeof(SumMark), full.sum_hi.size());
    for (const PreparedGrid* p : {&lean, &full}) {
      const std::vector<HiLo<double>> sums = running_sums_at(*p, indices);
      ASSERT_EQ(indices.size(), sums.size());
      for (size_t j = 0; j < indices.size(); ++j) {
        EXPECT_EQ(full.sum_hi[indices[j]], sums[j].hi) << indices[j];
        EXPECT_EQ(full.sum_lo[indices[j]], sums[j].lo) << indices[j];
      }
    }
  }
}

TEST(LeanPrepare, NoiseIsIdentifiedTheSameWithoutRunningSums) {
  // The large factors leave few averages, where the running sums decide
  // between white and flicker PM; the small ones go by autocorrelation.
  std::vector<Grid> grids = all_grids(4000);
  for (Grid& g : all_grids(4000, true)) grids.push_back(std::move(g));
  for (const Grid& g : grids) {
    SCOPED_TRACE(describe(g));
    const PreparedGrid full = prepare_grid(g);
    Grid taken = g;
    const PreparedGrid lean = prepare_grid_taking_values(taken, false);
    for (const Statistic s : {Statistic::kOadev, Statistic::kOhdev, Statistic::kAdev}) {
      for (int64_t m = 1; m <= 2000; m += m < 20 ? 1 : 37) {
        EXPECT_EQ(noise_alpha(full, s, m), noise_alpha(lean, s, m))
            << statistic_name(s) << " m " << m;
      }
    }
  }
}

}  // namespace
}  // namespace tauspan
