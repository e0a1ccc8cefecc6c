// The entry: the option walk, the usage text and the run over one data file.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "allan.h"
#include "plot.h"
#include "progress.h"
#include "result_file.h"
#include "run_stats.h"
#include "sample.h"
#include "series_reader.h"
#include "stats_settings.h"

namespace tauspan {
namespace {

// Exit statuses beyond 0.
constexpr int kFailed = 1;      // a file could not be read or written, or memory ran out
constexpr int kBadCommand = 2;  // an option lacks its value or has one it cannot take


// The first failure of console output, as an errno value; 0 while all is well.
int g_console_error = 0;

// The console's formatted printing, noting the first write that fails.
__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vprintf(format, args);
  va_end(args);
  if (n < 0 && g_console_error == 0) g_console_error = errno != 0 ? errno : EIO;
}

void print_usage() {
  say("%s", " tauspan\n Calculate the overlapping Alan Variance of a time series\n\n");
  say("%s", " usage:\n   tauspan [-options] <datafile(s)>\n   Eg. 'tauspan run1234.dat -logtau run5678.dat'\n   Will produce run1234_avar.dat and run5678_avar.dat\n\n");
  say("%s", " Options:\n");
  say("%s", "  -time <tcol=1>     Will use 'tcol' as time (1-based, 0 for row #)\n");
  say("%s", "  -data <dcol=2>     Will use 'dcol' as data (1-based, 0 for row #)\n");
  say("%s", "  -tmult <mult=1.0>  Will multiply timebase by 'mult' before using\n");
  say("%s", "  -n[umtaus] <n=100> Will calculate for n taus spaced from minimum to maximum\n");
  say("%s", "  -logtau            Will logarithmically spaced taus\n");
  say("%s", "  -mintau <min>      Set the minimum tau to be different than T(3)-T(1)\n");
  say("%s", "  -maxtau <min>      Set the maximum tau to be different than (max time)/4\n");
  say("%s", "  -nooverlap         Do not use overlapped Alan variance (moving averages)\n");
  say("%s", "  -jitter <tol>      Allow 'tol' fractional jitter in bin separation\n");
}

// After the usage text, for "--help": the options beyond it.
void print_more_options() {
  say("%s", "\n More options:\n");
  say("%s", "  -fast              Take bin means from running sums: each tau costs one pass\n"
            "                     over the series (for logs of millions of samples); means\n"
            "                     are within an ulp of the exact ones, so the last digits\n"
            "                     may differ from a run without it\n");
  say("%s", "  -plot              Also write the Allan deviation against tau as an SVG\n"
            "                     picture, named like the result file with the extension\n"
            "                     svg (run1234_avar.svg); with -stat, every statistic with\n"
            "                     its error bars (run1234_oadev.svg)\n");
  say("%s", "  --help             Print this text (as the first argument)\n");
  say("%s", "  --version          Print the version (as the first argument)\n");
  say("%s", "\n Standard statistics, instead of the sweep (-n, -logtau, -mintau, -maxtau,\n"
            " -nooverlap, -jitter and -fast do not apply to them):\n");
  say("%s", "  -stat <names>      Compute these statistics for the data files after it,\n"
            "                     comma-separated: adev, oadev, mdev, tdev, hdev, ohdev;\n"
            "                     each writes its own result file (run1234_oadev.dat)\n");
  say("%s", "  -phase             The data column holds phase (time error, s); default:\n"
            "                     fractional frequency\n");
  say("%s", "  -nominal <f0>      The data column holds frequency around f0; analyse\n"
            "                     (v - f0) / f0 (not with -phase)\n");
  say("%s", "  -tau0 <s>          Sampling interval in time units (default: the median\n"
            "                     time step; with -time 0, the time multiplier)\n");
  say("%s", "  -taus <set>        Averaging times: octave (default; 1, 2, 4, 8, ... tau0),\n"
            "                     decade (1, 2, 4, 10, 20, 40, ...), all, or a list of taus\n"
            "                     such as 1,10,100, each rounded to a whole multiple of tau0\n");
  say("%s", "  -conf <p>          Confidence of the error bars (default 0.683)\n");
}

// Our own diagnostics go to stderr, after whatever the console already holds.
void report(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "tauspan: %s\n", message.c_str());
}

