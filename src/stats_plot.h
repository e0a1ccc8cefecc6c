// The picture of a run of the standard statistics: every statistic as a
// curve with error bars on log-log axes, with a legend, as SVG.
#ifndef TAUSPAN_STATS_PLOT_H_
#define TAUSPAN_STATS_PLOT_H_

#include <string>
#include <vector>

#include "plot.h"
#include "stats_file.h"

namespace tauspan {

// A fitted noise term of a statistic, drawn as a dashed line through its
// points, with `label` (the term and its slope, "N -1/2") at (label_tau,
// label_dev).
struct FittedTerm {
  std::string label;
  std::vector<double> tau;
  std::vector<double> dev;
  double label_tau = 0;
  double label_dev = 0;
};

// One statistic's rows under its name, and its fitted noise terms (-noise).
struct StatsCurve {
  std::string name;
  std::vector<StatsRow> rows;
  std::vector<FittedTerm> terms;
};

// One curve per statistic, in its own colour: the rows' deviations joined by
// a line, a bar from min_dev to max_dev where both are positive and finite,
// and the name in the legend; each fitted term a dashed line in the curve's
// colour, cut at the plot area's edges, with its label. Rows whose tau or deviation is 0, negative,
// infinite or NaN are left out and counted; `drawn` counts the others.
Plot make_stats_plot(const std::vector<StatsCurve>& curves, const std::string& title);

}  // namespace tauspan

#endif  // TAUSPAN_STATS_PLOT_H_
