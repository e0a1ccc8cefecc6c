// Bias corrections and equivalent degrees of freedom of the total and Thêo1
// statistics, by the power-law exponent alpha of the noise (2 white PM,
// 1 flicker PM, 0 white FM, -1 flicker FM, -2 random-walk FM, -3 flicker
// walk FM, -4 random-run FM). An alpha the published tables do not cover
// (including an unidentified noise) gives no correction (a divisor of 1)
// and an EDF of NaN, so the row has no interval rather than a wrong one.
//
// record_length is the span of the data, (N - 1) tau0 on N phase points;
// tau is the averaging time of the row (m tau0; for Thêo1 0.75 m tau0).
#ifndef TAUSPAN_TOTAL_EDF_H_
#define TAUSPAN_TOTAL_EDF_H_

#include <cstdint>

namespace tauspan {

// Divide the total variance by this, by default: 1 - a tau / T with
// a = 0.481 for flicker FM and 0.750 for random-walk FM; 1 for alpha >= 0.
double totvar_bias_divisor(int alpha, double tau, double record_length);

// Divide the modified total variance (and so the time total variance) by
// this when bias correction is asked for: 0.94, 0.83, 0.73, 0.70, 0.69 for
// alpha 2, 1, 0, -1, -2.
double mtotvar_bias_divisor(int alpha);

// Divide the Hadamard total variance by this when bias correction is asked
// for: 0.995, 0.851, 0.771, 0.717, 0.679 for alpha 0, -1, -2, -3, -4. At
// m = 1, where htotdev is the overlapping Hadamard deviation, there is no
// bias to remove: pass m and get 1.
double htotvar_bias_divisor(int alpha, int64_t m);

// EDF of the total variance: b T/tau - c with (b, c) = (1.50, 0) white FM,
// (1.17, 0.22) flicker FM, (0.93, 0.36) random-walk FM.
double totvar_edf(int alpha, double tau, double record_length);

// EDF of the modified and time total variances: b T/tau - c with (b, c) =
// (1.90, 2.10), (1.20, 1.40), (1.10, 1.20), (0.85, 0.50), (0.75, 0.31) for
// alpha 2, 1, 0, -1, -2.
double mtotvar_edf(int alpha, double tau, double record_length);

// EDF of the Hadamard total variance: (T/tau) / (b0 + b1 tau/T) with
// (b0, b1) = (0.559, 1.004) white FM, (0.868, 1.140) flicker FM,
// (0.938, 1.696) random-walk FM.
double htotvar_edf(int alpha, double tau, double record_length);

// EDF of Thêo1 at even factor m on N phase points, r = 0.75 m:
//   alpha  2: 0.86 (N + 1)(N - 4r/3) / (N - r) * r / (r + 1.14)
//   alpha  1: (4.798 N^2 - 6.374 N r + 12.387 r^2) / (sqrt(r + 36.6) (N - r))
//             * r / (r + 0.3)
//   alpha  0: ((4.1 N + 0.8) / r - (3.1 N + 6.5) / N) * r^1.5 / (r^1.5 + 5.2)
//   alpha -1: (2 N^2 - 1.3 N r - 3.5 r) / (N r) * r^3 / (r^3 + 2.3)
//   alpha -2: (4.4 N - 2) / (2.9 r) * ((4.4 N - 1)^2 - 8.6 r (4.4 N - 1)
//             + 11.4 r^2) / (4.4 N - 3)^2
double theo1_edf(int alpha, int64_t m, int64_t phase_points);

}  // namespace tauspan

#endif  // TAUSPAN_TOTAL_EDF_H_
