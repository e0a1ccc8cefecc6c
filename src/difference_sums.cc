// Sums of squared differences at one lag: four terms per step in a GCC
// vector, the squares summed plainly in blocks and the blocks compensated.
// The code is compiled twice, for any x86-64 and for AVX2, and chosen once
// at start; both keep the same four lanes, so they give the same bits.
#include "difference_sums.h"

#include <algorithm>
#include <cstring>

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
    const Pair<T> s = two_sum(x[2], x[0]);
    const Pair<T> h = two_sum(s.hi, -(x[1] + x[1]));
    T lo = s.lo + h.lo;
    if constexpr (kLo) lo += (l[2] + l[0]) - (l[1] + l[1]);
    return h.hi + lo;
  } else {
    // X3 - X0 - 3 (X2 - X1); 3b is formed exactly as 2b + b.
    const Pair<T> a = two_sum(x[3], -x[0]);
    const Pair<T> b = two_sum(x[2], -x[1]);
    const Pair<T> b3 = two_sum(b.hi + b.hi, b.hi);
    const Pair<T> h = two_sum(a.hi, -b3.hi);
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

// Terms from `first` on, one at a time, at the stride.
template <int kOrder, bool kLo, GapTest kTest>
[[gnu::always_inline]] inline void add_terms(const DifferenceSums& d, int64_t first,
                                             Pair<double>& sum, int64_t& n) {
  for (int64_t j = first; j < d.count; ++j) {
    const int64_t i = j * d.stride;
    if constexpr (kTest != GapTest::kNone) {
      if (!counts_at<kTest, kOrder, int64_t>(d, i)) continue;
    }
    const double t = term_at<kOrder, kLo, double>(d, i);
    sum = add(sum, Pair<double>{t * t, 0.0});
    ++n;
  }
}

// Consecutive terms, four at a time; the last few one at a time.
template <int kOrder, bool kLo, GapTest kTest>
[[gnu::always_inline]] inline SquareSum consecutive_terms(const DifferenceSums& d) {
  Pair<Lanes> total{};
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
    const Pair<Lanes> s = two_sum(total.hi, block);
    total.hi = s.hi;
    total.lo += s.lo;
  }
  Pair<double> sum{};
  int64_t n = kTest == GapTest::kNone ? whole : 0;
  for (int j = 0; j < kLanes; ++j) {
    sum = add(sum, Pair<double>{total.hi[j], total.lo[j]});
    if constexpr (kTest != GapTest::kNone) n += counted[j];
  }
  add_terms<kOrder, kLo, kTest>(d, whole, sum, n);
  return {sum.hi + sum.lo, n};
}

template <int kOrder, bool kLo, GapTest kTest>
[[gnu::always_inline]] inline SquareSum terms(const DifferenceSums& d) {
  if (d.stride == 1) return consecutive_terms<kOrder, kLo, kTest>(d);
  Pair<double> sum{};
  int64_t n = 0;
  add_terms<kOrder, kLo, kTest>(d, 0, sum, n);
  return {sum.hi + sum.lo, n};
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
  if (d.count <= 0) return {};
  return d.order == 3 ? terms_by_lo<3>(d) : terms_by_lo<2>(d);
}

SquareSum sums_base(const DifferenceSums& d) { return dispatch(d); }
[[gnu::target("avx2")]] SquareSum sums_avx2(const DifferenceSums& d) { return dispatch(d); }

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

SquareSum (*g_sums)(const DifferenceSums&) = has_avx2() ? sums_avx2 : sums_base;

}  // namespace

SquareSum difference_squares(const DifferenceSums& d) { return g_sums(d); }

bool use_avx2(bool wanted) {
  g_sums = wanted && has_avx2() ? sums_avx2 : sums_base;
  return g_sums == sums_avx2;
}

}  // namespace tauspan
