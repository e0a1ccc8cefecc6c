// Lagged products by radix-2 transforms, with direct sums where the
// sequences are too short for a transform to pay.
#include "lag_products.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace tauspan {
namespace {

using Complex = std::complex<double>;

// std::complex's operator* checks for infinities and NaNs through a library
// call (no -ffast-math here); the transforms never see either.
inline Complex times(Complex a, Complex b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// Below this many points a triangle or a rectangle of products is summed
// directly: a transform costs more than the few thousand products.
constexpr int64_t kDirect = 64;

// A radix-2 transform for every power of two up to the size it was made
// for. The twiddles are each one cos/sin call, not a recurrence, so that
// their error stays one rounding.
class Fft {
 public:
  // roots_[half + k] = exp(-2 pi i k / (2 half)) for each stage's half, so
  // that every stage reads its twiddles in order.
  explicit Fft(int64_t size) : roots_(static_cast<size_t>(std::max<int64_t>(size, 2))) {
    for (int64_t half = 1; half < size; half <<= 1) {
      for (int64_t k = 0; k < half; ++k) {
        const double angle = -std::numbers::pi * static_cast<double>(k) / static_cast<double>(half);
        roots_[static_cast<size_t>(half + k)] = {std::cos(angle), std::sin(angle)};
      }
    }
  }

  // In place, forward or inverse unscaled; n a power of two not above the
  // size.
  void run(std::vector<Complex>& a, int64_t n, bool inverse) const {
    Complex* x = a.data();
    for (int64_t i = 1, j = 0; i < n; ++i) {
      int64_t bit = n >> 1;
      for (; j & bit; bit >>= 1) j ^= bit;
      j ^= bit;
      if (i < j) std::swap(x[i], x[j]);
    }
    const double sign = inverse ? -1 : 1;
    for (int64_t half = 1; half < n; half <<= 1) {
      const Complex* w = roots_.data() + half;
      for (int64_t i = 0; i < n; i += 2 * half) {
        Complex* lo = x + i;
        Complex* hi = x + i + half;
        for (int64_t k = 0; k < half; ++k) {
          const double wr = w[k].real();
          const double wi = sign * w[k].imag();
          const double tr = wr * hi[k].real() - wi * hi[k].imag();
          const double ti = wr * hi[k].imag() + wi * hi[k].real();
          const double ur = lo[k].real();
          const double ui = lo[k].imag();
          lo[k] = {ur + tr, ui + ti};
          hi[k] = {ur - tr, ui - ti};
        }
      }
    }
  }

 private:
  std::vector<Complex> roots_;
};

int64_t power_of_two_at_least(int64_t n) {
  int64_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

// out[k] += (a * b)[k] for the na + nb - 1 outputs of the linear convolution
// of a[0..na) and b[0..nb); both real, packed as one complex sequence.
void add_convolution(const Fft& fft, const double* a, int64_t na, const double* b, int64_t nb,
                     double* out, std::vector<Complex>& work, std::vector<Complex>& product) {
  const int64_t n = power_of_two_at_least(na + nb - 1);
  work.assign(static_cast<size_t>(n), Complex{});
  for (int64_t k = 0; k < na; ++k) work[static_cast<size_t>(k)].real(a[k]);
  for (int64_t k = 0; k < nb; ++k) work[static_cast<size_t>(k)].imag(b[k]);
  fft.run(work, n, false);
  // With c = a + i b: A(k) = (C(k) + conj C(-k)) / 2, B(k) = (C(k) - conj
  // C(-k)) / 2i, so A(k) B(k) = (C(k)^2 - conj C(-k)^2) / 4i.
  product.resize(static_cast<size_t>(n));
  for (int64_t k = 0; k < n; ++k) {
    const Complex c = work[static_cast<size_t>(k)];
    const Complex r = std::conj(work[static_cast<size_t>((n - k) & (n - 1))]);
    const Complex d = times(c, c) - times(r, r);
    product[static_cast<size_t>(k)] = {0.25 * d.imag(), -0.25 * d.real()};
  }
  fft.run(product, n, true);
  const double scale = 1 / static_cast<double>(n);
  for (int64_t k = 0; k < na + nb - 1; ++k) out[k] += product[static_cast<size_t>(k)].real() * scale;
}

struct Upper {
  const Fft& fft;
  const double* z;
  const double* y;
  double* u;
  std::vector<Complex> work;
  std::vector<Complex> product;

  void triangle(int64_t lo, int64_t hi) {
    if (hi - lo <= kDirect) {
      for (int64_t p = lo; p < hi; ++p) {
        for (int64_t q = p; q < hi; ++q) u[p + q] += z[p] * y[q];
      }
      return;
    }
    const int64_t mid = lo + (hi - lo) / 2;
    triangle(lo, mid);
    triangle(mid, hi);
    add_convolution(fft, z + lo, mid - lo, y + mid, hi - mid, u + lo + mid, work, product);
  }
};

}  // namespace

std::vector<double> autocorrelation(const std::vector<double>& v, int64_t max_lag) {
  const int64_t n = static_cast<int64_t>(v.size());
  std::vector<double> c(static_cast<size_t>(std::max<int64_t>(0, max_lag + 1)));
  if (max_lag < 0 || n == 0) return c;
  if (max_lag < kDirect) {
    for (int64_t l = 0; l <= max_lag && l < n; ++l) {
      double sum = 0;
      for (int64_t j = 0; j + l < n; ++j) sum += v[static_cast<size_t>(j)] * v[static_cast<size_t>(j + l)];
      c[static_cast<size_t>(l)] = sum;
    }
    return c;
  }
  // Block by block: the block reversed, convolved with the block and the
  // max_lag points after it, holds the block's products at every lag.
  const int64_t block = power_of_two_at_least(max_lag + 1);
  const Fft fft(power_of_two_at_least(std::min(n, block) + std::min(n, block + max_lag) - 1));
  std::vector<Complex> work;
  std::vector<Complex> product;
  std::vector<double> reversed;
  std::vector<double> out;
  for (int64_t b0 = 0; b0 < n; b0 += block) {
    const int64_t na = std::min(block, n - b0);
    const int64_t nb = std::min(n, b0 + block + max_lag) - b0;
    reversed.assign(v.begin() + b0, v.begin() + b0 + na);
    std::reverse(reversed.begin(), reversed.end());
    out.assign(static_cast<size_t>(na + nb - 1), 0);
    add_convolution(fft, reversed.data(), na, v.data() + b0, nb, out.data(), work, product);
    for (int64_t l = 0; l <= max_lag && na - 1 + l < na + nb - 1; ++l)
      c[static_cast<size_t>(l)] += out[static_cast<size_t>(na - 1 + l)];
  }
  return c;
}

std::vector<double> upper_convolution(const std::vector<double>& z, const std::vector<double>& y) {
  const int64_t n = static_cast<int64_t>(std::min(z.size(), y.size()));
  std::vector<double> u(static_cast<size_t>(std::max<int64_t>(0, 2 * n - 1)));
  if (n == 0) return u;
  const Fft fft(power_of_two_at_least(n));
  Upper up{fft, z.data(), y.data(), u.data(), {}, {}};
  up.triangle(0, n);
  return u;
}

double product_error_scale(int64_t n) {
  return 4 * std::sqrt(std::log2(static_cast<double>(std::max<int64_t>(n, 2))) + 1) * 0x1p-53;
}

}  // namespace tauspan
