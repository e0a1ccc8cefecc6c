// The inner loop of every standard statistic: the sum of squares of the
// second or third differences of a sequence at one lag, over the terms whose
// samples are all there.
#ifndef TAUSPAN_DIFFERENCE_SUMS_H_
#define TAUSPAN_DIFFERENCE_SUMS_H_

#include <cstdint>

namespace tauspan {

// Which terms count. kSpan: term i needs no gap among slots
// [i, i + span). kPoints: term i needs slots i, i + lag, ... i + order * lag.
enum class GapTest { kNone, kSpan, kPoints };

struct DifferenceSums {
  const double* hi = nullptr;  // the sequence, as hi[k] + lo[k]
  const double* lo = nullptr;  // nullptr where the sequence is plain doubles
  int order = 2;               // 2: X[i+2m] - 2X[i+m] + X[i]; 3: the third difference
  int64_t lag = 1;             // m
  int64_t stride = 1;          // between consecutive terms' first indices: 1 or lag
  int64_t count = 0;           // terms i = 0, stride, ..., (count - 1) * stride
  GapTest test = GapTest::kNone;
  const int64_t* gap_prefix = nullptr;  // slots missing among the first k
  int64_t span = 0;                     // for kSpan; a multiple of the stride
};

struct SquareSum {
  double sum = 0;  // of the squared terms that count
  int64_t n = 0;   // terms that count
};

// Each term is formed from the exact differences of hi and of lo, so it is
// off by about an ulp of itself plus 2^-104 of the sequence's values; the
// squares are added in blocks of a few hundred per lane and the blocks in
// double-double, so the sum is within about 1e-13 of the sum of the
// rounded squares. The same bits on every CPU: the vector code keeps four
// lanes whatever the register width.
SquareSum difference_squares(const DifferenceSums& d);

// For tests and benchmarks: false runs the code compiled for any x86-64
// even where AVX2 is there. Returns whether AVX2 code is in use.
bool use_avx2(bool wanted);

}  // namespace tauspan

#endif  // TAUSPAN_DIFFERENCE_SUMS_H_
