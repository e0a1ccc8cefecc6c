// The settings of a run of the standard statistics (-stat and the options
// that go with it), how their option values read, and the averaging factors
// they ask for.
#ifndef TAUSPAN_STATS_SETTINGS_H_
#define TAUSPAN_STATS_SETTINGS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "deviations.h"
#include "grid.h"

namespace tauspan {

// Which averaging factors m a statistic is computed for.
enum class TauSet {
  kOctave,  // 1, 2, 4, 8, ... up to the statistic's default largest factor
  kDecade,  // 1, 2, 4, 10, 20, 40, 100, ... likewise
  kAll,     // every m with at least one term
  kList,    // the taus of a list, each rounded to the nearest whole m
};

// A data file is analysed with the statistics when `statistics` is not empty.
struct StatsSettings {
  std::vector<Statistic> statistics;
  DataKind kind = DataKind::kFrequency;
  double nominal = 0;  // f0 of -nominal; 0 when not given
  double tau0 = 0;     // 0: the median step between sample times
  TauSet tau_set = TauSet::kOctave;
  std::vector<double> taus;  // in time units, for TauSet::kList
  double confidence = 0.683;
  // -biascorr: remove the published noise bias from mtotdev, ttotdev and
  // htotdev as well (totdev's is removed always).
  bool bias_correction = false;
  // -noise: the noise coefficients after each adev, oadev, mdev, hdev and
  // ohdev table; -units: the data's unit they are written in ("" for none).
  bool noise = false;
  std::string units;
};

// The names of -stat's value, separated by commas. A name given twice counts
// once, at its first place. `unknown` holds the first name that is none
// (an empty one included) and `statistics` is then empty.
struct StatisticsParse {
  std::vector<Statistic> statistics;
  std::string unknown;
};
StatisticsParse parse_statistics(std::string_view text);

// Every statistic's name, in the order of the help text: "adev, oadev, ...".
std::string statistic_names();

// -taus's value: "octave", "decade", "all", or positive finite numbers
// separated by commas. Anything else leaves `valid` false.
struct TauSetParse {
  bool valid = false;
  TauSet tau_set = TauSet::kOctave;
  std::vector<double> taus;
};
TauSetParse parse_tau_set(std::string_view text);

// Applies one option word of a -stat run, with its value (nullptr for
// -phase, -biascorr and -noise, which take none). `taken` is false for any other word. `echo` is
// the line (without its end) that says what was set; `error` says why the
// value cannot be taken, and then nothing is set: an unknown statistic,
// -nominal with -phase, a -tau0 or -nominal that is not positive, a -conf
// outside (0, 1), a -taus that is no set, an empty -units.
struct StatsOption {
  bool taken = false;
  std::string echo;
  std::string error;
};
StatsOption apply_stats_option(std::string_view word, const char* value, StatsSettings& settings);

// Whether `word` is one of those options and takes a value.
bool stats_option_takes_value(std::string_view word);

// The averaging factors of statistic `s` on `grid`, ascending, each at
// least 1. Octave and decade stop at default_max_factor; all and a list at
// max_factor. A list's taus are rounded to the nearest whole multiple of the
// grid's tau0; those that round to 0 are dropped, and so are repeats.
// Thêo1 takes even factors only: the ladders from 2, a list's tau read as
// 0.75 m tau0 and rounded to the nearest even m.
std::vector<int64_t> averaging_factors(const StatsSettings& settings, Statistic s,
                                       const Grid& grid);

}  // namespace tauspan

#endif  // TAUSPAN_STATS_SETTINGS_H_
