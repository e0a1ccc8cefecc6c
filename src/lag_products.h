// Sums of lagged products of a real sequence by fast Fourier transform: the
// autocorrelation at a range of lags, and the half of a convolution that
// Thêo1's corner terms need.
//
// Accuracy. The transforms round each output by a few 2^-53 times the sum
// of squares of the points (measured: about 1.6 on random walks of 10^3 to
// 10^5 points; a worst-case bound is log2 n times that): fine for sums that
// are not themselves the small difference of large ones. Callers that
// subtract such sums estimate the loss with product_error_scale().
#ifndef TAUSPAN_LAG_PRODUCTS_H_
#define TAUSPAN_LAG_PRODUCTS_H_

#include <cstdint>
#include <vector>

namespace tauspan {

// c[l] = sum over j of v[j] v[j + l], for l = 0..max_lag (zero where no pair
// exists). O(n log max_lag): blocks of about max_lag points.
std::vector<double> autocorrelation(const std::vector<double>& v, int64_t max_lag);

// u[s] = sum over p <= q, p + q = s of z[p] y[q], for s = 0..2n-2 on two
// sequences of n points: the upper triangle of the convolution, O(n log^2 n).
std::vector<double> upper_convolution(const std::vector<double>& z, const std::vector<double>& y);

// The rounding of a lagged product from transforms of length n, per unit of
// the sum of squares of the points: 4 sqrt(log2 n + 1) 2^-53, about ten
// times what random walks and white noise show. An estimate, not a bound.
double product_error_scale(int64_t n);

}  // namespace tauspan

#endif  // TAUSPAN_LAG_PRODUCTS_H_
