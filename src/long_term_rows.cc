// The rows of the total, Thêo1 and time-error statistics: which noise
// identification, bias divisor and EDF each takes.
#include "long_term_rows.h"

#include <cmath>

#include "intervals.h"
#include "theo1.h"
#include "time_error.h"
#include "total_deviations.h"
#include "total_edf.h"

namespace tauspan {
namespace {

// The classical statistic whose noise identification a long-term one uses,
// and the factor to identify it at. False for MTIE and TIE rms.
bool noise_statistic(Statistic s, int64_t m, Statistic& classical, int64_t& at) {
  at = m;
  switch (s) {
    case Statistic::kTotdev:
      classical = Statistic::kOadev;
      return true;
    case Statistic::kMtotdev:
    case Statistic::kTtotdev:
      classical = Statistic::kMdev;
      return true;
    case Statistic::kHtotdev:
      classical = Statistic::kOhdev;
      return true;
    case Statistic::kTheo1:
      // Thêo1 at m averages over 0.75 m tau0.
      classical = Statistic::kOadev;
      at = std::llround(0.75 * static_cast<double>(m));
      return true;
    default:
      return false;
  }
}

// The phase points of a record without gaps on which the statistic at m has
// `terms` terms: a record with gaps gets the edf of a shorter one.
int64_t equivalent_points(Statistic s, int64_t m, int64_t terms) {
  switch (s) {
    case Statistic::kTotdev:
      return terms + 2;
    case Statistic::kMtotdev:
    case Statistic::kTtotdev:
      return terms + 3 * m - 1;
    case Statistic::kHtotdev:
      return terms + 3 * m;
    default:  // Thêo1
      return terms + m;
  }
}

// The variance divisor that removes the statistic's bias, 1 for none.
double bias_divisor(Statistic s, int alpha, const Deviation& d, double record_length,
                    bool bias_correction) {
  switch (s) {
    case Statistic::kTotdev:
      return totvar_bias_divisor(alpha, d.tau, record_length);
    case Statistic::kMtotdev:
    case Statistic::kTtotdev:
      return bias_correction ? mtotvar_bias_divisor(alpha) : 1;
    case Statistic::kHtotdev:
      return bias_correction ? htotvar_bias_divisor(alpha, d.m) : 1;
    default:
      return 1;
  }
}

double long_term_edf(Statistic s, int alpha, const Deviation& d, double tau0) {
  const int64_t points = equivalent_points(s, d.m, d.n);
  const double record_length = static_cast<double>(points - 1) * tau0;
  const double tau = static_cast<double>(d.m) * tau0;
  switch (s) {
    case Statistic::kTotdev:
      return totvar_edf(alpha, tau, record_length);
    case Statistic::kMtotdev:
    case Statistic::kTtotdev:
      return mtotvar_edf(alpha, tau, record_length);
    case Statistic::kHtotdev:
      return htotvar_edf(alpha, tau, record_length);
    default:
      return theo1_edf(alpha, d.m, points);
  }
}

Deviation one_deviation(const LongTermSeries& series, Statistic s, int64_t m) {
  switch (s) {
    case Statistic::kTotdev:
      return totdev(series, m);
    case Statistic::kMtotdev:
      return mtotdev(series, m);
    case Statistic::kTtotdev:
      return ttotdev(series, m);
    case Statistic::kHtotdev:
      return htotdev(series, m);
    case Statistic::kMtie:
      return mtie(series, m);
    case Statistic::kTierms:
      return tierms(series, m);
    default:
      return theo1(series, m);
  }
}

}  // namespace

Deviation long_term_deviation(const LongTermSeries& series, Statistic s, int64_t m) {
  return one_deviation(series, s, m);
}

StatsRow long_term_row(const LongTermSeries& series, const PreparedGrid& prepared, Statistic s,
                       const Deviation& d, const StatsSettings& settings) {
  const Grid& grid = *prepared.grid;
  const double record_length = static_cast<double>(phase_points(series) - 1) * grid.tau0;
  StatsRow row;
  row.m = d.m;
  row.tau = d.tau;
  row.n = d.n;
  row.dev = d.dev;
  row.alpha = kNoAlpha;
  row.min_dev = row.max_dev = NAN;
  Statistic classical = Statistic::kOadev;
  int64_t at = 0;
  if (d.n > 0 && noise_statistic(s, d.m, classical, at)) {
    row.alpha = noise_alpha(prepared, classical, at);
    row.dev /= std::sqrt(bias_divisor(s, row.alpha, d, record_length, settings.bias_correction));
    if (row.alpha != kNoAlpha) {
      const Interval interval = confidence_interval(
          row.dev, long_term_edf(s, row.alpha, d, grid.tau0), settings.confidence);
      row.min_dev = interval.min_dev;
      row.max_dev = interval.max_dev;
    }
  }
  return row;
}

std::vector<StatsRow> long_term_rows(const LongTermSeries& series, const PreparedGrid& prepared,
                                     Statistic s, const std::vector<int64_t>& factors,
                                     const StatsSettings& settings) {
  std::vector<Deviation> devs;
  if (s == Statistic::kTheo1) {
    // One call for the whole list: dense factors share their sums.
    devs = theo1_factors(series, factors);
  } else {
    for (const int64_t m : factors) devs.push_back(one_deviation(series, s, m));
  }
  std::vector<StatsRow> rows;
  for (const Deviation& d : devs) rows.push_back(long_term_row(series, prepared, s, d, settings));
  return rows;
}

std::string bias_note(Statistic s, bool bias_correction) {
  switch (s) {
    case Statistic::kTotdev:
      return "Bias removed for flicker and random-walk FM: variance / (1 - a tau / T)";
    case Statistic::kMtotdev:
    case Statistic::kTtotdev:
    case Statistic::kHtotdev:
      return bias_correction ? "Bias removed: variance / the published factor of the noise type"
                             : "Bias not removed (-biascorr removes it)";
    case Statistic::kTheo1:
      return "Bias not removed (Theo1, not the bias-removed ThêoBR)";
    default:
      return "";
  }
}

}  // namespace tauspan
