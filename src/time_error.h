// The time-error statistics of telecom practice over the phase series of a
// grid: MTIE and TIE rms, in seconds.
//
// Gaps. A TIE rms term x(i + m) - x(i) needs both points (for frequency data,
// every sample between them); an MTIE window needs every point in it (for
// frequency data, every sample in it). Terms and windows that need a missing
// sample are left out.
#ifndef TAUSPAN_TIME_ERROR_H_
#define TAUSPAN_TIME_ERROR_H_

#include <cstdint>

// deviations.h uses Deviation in a declaration before it defines it.
namespace tauspan {
struct Deviation;
}  // namespace tauspan

#include "deviations.h"
#include "long_term_series.h"

namespace tauspan {

// Maximum time interval error: the largest max - min of the phase over a
// window of m + 1 consecutive points, tau = m tau0. n counts the phase points
// that lie in a window used (N without gaps). O(N) time and O(m) memory: the
// extremes come from monotonic queues of window positions.
Deviation mtie(const LongTermSeries& s, int64_t m);

// TIE rms: the root mean square of x(i + m) - x(i) over the N - m terms.
Deviation tierms(const LongTermSeries& s, int64_t m);

// Largest averaging factors as the field's reference tool reports them on N
// phase points: N/2 for MTIE, N/4 for TIE rms.
int64_t mtie_max_factor(int64_t phase_points);
int64_t tierms_max_factor(int64_t phase_points);

}  // namespace tauspan

#endif  // TAUSPAN_TIME_ERROR_H_
