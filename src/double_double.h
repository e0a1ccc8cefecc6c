// Error-free transformations and sums carried as unevaluated pairs of
// doubles (hi + lo), for the statistics' prefix sums and differences.
// Every helper is a template so that the same steps run on a double and on a
// GCC vector of doubles, lane by lane, with the same rounding.
#ifndef TAUSPAN_DOUBLE_DOUBLE_H_
#define TAUSPAN_DOUBLE_DOUBLE_H_

namespace tauspan {

// A number hi + lo with |lo| at most about an ulp of hi.
template <typename T>
struct Pair {
  T hi{};
  T lo{};
};

// a + b = s + e exactly, whatever the magnitudes (Knuth's TwoSum).
template <typename T>
[[gnu::always_inline]] inline Pair<T> two_sum(T a, T b) {
  const T s = a + b;
  const T bp = s - a;
  const T e = (a - (s - bp)) + (b - bp);
  return {s, e};
}

// a + b = s + e exactly when |a| >= |b| or a is 0 (Dekker's FastTwoSum).
template <typename T>
[[gnu::always_inline]] inline Pair<T> fast_two_sum(T a, T b) {
  const T s = a + b;
  return {s, b - (s - a)};
}

// a * b = p + e exactly, unless it overflows or underflows (Dekker's
// product with Veltkamp's split; no fused multiply-add, which the build
// keeps off).
[[gnu::always_inline]] inline Pair<double> two_product(double a, double b) {
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
[[gnu::always_inline]] inline Pair<T> add(Pair<T> a, Pair<T> b) {
  const Pair<T> s = two_sum(a.hi, b.hi);
  return fast_two_sum(s.hi, s.lo + (a.lo + b.lo));
}

}  // namespace tauspan

#endif  // TAUSPAN_DOUBLE_DOUBLE_H_
