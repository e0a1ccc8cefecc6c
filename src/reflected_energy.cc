// The inner sums of the modified and Hadamard total variances.
//
// Notation for one window w(0..3m-1) after the half-average line is removed:
// F(t) = w(0) + ... + w(t-1) and psi(t) = F(t) - t F(3m) / 3m, so psi(0) =
// psi(3m) = 0. Extended oddly and 6m-periodically, psi is the running sum
// of the even periodic extension of w less its mean, and the box sums of the
// extension are psi(k + m) - psi(k) plus a constant that the second
// difference removes. Summing over one period gives
//   m^2 sum z^2 = 40 AC(0) - 60 AC(m) + 24 AC(2m) + 30 (HC(m) + TC(m))
//                 - 12 (HC(2m) + TC(2m)) + 4 HC(3m),
// AC(d) = sum_{t=0}^{3m-d} psi(t) psi(t+d), HC(d) = sum_{t=0}^{d} psi(t)
// psi(d-t), TC(d) = sum_{t=3m-d}^{3m} psi(t) psi(6m-d-t). With P the
// running sum of the segment, psi(t) = P(s+t) + c0 + c1 t + c2 t^2 for
// window s, the coefficients following from P at s, s + floor(3m/2),
// s + 3m - floor(3m/2) and s + 3m. The form then splits into the form of
// P (sliding lag products and, for HC and TC, the diamonds below), a cross
// term sum_k c_k sum_t kappa_k(t) P(s+t) with piecewise-polynomial kappa_k
// (moments of P), and the form of the polynomial (constants per m).
#include "reflected_energy.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "double_double.h"

