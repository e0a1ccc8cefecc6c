// The standard statistics as sums of squared differences of the phase:
// second differences for the Allan family, third for Hadamard, and third
// differences of the phase's running sum for the modified Allan family.
//
// Frequency data become phase in units of tau0 (x_k / tau0, the running sum
// of y) and phase data are used as they are, so both kinds go through the
// same differences. Running sums are carried in double-double less a level
// (frequency data: the mean frequency; phase: a straight line through the
// first and last samples). A difference of order d cancels a polynomial of
// degree below d exactly, so the level never reaches a term; it only keeps
// the sums small, and with them the 2^-104-relative errors of their
// additions.
#include "deviations.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "difference_sums.h"
#include "sample_blocks.h"
#include "double_double.h"
#include "theo1.h"
#include "time_error.h"
#include "total_deviations.h"

namespace tauspan {
namespace {

constexpr std::string_view kNames[] = {"adev",    "oadev",   "mdev",    "tdev",  "hdev",
                                        "ohdev",   "totdev",  "mtotdev", "ttotdev",
                                        "htotdev", "theo1",   "mtie",    "tierms"};

// Mean of the present values, to take off frequency data.
double mean_value(const Grid& g, const std::vector<double>& values) {
  double sum = 0;
  for (size_t k = 0; k < g.present.size(); ++k) {
    if (g.present[k]) sum += values[k];
  }
  return g.samples > 0 ? sum / static_cast<double>(g.samples) : 0;
}

// `hi` holds the grid's values on entry and the phase's high parts on
// return: each slot's value is read just before the phase up to it takes
// its place, so the values need no memory of their own.
void prepare_frequency(const Grid& g, std::vector<double>& hi, PreparedGrid& p) {
  const size_t slots = g.present.size();
  const double level = mean_value(g, hi);
  hi.resize(slots + 1);
  p.phase_lo.reserve(slots + 1);
  advise_huge_pages(p.phase_lo.data(), p.phase_lo.capacity() * sizeof(double));
  p.phase_lo.resize(slots + 1);
  RunningSum x;
  for (size_t k = 0; k <= slots; ++k) {
    const double v = hi[k];
    hi[k] = x.sum.hi;
    p.phase_lo[k] = x.sum.lo;
    if (k < slots && g.present[k]) x.add(two_sum(v, -level));
  }
}

// The running sum over the first k phase points (see PreparedGrid::sum_hi),
// stepped along k from any k whose state is known. Frequency data add up
// the phase as prepared; phase data x less a straight line through the
// first and last samples.
class SumWalk {
 public:
  explicit SumWalk(const PreparedGrid& p) : p_(p), g_(*p.grid) {
    if (g_.kind == DataKind::kFrequency) return;
    const size_t slots = g_.values.size();
    while (first_ < slots && !g_.present[first_]) ++first_;
    size_t end = slots;
    while (end > first_ && !g_.present[end - 1]) --end;
    start_ = first_ < slots ? g_.values[first_] : 0;
    slope_ = end > first_ + 1
                 ? (g_.values[end - 1] - start_) / static_cast<double>(end - 1 - first_)
                 : 0;
  }

  size_t index() const { return k_; }
  const RunningSum& sum() const { return sum_; }
  void reset(size_t k, const SumMark& mark) {
    k_ = k;
    sum_.sum = {mark.hi, mark.lo};
    sum_.since_fold = mark.since_fold;
  }

  // Adds point k and moves on to k + 1.
  [[gnu::always_inline]] void step() {
    const size_t k = k_++;
    if (g_.kind == DataKind::kFrequency) {
      if (k < p_.phase_hi.size()) sum_.add({p_.phase_hi[k], p_.phase_lo[k]});
      return;
    }
    if (k >= g_.values.size() || !g_.present[k]) return;
    // x - start - slope * (k - first), in double-double.
    const HiLo<double> d = two_sum(g_.values[k], -start_);
    const HiLo<double> line = two_product(slope_, static_cast<double>(k - first_));
    const HiLo<double> r = two_sum(d.hi, -line.hi);
    sum_.add({r.hi, (d.lo + r.lo) - line.lo});
  }

