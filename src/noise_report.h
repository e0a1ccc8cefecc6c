// The noise coefficients of a statistic's table as the run reports them: a
// block of lines on the console, the same as comment lines at the end of
// the result file, and the fitted terms for the picture.
#ifndef TAUSPAN_NOISE_REPORT_H_
#define TAUSPAN_NOISE_REPORT_H_

#include <string>
#include <vector>

#include "deviations.h"
#include "grid.h"
#include "noise_fit.h"
#include "result_file.h"
#include "stats_file.h"
#include "stats_plot.h"
#include "stats_settings.h"

namespace tauspan {

// The fit's input from a table's rows: the variance, and each row's edf for
// its noise type; a row whose noise could not be told takes the edf of white
// frequency noise, so that it still counts, with the weight of its terms.
std::vector<NoisePoint> noise_points(Statistic s, const std::vector<StatsRow>& rows);

// The report's lines, without their ends. `units` is -units' value ("" for
// none). With `clock` (phase data, or no -units) the same coefficients are
// also written as the power-law levels h(2) ... h(-2) of the one-sided
// spectrum of fractional frequency, white phase taken up to f_h = 1/(2 tau0).
std::vector<std::string> noise_report_lines(Statistic s, const NoiseFit& fit,
                                            const NoiseReadOffs& read, const std::string& units,
                                            bool clock, double tau0);

// Each fitted term off the bound as a line over the rows' taus, labelled with
// its letter and slope.
std::vector<FittedTerm> fitted_terms(Statistic s, const NoiseFit& fit,
                                     const std::vector<StatsRow>& rows, double tau0);

// With stats.noise and a statistic that fits_noise accepts: fits the rows of
// `curve`, prints the block, writes it to `file` as "#" lines and gives the
// curve its fitted terms. Does nothing otherwise.
void add_noise_report(Statistic s, const Grid& grid, const StatsSettings& stats, ResultFile& file,
                      StatsCurve& curve);

}  // namespace tauspan

#endif  // TAUSPAN_NOISE_REPORT_H_
