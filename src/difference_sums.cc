// Sums of squared differences at one lag: four terms per step in a GCC
// vector, the squares summed plainly in blocks and the blocks compensated.
// The code is compiled twice, for any x86-64 and for AVX2, and chosen once
// at start; both keep the same four lanes, so they give the same bits.
#include "difference_sums.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "double_double.h"

namespace tauspan {
namespace {

typedef double Lanes __attribute__((vector_size(32)));
typedef long long Masks __attribute__((vector_size(32)));
constexpr int64_t kLanes = 4;

// Vectors of squares added plainly before the block goes into the
// compensated total: a plain sum of 256 positive numbers is off by at most
// 255 units of 2^-53 of it.
constexpr int64_t kBlock = 256;

template <typename V>
[[gnu::always_inline]] inline V load(const void* p) {
  V x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

// The difference of the values x[k] + l[k] at i + k * lag. The exact
// differences of the his come first, so that a large common level cancels
// without rounding; the los and the rounding errors are then small and
// go in last.
template <int kOrder, bool kLo, typename T>
[[gnu::always_inline]] inline T term(const T (&x)[4], const T (&l)[4]) {
  if constexpr (kOrder == 2) {
    const HiLo<T> s = two_sum(x[2], x[0]);
    const HiLo<T> h = two_sum(s.hi, -(x[1] + x[1]));
    T lo = s.lo + h.lo;
    if constexpr (kLo) lo += (l[2] + l[0]) - (l[1] + l[1]);
    return h.hi + lo;
  } else {
    // X3 - X0 - 3 (X2 - X1); 3b is formed exactly as 2b + b.
    const HiLo<T> a = two_sum(x[3], -x[0]);
    const HiLo<T> b = two_sum(x[2], -x[1]);
    const HiLo<T> b3 = two_sum(b.hi + b.hi, b.hi);
    const HiLo<T> h = two_sum(a.hi, -b3.hi);
    T lo = (a.lo + h.lo) - (b3.lo + b.lo * 3.0);
    if constexpr (kLo) lo += (l[3] - l[0]) - (l[2] - l[1]) * 3.0;
    return h.hi + lo;
  }
}

template <int kOrder, bool kLo, typename T>
[[gnu::always_inline]] inline T term_at(const DifferenceSums& d, int64_t i) {
  T x[4]{};
  T l[4]{};
  for (int k = 0; k <= kOrder; ++k) {
    x[k] = load<T>(d.hi + i + k * d.lag);
    if constexpr (kLo) l[k] = load<T>(d.lo + i + k * d.lag);
  }
  return term<kOrder, kLo>(x, l);
}

// Whether term i counts, for one term or four.
template <GapTest kTest, int kOrder, typename M>
[[gnu::always_inline]] inline M counts_at(const DifferenceSums& d, int64_t i) {
  const int64_t* g = d.gap_prefix + i;
  if constexpr (kTest == GapTest::kSpan) {
    return load<M>(g + d.span) == load<M>(g);
  } else {
    M ok = load<M>(g + 1) == load<M>(g);
    for (int k = 1; k <= kOrder; ++k) {
      const int64_t* p = g + k * d.lag;
      ok = ok & (load<M>(p + 1) == load<M>(p));
    }
    return ok;
  }
}

// The last few terms, one at a time.
template <int kOrder, bool kLo, GapTest kTest>
[[gnu::always_inline]] inline void add_terms(const DifferenceSums& d, int64_t first,
                                             HiLo<double>& sum, int64_t& n) {
  for (int64_t i = first; i < d.count; ++i) {
    if constexpr (kTest != GapTest::kNone) {
      if (!counts_at<kTest, kOrder, int64_t>(d, i)) continue;
    }
    const double t = term_at<kOrder, kLo, double>(d, i);
    sum = add(sum, HiLo<double>{t * t, 0.0});
    ++n;
  }
}

// Consecutive terms, four at a time; the last few one at a time.
template <int kOrder, bool kLo, GapTest kTest>
[[gnu::always_inline]] inline SquareSum consecutive_terms(const DifferenceSums& d) {
  HiLo<Lanes> total{};
  Masks counted{};
  const int64_t whole = d.count - d.count % kLanes;
  int64_t i = 0;
  while (i < whole) {
    const int64_t block_end = std::min(whole, i + kBlock * kLanes);
    Lanes block{};
    for (; i < block_end; i += kLanes) {
      const Lanes t = term_at<kOrder, kLo, Lanes>(d, i);
      Lanes q = t * t;
      if constexpr (kTest != GapTest::kNone) {
        const Masks ok = counts_at<kTest, kOrder, Masks>(d, i);
        q = ok ? q : Lanes{};
        counted -= ok;
      }
      block += q;
    }
    const HiLo<Lanes> s = two_sum(total.hi, block);
    total.hi = s.hi;
    total.lo += s.lo;
  }
  HiLo<double> sum{};
  int64_t n = kTest == GapTest::kNone ? whole : 0;
  for (int j = 0; j < kLanes; ++j) {
    sum = add(sum, HiLo<double>{total.hi[j], total.lo[j]});
    if constexpr (kTest != GapTest::kNone) n += counted[j];
  }
  add_terms<kOrder, kLo, kTest>(d, whole, sum, n);
  return {sum.hi + sum.lo, n};
}

template <int kOrder, bool kLo, GapTest kTest>
[[gnu::always_inline]] inline SquareSum terms(const DifferenceSums& d) {
  return consecutive_terms<kOrder, kLo, kTest>(d);
}

template <int kOrder, bool kLo>
[[gnu::always_inline]] inline SquareSum terms_by_test(const DifferenceSums& d) {
  switch (d.test) {
    case GapTest::kSpan:
      return terms<kOrder, kLo, GapTest::kSpan>(d);
    case GapTest::kPoints:
      return terms<kOrder, kLo, GapTest::kPoints>(d);
    case GapTest::kNone:
      break;
  }
  return terms<kOrder, kLo, GapTest::kNone>(d);
}

template <int kOrder>
[[gnu::always_inline]] inline SquareSum terms_by_lo(const DifferenceSums& d) {
  return d.lo ? terms_by_test<kOrder, true>(d) : terms_by_test<kOrder, false>(d);
}

[[gnu::always_inline]] inline SquareSum dispatch(const DifferenceSums& d) {
  return d.order == 3 ? terms_by_lo<3>(d) : terms_by_lo<2>(d);
}

SquareSum sums_base(const DifferenceSums& d) { return dispatch(d); }
[[gnu::target("avx2")]] SquareSum sums_avx2(const DifferenceSums& d) { return dispatch(d); }

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

SquareSum (*g_sums)(const DifferenceSums&) = has_avx2() ? sums_avx2 : sums_base;

// Terms at a stride of m (= the lag) use the sequence at multiples of m
// only: they are the consecutive terms at lag 1 of the sequence taken every
// m, and so go through the same vector code.
SquareSum decimated_squares(const DifferenceSums& d) {
  const int64_t m = d.stride;
  const auto points = static_cast<size_t>(d.count + d.order);
  std::vector<double> taken(d.lo ? 2 * points : points);
  double* hi = taken.data();
  double* lo = d.lo ? hi + points : nullptr;
  for (size_t k = 0; k < points; ++k) {
    hi[k] = d.hi[static_cast<int64_t>(k) * m];
    if (lo) lo[k] = d.lo[static_cast<int64_t>(k) * m];
  }
  DifferenceSums e = d;
  e.hi = hi;
  e.lo = lo;
  e.lag = 1;
  e.stride = 1;
  // Both tests become a span over the points taken: of slots at multiples
  // of m for a span of whole lags, of the points themselves for kPoints.
  std::vector<int64_t> gaps;
  if (d.test == GapTest::kSpan) {
    for (size_t k = 0; k < points; ++k) gaps.push_back(d.gap_prefix[static_cast<int64_t>(k) * m]);
    e.span = d.span / m;
  } else if (d.test == GapTest::kPoints) {
    int64_t missing = 0;
    for (size_t k = 0; k < points; ++k) {
      gaps.push_back(missing);
      const int64_t* g = d.gap_prefix + static_cast<int64_t>(k) * m;
      missing += g[1] - g[0];
    }
    gaps.push_back(missing);
    e.test = GapTest::kSpan;
    e.span = d.order + 1;
  }
  e.gap_prefix = gaps.data();
  return g_sums(e);
}

}  // namespace

SquareSum difference_squares(const DifferenceSums& d) {
  if (d.count <= 0) return {};
  return d.stride == 1 ? g_sums(d) : decimated_squares(d);
}

bool use_avx2(bool wanted) {
  g_sums = wanted && has_avx2() ? sums_avx2 : sums_base;
  return g_sums == sums_avx2;
}

}  // namespace tauspan
