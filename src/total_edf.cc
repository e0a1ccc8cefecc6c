// Bias corrections and equivalent degrees of freedom of the total and Thêo1
// statistics.
#include "total_edf.h"

#include <cmath>
#include <limits>

namespace tauspan {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Coefficients {
  double b;
  double c;
};

}  // namespace

double totvar_bias_divisor(int alpha, double tau, double record_length) {
  if (alpha == -1) return 1 - 0.481 * tau / record_length;
  if (alpha == -2) return 1 - 0.750 * tau / record_length;
  return 1;
}

double mtotvar_bias_divisor(int alpha) {
  switch (alpha) {
    case 2:
      return 0.94;
    case 1:
      return 0.83;
    case 0:
      return 0.73;
    case -1:
      return 0.70;
    case -2:
      return 0.69;
    default:
      return 1;
  }
}

double htotvar_bias_divisor(int alpha, int64_t m) {
  if (m <= 1) return 1;
  switch (alpha) {
    case 0:
      return 0.995;
    case -1:
      return 0.851;
    case -2:
      return 0.771;
    case -3:
      return 0.717;
    case -4:
      return 0.679;
    default:
      return 1;
  }
}

double totvar_edf(int alpha, double tau, double record_length) {
  Coefficients k;
  switch (alpha) {
    case 0:
      k = {1.50, 0};
      break;
    case -1:
      k = {1.17, 0.22};
      break;
    case -2:
      k = {0.93, 0.36};
      break;
    default:
      return kNaN;
  }
  return k.b * record_length / tau - k.c;
}

double mtotvar_edf(int alpha, double tau, double record_length) {
  Coefficients k;
  switch (alpha) {
    case 2:
      k = {1.90, 2.10};
      break;
    case 1:
      k = {1.20, 1.40};
      break;
    case 0:
      k = {1.10, 1.20};
      break;
    case -1:
      k = {0.85, 0.50};
      break;
    case -2:
      k = {0.75, 0.31};
      break;
    default:
      return kNaN;
  }
  return k.b * record_length / tau - k.c;
}

double htotvar_edf(int alpha, double tau, double record_length) {
  Coefficients k;
  switch (alpha) {
    case 0:
      k = {0.559, 1.004};
      break;
    case -1:
      k = {0.868, 1.140};
      break;
    case -2:
      k = {0.938, 1.696};
      break;
    default:
      return kNaN;
  }
  return record_length / tau / (k.b + k.c * tau / record_length);
}

double theo1_edf(int alpha, int64_t m, int64_t phase_points) {
  const double n = static_cast<double>(phase_points);
  const double r = 0.75 * static_cast<double>(m);
  switch (alpha) {
    case 2:
      return 0.86 * (n + 1) * (n - 4 * r / 3) / (n - r) * r / (r + 1.14);
    case 1:
      return (4.798 * n * n - 6.374 * n * r + 12.387 * r * r) / (std::sqrt(r + 36.6) * (n - r)) *
             r / (r + 0.3);
    case 0: {
      const double r15 = std::pow(r, 1.5);
      return ((4.1 * n + 0.8) / r - (3.1 * n + 6.5) / n) * r15 / (r15 + 5.2);
    }
    case -1: {
      const double r3 = r * r * r;
      return (2 * n * n - 1.3 * n * r - 3.5 * r) / (n * r) * r3 / (r3 + 2.3);
    }
    case -2: {
      const double a = 4.4 * n - 1;
      return (4.4 * n - 2) / (2.9 * r) * (a * a - 8.6 * r * a + 11.4 * r * r) /
             ((4.4 * n - 3) * (4.4 * n - 3));
    }
    default:
      return kNaN;
  }
}

}  // namespace tauspan
