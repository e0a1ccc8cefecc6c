// MTIE and TIE rms.
#include "time_error.h"

#include <cmath>
#include <limits>
#include <vector>

namespace tauspan {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool before(dd::Num a, dd::Num b) { return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo); }

// A ring of positions in [0, capacity): the fronts are the extremes of the
// current window, each later position less extreme than the one before.
struct Queue {
  std::vector<int64_t> slots;
  size_t head = 0;
  size_t size = 0;
  int64_t front() const { return slots[head]; }
  int64_t back() const { return slots[(head + size - 1) % slots.size()]; }
  void push(int64_t k) {
    slots[(head + size) % slots.size()] = k;
    ++size;
  }
  void pop_front() {
    head = (head + 1) % slots.size();
    --size;
  }
  void pop_back() { --size; }
};

}  // namespace

Deviation mtie(const LongTermSeries& s, int64_t m) {
  const int64_t n_pts = phase_points(s);
  const double tau = static_cast<double>(m) * s.tau0;
  if (m < 1 || m > n_pts - 1) return {m, tau, kNaN, 0};
  const auto x = [&](int64_t k) { return s.phase[static_cast<size_t>(k)]; };
  // A window of m + 1 points never holds more than m + 1 positions.
  Queue highs{std::vector<int64_t>(static_cast<size_t>(m + 1)), 0, 0};
  Queue lows{std::vector<int64_t>(static_cast<size_t>(m + 1)), 0, 0};
  dd::Num widest{-1, 0};
  int64_t covered = 0;       // points in some window used
  int64_t covered_upto = 0;  // every point below this is counted
  int64_t run_start = 0;     // first point of the current stretch without a gap
  for (int64_t k = 0; k < n_pts; ++k) {
    // A point that cannot join the one before starts a new stretch.
    if (k > 0 && !window_known(s, k - 1, k)) {
      highs.size = lows.size = 0;
      run_start = k;
    }
    if (!window_known(s, k, k)) {
      run_start = k + 1;
      continue;
    }
    // Drop what leaves the window first, so the queues never hold more than
    // m + 1 positions.
    const int64_t first = k - m;
    while (highs.size > 0 && highs.front() < first) highs.pop_front();
    while (lows.size > 0 && lows.front() < first) lows.pop_front();
    while (highs.size > 0 && !before(x(k), x(highs.back()))) highs.pop_back();
    highs.push(k);
    while (lows.size > 0 && !before(x(lows.back()), x(k))) lows.pop_back();
    lows.push(k);
    if (first < run_start) continue;
    const dd::Num width = dd::sub(x(highs.front()), x(lows.front()));
    if (before(widest, width)) widest = width;
    covered += k + 1 - std::max(first, covered_upto);
    covered_upto = k + 1;
  }
  if (covered == 0) return {m, tau, kNaN, 0};
  return {m, tau, dd::to_double(widest) * seconds_scale(s), covered};
}

Deviation tierms(const LongTermSeries& s, int64_t m) {
  const int64_t n_pts = phase_points(s);
  const double tau = static_cast<double>(m) * s.tau0;
  if (m < 1 || m > n_pts - 1) return {m, tau, kNaN, 0};
  dd::Num sum;
  int64_t n = 0;
  for (int64_t i = 0; i + m < n_pts; ++i) {
    if (!difference_known(s, i, i + m)) continue;
    const double d = phase_difference(s, i, i + m);
    sum = dd::add(sum, dd::two_prod(d, d));
    ++n;
  }
  if (n == 0) return {m, tau, kNaN, 0};
  return {m, tau, std::sqrt(dd::to_double(sum) / static_cast<double>(n)) * seconds_scale(s), n};
}

int64_t mtie_max_factor(int64_t phase_points) { return phase_points >= 2 ? phase_points / 2 : 0; }
int64_t tierms_max_factor(int64_t phase_points) { return phase_points >= 2 ? phase_points / 4 : 0; }

}  // namespace tauspan
