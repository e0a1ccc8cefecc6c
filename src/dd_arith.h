// Double-double numbers (about 106 bits) for the sums of the long-term
// statistics, whose terms cancel far below the precision of a double.
#ifndef TAUSPAN_DD_ARITH_H_
#define TAUSPAN_DD_ARITH_H_

namespace tauspan::dd {

// hi + lo with |lo| at most half an ulp of hi. Exact error-free transforms
// need each operation rounded once, which -ffp-contract=off guarantees.
struct Num {
  double hi = 0;
  double lo = 0;
};

inline Num two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// Requires |a| >= |b| or a == 0.
inline Num quick_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// Dekker's product: splitting by 2^27 + 1 keeps every partial product exact
// for magnitudes below about 1e300.
inline Num two_prod(double a, double b) {
  constexpr double kSplit = 134217729.0;
  const double p = a * b;
  const double ta = kSplit * a;
  const double ahi = ta - (ta - a);
  const double alo = a - ahi;
  const double tb = kSplit * b;
  const double bhi = tb - (tb - b);
  const double blo = b - bhi;
  return {p, ((ahi * bhi - p) + ahi * blo + alo * bhi) + alo * blo};
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

#endif  // TAUSPAN_DD_ARITH_H_
