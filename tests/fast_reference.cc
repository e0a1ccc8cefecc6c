// The -fast estimator in 113 bits.
#include "fast_reference.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace tauspan {

typedef __float128 Quad;

std::vector<std::pair<size_t, size_t>> bin_windows(const SampleSeries& s, double tau,
                                                   bool overlap) {
  std::vector<std::pair<size_t, size_t>> w;
  size_t front = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    if (tau > s[i].time - s[front].time) continue;
    w.emplace_back(front, i);
    front = overlap ? front + 1 : i;
  }
  if (s.back().time - s[front].time > 0.9 * tau) w.emplace_back(front, s.size());
  return w;
}

Exact exact_avar(const SampleSeries& s, double tau, bool overlap, double jitter) {
  const auto w = bin_windows(s, tau, overlap);
  std::vector<double> times;
  std::vector<Quad> values;
  for (const auto& [b, e] : w) {
    Quad t = 0, v = 0;
    for (size_t i = b; i < e; ++i) {
      t += static_cast<Quad>(s[i].time);
      v += static_cast<Quad>(s[i].value);
    }
    times.push_back(static_cast<double>(t / static_cast<Quad>(e - b)));
    values.push_back(v / static_cast<Quad>(e - b));
  }
  const double threshold = tau * (1.0 - jitter);
  Quad sum = 0;
  int64_t count = 0;
  size_t lag = 0;
  for (size_t lead = 0; lead < times.size(); ++lead) {
    if (threshold > times[lead] - times[lag]) continue;
    const Quad d = values[lag] - values[lead];
    sum += d * d;
    ++count;
    ++lag;
  }
  return {count > 0 ? static_cast<double>(sum / count / 2) : 0, w.size()};
}

}  // namespace tauspan
