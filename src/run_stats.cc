// The run of the standard statistics over one data file.
#include "run_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <vector>

#include "console.h"
#include "progress.h"
#include "sweep_estimate.h"
#include "workers.h"
#include "grid.h"
#include "intervals.h"
#include "long_term_rows.h"
#include "noise_report.h"
#include "output_place.h"
#include "plot.h"
#include "result_file.h"
#include "sample_count.h"
#include "stats_plot.h"
#include "theo1.h"

namespace tauspan {
namespace {

// The files being written, so that a failure anywhere removes what they
// left.
struct Outputs {
  ResultFile result;
  ResultFile picture;
};

// The run's status line and its estimate of the time left, from a cost
// model of every row of every statistic scaled by the time the rows done
// so far took.
constexpr double kStatsLook = 0.2;      // seconds of rows that the warning rests on
constexpr double kStatsTooLong = 60;    // seconds before a run is announced

struct StatsWatch {
  Progress progress;
  std::string path;
  double slots = 0;
  double start = 0;      // monotonic seconds, when the first row began
  double total = 0;      // modelled seconds of every row
  double done = 0;       // modelled seconds of the rows taken
  bool decided = false;  // the runaway warning was considered
};

double now_seconds() {
  timespec t;
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Seconds left at the pace so far; negative before the first row is taken.
double stats_seconds_left(const StatsWatch& w) {
  const double elapsed = now_seconds() - w.start;
  if (!(w.done > 0) || !(elapsed > 0)) return -1;
  return std::max(0.0, elapsed / w.done * (w.total - w.done));
}

void show_stats_progress(StatsWatch& w, Statistic s, int64_t next, int64_t count) {
  if (!progress_due(w.progress)) return;
  std::string text = "tauspan: " + std::string(statistic_name(s)) + ", row " +
                     std::to_string(next + 1) + " of " + std::to_string(count);
  const double left = stats_seconds_left(w);
  if (left >= 0) text += ", about " + describe_duration(left) + " left";
  show_progress(w.progress, text);
}

// Rows taken: their modelled cost is done, and once the rows done have taken
// a fifth of a second a run modelled to take over a minute is announced.
void rows_done(StatsWatch& w, double modelled_seconds) {
  w.done += modelled_seconds;
  if (w.decided || now_seconds() - w.start < kStatsLook) return;
  w.decided = true;
  const double elapsed = now_seconds() - w.start;
  const double seconds = elapsed / w.done * w.total;
  if (seconds > kStatsTooLong) {
    clear_progress(w.progress);
    report("the statistics of '" + w.path + "' will take about " + describe_duration(seconds));
  }
}

// Rows of one statistic beyond which the running sums are kept (16 bytes a
// slot) rather than made again where the noise identification needs them.
constexpr size_t kRowsForRunningSums = 64;

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
                  int threads, StatsWatch& watch, ProtectedFiles& protected_files,
                  ResultFile& file, StatsCurve& curve) {
  const Grid& grid = *prepared.grid;
  const std::string name = result_file_name(base, statistic_name(s));
  const std::string title(statistic_title(s));
  clear_progress(watch.progress);
  say("\n%s (%s)\n", title.c_str(), std::string(statistic_name(s)).c_str());
  if (const std::string target = protected_target(protected_files, name); !target.empty()) {
    report(refusal("result", path, name, target));
    return kFailed;
  }
  curve.name = statistic_name(s);
  const std::vector<int64_t> factors = averaging_factors(stats, s, grid);
  // Thêo1's deviations come all at once (it shares work across m); every
  // other row is computed whole on a worker, into the ring slot of its index.
  const std::vector<Deviation> theo1_devs =
      s == Statistic::kTheo1 ? theo1_factors(long_term, factors) : std::vector<Deviation>();
  if (s == Statistic::kTheo1) {
    // Its rows' work is done: the estimate counts it now.
    double modelled = 0;
    for (const int64_t m : factors) modelled += stats_row_seconds(s, watch.slots, static_cast<double>(m));
    rows_done(watch, modelled);
  }
  const std::string note = bias_note(s, stats.bias_correction);
  std::vector<StatsRow> rows(static_cast<size_t>(ordered_window(threads)));
  OrderedWork work;
  work.count = static_cast<int64_t>(factors.size());
  work.threads = threads;
  work.compute = [&](int64_t i, int) {
    const auto at = static_cast<size_t>(i);
    StatsRow& row = rows[static_cast<size_t>(i % ordered_window(threads))];
    if (s == Statistic::kTheo1) {
      row = long_term_row(long_term, prepared, s, theo1_devs[at], stats);
    } else if (is_long_term(s)) {
      row = long_term_row(long_term, prepared, s, long_term_deviation(long_term, s, factors[at]),
                          stats);
    } else {
      row = stats_row(prepared, s, factors[at], stats.confidence);
    }
  };
  work.take = [&](int64_t i) {
    const StatsRow& row = rows[static_cast<size_t>(i % ordered_window(threads))];
    if (s != Statistic::kTheo1) {
      const auto m = static_cast<double>(factors[static_cast<size_t>(i)]);
      rows_done(watch, stats_row_seconds(s, watch.slots, m));
    }
    if (row.n == 0) return;
    if (curve.rows.empty()) {
      clear_progress(watch.progress);
      if (!note.empty()) say("%s\n", note.c_str());
      say("%s\n", kStatsColumns);
      file = open_result_file(name);
      write_text(file, stats_header(s, path, grid, stats.confidence, note));
    }
    clear_progress(watch.progress);
    say("%s", stats_console_row(row).c_str());
    write_text(file, stats_file_row(row));
    curve.rows.push_back(row);
  };
  work.idle = [&](int64_t next) {
    show_stats_progress(watch, s, next, work.count);
  };
  run_ordered(work);
  clear_progress(watch.progress);
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
                     SeriesSource source, StatsWatch& watch, Outputs& out) {
  SeriesRead read = source(path, settings, nullptr, nullptr);
  if (const int status = check_sample_count(path, read, settings); status >= 0) return status;
  const std::string base = result_base(path, settings.output_dir);
  // A file that was read is data from now on, whatever made it.
  protect_file(protected_files, path);

  GridSettings grid_settings;
  grid_settings.kind = stats.kind;
  grid_settings.nominal = stats.nominal;
  grid_settings.tau0 = grid_tau0(settings, stats);
  // The series goes back as the grid fills: the grid holds what is needed
  // from here on.
  GridBuild built = make_grid(std::move(read.samples), grid_settings);
  if (!built.error.empty()) {
    report("cannot place the samples of '" + path + "' on a grid: " + built.error);
    return kFailed;
  }
  Grid& grid = built.grid;
  say("%s\n", grid_summary(grid).c_str());

  LongTermSeries long_term;
  bool long_term_made = false;
  bool running_sums = false;
  for (const Statistic s : stats.statistics) {
    if (is_long_term(s) && !long_term_made) {
      long_term = prepare_long_term(grid);
      long_term_made = true;
    }
    // Without mdev and tdev the running sums serve only the noise
    // identification of rows with few averages, which makes the few it
    // needs from marks; a statistic of many rows looks them up instead.
    running_sums |= s == Statistic::kMdev || s == Statistic::kTdev ||
                    averaging_factors(stats, s, grid).size() > kRowsForRunningSums;
  }
  // After the long-term series, which is made from the values that this
  // turns into the phase of frequency data.
  const PreparedGrid prepared = prepare_grid_taking_values(grid, running_sums);
  watch.path = path;
  watch.slots = static_cast<double>(slot_count(grid));
  for (const Statistic s : stats.statistics) {
    for (const int64_t m : averaging_factors(stats, s, grid)) {
      watch.total += stats_row_seconds(s, watch.slots, static_cast<double>(m));
    }
  }
  watch.start = now_seconds();
  const int threads = worker_count(settings.threads);
  int status = 0;
  std::vector<StatsCurve> curves;
  for (const Statistic s : stats.statistics) {
    StatsCurve curve;
    const int file_status = run_statistic(path, base, stats, s, prepared, long_term, threads,
                                          watch, protected_files, out.result, curve);
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
  StatsWatch watch;
  watch.progress = start_progress();
  std::string failure;
  // By the time a handler runs, the samples and the grid are released, so
  // the message and the next file have memory again.
  try {
    const int status = read_and_compute(path, settings, stats, protected_files, source, watch, out);
    clear_progress(watch.progress);
    return status;
  } catch (...) {
    failure = run_failure(path);
  }
  discard_result_file(out.result);
  discard_result_file(out.picture);
  clear_progress(watch.progress);
  report(failure);
  return kFailed;
}

}  // namespace tauspan
