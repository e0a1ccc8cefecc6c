// The median of numbers that are made again on each of a few passes rather
// than held: a grid's sampling interval is the median of as many steps as
// there are samples, and a copy of them would cost half as much again as the
// samples themselves.
#ifndef TAUSPAN_MEDIAN_SELECT_H_
#define TAUSPAN_MEDIAN_SELECT_H_

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

namespace tauspan {

// The median of v (reordered); with an even count, the midpoint of the two
// middle values; NaN for none. NaN ordering is left to std::nth_element.
double median_in_place(std::vector<double>& v);

namespace median_detail {

// Keys in the order of the numbers (no NaN; -0 before +0).
inline uint64_t order_key(double x) {
  const auto b = std::bit_cast<uint64_t>(x);
  return b >> 63 ? ~b : b | (uint64_t{1} << 63);
}
inline double from_key(uint64_t k) {
  return std::bit_cast<double>(k >> 63 ? k & ~(uint64_t{1} << 63) : ~k);
}

// Keys below this many are sorted out directly rather than by more passes.
constexpr size_t kGatherAt = size_t{1} << 16;

// The key of rank `rank` (0-based, in key order) among the numbers, all of
// whose keys lie in [low, high], low < high: by radix selection sixteen bits
// a pass from the first bit in which low and high differ, until few enough
// are left to sort out directly.
template <typename Walk>
uint64_t key_of_rank(const Walk& walk, size_t rank, uint64_t low, uint64_t high) {
  int known = std::countl_zero(low ^ high);
  uint64_t prefix = known > 0 ? low >> (64 - known) : 0;
  std::vector<size_t> counts;
  for (;;) {
    const int width = std::min(16, 64 - known);
    const int shift = 64 - known - width;
    const uint64_t mask = (uint64_t{1} << width) - 1;
    auto in_prefix = [&](uint64_t k) { return known == 0 || (k >> (64 - known)) == prefix; };
    counts.assign(size_t{1} << width, 0);
    walk([&](double x) {
      const uint64_t k = order_key(x);
      if (in_prefix(k)) ++counts[(k >> shift) & mask];
    });
    size_t bucket = 0;
    while (rank >= counts[bucket]) rank -= counts[bucket++];
    prefix = (prefix << width) | bucket;
    known += width;
    if (known == 64) return prefix;
    if (counts[bucket] <= kGatherAt) {
      std::vector<uint64_t> keys;
      keys.reserve(counts[bucket]);
      walk([&](double x) {
        const uint64_t k = order_key(x);
        if ((k >> shift) == prefix) keys.push_back(k);
      });
      std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(rank), keys.end());
      return keys[rank];
    }
  }
}

}  // namespace median_detail

// The median of the numbers that walk(f) passes to f, the same ones in the
// same order on each call, exactly as median_in_place would give it for them,
// in a few passes and O(1) memory. Where one of them is NaN or -0 (which
// sorting leaves in no set order) they are gathered and median_in_place
// decides. NaN for no numbers.
template <typename Walk>
double median_of_walk(const Walk& walk) {
  using namespace median_detail;
  size_t n = 0;
  bool unordered = false;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  walk([&](double x) {
    ++n;
    unordered |= std::isnan(x) || (x == 0 && std::signbit(x));
    low = std::min(low, x);
    high = std::max(high, x);
  });
  if (n == 0) return std::nan("");
  if (unordered) {
    std::vector<double> v;
    v.reserve(n);
    walk([&](double x) { v.push_back(x); });
    return median_in_place(v);
  }
  if (low == high) return low;
  const uint64_t upper = key_of_rank(walk, n / 2, order_key(low), order_key(high));
  if (n % 2 == 1) return from_key(upper);
  // The element of rank n/2 - 1: the largest below the upper one when
  // enough lie below it, else the upper one again.
  size_t below = 0;
  uint64_t largest = 0;
  walk([&](double x) {
    const uint64_t k = order_key(x);
    if (k < upper) {
      ++below;
      largest = std::max(largest, k);
    }
  });
  const double lower = below >= n / 2 ? from_key(largest) : from_key(upper);
  return std::midpoint(lower, from_key(upper));
}

}  // namespace tauspan

#endif  // TAUSPAN_MEDIAN_SELECT_H_
