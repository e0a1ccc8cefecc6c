// The number that a numeric field holds, read as atof reads it, with a fast
// path for the plain decimals that data files are made of.
#include "field_number.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace tauspan {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// from_chars rounds correctly, as glibc's strtod does, but knows neither
// leading blanks, '+', hex nor the inf/nan words; those, and anything out of
// range, go to strtod. Of a plain decimal both take the same longest prefix.
bool fits_from_chars(std::string_view f) {
  size_t i = f[0] == '-' ? 1 : 0;
  if (i == f.size()) return false;
  if (f[i] == '.') return i + 1 < f.size() && is_digit(f[i + 1]);
  if (!is_digit(f[i])) return false;
  return !(f[i] == '0' && i + 1 < f.size() && (f[i + 1] == 'x' || f[i + 1] == 'X'));
}

// Eight ASCII digits at p, as a number: the usual SWAR steps, two digits,
// then four, then eight at a time.
[[gnu::always_inline]] inline bool eight_digits(const char* p, uint64_t& value) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if (((v & 0xF0F0F0F0F0F0F0F0) | (((v + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) !=
      0x3333333333333333) {
    return false;
  }
  v -= 0x3030303030303030;
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >> 32;
  value = v;
  return true;
}

// Appends the digits at p to m, returning the end of them. m wraps when
// there are more than 19; the caller counts them.
[[gnu::always_inline]] inline const char* take_digits(const char* p, const char* e, uint64_t& m) {
  uint64_t eight;
  while (e - p >= 8 && eight_digits(p, eight)) {
    m = m * 100000000 + eight;
    p += 8;
  }
  for (; p < e && is_digit(*p); ++p) m = m * 10 + static_cast<uint64_t>(*p - '0');
  return p;
}

// The commonest fields, such as "1699999999.123" or "-0.000417", exactly:
// when the digits make an integer m below 2^53 and the decimal exponent e
// has |e| <= 22, both m and 10^|e| are doubles, so the one multiplication or
// division rounds the true value correctly, as strtod does. Returns false
// for anything else. Takes the same longest prefix as strtod, and says where
// it ends in `stop`.
[[gnu::always_inline]] inline bool small_decimal(std::string_view f, double& out,
                                                 const char*& stop) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* p = f.data();
  const char* const e = p + f.size();
  const bool negative = *p == '-';
  if (negative) ++p;
  const char* const start = p;
  while (p < e && *p == '0') ++p;  // leading zeros carry no digit
  uint64_t m = 0;
  const char* first = p;
  p = take_digits(p, e, m);
  ptrdiff_t digits = p - first;
  int exponent = 0;
  bool any = p > start;
  if (p < e && *p == '.') {
    const char* const fraction = ++p;
    first = p;
    if (m == 0) {  // zeros after the point lead too
      while (p < e && *p == '0') ++p;
      first = p;
    }
    p = take_digits(p, e, m);
    digits += p - first;
    exponent = -static_cast<int>(std::min<ptrdiff_t>(p - fraction, 10000));
    any = any || p > fraction;
  }
  if (digits > 19) return false;  // m may have wrapped
  if (!any) return false;
  if (p < e && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    const bool exp_negative = q < e && *q == '-';
    if (q < e && (*q == '-' || *q == '+')) ++q;
    if (q < e && is_digit(*q)) {
      int x = 0;
      for (; q < e && is_digit(*q); ++q) {
        if (x > 1000) return false;
        x = x * 10 + (*q - '0');
      }
      exponent += exp_negative ? -x : x;
      p = q;
    }
  }
  stop = p;
  if (m > (uint64_t{1} << 53) || exponent < -22 || exponent > 22) return false;
  double x = static_cast<double>(m);
  x = exponent < 0 ? x / kPow10[-exponent] : x * kPow10[exponent];
  out = negative ? -x : x;
  return true;
}


}  // namespace

const char* tab_field_number(const char* p, const char* e, double& x) {
  const std::string_view rest(p, static_cast<size_t>(e - p));
  if (rest.empty() || !fits_from_chars(rest)) return nullptr;
  const char* stop = nullptr;
  if (!small_decimal(rest, x, stop)) return nullptr;
  return stop == e || *stop == '\t' ? stop : nullptr;
}

double field_number(std::string_view field) {
  if (field.empty()) return 0;
  if (fits_from_chars(field)) {
    double x = 0;
    const char* stop = nullptr;
    if (small_decimal(field, x, stop)) return x;
    const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), x);
    if (ec == std::errc()) return x;
  }
  const std::string copy(field);  // strtod wants the terminating zero
  return std::strtod(copy.c_str(), nullptr);
}


}  // namespace tauspan
