// The run of the standard statistics over one data file.
#include "run_stats.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <vector>

#include "console.h"
#include "grid.h"
#include "intervals.h"
#include "plot.h"
#include "result_file.h"
#include "series_reader.h"
#include "stats_plot.h"

namespace tauspan {
namespace {

// The slot width: -tau0 when given; with row numbers as time, one row
// (the time multiplier); otherwise 0, which leaves it to the samples.
double grid_tau0(const RunSettings& settings, const StatsSettings& stats) {
  if (stats.tau0 > 0) return stats.tau0;
  const double row = settings.time_multiplier;
  if (settings.time_column < 0 && std::isfinite(row) && row > 0) return row;
  return 0;
}

std::string plot_title(const std::string& path, const StatsSettings& stats, const Grid& grid) {
  std::string names;
  for (const Statistic s : stats.statistics) {
    if (!names.empty()) names += ", ";
    names += statistic_name(s);
  }
  return printable_path(path) + " \xe2\x80\x94 " + names + "; " + grid_summary(grid);
}

// The picture, once every result file is in place. Returns its exit status.
int write_stats_plot(const std::string& path, const StatsSettings& stats, const Grid& grid,
                     const std::vector<StatsCurve>& curves, ProtectedFiles& protected_files,
                     ResultFile& file) {
  const std::string first = result_file_name(path, statistic_name(stats.statistics.front()));
  std::string name = plot_file_name(first);
  // A data file named *.svg: its first result would have the picture's name.
  for (const Statistic s : stats.statistics) {
    if (name == result_file_name(path, statistic_name(s))) name += ".svg";
  }
  const Plot plot = make_stats_plot(curves, plot_title(path, stats, grid));
  if (plot.drawn == 0) {
    report("no plot for '" + path + "': no tau with a positive, finite deviation");
    return kFailed;
  }
  if (const std::string target = protected_target(protected_files, name); !target.empty()) {
    report(refusal("plot", path, name, target));
    return kFailed;
  }
  file = open_result_file(name);
  write_text(file, plot.svg);
  const std::string error = close_result_file(file);
  if (!error.empty()) {
    report(error);
    return kFailed;
  }
  say("Plot: %s\n", name.c_str());
  return 0;
}

// One statistic's table on the console and in its result file. Returns its
// exit status; `curve` gets the rows for the picture.
int run_statistic(const std::string& path, const StatsSettings& stats, Statistic s,
                  const PreparedGrid& prepared, ResultFile& file, StatsCurve& curve) {
  const Grid& grid = *prepared.grid;
  const std::string name = result_file_name(path, statistic_name(s));
  const std::string title(statistic_title(s));
  say("\n%s (%s)\n", title.c_str(), std::string(statistic_name(s)).c_str());
  curve.name = statistic_name(s);
  for (const int64_t m : averaging_factors(stats, s, grid)) {
    const StatsRow row = stats_row(prepared, s, m, stats.confidence);
    if (row.n == 0) continue;
    if (curve.rows.empty()) {
      say("%s\n", kStatsColumns);
      file = open_result_file(name);
      write_text(file, stats_header(s, path, grid, stats.confidence));
    }
    say("%s", stats_console_row(row).c_str());
    std::fflush(stdout);  // a log shows how far a long run got
    write_text(file, stats_file_row(row));
    curve.rows.push_back(row);
  }
  if (curve.rows.empty()) {
    say("No term of %s can be formed from these samples: no result file.\n",
                std::string(statistic_name(s)).c_str());
    return 0;
  }
  const std::string error = close_result_file(file);
  if (!error.empty()) {
    report(error);
    return kFailed;
  }
  say("Output: %s\n", name.c_str());
  return 0;
}

}  // namespace

StatsRow stats_row(const PreparedGrid& prepared, Statistic s, int64_t m, double p) {
  const Deviation d = deviation(prepared, s, m);
  StatsRow row;
  row.m = m;
  row.tau = d.tau;
  row.n = d.n;
  row.dev = d.dev;
  row.min_dev = row.max_dev = NAN;
  if (d.n == 0) return row;
  row.alpha = noise_alpha(prepared, s, m);
  if (row.alpha == kNoAlpha) return row;
  // A record with gaps has the edf of a shorter one with as many terms.
  const double edf = equivalent_dof(s, row.alpha, m, edf_phase_points(s, m, d.n));
  const Interval interval = confidence_interval(d.dev, edf, p);
  row.min_dev = interval.min_dev;
  row.max_dev = interval.max_dev;
  return row;
}

int run_stats_file(const std::string& path, const RunSettings& settings,
                   const StatsSettings& stats, ProtectedFiles& protected_files) {
  say("Input: %s\n", path.c_str());
  say("Reading data...");
  std::fflush(stdout);  // a long read shows its progress at once

  ResultFile file;
  ResultFile picture;
  std::string failure;
  // By the time a handler runs, the samples and the grid are released, so
  // the message and the next file have memory again.
  try {
    SeriesRead read = read_series(path, settings);
    const size_t size = read.samples.size();
    const auto count = static_cast<int>(size > INT_MAX ? INT_MAX : size);
    say(" found %i datapoints\n", count);
    if (size < static_cast<size_t>(kMinPoints)) {
      say("Insufficient valid datapoints to calculate Allan variance for %s\n", path.c_str());
      say("Only found %i, need at least %i\n", count, kMinPoints);
      if (!read.error.empty()) {
        report(read.error);
        return kFailed;
      }
      return 0;
    }

    // A file that was read is data from now on; no result may replace data.
    // One refused name stops the run here, before any table, as in the
    // default run.
    protect_file(protected_files, path);
    bool refused = false;
    for (const Statistic s : stats.statistics) {
      const std::string name = result_file_name(path, statistic_name(s));
      if (const std::string target = protected_target(protected_files, name); !target.empty()) {
        report(refusal("result", path, name, target));
        refused = true;
      }
    }
    if (refused) return kFailed;

    GridSettings grid_settings;
    grid_settings.kind = stats.kind;
    grid_settings.nominal = stats.nominal;
    grid_settings.tau0 = grid_tau0(settings, stats);
    const GridBuild built = make_grid(read.samples, grid_settings);
    read.samples = SampleSeries();  // the grid holds what is needed from here on
    if (!built.error.empty()) {
      report("cannot place the samples of '" + path + "' on a grid: " + built.error);
      return kFailed;
    }
    const Grid& grid = built.grid;
    say("%s\n", grid_summary(grid).c_str());

    const PreparedGrid prepared = prepare_grid(grid);
    int status = 0;
    std::vector<StatsCurve> curves;
    for (const Statistic s : stats.statistics) {
      StatsCurve curve;
      const int file_status = run_statistic(path, stats, s, prepared, file, curve);
      if (file_status > status) status = file_status;
      if (settings.plot && !curve.rows.empty()) curves.push_back(std::move(curve));
    }
    // A picture must never stand beside an older result of one of its curves.
    if (settings.plot && status == 0) {
      status = write_stats_plot(path, stats, grid, curves, protected_files, picture);
    }
    return status;
  } catch (const std::bad_alloc&) {
    failure = "out of memory while processing '" + path + "'";
  } catch (const std::exception& e) {
    failure = "cannot process '" + path + "': " + e.what();
  } catch (...) {
    failure = "cannot process '" + path + "': unknown exception";
  }
  discard_result_file(file);
  discard_result_file(picture);
  report(failure);
  return kFailed;
}

}  // namespace tauspan
