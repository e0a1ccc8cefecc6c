// How long a sweep of taus will take: a cost model of the sweep, scaled by
// the time its first taus took, so that a sweep of hours is announced while
// there is time to stop it.
#ifndef TAUSPAN_SWEEP_ESTIMATE_H_
#define TAUSPAN_SWEEP_ESTIMATE_H_

#include <cstdint>
#include <string>

#include "allan.h"
#include "deviations.h"
#include "sample.h"

namespace tauspan {

// What the cost of a sweep depends on.
struct SweepShape {
  double samples = 0;
  double spacing = 0;  // mean time between samples; 0 when unknown
  TauRange range;
  int32_t tau_count = 0;
  bool log_spacing = false;
  bool overlap = true;
  bool even = false;  // times exactly evenly spaced: -fast's pass is far cheaper
};

SweepShape sweep_shape(size_t samples, const TimeExtent& extent, const TauRange& range,
                       const RunSettings& settings);

// Modelled seconds of one tau: a row, a pass over the series, and, for
// overlapped bins without running sums, every sample of every window.
// Taus that are NaN or hold fewer than 2 samples cost one sample a window.
double tau_seconds(const SweepShape& shape, double tau, bool running_sums);

// Modelled seconds of the whole sweep, summed over at most 1024 evenly
// spread taus and scaled to all of them.
double sweep_seconds(const SweepShape& shape, bool running_sums);

// The sweep's estimate as it runs.
struct SweepWatch {
  SweepShape shape;
  bool running_sums = false;
  bool armed = false;      // no decision yet
  double start = 0;        // monotonic seconds
  double done = 0;         // modelled seconds of the taus finished
  double total = 0;        // modelled seconds of the whole sweep
  double fast_total = 0;   // the same with running sums, when they would change the cost
};

struct SweepEstimate {
  bool too_long = false;   // over a minute
  double seconds = 0;
  double fast_seconds = 0; // 0 when -fast is on already, or it would not be cheaper
};

// Starts the clock. Sweeps modelled well under a minute are not watched.
SweepWatch watch_sweep(const SweepShape& shape, bool running_sums);

// Called before tau k (from 1), once for each k in order, with tau k - 1
// done. Decides once, as soon as the taus done have
// taken a fifth of a second or the next one is expected to take half a
// second: the modelled total, scaled by the time taken so far over the time
// modelled so far. Before that, and after it, returns an estimate that is
// not too_long.
SweepEstimate check_sweep(SweepWatch& watch, double k);

// The seconds the rest of the sweep will take at the pace of the taus done
// so far (whatever number of threads did them); negative before a tau is
// done.
double sweep_seconds_left(const SweepWatch& watch);

// Modelled seconds of one row of a -stat statistic at averaging factor m on
// a grid of `slots` slots: a pass or two over the grid for the classical
// statistics, several for the total and time-error ones, and for Thêo1 a
// cost that grows with m as well.
double stats_row_seconds(Statistic s, double slots, double m);

// "40 seconds", "12 minutes", "3.5 hours", "9 days".
std::string describe_duration(double seconds);

}  // namespace tauspan

#endif  // TAUSPAN_SWEEP_ESTIMATE_H_
