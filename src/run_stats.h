// The run of the standard statistics over one data file: the grid, a table
// per statistic with its error bars, a result file per statistic and the
// picture.
#ifndef TAUSPAN_RUN_STATS_H_
#define TAUSPAN_RUN_STATS_H_

#include <cstdint>
#include <string>

#include "deviations.h"
#include "sample.h"
#include "stats_file.h"
#include "stats_settings.h"

namespace tauspan {

// How a run speaks: `say` prints to the console as printf does and notes a
// failed write; `report` writes "tauspan: <message>" to stderr.
struct Console {
  __attribute__((format(printf, 1, 2))) void (*say)(const char* format, ...) = nullptr;
  void (*report)(const std::string& message) = nullptr;
};

// Statistic `s` at averaging factor m with its noise type and its interval
// at confidence p. `n` is 0 when no term could be formed.
StatsRow stats_row(const PreparedGrid& prepared, Statistic s, int64_t m, double p);

// Reads the data file as the default run does (columns, time multiplier),
// places the samples on the grid and writes, for each statistic of `stats`,
// its table to the console and to a result file named by result_file_name
// with the statistic's name as the tag. Rows without a term are left out; a
// statistic without any row writes no file. With settings.plot, also one
// picture named after the first statistic's result file. Returns the exit
// status: 1 when the data file cannot be read, the samples do not fit a grid
// (two in one slot, one before the first), or a file cannot be written.
int run_stats_file(const std::string& path, const RunSettings& settings,
                   const StatsSettings& stats, const Console& console);

}  // namespace tauspan

#endif  // TAUSPAN_RUN_STATS_H_
