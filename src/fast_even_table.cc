// -fast on evenly spaced times: the table of prefix sums, made in the
// series' own memory.
#include "fast_even.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

#include "double_double.h"

namespace tauspan::fast {
namespace {

// The series' memory is reused for doubles in place.
typedef double AliasedDouble __attribute__((may_alias));

// A double's biased exponent: its size to a factor of 2 (subnormals all 0).
inline constexpr int kExponents = 2048;
inline size_t size_of(double x) { return (std::bit_cast<uint64_t>(x) >> 52) & 0x7ff; }

// The table's passes run on parts fixed by the series' length alone, so that
// their sums come out the same whatever the threads.
size_t parts_of(size_t n) { return n >= 65536 ? 4 : 1; }
size_t part_begin(size_t n, size_t part) { return n / parts_of(n) * part; }
size_t part_end(size_t n, size_t part) {
  return part + 1 == parts_of(n) ? n : part_begin(n, part + 1);
}

// Runs job(part) for every part, on up to `threads` threads.
template <typename Job>
void on_parts(size_t n, int threads, const Job& job) {
  const size_t parts = parts_of(n);
  std::vector<std::thread> helpers;
  if (threads > 1 && parts > 1) {
    try {
      for (size_t k = 1; k < parts; ++k) helpers.emplace_back(job, k);
    } catch (const std::system_error&) {
      // Fewer threads: the parts left are run here.
    }
  }
  for (size_t k = helpers.size() + 1; k < parts; ++k) job(k);
  job(0);
  for (std::thread& t : helpers) t.join();
}

struct PartLook {
  std::vector<int64_t> counts;  // four a size, so runs of equal sizes do not wait on each other
  double sum = 0;
  bool finite = true;
  // Of the prefix sums from the part's start, less the offset:
  double least = 0;
  double most = 0;
  double total = 0;
  double magnitude = 0;
  double farthest = 0;
};

}  // namespace

bool take_even_table(SampleSeries& series, EvenTimes times, EvenTable& table, int threads) {
  const size_t n = series.size();
  if (!times.even || n < 2) return false;
  const Sample* const samples = series.data();
  const size_t parts = parts_of(n);
  std::vector<PartLook> look(parts);

  // The sizes of the steps from value to value tell how finely the windows'
  // sums must be told apart.
  on_parts(n, threads, [&](size_t k) {
    PartLook& l = look[k];
    l.counts.assign(4 * kExponents, 0);
    for (size_t i = part_begin(n, k); i < part_end(n, k); ++i) {
      const double v = samples[i].value;
      const double move = i > 0 ? v - samples[i - 1].value : 0;
      l.counts[4 * size_of(move) + (i & 3)] += move != 0 ? 1 : 0;
      l.sum += v;
      l.finite = l.finite && std::isfinite(v) && v != kMissing;
    }
  });
  std::vector<int64_t> steps(kExponents);
  double sum = 0;
  bool finite = true;
  for (const PartLook& l : look) {
    for (size_t e = 0; e < steps.size(); ++e) {
      steps[e] += (l.counts[4 * e] + l.counts[4 * e + 1]) + (l.counts[4 * e + 2] + l.counts[4 * e + 3]);
    }
    sum += l.sum;
    finite = finite && l.finite;
  }
  // Near the mean the prefix sums of a stationary series stay small.
  const double offset = sum / static_cast<double>(n);

  // The largest prefix sum, within a bound of the rounding, and the largest
  // value apart from the mean.
  double most = 0;
  double magnitude = 0;
  double farthest = 0;
  if (finite && std::isfinite(offset)) {
    on_parts(n, threads, [&](size_t k) {
      PartLook& l = look[k];
      double p = 0;
      for (size_t i = part_begin(n, k); i < part_end(n, k); ++i) {
        const double y = samples[i].value - offset;
        p += y;
        l.least = std::min(l.least, p);
        l.most = std::max(l.most, p);
        l.magnitude += std::fabs(y);
        l.farthest = std::max(l.farthest, std::fabs(y));
      }
      l.total = p;
    });
    double before = 0;
    for (const PartLook& l : look) {
      most = std::max({most, std::fabs(before + l.least), std::fabs(before + l.most)});
      before += l.total;
      magnitude += l.magnitude;
      farthest = std::max(farthest, l.farthest);
    }
  }
  // A few values far beyond the median step (an overrange code among
  // readings) would set the grid of every sum; the sweep's general loop
  // sets those aside instead.
  int64_t moves = 0;
  for (const int64_t count : steps) moves += count;
  size_t median = 0;
  for (int64_t seen = 0; median + 1 < steps.size(); ++median) {
    seen += steps[median];
    if (2 * seen >= moves) break;
  }
  // The estimate of the largest sum is off by less than this, in any order.
  const double bound = most + static_cast<double>(n) * 0x1p-52 * magnitude;
  // Sums near the top of the doubles' range would overflow the rounding below.
  if (!finite || !(bound < 0x1p960) || (moves > 0 && size_of(farthest) > median + 30)) {
    return false;
  }

  // Each sum is carried as a high on the grid of `step` plus a low: a
  // value's part on the grid goes to the high exactly, and what the low
  // gathers beyond half a step moves over every eighth value (so it stays
  // within about four steps, and its additions lose no more than 2^-50 of a
  // step). |P| < 2^49 steps, so four highs with signs stay below 2^51 steps.
  // Each part sums from 0; then the sums of the parts before it are added to
  // its own.
  const int top = bound > 0 ? std::ilogb(bound) + 1 : -1074;
  const double step = std::ldexp(1.0, std::max(top - 49, -1074));
  const double rounder = 0x1.8p52 * step;  // its ulp is the step
  // Sample i's slot takes P[i + 1], once its value is read: the time its
  // high, the value its low.
  AliasedDouble* const slots = reinterpret_cast<AliasedDouble*>(series.data());
  on_parts(n, threads, [&](size_t k) {
    double high = 0;
    double low = 0;
    for (size_t i = part_begin(n, k); i < part_end(n, k); ++i) {
      const dd::Num y = dd::two_sum(slots[2 * i + 1], -offset);
      const double on_grid = (y.hi + rounder) - rounder;
      high += on_grid;
      low += (y.hi - on_grid) + y.lo;
      if ((i & 7) == 7) {
        const double carry = (low + rounder) - rounder;
        high += carry;
        low -= carry;
      }
      slots[2 * i] = high;
      slots[2 * i + 1] = low;
    }
  });
  if (parts > 1) {
    std::vector<double> high_before(parts, 0.0);
    std::vector<double> low_before(parts, 0.0);
    for (size_t k = 1; k < parts; ++k) {
      const size_t last = part_end(n, k - 1) - 1;
      high_before[k] = high_before[k - 1] + slots[2 * last];  // on the grid: exact
      low_before[k] = low_before[k - 1] + slots[2 * last + 1];
    }
    on_parts(n, threads, [&](size_t k) {
      for (size_t i = part_begin(n, k); k > 0 && i < part_end(n, k); ++i) {
        double low = slots[2 * i + 1] + low_before[k];
        const double carry = (low + rounder) - rounder;
        low -= carry;
        slots[2 * i] = (slots[2 * i] + high_before[k]) + carry;
        slots[2 * i + 1] = low;
      }
    });
  }
  table.n = n;
  table.t0 = times.t0;
  table.dt = times.dt;
  table.offset = offset;
  table.memory = std::move(series);
  series = SampleSeries{};
  return true;
}

}  // namespace tauspan::fast
