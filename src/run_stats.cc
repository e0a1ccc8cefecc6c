// The run of the standard statistics over one data file.
#include "run_stats.h"

#include <climits>
#include <cmath>
#include <limits>
#include <cstdio>
#include <exception>
#include <new>
#include <vector>

#include "console.h"
#include "grid.h"
#include "intervals.h"
#include "long_term_rows.h"
#include "noise_report.h"
#include "output_place.h"
#include "plot.h"
#include "result_file.h"
#include "stats_plot.h"

namespace tauspan {
namespace {

// The files being written, so that a failure anywhere removes what they
// left.
struct Outputs {
  ResultFile result;
  ResultFile picture;
};

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
// `base` is the path that output names are made from (result_base).
int write_stats_plot(const std::string& path, const std::string& base, const StatsSettings& stats,
                     const Grid& grid, const std::vector<StatsCurve>& curves,
                     ProtectedFiles& protected_files, ResultFile& file) {
  const std::string name =
      plot_file_name(result_file_name(base, statistic_name(stats.statistics.front())));
  const Plot plot = make_stats_plot(curves, plot_title(path, stats, grid));
  return place_picture(path, name, plot, protected_files, file);
}

// One statistic's table on the console and in its result file. Returns its
// exit status; `curve` gets the rows for the picture.
int run_statistic(const std::string& path, const std::string& base, const StatsSettings& stats,
                  Statistic s, const PreparedGrid& prepared, const LongTermSeries& long_term,
                  ProtectedFiles& protected_files, ResultFile& file, StatsCurve& curve) {
  const Grid& grid = *prepared.grid;
  const std::string name = result_file_name(base, statistic_name(s));
  const std::string title(statistic_title(s));
  say("\n%s (%s)\n", title.c_str(), std::string(statistic_name(s)).c_str());
  if (const std::string target = protected_target(protected_files, name); !target.empty()) {
    report(refusal("result", path, name, target));
    return kFailed;
  }
  curve.name = statistic_name(s);
  const std::vector<int64_t> factors = averaging_factors(stats, s, grid);
  // The long-term statistics come all at once (Thêo1 shares work across m).
  const std::vector<StatsRow> long_rows =
      is_long_term(s) ? long_term_rows(long_term, prepared, s, factors, stats) : std::vector<StatsRow>();
  const std::string note = bias_note(s, stats.bias_correction);
  for (size_t i = 0; i < factors.size(); ++i) {
    const StatsRow row =
        is_long_term(s) ? long_rows[i] : stats_row(prepared, s, factors[i], stats.confidence);
    if (row.n == 0) continue;
    if (curve.rows.empty()) {
      if (!note.empty()) say("%s\n", note.c_str());
      say("%s\n", kStatsColumns);
      file = open_result_file(name);
      write_text(file, stats_header(s, path, grid, stats.confidence, note));
    }
    say("%s", stats_console_row(row).c_str());
    write_text(file, stats_file_row(row));
    curve.rows.push_back(row);
  }
  if (curve.rows.empty()) {
    say("No term of %s can be formed from these samples: no result file.\n",
        std::string(statistic_name(s)).c_str());
    return 0;
  }
  add_noise_report(s, grid, stats, file, curve);
  const std::string error = close_result_file(file);
  if (!error.empty()) {
    report(error);
    return kFailed;
  }
  say("Output: %s\n", name.c_str());
  return 0;
}

// The run after "Reading data...": everything that may throw.
int read_and_compute(const std::string& path, const RunSettings& settings,
                     const StatsSettings& stats, ProtectedFiles& protected_files,
                     SeriesSource source, Outputs& out) {
  SeriesRead read = source(path, settings, nullptr, nullptr);
  const size_t size = read.samples.size();
  const auto count = static_cast<int>(size > INT_MAX ? INT_MAX : size);
  say(" found %i datapoints\n", count);
  const std::string hint =
      read.error.empty() ? separator_hint(path, read.look, size, settings) : "";
  if (size < static_cast<size_t>(kMinPoints)) {
    say("Insufficient valid datapoints to calculate Allan variance for %s\n", path.c_str());
    say("Only found %i, need at least %i\n", count, kMinPoints);
    if (!hint.empty()) report(hint);
    if (!read.error.empty()) {
      report(read.error);
      return kFailed;
    }
    return 0;
  }
  if (!hint.empty()) report(hint);
  const std::string base = result_base(path, settings.output_dir);
  // A file that was read is data from now on, whatever made it.
  protect_file(protected_files, path);

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
  LongTermSeries long_term;
  for (const Statistic s : stats.statistics) {
    if (is_long_term(s)) {
      long_term = prepare_long_term(grid);
      break;
    }
  }
  int status = 0;
  std::vector<StatsCurve> curves;
  for (const Statistic s : stats.statistics) {
    StatsCurve curve;
    const int file_status = run_statistic(path, base, stats, s, prepared, long_term,
                                          protected_files, out.result, curve);
    if (file_status > status) status = file_status;
    if (settings.plot && !curve.rows.empty()) curves.push_back(std::move(curve));
  }
  // A picture beside an old or missing result would tell a different story
  // from the tables: it comes only when every result file is in place.
  if (settings.plot && status == 0) {
    const int plot_status =
        write_stats_plot(path, base, stats, grid, curves, protected_files, out.picture);
    if (plot_status > status) status = plot_status;
  }
  return status;
}

}  // namespace

StatsRow stats_row(const PreparedGrid& prepared, Statistic s, int64_t m, double p) {
  const Deviation d = deviation(prepared, s, m);
  StatsRow row;
  row.m = m;
  row.tau = d.tau;
  row.n = d.n;
  row.dev = d.dev;
  row.min_dev = row.max_dev = std::numeric_limits<double>::quiet_NaN();
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
                   const StatsSettings& stats, ProtectedFiles& protected_files,
                   SeriesSource source) {
  say("Input: %s\n", path.c_str());
  say("Reading data...");
  std::fflush(stdout);  // a long read shows its progress at once

  Outputs out;
  std::string failure;
  // By the time a handler runs, the samples and the grid are released, so
  // the message and the next file have memory again.
  try {
    return read_and_compute(path, settings, stats, protected_files, source, out);
  } catch (const std::bad_alloc&) {
    failure = "out of memory while processing '" + path + "'";
  } catch (const std::exception& e) {
    failure = "cannot process '" + path + "': " + e.what();
  } catch (...) {
    failure = "cannot process '" + path + "': unknown exception";
  }
  discard_result_file(out.result);
  discard_result_file(out.picture);
  report(failure);
  return kFailed;
}

}  // namespace tauspan
