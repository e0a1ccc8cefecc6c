// The averaged grid of the noise identification, point by point: made again
// a block at a time for each pass over it rather than held, since at
// averaging factor 1 it is as long as the grid; with the same arithmetic, in
// the same order, as on a series held whole.
#ifndef TAUSPAN_NOISE_POINTS_H_
#define TAUSPAN_NOISE_POINTS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "deviations.h"
#include "double_double.h"

namespace tauspan {

// The first present value of a grid (its values held); 0 for none.
double first_present_value(const Grid& grid);

// Whether slots [begin, end) all hold a sample.
inline bool slots_whole(const PreparedGrid& p, size_t begin, size_t end) {
  return p.gap_prefix.empty() || p.gap_prefix[end] == p.gap_prefix[begin];
}

// Entry k of a double-double prefix sum.
inline HiLo<double> prefix_entry(const std::vector<double>& hi, const std::vector<double>& lo,
                                 size_t k) {
  return {hi[k], lo[k]};
}

// a - b of prefix-sum entries.
[[gnu::always_inline]] inline HiLo<double> prefix_difference(HiLo<double> a, HiLo<double> b) {
  return add(a, HiLo<double>{-b.hi, -b.lo});
}

// Points of the series below are made a block at a time into a buffer, in
// loops the compiler can vectorise, and summed from there in order.
constexpr size_t kPointBlock = 512;

// The grid at factor m, as averaged() gives it: means of m consecutive
// frequency slots (present only when all m are), or every m-th phase slot
// less the first sample. Made again on each pass rather than held, since at
// m = 1 it is as long as the grid.
struct AveragedPoints {
  const PreparedGrid* p = nullptr;
  int64_t m = 1;
  size_t length = 0;
  double reference = 0;  // phase data: the first sample
  double inverse = 0;    // 1/m where that is exact (m a power of 2); else 0

  // Points k0 .. k0 + count - 1; 0 for a point that is not there.
  void fill(size_t k0, size_t count, double* value, uint8_t* present) const;
};

// The averaged points less the least-squares polynomial of the index
// (degree 1: a frequency drift; degree 2: the frequency offset and drift of
// phase data), which would otherwise read as a steeper noise, and then
// stepped between neighbours (a step needs both neighbours), with the same
// arithmetic as on a series held whole. `fit` is false when the fit was
// singular and the points stay as they are.
struct DetrendedPoints {
  AveragedPoints points;
  bool fit = false;
  int degree = 1;
  double centre = 0;
  double half = 1;  // the index mapped onto [-1, 1]
  double coefficient[3] = {};

  // The index of points k0 .. k0 + count - 1 mapped onto [-1, 1].
  void fill_u(size_t k0, size_t count, double* u) const;
  // The points k0 .. k0 + count - 1 less the fit.
  void fill(size_t k0, size_t count, double* value, uint8_t* present) const;

  // Calls visit(k, value, present, count) for points k .. k + count - 1 of
  // the points stepped `steps` times (at most 3), block after block in
  // order, k from 0 to length - 1 - steps.
  template <typename F>
  void walk(int steps, F visit) const {
    const auto d = static_cast<size_t>(steps);
    double raw[kPointBlock + 3];
    uint8_t raw_present[kPointBlock + 3];
    double w[kPointBlock + 3];
    uint8_t q[kPointBlock + 3];
    size_t carried = 0;  // points of the block before, for the steps across
    for (size_t k0 = 0; k0 < points.length; k0 += kPointBlock) {
      const size_t count = std::min(kPointBlock, points.length - k0);
      if (d == 0) {
        fill(k0, count, w, q);
        visit(k0, static_cast<const double*>(w), static_cast<const uint8_t*>(q), count);
        continue;
      }
      fill(k0, count, raw + carried, raw_present + carried);
      const size_t total = carried + count;
      std::copy(raw, raw + total, w);
      std::copy(raw_present, raw_present + total, q);
      for (size_t j = 1; j <= d; ++j) {
        for (size_t t = 0; t + j < total; ++t) {
          const uint8_t both = q[t] && q[t + 1];
          w[t] = both ? w[t + 1] - w[t] : 0;
          q[t] = both;
        }
      }
      if (total > d) {
        visit(k0 - carried, static_cast<const double*>(w), static_cast<const uint8_t*>(q),
              total - d);
      }
      carried = std::min(d, total);
      std::copy(raw + total - carried, raw + total, raw);
      std::copy(raw_present + total - carried, raw_present + total, raw_present);
    }
  }
};

// The grid at factor m >= 1 as AveragedPoints.
AveragedPoints averaged_points(const PreparedGrid& p, int64_t m);

// Fits the polynomial of `degree` (1 or 2) to the points by least squares;
// leaves them alone (fit false) when the fit is singular.
DetrendedPoints detrended(const AveragedPoints& points, int degree);

// Points of the averaged grid that are there, up to about `enough`.
int64_t count_present(const AveragedPoints& points, int64_t enough);

}  // namespace tauspan

#endif  // TAUSPAN_NOISE_POINTS_H_
