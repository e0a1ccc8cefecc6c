// The default run of one data file, from its read to its picture.
#include "run_default.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "allan.h"
#include "console.h"
#include "fast_sweep.h"
#include "output_place.h"
#include "plot.h"
#include "progress.h"
#include "result_file.h"
#include "sample_count.h"
#include "sweep_estimate.h"
#include "workers.h"

namespace tauspan {

int place_picture(const std::string& path, const std::string& name, const Plot& plot,
                  ProtectedFiles& protected_files, ResultFile& file) {
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

namespace {

// The files a run may be writing, so that a failure anywhere removes both.
struct Outputs {
  ResultFile result;
  ResultFile picture;
};

// Whether stdout and stderr are the same terminal, so that a status line on
// stderr shares the line that stdout is writing. Asked once: neither changes
// while the tool runs.
bool stdout_is_stderr_terminal() {
  static const bool same = [] {
    struct stat out, err;
    return ::isatty(1) == 1 && ::isatty(2) == 1 && ::fstat(1, &out) == 0 &&
           ::fstat(2, &err) == 0 && out.st_rdev == err.st_rdev;
  }();
  return same;
}

void show_reading(void* context, uint64_t bytes_read, uint64_t file_size) {
  auto& progress = *static_cast<Progress*>(context);
  if (!progress_due(progress)) return;
  char text[128];
  if (file_size > 0) {
    std::snprintf(text, sizeof text, " tauspan: read %.0f%% (%.1f of %.1f MB)",
                  100.0 * static_cast<double>(bytes_read) / static_cast<double>(file_size),
                  static_cast<double>(bytes_read) / 1e6, static_cast<double>(file_size) / 1e6);
  } else {
    std::snprintf(text, sizeof text, " tauspan: read %.1f MB",
                  static_cast<double>(bytes_read) / 1e6);
  }
  show_progress(progress, text);
}

// A mistyped -n or -maxtau can start a sweep of hours; the user hears of it
// while stopping is still cheap. The run itself goes on.
void warn_of_long_sweep(const std::string& path, const SweepEstimate& e, Progress& progress) {
  clear_progress(progress);
  std::string text = "the sweep of '" + path + "' will take about " + describe_duration(e.seconds);
  if (e.fast_seconds > 0) text += " (with -fast about " + describe_duration(e.fast_seconds) + ")";
  report(text);
}

// The picture beside the result file, which is already in place. Returns
// the run's exit status for it.
int write_plot(const std::string& path, const std::string& result_name,
               const RunSettings& settings, const std::vector<PlotPoint>& points,
               ProtectedFiles& protected_files, ResultFile& file) {
  const std::string name = plot_file_name(result_name);
  const std::string title = printable_path(path) + " \xe2\x80\x94 " +
                            (settings.overlap ? "overlapped" : "non-overlapped") + ", " +
                            (settings.log_spacing ? "logarithmic" : "linear") + " taus";
  const Plot plot = make_plot(points, title);
  return place_picture(path, name, plot, protected_files, file);
}

// The run after "Reading data...": everything that may throw.
int read_and_sweep(const std::string& path, const RunSettings& settings,
                   const std::string& result_name, ProtectedFiles& protected_files,
                   SeriesSource source, Progress& progress, Outputs& out) {
  SeriesRead read = source(path, settings, show_reading, &progress);
  clear_progress(progress);
  progress.line_so_far.clear();
  const SampleSeries& series = read.samples;
  if (const int status = check_sample_count(path, read, settings); status >= 0) return status;

  // A file that was read is data from now on, whatever made it; and a result
  // must not replace data, whatever its name.
  protect_file(protected_files, path);
  if (const std::string target = protected_target(protected_files, result_name);
      !target.empty()) {
    report(refusal("result", path, result_name, target));
    return kFailed;
  }

  const TimeExtent extent = time_extent(series, settings);
  const TauRange range = tau_range(series, extent, settings);
  say("Tau extent: %f to %f\n", range.min_tau, range.max_tau);

  out.result = open_result_file(result_name);
  say("Output: %s\n\n", result_name.c_str());
  write_header(out.result, path, settings);
  say("\ntau\tAVAR\tADEV\n");

  std::vector<PlotPoint> points;
  const int32_t n = settings.tau_count;
  SweepShape shape = sweep_shape(series.size(), extent, range, settings);
  const fast::EvenTimes even = fast::even_times(series);
  shape.even = even.even;
  SweepWatch watch = watch_sweep(shape, settings.running_sums);
  // Taus are computed on the workers, each into the ring slot of its index,
  // and printed here in order. Each worker keeps its bins' memory from tau
  // to tau.
  struct Row {
    double tau = 0;
    double avar = 0;
    bool formed = false;  // two bins or more
  };
  const int threads = worker_count(settings.threads);
  const size_t workers = static_cast<size_t>(std::min(threads, std::max(n, 1)));
  std::vector<SampleSeries> bins(workers);
  // -fast makes its bins as it goes: each worker keeps a ring of the recent
  // ones, and the plan of the series is shared.
  std::vector<FastScratch> scratch(workers);
  // -fast takes the series: on evenly spaced times its memory becomes the
  // table of prefix sums. Nothing below reads `series` then.
  const FastShared fast =
      settings.running_sums
          ? take_fast_sweep(std::move(read.samples), settings.overlap, settings.jitter, even,
                            threads)
          : FastShared{};
  // With the even table a work item is a group of taus, whose passes share
  // the table's blocks; otherwise one tau. Five groups a worker keep every
  // worker busy to the end.
  const int64_t per_worker_groups = 5 * static_cast<int64_t>(threads);
  const int64_t group =
      fast.even ? std::clamp<int64_t>((n + per_worker_groups - 1) / per_worker_groups, 1, 16) : 1;
  const int64_t window = ordered_window(threads);
  std::vector<Row> rows(static_cast<size_t>(window * group));
  const auto check = [&](double k) {
    const SweepEstimate estimate = check_sweep(watch, k);
    if (estimate.too_long) warn_of_long_sweep(path, estimate, progress);
  };
  const auto taus_of = [&](int64_t item) {
    return std::pair<int64_t, int64_t>{item * group, std::min<int64_t>(n, (item + 1) * group)};
  };
  const auto slot = [&](int64_t k) -> Row& {
    return rows[static_cast<size_t>((k / group) % window * group + k % group)];
  };
  OrderedWork work;
  work.count = (n + group - 1) / group;
  work.threads = threads;
  work.compute = [&](int64_t item, int worker) {
    const auto [first, end] = taus_of(item);
    for (int64_t k = first; k < end; ++k) {
      slot(k).tau = tau_at(static_cast<double>(k + 1), n, range.min_tau, range.max_tau,
                           settings.log_spacing);
    }
    if (settings.running_sums) {
      FastScratch& mine = scratch[static_cast<size_t>(worker)];
      if (mine.bins.empty() && mine.lean.empty() && mine.table.empty()) mine = fast_scratch(fast);
      std::vector<double> taus;
      for (int64_t k = first; k < end; ++k) taus.push_back(slot(k).tau);
      const std::vector<FastRow> fast_rows = fast_taus(fast, taus, mine);
      for (int64_t k = first; k < end; ++k) {
        const FastRow& fast_row = fast_rows[static_cast<size_t>(k - first)];
        slot(k).formed = fast_row.bins >= 2;
        slot(k).avar = fast_row.avar;
      }
      return;
    }
    Row& row = slot(first);
    const TauVariance v = allan_tau(series, row.tau, settings.overlap, settings.jitter,
                                    bins[static_cast<size_t>(worker)]);
    row.formed = v.bins >= 2;
    row.avar = v.avar;
  };
  work.take = [&](int64_t item) {
    const auto [first, end] = taus_of(item);
    for (int64_t k = first; k < end; ++k) {
      const Row& row = slot(k);
      if (row.formed) {
        const double adev = std::pow(row.avar, 0.5);
        clear_progress(progress);
        say("%f\t%f\t%f\n", row.tau, row.avar, adev);
        write_row(out.result, row.tau, row.avar, adev);
        if (settings.plot) points.push_back({row.tau, adev});
      }
      if (k + 1 < n) check(static_cast<double>(k + 2));
    }
  };
  work.idle = [&](int64_t next) {
    if (!progress_due(progress)) return;
    char text[160];
    const int shown = std::snprintf(text, sizeof text, "tauspan: tau %.0f of %i",
                                    static_cast<double>(next * group + 1), n);
    const double left = sweep_seconds_left(watch);
    if (left >= 0 && shown > 0 && static_cast<size_t>(shown) < sizeof text) {
      std::snprintf(text + shown, sizeof text - static_cast<size_t>(shown), ", about %s left",
                    describe_duration(left).c_str());
    }
    show_progress(progress, text);
  };
  if (n >= 1) check(1);
  run_ordered(work);
  clear_progress(progress);

  // The result first: a picture must never stand beside an older result.
  const std::string error = close_result_file(out.result);
  if (!error.empty()) {
    report(error);
    return kFailed;
  }
  if (!settings.plot) return 0;
  return write_plot(path, result_name, settings, points, protected_files, out.picture);
}

}  // namespace

int run_file(const std::string& path, const RunSettings& settings,
             ProtectedFiles& protected_files, SeriesSource source) {
  const std::string result_name = result_file_name(result_base(path, settings.output_dir));
  say("Input: %s\n", path.c_str());
  say("Reading data...");
  std::fflush(stdout);  // a long read shows its progress line at once

  Progress progress = start_progress();
  if (stdout_is_stderr_terminal()) progress.line_so_far = "Reading data...";
  Outputs out;
  std::string failure;
  // By the time a handler runs, the series and the bins are released, so
  // the message and the next file have memory again.
  try {
    return read_and_sweep(path, settings, result_name, protected_files, source, progress, out);
  } catch (...) {
    failure = run_failure(path);
  }
  discard_result_file(out.result);
  discard_result_file(out.picture);
  clear_progress(progress);
  report(failure);
  return kFailed;
}

}  // namespace tauspan