namespace tauspan {
namespace {

enum class Part { kAc, kHc, kTc };

struct FormTerm {
  double weight;
  Part part;
  int64_t d;
};

std::vector<FormTerm> form_terms(int64_t m) {
  return {{40, Part::kAc, 0},      {-60, Part::kAc, m},  {24, Part::kAc, 2 * m},
          {30, Part::kHc, m},      {30, Part::kTc, m},   {-12, Part::kHc, 2 * m},
          {-12, Part::kTc, 2 * m}, {4, Part::kHc, 3 * m}};
}

// coef * pi(sign * t + shift) for t in [lo, hi]: one place where the cross
// term between the running sum and a polynomial pi picks up pi.
struct Contribution {
  double coef;
  double sign;
  int64_t shift;
  int64_t lo;
  int64_t hi;
};

// kappa_k(t) = a[k][0] + a[k][1] t + a[k][2] t^2 on [begin, end): twice the
// form's bilinear part between a unit at t and the polynomial t^k.
template <typename T>
struct Piece {
  int64_t begin;
  int64_t end;
  T a[3][3];
};

template <typename T>
std::vector<Piece<T>> kappa_pieces(int64_t m) {
  const int64_t n3 = 3 * m;
  std::vector<Contribution> c;
  for (const FormTerm& f : form_terms(m)) {
    if (f.part == Part::kAc) {
      c.push_back({f.weight, 1, f.d, 0, n3 - f.d});
      c.push_back({f.weight, 1, -f.d, f.d, n3});
    } else if (f.part == Part::kHc) {
      c.push_back({2 * f.weight, -1, f.d, 0, f.d});
    } else {
      c.push_back({2 * f.weight, -1, 2 * n3 - f.d, n3 - f.d, n3});
    }
  }
  std::vector<int64_t> cuts{0, n3 + 1};
  for (const Contribution& x : c) {
    cuts.push_back(x.lo);
    cuts.push_back(x.hi + 1);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  std::vector<Piece<T>> pieces;
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    Piece<T> p{cuts[i], cuts[i + 1], {}};
    for (const Contribution& x : c) {
      if (x.lo > p.begin || x.hi < p.end - 1) continue;
      const T coef{x.coef};
      const T e{static_cast<double>(x.shift)};
      // (sign t + e)^k for k = 0, 1, 2.
      p.a[0][0] += coef;
      p.a[1][0] += coef * e;
      p.a[1][1] += T{x.coef * x.sign};
      p.a[2][0] += coef * e * e;
      p.a[2][1] += T{2 * x.coef * x.sign} * e;
      p.a[2][2] += coef;
    }
    pieces.push_back(p);
  }
  return pieces;
}

// The form on polynomials: phi[k][l] = B(t^k, t^l) = sum_t t^k kappa_l(t) / 2.
template <typename T>
void polynomial_form(const std::vector<Piece<T>>& pieces, T phi[3][3]) {
  for (const Piece<T>& p : pieces) {
    for (int64_t t = p.begin; t < p.end; ++t) {
      const T tt{static_cast<double>(t)};
      const T pow[3] = {T{1}, tt, tt * tt};
      for (int l = 0; l < 3; ++l) {
        const T half = (p.a[l][0] + p.a[l][1] * tt + p.a[l][2] * pow[2]) * T{0.5};
        for (int k = 0; k < 3; ++k) phi[k][l] += pow[k] * half;
      }
    }
  }
}

// Sum over sigma in [s0, s1) of sum_{t=0}^{d} P(sigma + t) P(sigma + d - t):
// for each point i the partners q = 2 sigma + d - i step by two, so the
// inner sum is a difference of the same-parity running sums pe (offset 2).
template <typename T>
T diamond(const std::vector<T>& p, const std::vector<T>& pe, int64_t d, int64_t s0, int64_t s1) {
  T total{0};
  for (int64_t i = s0; i <= s1 - 1 + d; ++i) {
    const int64_t lo = std::max(s0, i - d);
    const int64_t hi = std::min(s1 - 1, i);
    const T partners =
        pe[static_cast<size_t>(2 * hi + d - i + 2)] - pe[static_cast<size_t>(2 * lo + d - i)];
    total += p[static_cast<size_t>(i)] * partners;
  }
  return total;
}

// Sums of P(r), P(r) r and P(r) r^2 over r below a mark.
template <typename T>
struct Moments {
  int64_t r = 0;
  T m[3] = {};
};

template <typename T>
void advance(Moments<T>& mo, int64_t to, const std::vector<T>& p) {
  for (; mo.r < to; ++mo.r) {
    const T x = p[static_cast<size_t>(mo.r)];
    const T rt{static_cast<double>(mo.r)};
    mo.m[0] += x;
    mo.m[1] += x * rt;
    mo.m[2] += x * (rt * rt);
  }
}

// The sum of P(r) P(r + d) over r below a mark.
template <typename T>
struct LagMark {
  int64_t r = 0;
  T sum{0};
};

template <typename T>
void advance(LagMark<T>& g, int64_t to, int64_t d, const std::vector<T>& p) {
  for (; g.r < to; ++g.r) g.sum += p[static_cast<size_t>(g.r)] * p[static_cast<size_t>(g.r + d)];
}

template <typename T>
T energy(const double* v, int64_t windows, int64_t m) {
  const int64_t n3 = 3 * m;
  const int64_t len = windows + n3 - 1;
  const int64_t h1 = n3 / 2;
  const int64_t gap = n3 - h1;
  const auto u = [](int64_t k) { return static_cast<size_t>(k); };
  // Running sum P and its same-parity running sums (offset 2), whole; the
  // moment sums of P(r) r^j and the lag-product sums of the AC terms only
  // where the windows read them, as marks that slide with the windows, so
  // that the memory is two values per point.
  std::vector<T> p(u(len + 1));
  for (int64_t r = 0; r < len; ++r) p[u(r + 1)] = p[u(r)] + T{v[r]};
  std::vector<T> pe(u(len + 3));
  for (int64_t r = 0; r <= len; ++r) pe[u(r + 2)] = pe[u(r)] + p[u(r)];
  const std::vector<FormTerm> terms = form_terms(m);
  std::vector<LagMark<T>> lag_lo(terms.size());
  std::vector<LagMark<T>> lag_hi(terms.size());
  const std::vector<Piece<T>> pieces = kappa_pieces<T>(m);
  T phi[3][3] = {};
  polynomial_form(pieces, phi);
  std::vector<Moments<T>> edge(pieces.size() + 1);

  T total{0};
  const T inv_n3 = T{1} / T{static_cast<double>(n3)};
  const T inv_halves = T{1} / T{static_cast<double>(h1) * static_cast<double>(gap)};
  for (int64_t s = 0; s < windows; ++s) {
    const T ps = p[u(s)];
    const T p3 = p[u(s + n3)];
    const T beta = ((p3 - p[u(s + n3 - h1)]) - (p[u(s + h1)] - ps)) * inv_halves;
    const T c0 = -ps;
    const T c1 = beta * T{0.5 * static_cast<double>(n3)} - (p3 - ps) * inv_n3;
    const T c2 = beta * T{-0.5};
    T w{0};
    for (size_t i = 0; i < terms.size(); ++i) {
      if (terms[i].part != Part::kAc) continue;
      const int64_t d = terms[i].d;
      advance(lag_lo[i], s, d, p);
      advance(lag_hi[i], s + n3 - d + 1, d, p);
      w += (lag_hi[i].sum - lag_lo[i].sum) * T{terms[i].weight};
    }
    // lambda_k = sum_t kappa_k(t) P(s + t), from the moments about r = s + t.
    const T st{static_cast<double>(s)};
    const T s2 = st * st;
    T lambda[3] = {};
    for (size_t i = 0; i < pieces.size(); ++i) {
      const Piece<T>& pc = pieces[i];
      advance(edge[i], s + pc.begin, p);
      advance(edge[i + 1], s + pc.end, p);
      const T d0 = edge[i + 1].m[0] - edge[i].m[0];
      const T d1 = edge[i + 1].m[1] - edge[i].m[1];
      const T d2 = edge[i + 1].m[2] - edge[i].m[2];
      const T mu1 = d1 - d0 * st;
      const T mu2 = (d2 - d1 * (st + st)) + d0 * s2;
      lambda[0] += d0 * pc.a[0][0];
      lambda[1] += d0 * pc.a[1][0] + mu1 * pc.a[1][1];
      lambda[2] += (d0 * pc.a[2][0] + mu1 * pc.a[2][1]) + mu2 * pc.a[2][2];
    }
    const T c[3] = {c0, c1, c2};
    for (int k = 0; k < 3; ++k) {
      T row = lambda[k] + c[k] * phi[k][k];
      for (int l = k + 1; l < 3; ++l) row += T{2} * c[l] * phi[k][l];
      w += c[k] * row;
    }
    total += w;
  }
  for (const FormTerm& f : terms) {
    if (f.part == Part::kHc) total += diamond(p, pe, f.d, 0, windows) * T{f.weight};
    if (f.part == Part::kTc)
      total += diamond(p, pe, f.d, n3 - f.d, n3 - f.d + windows) * T{f.weight};
  }
  const T mm{static_cast<double>(m)};
  return total / (mm * mm);
}

double narrow(long double x) { return static_cast<double>(x); }
double narrow(dd::Num x) { return dd::to_double(x); }

}  // namespace

double reflected_energy(const double* v, int64_t windows, int64_t m) {
  // A 64-bit significand holds the sums to about 1e-19, far below what the
  // cancellation between the parts of the form (a factor of 10 to 1000 in
  // a block a few windows long) can reach; elsewhere double-double.
  if constexpr (std::numeric_limits<long double>::digits >= 64) {
    return narrow(energy<long double>(v, windows, m));
  } else {
    return narrow(energy<dd::Num>(v, windows, m));
  }
}

double reflected_energy_dd(const double* v, int64_t windows, int64_t m) {
  return narrow(energy<dd::Num>(v, windows, m));
}

double reflected_energy_direct(const double* v, int64_t windows, int64_t m) {
  const int64_t n3 = 3 * m;
  const int64_t h1 = n3 / 2;
  const double gap = static_cast<double>(n3 - h1);
  const auto u = [](int64_t k) { return static_cast<size_t>(k); };
  std::vector<double> ext(u(3 * n3));
  dd::Num total;
  for (int64_t s = 0; s < windows; ++s) {
    const double* w = v + s;
    double first = 0;
    double last = 0;
    for (int64_t j = 0; j < h1; ++j) {
      first += w[j];
      last += w[n3 - h1 + j];
    }
    const double beta = (last - first) / static_cast<double>(h1) / gap;
    for (int64_t j = 0; j < n3; ++j) {
      const double x = w[j] - beta * static_cast<double>(j);
      ext[u(n3 - 1 - j)] = x;
      ext[u(n3 + j)] = x;
      ext[u(3 * n3 - 1 - j)] = x;
    }
    // Box sums slide by one value at each end.
    double a = 0;
    double b = 0;
    double c = 0;
    for (int64_t t = 0; t < m; ++t) {
      a += ext[u(t)];
      b += ext[u(m + t)];
      c += ext[u(2 * m + t)];
    }
    double q = 0;
    for (int64_t k = 0; k < 2 * n3; ++k) {
      if (k > 0) {
        a += ext[u(k + m - 1)] - ext[u(k - 1)];
        b += ext[u(k + 2 * m - 1)] - ext[u(k + m - 1)];
        c += ext[u(k + 3 * m - 1)] - ext[u(k + 2 * m - 1)];
      }
      const double z = (a - 2 * b + c) / static_cast<double>(m);
      q += z * z;
    }
    total = dd::add(total, q);
  }
  return dd::to_double(total);
}

}  // namespace tauspan
