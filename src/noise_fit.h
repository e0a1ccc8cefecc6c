// Noise coefficients from a statistic's table: each term's response, a
// weighted non-negative least-squares fit of the variances, and the classic
// read-offs at fixed slopes.
#ifndef TAUSPAN_NOISE_FIT_H_
#define TAUSPAN_NOISE_FIT_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "deviations.h"

namespace tauspan {

// The terms of the model, in the order of every array below:
//   Allan variance = 3 Q^2 / tau^2 + N^2 / tau + (2 ln 2 / pi) B^2
//                    + K^2 tau / 3 + R^2 tau^2 / 2
// Q quantization (white phase), N white rate (random walk of the integral),
// B bias instability (flicker rate), K rate random walk, R rate ramp.
inline constexpr int kNoiseTerms = 5;
enum NoiseTerm { kTermQ, kTermN, kTermB, kTermK, kTermR };
using TermArray = std::array<double, kNoiseTerms>;

// Whether the fit is defined for statistic s: adev, oadev, mdev, hdev, ohdev.
bool fits_noise(Statistic s);

// The variance that statistic s shows at averaging factor m (tau = m tau0)
// for each term with its coefficient 1. Allan: the model above. Modified
// Allan: 3 / (m tau^2), (m^2 + 1) / (2 m^2 tau) (both exact for sampled
// white noise), (27 ln 3 - 32 ln 2) / (8 pi), 11 tau / 40, tau^2 / 2.
// Hadamard: 10 / (3 tau^2), 1 / tau (exact), (8 ln 2 - 3 ln 3) / (2 pi),
// tau / 6, and 0 for the ramp, which a third difference removes. The flicker
// and random-walk terms are their large-m limits. m may be fractional (for
// drawing between rows); 0 for a statistic that fits_noise rejects.
TermArray term_response(Statistic s, double m, double tau);

// The slope of each term's deviation on log-log axes, as text ("-1/2").
std::string term_slope(Statistic s, NoiseTerm t);

// One row of a table as the fit takes it, with its equivalent degrees of
// freedom.
struct NoisePoint {
  int64_t m = 0;
  double tau = 0;
  double variance = 0;  // the deviation squared
  double edf = 0;
};

struct NoiseFit {
  std::string error;        // why there is no fit (too few rows); else empty
  TermArray value{};        // Q, N, B, K, R, each >= 0
  TermArray uncertainty{};  // standard uncertainty; NaN for a term at the bound or unseen
  std::array<bool, kNoiseTerms> at_bound{};  // fitted as 0: the constraint holds
  std::array<bool, kNoiseTerms> seen{};      // the statistic responds to the term
  int rows = 0;                              // rows used
  int free_terms = 0;                        // terms off the bound
  double chi2 = 0;                           // weighted residual sum of squares
};

// Fits the model to `points` by non-negative least squares on the
// coefficients squared, each row weighted by edf / (2 v^2), the inverse
// variance of a chi-squared variance estimate, divided by the number of rows
// within a factor 2 of its tau (itself included): rows that close share most
// of their data, and the fit takes rows as independent. v is the fitted
// model's value: the first pass
// takes the measured variance, then the fit is repeated with the model's
// until it settles (a few passes). Rows whose tau, variance or edf is not
// positive and finite are left out. Uncertainties come from the weighted
// fit's covariance over the terms off the bound (rows taken as independent),
// carried to the coefficient as u(c^2) / (2 c). Fewer rows than one more
// than the seen terms give `error` and no values.
NoiseFit fit_noise(Statistic s, const std::vector<NoisePoint>& points);

// The classic graphical values, NaN where the curve has no such part: N from
// the row whose local slope (to its neighbours) is nearest -1/2, K from the
// one nearest +1/2 (within 1/4 of it), B from the smallest variance; each is
// that row's variance divided by the term's own response, so for the Allan
// variance the -1/2 line's value at tau = 1, the +1/2 line's at tau = 3 and
// the flat minimum over 0.664.
struct NoiseReadOffs {
  double n = 0;
  double b = 0;
  double k = 0;
};
NoiseReadOffs read_offs(Statistic s, const std::vector<NoisePoint>& points);

// min |A x - b| over x >= 0 (Lawson and Hanson's active set), A with `cols`
// columns stored row by row. Columns are scaled to unit length inside, so
// their units may differ by many decades. Exposed for its tests.
std::vector<double> nnls(const std::vector<double>& a, int cols, const std::vector<double>& b);

}  // namespace tauspan

#endif  // TAUSPAN_NOISE_FIT_H_