// atoi without its undefined overflow: out-of-range text saturates.
int32_t to_int(const char* text) {
  const long v = std::strtol(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t clamp_column(int64_t column) {
  if (column > INT32_MAX) return INT32_MAX;
  if (column < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(column);
}

// The picture beside the result file, replaced as safely. Returns the run's
// exit status for it.
int write_plot(const std::string& path, const std::string& result_name,
               const RunSettings& settings, const std::vector<PlotPoint>& points) {
  const std::string name = plot_file_name(result_name);
  const std::string title = path + " \xe2\x80\x94 " +
                            (settings.overlap ? "overlapped" : "non-overlapped") + ", " +
                            (settings.log_spacing ? "logarithmic" : "linear") + " taus";
  const Plot plot = make_plot(points, title);
  if (plot.drawn == 0) {
    report("no plot for '" + path + "': no tau with a positive, finite deviation");
    return kFailed;
  }
  ResultFile file = open_result_file(name);
  write_text(file, plot.svg);
  const std::string error = close_result_file(file);
  if (!error.empty()) {
    report(error);
    return kFailed;
  }
  say("Plot: %s\n", name.c_str());
  return 0;
}

// Whether stdout and stderr are the same terminal, so that a status line on
// stderr shares the line that stdout is writing.
bool stdout_is_stderr_terminal() {
  struct stat out, err;
  return ::isatty(1) == 1 && ::isatty(2) == 1 && ::fstat(1, &out) == 0 && ::fstat(2, &err) == 0 &&
         out.st_rdev == err.st_rdev;
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

// One run over one data file; returns its exit status.
int run_file(const std::string& path, const RunSettings& settings) {
  const std::string result_name = result_file_name(path);
  say("Input: %s\n", path.c_str());
  say("Reading data...");
  std::fflush(stdout);  // a long read shows its progress line at once

  Progress progress = start_progress();
  if (stdout_is_stderr_terminal()) progress.line_so_far = "Reading data...";
  ResultFile result;
  int plot_status = 0;
  try {
    SeriesRead read = read_series(path, settings, show_reading, &progress);
    clear_progress(progress);
    progress.line_so_far.clear();
    const SampleSeries& series = read.samples;
    const auto count = static_cast<int>(series.size() > INT_MAX ? INT_MAX : series.size());
    say(" found %i datapoints\n", count);
    if (series.size() < static_cast<size_t>(kMinPoints)) {
      say("Insufficient valid datapoints to calculate Allan variance for %s\n", path.c_str());
      say("Only found %i, need at least %i\n", count, kMinPoints);
      if (!read.error.empty()) {
        report(read.error);
        return kFailed;
      }
      return 0;
    }

    const TimeExtent extent = time_extent(series, settings);
    const TauRange range = tau_range(series, extent, settings);
    say("Tau extent: %f to %f\n", range.min_tau, range.max_tau);

    result = open_result_file(result_name);
    say("Output: %s\n\n", result_name.c_str());
    write_header(result, path, settings);
    say("\ntau\tAVAR\tADEV\n");

    SampleSeries bins;
    std::vector<PlotPoint> points;
    const int32_t n = settings.tau_count;
    for (double k = 1.0; k <= n; k += 1.0) {
      if (progress_due(progress)) {
        char text[96];
        std::snprintf(text, sizeof text, "tauspan: tau %.0f of %i", k, n);
        show_progress(progress, text);
      }
      const double tau = tau_at(k, n, range.min_tau, range.max_tau, settings.log_spacing);
      bins = settings.running_sums
                 ? average_bins_running(series, tau, settings.overlap, std::move(bins))
                 : average_bins(series, tau, settings.overlap, std::move(bins));
      if (bins.size() < 2) continue;
      const double avar = allan_variance(bins, tau, settings.jitter);
      const double adev = std::pow(avar, 0.5);
      clear_progress(progress);
      say("%f\t%f\t%f\n", tau, avar, adev);
      write_row(result, tau, avar, adev);
      if (settings.plot) points.push_back({tau, adev});
    }
    clear_progress(progress);
    if (settings.plot) plot_status = write_plot(path, result_name, settings, points);
  } catch (const std::bad_alloc&) {
    discard_result_file(result);
    report("out of memory while processing '" + path + "'");
    std::exit(kFailed);
  }

  const std::string error = close_result_file(result);
  if (!error.empty()) {
    report(error);
    return kFailed;
  }
  return plot_status;
}

// An interrupted run must not leave its temporary result file behind.
void on_fatal_signal(int sig) {
  remove_unfinished_files();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

[[maybe_unused]] void install_signal_handlers() {
  // A closed console must not cost the result file: writes to it fail with
  // EPIPE instead, and the run goes on.
  ::signal(SIGPIPE, SIG_IGN);
  // Past a file-size limit a write fails with EFBIG, which is reported.
  ::signal(SIGXFSZ, SIG_IGN);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
  }
}

bool is(const char* arg, const char* word) { return std::strcmp(arg, word) == 0; }

int run(int argc, char** argv) {
  if (argc >= 2 && is(argv[1], "--version")) {
    say("tauspan %s\n", TAUSPAN_VERSION);
    return 0;
  }
  if (argc < 2 || is(argv[1], "-h") || is(argv[1], "/?") || is(argv[1], "-?") ||
      is(argv[1], "--help")) {
    print_usage();
    if (argc >= 2 && is(argv[1], "--help")) print_more_options();
    return 0;
  }

  RunSettings settings;
  StatsSettings stats;
  int64_t time_column = 1;  // 1-based, as on the command line
  int64_t data_column = 2;
  bool data_column_given = false;
  int status = 0;

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool takes_value = is(arg, "-time") || is(arg, "-data") || is(arg, "-tmult") ||
                             is(arg, "-numtaus") || is(arg, "-n") || is(arg, "-mintau") ||
                             is(arg, "-maxtau") || is(arg, "-jitter") ||
                             stats_option_takes_value(arg);
    if (takes_value && i + 1 >= argc) {
      report(std::string("option ") + arg + " needs a value");
      return kBadCommand;
    }
    if (const StatsOption o = apply_stats_option(arg, takes_value ? argv[i + 1] : nullptr, stats);
        o.taken) {
      if (!o.error.empty()) {
        report(o.error);
        return kBadCommand;
      }
      if (takes_value) ++i;
      say("%s\n", o.echo.c_str());
    } else if (is(arg, "-time")) {
      time_column = to_int(argv[++i]);
      say("Using column %i as time.\n", static_cast<int>(time_column));
    } else if (is(arg, "-data")) {
      data_column = to_int(argv[++i]);
      data_column_given = true;
      say("Using column %i as data.\n", static_cast<int>(data_column));
    } else if (is(arg, "-tmult")) {
      settings.time_multiplier = std::strtod(argv[++i], nullptr);
      say("Multiplying time by %f before use.\n", settings.time_multiplier);
    } else if (is(arg, "-logtau")) {
      settings.log_spacing = true;
      say("Using logarithmic tau spacing.\n");
    } else if (is(arg, "-numtaus") || is(arg, "-n")) {
      settings.tau_count = to_int(argv[++i]);
      say("Calculating for %i tau values\n", settings.tau_count);
    } else if (is(arg, "-mintau")) {
      settings.min_tau = std::strtod(argv[++i], nullptr);
      say("Using %f for minimum tau size.\n", settings.min_tau);
    } else if (is(arg, "-maxtau")) {
      settings.max_tau = std::strtod(argv[++i], nullptr);
      say("Using %f for maximum tau size.\n", settings.max_tau);
    } else if (is(arg, "-nooverlap")) {
      settings.overlap = false;
      say("Disabling overlap - not using moving average.\n");
    } else if (is(arg, "-plot")) {
      settings.plot = true;
      say("Writing a plot of the Allan deviation.\n");
    } else if (is(arg, "-fast")) {
      settings.running_sums = true;
      say("Using running sums for bin means.\n");
    } else if (is(arg, "-jitter")) {
      settings.jitter = std::strtod(argv[++i], nullptr);
      say("Allowing %f fractional jitter in bin spacing.\n", settings.jitter);
    } else {
      if (!data_column_given) data_column = time_column + 1;
      RunSettings file_settings = settings;
      file_settings.time_column = clamp_column(time_column - 1);
      file_settings.data_column = clamp_column(data_column - 1);
      const int file_status = stats.statistics.empty()
                                  ? run_file(arg, file_settings)
                                  : run_stats_file(arg, file_settings, stats, {say, report});
      if (file_status > status) status = file_status;
    }
  }
  return status;
}

// Console output that could not be written is a failure, except when the
// reader went away on purpose (EPIPE).
int finish_console(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 && g_console_error == 0) g_console_error = errno != 0 ? errno : EIO;
  if (g_console_error != 0 && g_console_error != EPIPE) {
    std::fprintf(stderr, "tauspan: cannot write to standard output: %s\n",
                 std::strerror(g_console_error));
    if (status == 0) status = kFailed;
  }
  return status;
}

}  // namespace
}  // namespace tauspan

#ifdef TAUSPAN_NO_MAIN
// The option-walk fuzzer links this file without main and without the
// signal handlers.
int tauspan_command_line(int argc, char** argv) {
  return tauspan::finish_console(tauspan::run(argc, argv));
}
#else
int main(int argc, char** argv) {
  tauspan::install_signal_handlers();
  const int status = tauspan::run(argc, argv);
  return tauspan::finish_console(status);
}
#endif
