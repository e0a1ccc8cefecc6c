// Grids and series for the tests of the long-term statistics: the NIST
// 1000-point set, seeded noise, gaps, and phase in 113-bit arithmetic for the
// literal definitions.
#ifndef TAUSPAN_TESTS_LONG_TERM_FIXTURES_H_
#define TAUSPAN_TESTS_LONG_TERM_FIXTURES_H_

#include <cstdint>
#include <random>
#include <vector>

#include "grid.h"

namespace tauspan::test {

__extension__ typedef __float128 Quad;

// y(i) = n(i) / 2147483647 with n(0) = 1234567890, n(i+1) = 16807 n(i) mod
// 2147483647, i = 0..999.
std::vector<double> nist_frequency();

// x(0) = 0, x(k) = x(k-1) + y(k-1): 1001 points, each rounded to a double.
std::vector<double> nist_phase();

// A grid of the values with tau0, every slot present unless `present` says.
Grid grid_of(DataKind kind, const std::vector<double>& values, double tau0 = 1,
             std::vector<uint8_t> present = {}, double nominal = 0);

// The grid with every listed slot made a gap (value 0).
Grid with_gaps(Grid g, const std::vector<int64_t>& slots);

// Noise by power-law exponent of the frequency: 0 white FM, -2 random-walk
// FM, 2 white PM (as frequency values: differences of white phase).
std::vector<double> noise(std::mt19937_64& rng, size_t n, int alpha, double scale = 1,
                          double offset = 0);

// The phase points of a grid in seconds, in 113 bits (x(k+1) = x(k) + y(k)
// tau0 for frequency data, y divided by the nominal f0 when there is one,
// missing values as 0), and a flag per point telling
// whether a term may use it: for phase data the slot is present.
struct QuadPhase {
  std::vector<Quad> x;
  std::vector<uint8_t> point_ok;  // phase data: present slots
  std::vector<uint8_t> step_ok;   // frequency data: present samples (step k = y(k))
  bool frequency = false;
};
QuadPhase quad_phase(const Grid& g);

// Phase points p..q usable together (the window rule) and the difference
// x(q) - x(p) usable (both points for phase data, every step for frequency).
bool quad_window_ok(const QuadPhase& x, int64_t p, int64_t q);
bool quad_difference_ok(const QuadPhase& x, int64_t p, int64_t q);

// |a - b| / |b|.
double relative(double a, double b);

}  // namespace tauspan::test

#endif  // TAUSPAN_TESTS_LONG_TERM_FIXTURES_H_