 private:
  const PreparedGrid& p_;
  const Grid& g_;
  size_t first_ = 0;
  double start_ = 0;
  double slope_ = 0;
  size_t k_ = 0;
  RunningSum sum_;
};

// The running sums' last index: slots + 1 for frequency data, slots for phase.
size_t last_running_sum(const Grid& g) {
  return g.kind == DataKind::kFrequency ? slot_count(g) + 1 : g.values.size();
}

void prepare_running_sums(PreparedGrid& p) {
  const size_t last = last_running_sum(*p.grid);
  p.sum_hi.resize(last + 1);
  p.sum_lo.resize(last + 1);
  SumWalk w(p);
  for (size_t k = 0; k <= last; ++k, w.step()) {
    p.sum_hi[k] = w.sum().sum.hi;
    p.sum_lo[k] = w.sum().sum.lo;
  }
}

void prepare_sum_marks(PreparedGrid& p) {
  const size_t last = last_running_sum(*p.grid);
  p.sum_marks.reserve(last / kSumMarkEvery + 1);
  SumWalk w(p);
  for (size_t k = 0; k <= last; ++k, w.step()) {
    if (k % kSumMarkEvery == 0) {
      p.sum_marks.push_back({w.sum().sum.hi, w.sum().sum.lo, w.sum().since_fold});
    }
  }
}

void prepare_gaps(const Grid& grid, PreparedGrid& p) {
  if (grid.gaps == 0) return;
  const size_t slots = slot_count(grid);
  p.gap_prefix.resize(slots + 1);
  int64_t missing = 0;
  for (size_t k = 0; k < slots; ++k) {
    p.gap_prefix[k] = missing;
    missing += grid.present[k] ? 0 : 1;
  }
  p.gap_prefix.back() = missing;
}

}  // namespace

std::string_view statistic_name(Statistic s) { return kNames[static_cast<int>(s)]; }

bool parse_statistic(std::string_view name, Statistic& s) {
  for (size_t i = 0; i < std::size(kNames); ++i) {
    if (name == kNames[i]) {
      s = static_cast<Statistic>(i);
      return true;
    }
  }
  return false;
}

PreparedGrid prepare_grid(const Grid& grid) {
  PreparedGrid p;
  p.grid = &grid;
  if (grid.kind == DataKind::kFrequency) {
    p.phase_hi.reserve(grid.values.size() + 1);
    p.phase_hi = grid.values;
    prepare_frequency(grid, p.phase_hi, p);
  }
  prepare_running_sums(p);
  prepare_gaps(grid, p);
  return p;
}

PreparedGrid prepare_grid_taking_values(Grid& grid, bool running_sums) {
  PreparedGrid p;
  p.grid = &grid;
  if (grid.kind == DataKind::kFrequency) {
    p.phase_hi = std::move(grid.values);
    grid.values = std::vector<double>();
    prepare_frequency(grid, p.phase_hi, p);
  }
  if (running_sums) {
    prepare_running_sums(p);
  } else {
    prepare_sum_marks(p);
  }
  prepare_gaps(grid, p);
  return p;
}

std::vector<HiLo<double>> running_sums_at(const PreparedGrid& p,
                                          const std::vector<size_t>& indices) {
  std::vector<HiLo<double>> sums(indices.size());
  std::vector<size_t> order(indices.size());
  for (size_t j = 0; j < order.size(); ++j) order[j] = j;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return indices[a] < indices[b]; });
  const size_t last = last_running_sum(*p.grid);
  SumWalk w(p);
  for (const size_t j : order) {
    const size_t k = indices[j];
    if (k > last) break;
    // From the nearest mark at or before k, when that is ahead.
    const size_t mark = k / kSumMarkEvery;
    if (mark < p.sum_marks.size() && mark * kSumMarkEvery > w.index()) {
      w.reset(mark * kSumMarkEvery, p.sum_marks[mark]);
    }
    while (w.index() < k) w.step();
    sums[j] = w.sum().sum;
  }
  return sums;
}

