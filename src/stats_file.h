// The text of a statistic's table: the result file's comment lines and rows,
// and the console's rows.
#ifndef TAUSPAN_STATS_FILE_H_
#define TAUSPAN_STATS_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "deviations.h"
#include "grid.h"

namespace tauspan {

// One row of a statistic's table. `alpha` is kNoAlpha where the noise could
// not be told; min_dev and max_dev are NaN where there is no interval.
struct StatsRow {
  int64_t m = 0;
  double tau = 0;
  int64_t n = 0;
  int alpha = 0;
  double min_dev = 0;
  double dev = 0;
  double max_dev = 0;
};

// The statistic's full name: "Overlapping Allan deviation" for oadev.
std::string_view statistic_title(Statistic s);

// What the grid holds, as one line without its end:
// "Phase data, tau0 1, 1001 samples, 0 gaps"; frequency data says
// "Fractional frequency data", or "Frequency data, nominal 10000000" with
// -nominal.
std::string grid_summary(const Grid& grid);

// The comment lines of a result file and its column titles:
//   #Overlapping Allan deviation (oadev) of run.dat
//   #Phase data, tau0 1, 1001 samples, 0 gaps
//   #Confidence 0.683, double-sided chi-squared intervals
//   #AF	tau	n	alpha	min_dev	dev	max_dev
// The path is shown by printable_path ("\n" as a backslash and n), so
// that a file name never starts a line of its own.
std::string stats_header(Statistic s, const std::string& data_path, const Grid& grid,
                         double confidence);

// A row of the result file: AF, n and alpha as integers, the others with 15
// significant digits; "nan" for a missing alpha or bound.
std::string stats_file_row(const StatsRow& row);

// The console's column titles and rows: the same columns, numbers with six
// significant digits.
inline constexpr char kStatsColumns[] = "AF\ttau\tn\talpha\tmin_dev\tdev\tmax_dev";
std::string stats_console_row(const StatsRow& row);

}  // namespace tauspan

#endif  // TAUSPAN_STATS_FILE_H_
