// -fast on evenly spaced times: the check of the times and the pass.
#include "fast_even.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "double_double.h"

namespace tauspan::fast {
namespace {

// The series' memory is reused for doubles in place.
typedef double AliasedDouble __attribute__((may_alias));

// The exponent of the lowest set bit of x (not 0 and finite).
int low_bit(double x) {
  int exponent = 0;
  const double m = std::frexp(std::fabs(x), &exponent);  // [0.5, 1)
  const auto whole = static_cast<uint64_t>(std::ldexp(m, 53));
  return exponent - 53 + std::countr_zero(whole);
}

}  // namespace

EvenTimes even_times(const SampleSeries& series) {
  const size_t n = series.size();
  if (n < 2) return {};
  const double t0 = series[0].time;
  const double dt = series[1].time - t0;
  if (!std::isfinite(t0) || !std::isfinite(dt) || !(dt > 0)) return {};
  const dd::Num check = dd::two_sum(series[1].time, -t0);
  if (check.lo != 0 || std::bit_cast<uint64_t>(t0 + dt) != std::bit_cast<uint64_t>(series[1].time)) {
    return {};
  }
  // Every time is then a whole number of steps 2^e. Below 2^(51+e) the times,
  // the means of runs of them (steps of 2^(e-1)) and their differences are
  // all exact.
  const int e = t0 == 0 ? low_bit(dt) : std::min(low_bit(t0), low_bit(dt));
  const double limit = std::ldexp(1.0, 50 + e);
  if (!(std::fabs(t0) < limit) || !(static_cast<double>(n - 1) * dt < limit)) return {};
  for (size_t i = 2; i < n; ++i) {
    // Bit for bit, so that the times can be made again from t0 and dt.
    const double t = t0 + static_cast<double>(i) * dt;
    if (std::bit_cast<uint64_t>(series[i].time) != std::bit_cast<uint64_t>(t)) return {};
  }
  return {true, t0, dt};
}

const double* EvenTable::sums() const {
  return reinterpret_cast<const AliasedDouble*>(memory.data());
}

size_t first_not_below(double limit, double dt, size_t n) {
  if (!(limit > dt)) return 1;
  if (!(limit < HUGE_VAL)) return n;
  const double guess = std::ceil(limit / dt);
  size_t k = guess >= static_cast<double>(n) ? n : std::max<size_t>(1, static_cast<size_t>(guess));
  while (k > 1 && !(limit > static_cast<double>(k - 1) * dt)) --k;
  while (k < n && limit > static_cast<double>(k) * dt) ++k;
  return k;
}


namespace {

// Squares are summed plainly over a chunk, lane by lane (a term's lane is
// set by its index mod 8), then added to the lane's double-double total; the lanes
// are joined at the end. The order depends on the indices alone, not on
// blocks, threads or vector width.
inline constexpr size_t kChunk = 256;
// The taus given together walk the table a block at a time; a multiple of
// kChunk.
inline constexpr size_t kBlock = 16384;

// The lane of term i, as the vector loop below lays terms out.
inline constexpr int kLane[8] = {0, 2, 1, 3, 4, 6, 5, 7};

struct Job {
  size_t count = 0;  // samples in every bin
  size_t apart = 0;  // bins from a pair's lagging bin to its leading one
  size_t pairs = 0;
  double chunk[8] = {};
  dd::Num total[8] = {};
};

// The bins and the pairing of one tau, as the window and pairing rules give
// them on these times: bin i holds samples [i, i + count), and pairs with bin
// i + apart.
EvenRow set_up(const EvenTable& t, double tau, double jitter, Job& job) {
  const size_t n = t.n;
  const double dt = t.dt;
  EvenRow row;
  job.count = first_not_below(tau, dt, n);
  const size_t c = job.count;
  // The last window holds the last c samples (all n when none closed).
  const double span = static_cast<double>(std::min(c, n) - 1) * dt;
  row.bins = (c < n ? n - c : 0) + (span > 0.9 * tau ? 1 : 0);
  const double threshold = tau * (1.0 - jitter);
  // A threshold of 0 or less (or NaN) pairs every bin with itself.
  job.apart = threshold > 0 ? first_not_below(threshold, dt, row.bins + 1) : 0;
  job.pairs = job.apart < row.bins ? row.bins - job.apart : 0;
  return row;
}

typedef double V4 __attribute__((vector_size(32)));

[[gnu::always_inline]] inline V4 load4(const double* p) {
  V4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The difference of the lagging and the leading window sums, from the
// prefix sums at a, b = a + count, e = a + apart and f = e + count: the
// highs' part, exact, plus the lows'.
[[gnu::always_inline]] inline double difference(double ha, double hb, double he, double hf,
                                                double la, double lb, double le, double lf) {
  return ((hb - ha) - (hf - he)) + ((lb - la) - (lf - le));
}

// The windows' parts at p, side by side as they lie in memory: the highs'
// and the lows' of two terms. Functions rather than lambdas, as vectors
// must only pass between code built for the same instructions.
[[gnu::always_inline]] inline V4 parts(const double* p, size_t c, size_t q) {
  const V4 pa = load4(p);
  const V4 pb = load4(p + 2 * c);
  const V4 pe = load4(p + 2 * q);
  const V4 pf = load4(p + 2 * (q + c));
  return (pb - pa) - (pf - pe);
}

// The squares of the four terms from a = the prefix sums before the first,
// each high's part plus its low's; within each half of the vector the terms
// come as i, i + 2, i + 1, i + 3.
[[gnu::always_inline]] inline V4 four_squares(const double* a, size_t c, size_t q) {
  const V4 first = parts(a, c, q);
  const V4 second = parts(a + 4, c, q);
  const V4 d = __builtin_shufflevector(first, second, 0, 4, 2, 6) +
               __builtin_shufflevector(first, second, 1, 5, 3, 7);
  return d * d;
}

// Adds the squares of terms [from, to) of a job; `to` is a multiple of
// kChunk or the job's last term. kAdjacent: the pairs are a bin's count
// apart (apart == count, as without jitter), so the lagging window ends
// where the leading one begins and one load serves both.
template <bool kAdjacent>
[[gnu::always_inline]] inline void pass(const EvenTable& t, Job& job, size_t from, size_t to) {
  const double* x = t.sums();  // x[2k - 2] and x[2k - 1]: P[k]'s high and low
  const size_t c = job.count;
  const size_t q = kAdjacent ? c : job.apart;
  const auto scalar = [&](size_t i) {
    double d;
    if (i == 0) {
      d = difference(0.0, x[2 * c - 2], x[2 * q - 2], x[2 * (q + c) - 2], 0.0, x[2 * c - 1],
                     x[2 * q - 1], x[2 * (q + c) - 1]);
    } else {
      const double* a = x + 2 * (i - 1);
      d = difference(a[0], a[2 * c], a[2 * q], a[2 * (q + c)], a[1], a[2 * c + 1], a[2 * q + 1],
                     a[2 * (q + c) + 1]);
    }
    job.chunk[kLane[i % 8]] += d * d;
  };
  for (size_t i = from; i < to;) {
    const size_t end = std::min(to, (i / kChunk + 1) * kChunk);
    for (; i < end && (i == 0 || i % 8 != 0); ++i) scalar(i);
    V4 low_lanes = load4(job.chunk);
    V4 high_lanes = load4(job.chunk + 4);
    for (; i + 8 <= end; i += 8) {
      low_lanes += four_squares(x + 2 * (i - 1), c, q);
      high_lanes += four_squares(x + 2 * (i + 3), c, q);
    }
    std::memcpy(job.chunk, &low_lanes, sizeof low_lanes);
    std::memcpy(job.chunk + 4, &high_lanes, sizeof high_lanes);
    for (; i < end; ++i) scalar(i);
    if (end % kChunk == 0 || end == job.pairs) {
      for (int lane = 0; lane < 8; ++lane) {
        job.total[lane] = dd::add(job.total[lane], job.chunk[lane]);
        job.chunk[lane] = 0;
      }
    }
  }
}

template <typename Pass>
std::vector<EvenRow> rows_by(Pass run, const EvenTable& t, std::span<const double> taus,
                             double jitter) {
  std::vector<EvenRow> rows(taus.size());
  std::vector<Job> jobs(taus.size());
  size_t longest = 0;
  for (size_t k = 0; k < taus.size(); ++k) {
    rows[k] = set_up(t, taus[k], jitter, jobs[k]);
    if (jobs[k].apart == 0) jobs[k].pairs = 0;  // every difference is 0
    longest = std::max(longest, jobs[k].pairs);
  }
  for (size_t from = 0; from < longest; from += kBlock) {
    for (Job& job : jobs) {
      if (from < job.pairs) run(t, job, from, std::min(from + kBlock, job.pairs));
    }
  }
  for (size_t k = 0; k < taus.size(); ++k) {
    const Job& job = jobs[k];
    if (job.pairs == 0) continue;
    dd::Num sum = job.total[0];
    for (int lane = 1; lane < 8; ++lane) sum = dd::add(sum, job.total[lane]);
    const double c = static_cast<double>(job.count);
    rows[k].avar = ((sum.hi + sum.lo) / (c * c) / static_cast<double>(job.pairs)) * 0.5;
  }
  return rows;
}

[[gnu::target("avx2")]] void pass_avx2(const EvenTable& t, Job& job, size_t from, size_t to) {
  if (job.apart == job.count) {
    pass<true>(t, job, from, to);
  } else {
    pass<false>(t, job, from, to);
  }
}

void pass_plain(const EvenTable& t, Job& job, size_t from, size_t to) {
  if (job.apart == job.count) {
    pass<true>(t, job, from, to);
  } else {
    pass<false>(t, job, from, to);
  }
}

}  // namespace

std::vector<EvenRow> even_rows(const EvenTable& table, std::span<const double> taus,
                               double jitter) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 ? rows_by(pass_avx2, table, taus, jitter) : rows_by(pass_plain, table, taus, jitter);
}

std::vector<EvenRow> even_rows_plain(const EvenTable& table, std::span<const double> taus,
                                     double jitter) {
  return rows_by(pass_plain, table, taus, jitter);
}

}  // namespace tauspan::fast
