// Thêo1's sum over one gap-free run in O(N log m + m log^2 m) for one
// averaging factor, from lagged products instead of the O(N m) terms.
//
// With centres c = i + m/2, r = m/2 - a and s_c(r) = v(c - r) + v(c + r),
// a term is u = s_c(m/2) - s_c(r), and u^2 expands into
//   - squares of single points: differences of a prefix sum of v^2,
//   - (v(i) + v(i + m))^2: one pass,
//   - products v(j) v(j + l) summed over a window of N - m points: the
//     whole autocorrelation at lag l less the products of the m points at
//     either end (the autocorrelation of those m points),
//   - products v(c - r) v(c + r) over the centres: the autocorrelation at lag
//     2r less two corner triangles, each the upper half of a convolution of
//     the m end points with themselves reversed.
// Everything but the first is a transform of m or of N points. The products
// are large beside the squared terms they add up to (by about N^2 / (m (N -
// m)) on a random walk), so the rounding of the transforms is estimated and
// the caller falls back on the term sums when it could reach the digits the
// result must keep.
#ifndef TAUSPAN_THEO1_FAST_H_
#define TAUSPAN_THEO1_FAST_H_

#include <cstdint>
#include <vector>

#include "double_double.h"

namespace tauspan {

// One run's points v (centred: Thêo1 ignores any line, so the caller removes
// one), their prefix sums of squares (size N + 1) and autocorrelation up to
// lag m or beyond.
struct Theo1Run {
  const std::vector<double>& v;
  const std::vector<dd::Num>& squares;
  const std::vector<double>& autocorrelation;
  double sum_of_squares;
};

struct Theo1Sum {
  dd::Num sum;   // sum over i and a of u(i, a)^2 / a
  double error;  // the likely size of its rounding, from the transforms
};

// Requires an even m with 2 <= m <= N - 1.
Theo1Sum theo1_run_sum(const Theo1Run& run, int64_t m);

// The rounding theo1_run_sum() would report for factor m, before doing the
// work: it depends only on m, N and the sum of squares.
double theo1_run_error(int64_t len, int64_t m, double sum_of_squares);

// Thêo1's sum estimated from `count` windows spread over the run, for
// deciding whether the products can keep enough digits.
double theo1_sampled_sum(const std::vector<double>& v, int64_t m, int64_t count);

// Prefix sums of v^2 in double-double: squares[k] = sum over j < k.
std::vector<dd::Num> prefix_squares(const std::vector<double>& v);

}  // namespace tauspan

#endif  // TAUSPAN_THEO1_FAST_H_
