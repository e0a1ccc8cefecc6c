// The run of the standard statistics over one data file: the grid, a table
// per statistic with its error bars, a result file per statistic and the
// picture.
#ifndef TAUSPAN_RUN_STATS_H_
#define TAUSPAN_RUN_STATS_H_

#include <cstdint>
#include <string>

#include "deviations.h"
#include "protected_files.h"
#include "sample.h"
#include "stats_file.h"
#include "stats_settings.h"

namespace tauspan {

// Statistic `s` at averaging factor m with its noise type and its interval
// at confidence p. `n` is 0 when no term could be formed.
StatsRow stats_row(const PreparedGrid& prepared, Statistic s, int64_t m, double p);

// Reads the data file as the default run does (columns, time multiplier),
// places the samples on the grid and writes, for each statistic of `stats`,
// its table to the console and to a result file named by result_file_name
// with the statistic's name as the tag. Rows without a term are left out; a
// statistic without any row writes no file. With settings.plot, also one
// picture named after the first statistic's result file, written only once
// every result file is in place. Once read, the data file joins
// `protected_files`; a result or picture name that is a protected file is
// refused on stderr (a refused result stops the run before the grid).
// Running out of memory, or any other exception, ends this file's run alone:
// reported with the file and the cause, its temporary files removed. Returns
// the exit status: 1 when the data file cannot be read, the samples do not
// fit a grid (two in one slot, one before the first), an output is refused,
// a file cannot be written, or the run failed as above.
int run_stats_file(const std::string& path, const RunSettings& settings,
                   const StatsSettings& stats, ProtectedFiles& protected_files);

}  // namespace tauspan

#endif  // TAUSPAN_RUN_STATS_H_
