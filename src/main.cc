// The entry: the usage text, the option walk and which run each data file
// gets.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "console.h"
#include "input_options.h"
#include "process_setup.h"
#include "protected_files.h"
#include "run_default.h"
#include "run_stats.h"
#include "sample.h"
#include "stats_settings.h"

namespace tauspan {
namespace {

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
  say("%s", "  -sep <set>         Fields are separated by 'set': tab (default), comma,\n"
            "                     semicolon, space (blanks and tabs), or the characters\n"
            "                     themselves (-sep ',;'); a run of them is one separator\n");
  say("%s", "  -timefmt <form>    The time column holds number (default), iso (ISO 8601\n"
            "                     date and time, 2024-01-31T13:16:50.25Z, as seconds since\n"
            "                     1970-01-01 UTC) or mjd (modified Julian date in days)\n");
  say("%s", "  -outdir <dir>      Write result files and pictures into 'dir', which must\n"
            "                     exist, instead of beside each data file\n");
  say("%s", "  -threads <n>       Spread the taus, or the rows of -stat, over n threads\n"
            "                     (default 0: one per core); results are the same for any n\n");
  say("%s", "  -h, -?, /?         Print the usage text (as the first argument)\n");
  say("%s", "  --help             Print this text (as the first argument)\n");
  say("%s", "  --version          Print the version (as the first argument)\n");
  say("%s", "\n A data file '-' is standard input; its results are named as for stdin.dat\n"
            " (stdin_avar.dat, stdin_oadev.dat), in -outdir or the current directory.\n");
  say("%s", "\n Standard statistics, instead of the sweep (-n, -logtau, -mintau, -maxtau,\n"
            " -nooverlap, -jitter and -fast do not apply to them):\n");
  say("%s", "  -stat <names>      Compute these statistics for the data files after it,\n"
            "                     comma-separated: adev, oadev, mdev, tdev, hdev, ohdev,\n"
            "                     totdev, mtotdev, ttotdev, htotdev, theo1 (even m,\n"
            "                     tau 0.75 m tau0), mtie, tierms;\n"
            "                     each writes its own result file (run1234_oadev.dat)\n");
  say("%s", "  -biascorr          Also remove the published noise bias from mtotdev,\n"
            "                     ttotdev and htotdev (totdev's is removed always)\n");
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
  say("%s", "  -noise             After each adev, oadev, mdev, hdev and ohdev table, fit\n"
            "                     the noise coefficients Q, N, B, K, R with uncertainties\n"
            "                     (and, for clock data, h(2) ... h(-2)); dashed on -plot\n");
  say("%s", "  -units <u>         The data's unit for -noise: a rate (deg/s, rad/h), an\n"
            "                     acceleration (m/s^2, g) or any word; tau is in seconds\n");
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

bool is(const char* arg, const char* word) { return std::strcmp(arg, word) == 0; }

bool takes_value(const char* arg) {
  return is(arg, "-time") || is(arg, "-data") || is(arg, "-tmult") || is(arg, "-numtaus") ||
         is(arg, "-n") || is(arg, "-mintau") || is(arg, "-maxtau") || is(arg, "-jitter") ||
         is_input_option(arg) || stats_option_takes_value(arg);
}

bool is_flag(const char* arg) {
  return is(arg, "-logtau") || is(arg, "-nooverlap") || is(arg, "-plot") || is(arg, "-fast") ||
         is(arg, "-phase") || is(arg, "-biascorr") || is(arg, "-noise");
}

// Every data file that the walk will meet, known before the first runs, so
// that no run writes over a data file named after it.
ProtectedFiles data_files(int argc, char** argv) {
  ProtectedFiles files;
  for (int i = 1; i < argc; ++i) {
    if (takes_value(argv[i])) {
      ++i;
    } else if (!is_flag(argv[i])) {
      protect_file(files, argv[i]);
    }
  }
  return files;
}

int run(int argc, char** argv, FileRun run_one, StatsFileRun run_stats_one) {
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
  ProtectedFiles protected_files = data_files(argc, argv);

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (takes_value(arg) && i + 1 >= argc) {
      report(std::string("option ") + arg + " needs a value");
      return kBadCommand;
    }
    if (const StatsOption o =
            apply_stats_option(arg, takes_value(arg) ? argv[i + 1] : nullptr, stats);
        o.taken) {
      if (!o.error.empty()) {
        report(o.error);
        return kBadCommand;
      }
      if (takes_value(arg)) ++i;
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
    } else if (const InputOption in = apply_input_option(arg, argv[i + 1], settings); in.taken) {
      ++i;
      if (!in.echo.empty()) say("%s\n", in.echo.c_str());
      if (!in.error.empty()) {
        report(in.error);
        return in.status;
      }
    } else {
      if (!data_column_given) data_column = time_column + 1;
      RunSettings file_settings = settings;
      file_settings.time_column = clamp_column(time_column - 1);
      file_settings.data_column = clamp_column(data_column - 1);
      const int file_status = stats.statistics.empty()
                                  ? run_one(arg, file_settings, protected_files)
                                  : run_stats_one(arg, file_settings, stats, protected_files);
      if (file_status > status) status = file_status;
    }
  }
  return status;
}

// Console output that could not be written is a failure, except when the
// reader went away on purpose (EPIPE).
int finish_console(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0) note_console_error(errno != 0 ? errno : EIO);
  const int error = console_error();
  if (error != 0 && error != EPIPE) {
    std::fprintf(stderr, "tauspan: cannot write to standard output: %s\n", std::strerror(error));
    if (status == 0) status = kFailed;
  }
  return status;
}

}  // namespace
}  // namespace tauspan

#ifdef TAUSPAN_NO_MAIN
// The option-walk fuzzer links this file without main and without the
// process set-up, and gives each data file a run of its own.
int tauspan_command_line(int argc, char** argv, tauspan::FileRun run_one,
                         tauspan::StatsFileRun run_stats_one) {
  return tauspan::finish_console(tauspan::run(argc, argv, run_one, run_stats_one));
}
#else
int main(int argc, char** argv) {
  if (tauspan::open_standard_streams()) tauspan::note_console_error(EBADF);
  // A line at a time, so that a log shows how far a run got even when the
  // run is killed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  tauspan::install_signal_handlers();
  int status;
  try {
    status = tauspan::run(argc, argv, [](const std::string& path,
                                         const tauspan::RunSettings& settings,
                                         tauspan::ProtectedFiles& protected_files) {
      return tauspan::run_file(path, settings, protected_files);
    }, [](const std::string& path, const tauspan::RunSettings& settings,
          const tauspan::StatsSettings& stats, tauspan::ProtectedFiles& protected_files) {
      return tauspan::run_stats_file(path, settings, stats, protected_files);
    });
  } catch (const std::exception& e) {  // the walk itself; a file's run catches its own
    tauspan::report(std::string("cannot go on: ") + e.what());
    status = tauspan::kFailed;
  }
  return tauspan::finish_console(status);
}
#endif
