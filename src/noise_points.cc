// The averaged grid of the noise identification made a block at a time:
// loops without sums, which the compiler vectorises, fill the blocks.
#include "noise_points.h"

#include <cmath>
#include <utility>

namespace tauspan {

double first_present_value(const Grid& grid) {
  for (size_t i = 0; i < grid.values.size(); ++i) {
    if (grid.present[i]) return grid.values[i];
  }
  return 0;
}

void AveragedPoints::fill(size_t k0, size_t count, double* value, uint8_t* present) const {
  const Grid& grid = *p->grid;
  const auto step = static_cast<size_t>(m);
  if (grid.kind == DataKind::kPhase) {
    for (size_t i = 0; i < count; ++i) {
      const size_t s = (k0 + i) * step;
      present[i] = grid.present[s];
      value[i] = present[i] ? grid.values[s] - reference : 0;
    }
    return;
  }
  const double* hi = p->phase_hi.data();
  const double* lo = p->phase_lo.data();
  for (size_t i = 0; i < count; ++i) {
    const size_t s = (k0 + i) * step;
    const HiLo<double> end{hi[s + step], lo[s + step]};
    value[i] = prefix_difference(end, HiLo<double>{hi[s], lo[s]}).hi;
  }
  // Dividing by a power of 2 and multiplying by its inverse round the
  // same product once: the same bits.
  if (m == 1) {
    // Already the mean.
  } else if (inverse != 0) {
    for (size_t i = 0; i < count; ++i) value[i] *= inverse;
  } else {
    const auto md = static_cast<double>(m);
    for (size_t i = 0; i < count; ++i) value[i] /= md;
  }
  if (p->gap_prefix.empty()) {
    std::fill(present, present + count, uint8_t{1});
    return;
  }
  const int64_t* g = p->gap_prefix.data();
  for (size_t i = 0; i < count; ++i) {
    const size_t s = (k0 + i) * step;
    present[i] = g[s + step] == g[s];
    value[i] = present[i] ? value[i] : 0;
  }
}

AveragedPoints averaged_points(const PreparedGrid& p, int64_t m) {
  const Grid& grid = *p.grid;
  const size_t slots = slot_count(grid);
  const auto step = static_cast<size_t>(m);
  AveragedPoints a;
  a.p = &p;
  a.m = m;
  a.length = grid.kind == DataKind::kPhase ? (slots + step - 1) / step : slots / step;
  if (grid.kind == DataKind::kPhase) a.reference = first_present_value(grid);
  if ((step & (step - 1)) == 0) a.inverse = 1 / static_cast<double>(m);
  return a;
}

// The index of points k0 .. k0 + count - 1 mapped onto [-1, 1]. The
// index is made as k0 + i in doubles (exact below 2^53), which vectorises
// where a conversion of each would not.
void DetrendedPoints::fill_u(size_t k0, size_t count, double* u) const {
  const auto first = static_cast<double>(k0);
  for (size_t i = 0; i < count; ++i) {
    u[i] = ((first + static_cast<double>(static_cast<uint32_t>(i))) - centre) / half;
  }
}

void DetrendedPoints::fill(size_t k0, size_t count, double* value, uint8_t* present) const {
  points.fill(k0, count, value, present);
  if (!fit) return;
  double u[kPointBlock];
  fill_u(k0, count, u);
  // Horner's steps from 0 written out for each degree, so that the loop
  // vectorises; the same operations as a loop over the coefficients.
  const double c0 = coefficient[0];
  const double c1 = coefficient[1];
  const double c2 = coefficient[2];
  if (degree == 1) {
    for (size_t i = 0; i < count; ++i) {
      double f = 0;
      f = f * u[i] + c1;
      f = f * u[i] + c0;
      value[i] = present[i] ? value[i] - f : value[i];
    }
  } else {
    for (size_t i = 0; i < count; ++i) {
      double f = 0;
      f = f * u[i] + c2;
      f = f * u[i] + c1;
      f = f * u[i] + c0;
      value[i] = present[i] ? value[i] - f : value[i];
    }
  }
}

DetrendedPoints detrended(const AveragedPoints& points, int degree) {
  DetrendedPoints z;
  z.points = points;
  z.degree = degree;
  const size_t n = points.length;
  z.centre = static_cast<double>(n - 1) / 2;
  z.half = std::max(z.centre, 1.0);
  double power_sums[5] = {};
  double a[3][4] = {};  // normal equations, right-hand side in column 3
  double value[kPointBlock];
  uint8_t present[kPointBlock];
  double u[kPointBlock];
  // The sums in locals (so that they stay in registers), each taking its
  // terms in index order; the powers of u as p *= u makes them from 1.
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0, r0 = 0, r1 = 0, r2 = 0;
  for (size_t k0 = 0; k0 < n; k0 += kPointBlock) {
    const size_t count = std::min(kPointBlock, n - k0);
    points.fill(k0, count, value, present);
    z.fill_u(k0, count, u);
    if (degree == 1) {
      for (size_t i = 0; i < count; ++i) {
        if (!present[i]) continue;
        const double p1 = 1 * u[i];
        s0 += 1;
        r0 += 1 * value[i];
        s1 += p1;
        r1 += p1 * value[i];
        s2 += p1 * u[i];
      }
    } else {
      for (size_t i = 0; i < count; ++i) {
        if (!present[i]) continue;
        const double p1 = 1 * u[i];
        const double p2 = p1 * u[i];
        const double p3 = p2 * u[i];
        s0 += 1;
        r0 += 1 * value[i];
        s1 += p1;
        r1 += p1 * value[i];
        s2 += p2;
        r2 += p2 * value[i];
        s3 += p3;
        s4 += p3 * u[i];
      }
    }
  }
  power_sums[0] = s0;
  power_sums[1] = s1;
  power_sums[2] = s2;
  power_sums[3] = s3;
  power_sums[4] = s4;
  a[0][3] = r0;
  a[1][3] = r1;
  a[2][3] = r2;
  const int size = degree + 1;
  for (int i = 0; i < size; ++i) {
    for (int j = 0; j < size; ++j) a[i][j] = power_sums[i + j];
  }
  for (int col = 0; col < size; ++col) {
    int pivot = col;
    for (int row = col + 1; row < size; ++row) {
      if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
    }
    if (!(std::fabs(a[pivot][col]) > 1e-12 * power_sums[0])) return z;
    std::swap(a[col], a[pivot]);
    for (int row = 0; row < size; ++row) {
      if (row == col) continue;
      const double factor = a[row][col] / a[col][col];
      for (int j = col; j < 4; ++j) a[row][j] -= factor * a[col][j];
    }
  }
  for (int j = 0; j <= degree; ++j) z.coefficient[j] = a[j][3] / a[j][j];
  z.fit = true;
  return z;
}

int64_t count_present(const AveragedPoints& points, int64_t enough) {
  double value[kPointBlock];
  uint8_t present[kPointBlock];
  int64_t n = 0;
  for (size_t k0 = 0; k0 < points.length && n < enough; k0 += kPointBlock) {
    const size_t count = std::min(kPointBlock, points.length - k0);
    points.fill(k0, count, value, present);
    for (size_t i = 0; i < count; ++i) n += present[i];
  }
  return n;
}

}  // namespace tauspan
