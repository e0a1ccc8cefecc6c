// Error-free transformations and sums carried as unevaluated pairs of
// doubles (hi + lo), for the statistics' prefix sums and differences.
// Every helper is a template so that the same steps run on a double and on a
// GCC vector of doubles, lane by lane, with the same rounding.
#ifndef TAUSPAN_DOUBLE_DOUBLE_H_
#define TAUSPAN_DOUBLE_DOUBLE_H_

namespace tauspan {

// A number hi + lo with |lo| at most about an ulp of hi.
template <typename T>
struct HiLo {
  T hi{};
  T lo{};
};

// a + b = s + e exactly, whatever the magnitudes (Knuth's TwoSum).
template <typename T>
[[gnu::always_inline]] inline HiLo<T> two_sum(T a, T b) {
  const T s = a + b;
  const T bp = s - a;
  const T e = (a - (s - bp)) + (b - bp);
  return {s, e};
}

// a + b = s + e exactly when |a| >= |b| or a is 0 (Dekker's FastTwoSum).
template <typename T>
[[gnu::always_inline]] inline HiLo<T> fast_two_sum(T a, T b) {
  const T s = a + b;
  return {s, b - (s - a)};
}

// a * b = p + e exactly, unless it overflows or underflows (Dekker's
// product with Veltkamp's split; no fused multiply-add, which the build
// keeps off).
[[gnu::always_inline]] inline HiLo<double> two_product(double a, double b) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double ca = kSplitter * a;
  const double ah = ca - (ca - a);
  const double al = a - ah;
  const double cb = kSplitter * b;
  const double bh = cb - (cb - b);
  const double bl = b - bh;
  const double p = a * b;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

// a + b for pairs, off by at most a few units of 2^-104 (|a| + |b|).
template <typename T>
[[gnu::always_inline]] inline HiLo<T> add(HiLo<T> a, HiLo<T> b) {
  const HiLo<T> s = two_sum(a.hi, b.hi);
  return fast_two_sum(s.hi, s.lo + (a.lo + b.lo));
}

// A running sum for prefix sums: hi takes each addend's hi with one
// rounding, lo collects the exact errors and the addends' los, and every
// eight additions lo is folded into hi. So the chain from one sum to the
// next is a single addition, and lo stays within a few ulps of hi.
struct RunningSum {
  HiLo<double> sum{};
  int since_fold = 0;

  void add(HiLo<double> x) {
    const HiLo<double> s = two_sum(sum.hi, x.hi);
    sum.hi = s.hi;
    sum.lo += s.lo + x.lo;
    if (++since_fold == 8) {
      since_fold = 0;
      sum = two_sum(sum.hi, sum.lo);
    }
  }
};

}  // namespace tauspan

#endif  // TAUSPAN_DOUBLE_DOUBLE_H_
