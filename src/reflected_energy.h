// The inner sums of the modified and Hadamard total variances: the energy of
// the box second differences of half-average-detrended windows extended by
// even reflection, summed over every window of a segment in O(1) per window.
#ifndef TAUSPAN_REFLECTED_ENERGY_H_
#define TAUSPAN_REFLECTED_ENERGY_H_

#include <cstdint>

namespace tauspan {

// For each window s in [0, windows) of the segment v (windows + 3m - 1
// values): the window's 3m values w(j) = v(s + j) lose the line through the
// means of their first and last floor(3m/2) values (the half-average slope),
// are extended to 9m values by uninverted even reflection at both ends, and
// the 6m box second differences z(k) = (S(k) - 2 S(k + m) + S(k + 2m)) / m,
// S(k) the sum of the m extended values from k, are squared and summed.
// Returns the sum of those sums over the windows.
//
// The reflected extension is one period of the 6m-periodic even extension of
// the window, so the sum of z^2 over it is a fixed quadratic form in the
// window's running sums, whose sliding terms are prefix sums of products and
// of power-weighted running sums, and whose mirror terms (running sums
// multiplied across the reflection points) sum over all windows as
// diamond-shaped regions, each an arithmetic-progression prefix sum per
// point. Work and memory are O(windows + m), in long double where it has a
// 64-bit significand and in double-double elsewhere. The values should be
// centred (a line removed) over a segment a few windows long for the sums to
// keep their digits; the result does not depend on any line.
double reflected_energy(const double* v, int64_t windows, int64_t m);

// The same in double-double on every platform.
double reflected_energy_dd(const double* v, int64_t windows, int64_t m);

// The same sum by its definition, with running box sums: O(windows * m).
// Cheaper than the above for small m.
double reflected_energy_direct(const double* v, int64_t windows, int64_t m);

}  // namespace tauspan

#endif  // TAUSPAN_REFLECTED_ENERGY_H_
