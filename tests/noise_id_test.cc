#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "intervals.h"
#include "noise_id_reference.h"

namespace tauspan {
namespace {

// Unit Gaussian numbers by Box-Muller from a 64-bit Mersenne twister, the
// same on every platform (std::normal_distribution is not).
class Gaussian {
 public:
  explicit Gaussian(uint64_t seed) : bits_(seed) {}
  double operator()() {
    const double u = uniform(), v = uniform();
    return std::sqrt(-2 * std::log(u)) * std::cos(2 * std::numbers::pi * v);
  }

 private:
  double uniform() { return (static_cast<double>(bits_() >> 11) + 0.5) * 0x1p-53; }
  std::mt19937_64 bits_;
};

std::vector<double> white(size_t n, Gaussian& g) {
  std::vector<double> v(n);
  for (double& x : v) x = g();
  return v;
}

// 1/f noise by the Kasdin-Walter filter: h0 = 1, hk = hk-1 (k - 1/2) / k.
std::vector<double> flicker(size_t n, Gaussian& g) {
  const std::vector<double> w = white(n, g);
  std::vector<double> h(n, 1.0);
  for (size_t k = 1; k < n; ++k)
    h[k] = h[k - 1] * (static_cast<double>(k) - 0.5) / static_cast<double>(k);
  std::vector<double> out(n, 0.0);
  for (size_t i = 0; i < n; ++i) {
    for (size_t k = 0; k <= i; ++k) out[i] += h[k] * w[i - k];
  }
  return out;
}

std::vector<double> running_sum(const std::vector<double>& v) {
  std::vector<double> out(v.size() + 1, 0.0);
  for (size_t i = 0; i < v.size(); ++i) out[i + 1] = out[i] + v[i];
  return out;
}

// n + 1 phase samples of the power law S_y(f) ~ f^alpha.
std::vector<double> power_law_phase(int alpha, size_t n, uint64_t seed) {
  Gaussian g(seed);
  switch (alpha) {
    case 2:
      return white(n + 1, g);
    case 1:
      return flicker(n + 1, g);
    case 0:
      return running_sum(white(n, g));
    case -1:
      return running_sum(flicker(n, g));
    case -2:
      return running_sum(running_sum(white(n - 1, g)));
    case -4:
      return running_sum(running_sum(running_sum(white(n - 2, g))));
  }
  return {};
}

// Phase samples x as phase data, or their steps as frequency data.
Grid grid_of(DataKind kind, const std::vector<double>& x) {
  Grid grid;
  grid.kind = kind;
  if (kind == DataKind::kPhase) grid.values = x;
  for (size_t i = 0; kind == DataKind::kFrequency && i + 1 < x.size(); ++i) {
    grid.values.push_back(x[i + 1] - x[i]);
  }
  grid.present.assign(grid.values.size(), 1);
  grid.samples = static_cast<int64_t>(grid.values.size());
  return grid;
}

struct Noise {
  int alpha;
  std::vector<Grid> frequency;
  std::vector<Grid> phase;
};

// `seeds` records of n samples of each noise, as frequency and phase data.
std::vector<Noise> records(const std::vector<int>& alphas, size_t n, int seeds) {
  std::vector<Noise> all;
  for (int alpha : alphas) {
    Noise noise{alpha, {}, {}};
    for (int seed = 1; seed <= seeds; ++seed) {
      const std::vector<double> x = power_law_phase(
          alpha, n, 1000u * static_cast<uint64_t>(seed) + static_cast<uint64_t>(alpha + 10));
      noise.frequency.push_back(grid_of(DataKind::kFrequency, x));
      noise.phase.push_back(grid_of(DataKind::kPhase, x));
    }
    all.push_back(std::move(noise));
  }
  return all;
}

std::vector<int> alphas(const std::vector<Grid>& grids, Statistic s, int64_t m) {
  std::vector<int> found;
  for (const Grid& g : grids) found.push_back(noise_alpha(g, s, m));
  return found;
}

int64_t hits(const std::vector<int>& found, int alpha) {
  return std::count(found.begin(), found.end(), alpha);
}

TEST(NoiseAlpha, AutocorrelationTellsEachPowerLaw) {
  for (const Noise& noise : records({2, 1, 0, -1, -2}, 2048, 5)) {
    // At least 128 averages at every m here. Flicker noise reads whiter once
    // few averages are left (and decimated flicker PM aliases the noise
    // above 1 / (2 m tau0) into a white floor), so it is held to small m.
    const bool flicker = noise.alpha == 1 || noise.alpha == -1;
    for (int64_t m : flicker ? std::vector<int64_t>{1, 4} : std::vector<int64_t>{1, 4, 16}) {
      for (Statistic s : {Statistic::kOadev, Statistic::kMdev, Statistic::kOhdev}) {
        for (const std::vector<Grid>* grids : {&noise.frequency, &noise.phase}) {
          const std::vector<int> found = alphas(*grids, s, m);
          EXPECT_GE(hits(found, noise.alpha), 4)
              << "alpha " << noise.alpha << " m " << m << ": " << testing::PrintToString(found);
        }
      }
    }
  }
}

TEST(NoiseAlpha, OnlyTheHadamardFamilyReachesRandomRunFm) {
  const Noise run = records({-4}, 2048, 5)[0];
  for (int64_t m : {1, 4, 16}) {
    for (const std::vector<Grid>* grids : {&run.frequency, &run.phase}) {
      EXPECT_EQ(5, hits(alphas(*grids, Statistic::kOhdev, m), -4)) << m;
      EXPECT_EQ(5, hits(alphas(*grids, Statistic::kHdev, m), -4)) << m;
      // The Allan variances do not converge below -2: the nearest they can.
      EXPECT_EQ(5, hits(alphas(*grids, Statistic::kOadev, m), -2)) << m;
    }
  }
}

TEST(NoiseAlpha, FewAveragesFallBackToB1AndRn) {
  // 1024 / 43 = 23 and 1024 / 64 = 16 averages: the B1 ratio, with R(n)
  // telling white from flicker PM. So few averages often leave the answer to
  // chance (between flicker and white FM, one time in three), so this asks
  // for 7 of 15 where a guess among five would get 3.
  for (const Noise& noise : records({2, 1, 0, -1, -2}, 1024, 15)) {
    for (int64_t m : {43, 64}) {
      for (Statistic s : {Statistic::kAdev, Statistic::kMdev, Statistic::kHdev}) {
        for (const std::vector<Grid>* grids : {&noise.frequency, &noise.phase}) {
          const std::vector<int> found = alphas(*grids, s, m);
          EXPECT_GE(hits(found, noise.alpha), 7)
              << "alpha " << noise.alpha << " m " << m << ": " << testing::PrintToString(found);
        }
      }
    }
  }
}

TEST(NoiseAlpha, NothingToSayWithoutSpreadOrAverages) {
  const Grid constant = grid_of(DataKind::kFrequency, running_sum(std::vector<double>(500, 0.25)));
  EXPECT_EQ(kNoAlpha, noise_alpha(constant, Statistic::kOadev, 1));   // autocorrelation
  EXPECT_EQ(kNoAlpha, noise_alpha(constant, Statistic::kOadev, 50));  // B1
  const Grid noise = grid_of(DataKind::kFrequency, power_law_phase(0, 100, 7));
  EXPECT_NE(kNoAlpha, noise_alpha(noise, Statistic::kAdev, 33));  // 3 averages
  EXPECT_EQ(kNoAlpha, noise_alpha(noise, Statistic::kAdev, 34));  // 2: B1 is 1 for any noise
  EXPECT_EQ(kNoAlpha, noise_alpha(noise, Statistic::kAdev, 0));
  EXPECT_EQ(kNoAlpha, noise_alpha(Grid{}, Statistic::kAdev, 1));
  // Phase: 3 frequency averages need 4 points, every 33rd slot of 100.
  const Grid phase = grid_of(DataKind::kPhase, power_law_phase(0, 99, 7));
  EXPECT_NE(kNoAlpha, noise_alpha(phase, Statistic::kAdev, 33));
  EXPECT_EQ(kNoAlpha, noise_alpha(phase, Statistic::kAdev, 34));
}

TEST(NoiseAlpha, OffsetAndDriftDoNotSteepenTheNoise) {
  // White PM of 1 ns on a 1000 s phase offset with a frequency offset of
  // 1e-6 and a drift; white FM of 1e-12 on a fractional frequency of 1e-3
  // with a drift of 1e-14 per sample (20 sigma over the record).
  const std::vector<Noise> all = records({2, 0}, 2048, 5);
  for (size_t k = 0; k < all[0].phase.size(); ++k) {
    Grid phase = all[0].phase[k];
    for (size_t i = 0; i < phase.values.size(); ++i) {
      const double t = static_cast<double>(i);
      phase.values[i] = 1000 + 1e-6 * t + 1e-12 * t * t + 1e-9 * phase.values[i];
    }
    Grid frequency = all[1].frequency[k];
    for (size_t i = 0; i < frequency.values.size(); ++i) {
      frequency.values[i] = 1e-3 + 1e-14 * static_cast<double>(i) + 1e-12 * frequency.values[i];
    }
    for (int64_t m : {1, 8}) {
      EXPECT_EQ(2, noise_alpha(phase, Statistic::kOadev, m)) << k << " m " << m;
      EXPECT_EQ(0, noise_alpha(frequency, Statistic::kOadev, m)) << k << " m " << m;
    }
  }
}

TEST(NoiseAlpha, GapsAreLeftOutNotRead) {
  // Random-walk FM about 100 and white PM about 50 with 3 % of the slots
  // missing at random and a run of 40 missing: whatever a gap's slot holds
  // never counts, so 0, NaN and 1e30 there give the same answers.
  const std::vector<Noise> all = records({-2, 2}, 2048, 5);
  std::mt19937_64 holes(42);
  const auto punch = [&](Grid g, double offset) {
    for (size_t i = 0; i < g.values.size(); ++i) {
      g.values[i] += offset;
      if (i > 0 && (holes() % 100 < 3 || (i >= 1000 && i < 1040))) {
        g.present[i] = 0;
        ++g.gaps;
        --g.samples;
      }
    }
    return g;
  };
  const auto fill = [](Grid g, double value) {
    for (size_t i = 0; i < g.values.size(); ++i) {
      if (!g.present[i]) g.values[i] = value;
    }
    return g;
  };
  for (size_t k = 0; k < all[0].frequency.size(); ++k) {
    const Grid walk = punch(all[0].frequency[k], 100);
    const Grid white_phase = punch(all[1].phase[k], 50);
    for (const Grid* g : {&walk, &white_phase}) {
      for (Statistic s : {Statistic::kOadev, Statistic::kMdev, Statistic::kOhdev}) {
        for (int64_t m : {1, 4, 16, 100, 128}) {
          const int alpha = noise_alpha(fill(*g, 0), s, m);
          EXPECT_EQ(alpha, noise_alpha(fill(*g, std::nan("")), s, m)) << k << " m " << m;
          EXPECT_EQ(alpha, noise_alpha(fill(*g, 1e30), s, m)) << k << " m " << m;
        }
      }
    }
    for (int64_t m : {1, 4}) {
      EXPECT_EQ(-2, noise_alpha(walk, Statistic::kOadev, m)) << k << " m " << m;
      EXPECT_EQ(2, noise_alpha(white_phase, Statistic::kOadev, m)) << k << " m " << m;
    }
  }
}

TEST(NoiseAlpha, PrefixSumsAgreeWithTheDirectForm) {
  // Every power law, as frequency and as phase, whole and with 3 % of its
  // slots and a run of 40 missing, at every m of the lag-1 range's end and
  // the B1 and R(n) range (m > 32 here) that a -taus all run meets.
  const std::vector<Noise> all = records({2, 1, 0, -1, -2}, 1000, 2);
  std::mt19937_64 holes(7);
  const auto punch = [&](Grid g) {
    for (size_t i = 1; i < g.values.size(); ++i) {
      if (holes() % 100 < 3 || (i >= 500 && i < 540)) {
        g.present[i] = 0;
        g.values[i] = std::nan("");
        ++g.gaps;
        --g.samples;
      }
    }
    return g;
  };
  int64_t compared = 0;
  for (const Noise& noise : all) {
    for (size_t k = 0; k < noise.frequency.size(); ++k) {
      for (const Grid& whole : {noise.frequency[k], noise.phase[k]}) {
        for (const Grid& g : {whole, punch(whole)}) {
          const PreparedGrid prepared = prepare_grid(g);
          for (Statistic s : {Statistic::kOadev, Statistic::kMdev, Statistic::kOhdev}) {
            for (int64_t m = 1; m <= 400; m += m < 40 ? 1 : 3) {
              EXPECT_EQ(reference_noise_alpha(g, s, m), noise_alpha(prepared, s, m))
                  << "alpha " << noise.alpha << " record " << k << " gaps " << g.gaps << " "
                  << statistic_name(s) << " m " << m;
              ++compared;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 10000);
}

}  // namespace
}  // namespace tauspan
