// The phase series of a grid for the long-term statistics.
#include "long_term_series.h"

#include <algorithm>

namespace tauspan {

LongTermSeries prepare_long_term(const Grid& grid) {
  LongTermSeries s;
  s.kind = grid.kind;
  s.tau0 = grid.tau0;
  s.nominal = grid.nominal;
  const size_t slots = grid.values.size();
  const bool gaps =
      std::find(grid.present.begin(), grid.present.end(), uint8_t{0}) != grid.present.end();
  if (grid.kind == DataKind::kPhase) {
    s.phase.resize(slots);
    for (size_t k = 0; k < slots; ++k) s.phase[k] = {grid.values[k], 0};
    if (gaps) {
      s.missing.assign(slots + 1, 0);
      for (size_t k = 0; k < slots; ++k)
        s.missing[k + 1] = s.missing[k] + (grid.present[k] ? 0 : 1);
    }
    return s;
  }
  // A running sum in double-double: each point is the exact sum of the
  // samples before it to about 106 bits, so differences of far-apart points
  // keep every digit of the samples between them.
  s.phase.resize(slots + 1);
  for (size_t k = 0; k < slots; ++k) s.phase[k + 1] = dd::add(s.phase[k], grid.values[k]);
  if (gaps) {
    s.missing.assign(slots + 1, 0);
    for (size_t k = 0; k < slots; ++k) s.missing[k + 1] = s.missing[k] + (grid.present[k] ? 0 : 1);
  }
  return s;
}

int64_t phase_points(const LongTermSeries& s) { return static_cast<int64_t>(s.phase.size()); }

bool window_known(const LongTermSeries& s, int64_t first, int64_t last) {
  if (s.missing.empty()) return true;
  const auto u = [](int64_t k) { return static_cast<size_t>(k); };
  if (s.kind == DataKind::kPhase) return s.missing[u(last + 1)] == s.missing[u(first)];
  return s.missing[u(last)] == s.missing[u(first)];
}

bool difference_known(const LongTermSeries& s, int64_t p, int64_t q) {
  if (s.missing.empty()) return true;
  if (p > q) std::swap(p, q);
  if (s.kind == DataKind::kFrequency) return window_known(s, p, q);
  return window_known(s, p, p) && window_known(s, q, q);
}

double phase_difference(const LongTermSeries& s, int64_t p, int64_t q) {
  return dd::to_double(dd::sub(s.phase[static_cast<size_t>(q)], s.phase[static_cast<size_t>(p)]));
}

double frequency_scale(const LongTermSeries& s) {
  double f = s.kind == DataKind::kPhase ? 1 / s.tau0 : 1;
  if (s.kind == DataKind::kFrequency && s.nominal > 0) f /= s.nominal;
  return f;
}

double seconds_scale(const LongTermSeries& s) {
  double c = s.kind == DataKind::kPhase ? 1 : s.tau0;
  if (s.kind == DataKind::kFrequency && s.nominal > 0) c /= s.nominal;
  return c;
}

}  // namespace tauspan
