// The picture of a run: Allan deviation against tau on log-log axes, as SVG.
#ifndef TAUSPAN_PLOT_H_
#define TAUSPAN_PLOT_H_

#include <string>
#include <vector>

namespace tauspan {

struct PlotPoint {
  double tau = 0;
  double adev = 0;
};

struct Plot {
  std::string svg;      // empty when no point can be drawn
  size_t drawn = 0;
  size_t left_out = 0;  // taus or deviations that are 0, negative, inf or NaN
};

// The picture's name: the result name with its extension replaced by "svg"
// ("run_avar.dat" gives "run_avar.svg"), or ".svg" appended when the result
// name has none. A result name that already ends in ".svg" gives
// "_plot.svg" in its place ("a_avar.svg" gives "a_avar_plot.svg"), so the
// picture never takes the result's name.
std::string plot_file_name(const std::string& result_name);

// Decade grid lines and labels on both axes, the points joined by a line,
// `title` above, and a note of how many points were left out.
Plot make_plot(const std::vector<PlotPoint>& points, const std::string& title);

}  // namespace tauspan

#endif  // TAUSPAN_PLOT_H_
