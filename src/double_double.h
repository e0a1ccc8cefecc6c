// Error-free transformations and sums carried as unevaluated pairs of
// doubles (hi + lo): HiLo and its helpers for the statistics' prefix sums
// and differences (templates, so that the same steps run on a double and on
// a GCC vector of doubles, lane by lane, with the same rounding), and dd::Num
// with full double-double arithmetic (about 106 bits) for the sums of the
// long-term statistics, whose terms cancel far below a double's precision.
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

// Double-double numbers. Their add() renormalises both parts (HiLo's add()
// lets the low part drift by a few ulps, which prefix sums can afford).
namespace tauspan::dd {

// hi + lo with |lo| at most half an ulp of hi. Exact error-free transforms
// need each operation rounded once, which -ffp-contract=off guarantees.
struct Num {
  double hi = 0;
  double lo = 0;
};

inline Num two_sum(double a, double b) {
  const HiLo<double> s = tauspan::two_sum(a, b);
  return {s.hi, s.lo};
}

// Requires |a| >= |b| or a == 0.
inline Num quick_two_sum(double a, double b) {
  const HiLo<double> s = fast_two_sum(a, b);
  return {s.hi, s.lo};
}

// Dekker's product: splitting by 2^27 + 1 keeps every partial product exact
// for magnitudes below about 1e300.
inline Num two_prod(double a, double b) {
  const HiLo<double> p = two_product(a, b);
  return {p.hi, p.lo};
}

inline Num add(Num a, Num b) {
  Num s = two_sum(a.hi, b.hi);
  const Num t = two_sum(a.lo, b.lo);
  s = quick_two_sum(s.hi, s.lo + t.hi);
  return quick_two_sum(s.hi, s.lo + t.lo);
}

inline Num add(Num a, double b) {
  const Num s = two_sum(a.hi, b);
  return quick_two_sum(s.hi, s.lo + a.lo);
}

inline Num neg(Num a) { return {-a.hi, -a.lo}; }
inline Num sub(Num a, Num b) { return add(a, neg(b)); }

inline Num mul(Num a, Num b) {
  const Num p = two_prod(a.hi, b.hi);
  return quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline Num mul(Num a, double b) {
  const Num p = two_prod(a.hi, b);
  return quick_two_sum(p.hi, p.lo + a.lo * b);
}

inline Num div(Num a, double b) {
  const double q1 = a.hi / b;
  const Num r = sub(a, two_prod(q1, b));
  const double q2 = r.hi / b;
  return quick_two_sum(q1, q2);
}

inline Num div(Num a, Num b) {
  const double q1 = a.hi / b.hi;
  const Num r = sub(a, mul(b, q1));
  const double q2 = r.hi / b.hi;
  const Num r2 = sub(r, mul(b, q2));
  return add(quick_two_sum(q1, q2), r2.hi / b.hi);
}

inline double to_double(Num a) { return a.hi + a.lo; }

// Operators, so that code written once runs in double-double or in a wide
// built-in type.
inline Num operator+(Num a, Num b) { return add(a, b); }
inline Num operator-(Num a, Num b) { return sub(a, b); }
inline Num operator-(Num a) { return neg(a); }
inline Num operator*(Num a, Num b) { return mul(a, b); }
inline Num operator/(Num a, Num b) { return div(a, b); }
inline Num& operator+=(Num& a, Num b) { return a = add(a, b); }

}  // namespace tauspan::dd

#endif  // TAUSPAN_DOUBLE_DOUBLE_H_