Deviation deviation(const PreparedGrid& prepared, Statistic s, int64_t m) {
  const Grid& g = *prepared.grid;
  Deviation row{m, static_cast<double>(m) * g.tau0, std::numeric_limits<double>::quiet_NaN(), 0};
  if (is_long_term(s) || m < 1 || m > max_factor(s, g)) return row;
  const bool frequency = g.kind == DataKind::kFrequency;
  const int64_t n_freq = frequency_count(g);
  const int64_t n_phase = n_freq + 1;

  DifferenceSums d;
  d.lag = m;
  if (frequency) {
    d.hi = prepared.phase_hi.data();
    d.lo = prepared.phase_lo.data();
  } else {
    d.hi = g.values.data();
  }
  // A frequency term needs every y that its phase points span; a phase term
  // needs the points themselves.
  double divisor = 2;  // of the Allan variances; 6 for Hadamard
  double m_power = static_cast<double>(m) * static_cast<double>(m);
  switch (s) {
    case Statistic::kAdev:
      d.count = n_freq / m - 1;
      d.stride = m;
      d.span = 2 * m;
      break;
    case Statistic::kOadev:
      d.count = n_phase - 2 * m;
      d.span = 2 * m;
      break;
    case Statistic::kHdev:
      d.order = 3;
      d.count = n_freq / m - 2;
      d.stride = m;
      d.span = 3 * m;
      divisor = 6;
      break;
    case Statistic::kOhdev:
      d.order = 3;
      d.count = n_phase - 3 * m;
      d.span = 3 * m;
      divisor = 6;
      break;
    case Statistic::kMdev:
    case Statistic::kTdev:
      // Third differences of the phase's running sum: each is a sum of m
      // second differences of the phase. Every point of the span is used.
      if (prepared.sum_hi.empty()) return row;  // prepared without them
      d.order = 3;
      d.hi = prepared.sum_hi.data();
      d.lo = prepared.sum_lo.data();
      d.count = n_phase - 3 * m + 1;
      d.span = frequency ? 3 * m - 1 : 3 * m;
      m_power *= m_power;
      break;
    default:  // the long-term statistics, left out above
      return row;
  }
  if (g.gaps > 0) {
    d.gap_prefix = prepared.gap_prefix.data();
    const bool all_points = s == Statistic::kMdev || s == Statistic::kTdev;
    d.test = frequency || all_points ? GapTest::kSpan : GapTest::kPoints;
  }
  const SquareSum sq = difference_squares(d);
  row.n = sq.n;
  if (sq.n == 0) return row;
  double dev = std::sqrt(sq.sum / (divisor * m_power * static_cast<double>(sq.n)));
  if (!frequency) dev /= g.tau0;
  if (g.nominal != 0) dev /= g.nominal;
  if (s == Statistic::kTdev) dev *= row.tau / std::sqrt(3.0);
  row.dev = dev;
  return row;
}

int64_t frequency_count(const Grid& grid) {
  const auto slots = static_cast<int64_t>(slot_count(grid));
  if (grid.kind == DataKind::kFrequency) return slots;
  return slots > 0 ? slots - 1 : 0;
}

int64_t default_max_factor(Statistic s, const Grid& grid) {
  if (is_long_term(s)) return max_factor(s, grid);
  const int64_t n = frequency_count(grid);
  return s == Statistic::kAdev || s == Statistic::kHdev ? n / 5 : n / 4;
}

int64_t max_factor(Statistic s, const Grid& grid) {
  const int64_t n = frequency_count(grid);
  switch (s) {
    case Statistic::kAdev:
    case Statistic::kOadev:
      return n / 2;
    case Statistic::kHdev:
    case Statistic::kOhdev:
      return n / 3;
    case Statistic::kMdev:
    case Statistic::kTdev:
      return (n + 1) / 3;
    case Statistic::kTotdev:
      return totdev_max_factor(n + 1);
    case Statistic::kMtotdev:
    case Statistic::kTtotdev:
      return mtotdev_max_factor(n + 1);
    case Statistic::kHtotdev:
      return htotdev_max_factor(n + 1);
    case Statistic::kTheo1:
      return theo1_max_factor(n + 1);
    case Statistic::kMtie:
      return mtie_max_factor(n + 1);
    case Statistic::kTierms:
      return tierms_max_factor(n + 1);
  }
  return 0;
}

}  // namespace tauspan
