// The option values of the standard statistics and the averaging factors
// they ask for.
#include "stats_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tauspan {
namespace {

constexpr Statistic kStatistics[] = {
    Statistic::kAdev,    Statistic::kOadev,   Statistic::kMdev,    Statistic::kTdev,
    Statistic::kHdev,    Statistic::kOhdev,   Statistic::kTotdev,  Statistic::kMtotdev,
    Statistic::kTtotdev, Statistic::kHtotdev, Statistic::kTheo1,   Statistic::kMtie,
    Statistic::kTierms};

// The comma-separated parts of `text`; "" gives one empty part.
std::vector<std::string_view> split_commas(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

// A whole part as a positive finite number, or 0 when it is none.
double positive_number(std::string_view part) {
  const std::string text(part);
  if (text.empty()) return 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v) || v <= 0) return 0;
  return v;
}

// A value as %.15g writes it: the number as given, for an echo.
std::string shortest(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15g", x);
  return buf;
}

// The powers of two, or 1, 2, 4 times the powers of ten, up to `largest`.
std::vector<int64_t> ladder(TauSet set, int64_t largest) {
  std::vector<int64_t> ms;
  if (set == TauSet::kOctave) {
    for (int64_t m = 1; m <= largest; m *= 2) {
      ms.push_back(m);
      if (m > largest / 2) break;
    }
    return ms;
  }
  for (int64_t decade = 1; decade <= largest; decade *= 10) {
    for (const int64_t step : {1, 2, 4}) {
      if (step * decade <= largest) ms.push_back(step * decade);
    }
    if (decade > largest / 10) break;
  }
  return ms;
}

}  // namespace

StatisticsParse parse_statistics(std::string_view text) {
  StatisticsParse parse;
  for (const std::string_view name : split_commas(text)) {
    Statistic s;
    if (!parse_statistic(name, s)) {
      parse.statistics.clear();
      parse.unknown = std::string(name);
      return parse;
    }
    if (std::find(parse.statistics.begin(), parse.statistics.end(), s) ==
        parse.statistics.end()) {
      parse.statistics.push_back(s);
    }
  }
  return parse;
}

std::string statistic_names() {
  std::string names;
  for (const Statistic s : kStatistics) {
    if (!names.empty()) names += ", ";
    names += statistic_name(s);
  }
  return names;
}

TauSetParse parse_tau_set(std::string_view text) {
  TauSetParse parse;
  parse.valid = true;
  if (text == "octave") return parse;
  if (text == "decade") {
    parse.tau_set = TauSet::kDecade;
    return parse;
  }
  if (text == "all") {
    parse.tau_set = TauSet::kAll;
    return parse;
  }
  parse.tau_set = TauSet::kList;
  for (const std::string_view part : split_commas(text)) {
    const double tau = positive_number(part);
    if (tau == 0) return TauSetParse{};
    parse.taus.push_back(tau);
  }
  return parse;
}

bool stats_option_takes_value(std::string_view word) {
  return word == "-stat" || word == "-nominal" || word == "-tau0" || word == "-taus" ||
         word == "-conf" || word == "-units";
}

StatsOption apply_stats_option(std::string_view word, const char* value, StatsSettings& settings) {
  StatsOption o;
  o.taken = true;
  const std::string text = value != nullptr ? value : "";
  // As for the sweep's options, text that is no number reads as 0.
  const double number = std::strtod(text.c_str(), nullptr);
  if (word == "-stat") {
    const StatisticsParse parse = parse_statistics(text);
    if (parse.statistics.empty()) {
      o.error = "unknown statistic '" + parse.unknown + "' for -stat (valid: " +
                statistic_names() + ")";
      return o;
    }
    settings.statistics = parse.statistics;
    o.echo = "Computing";
    for (size_t i = 0; i < parse.statistics.size(); ++i) {
      o.echo += i == 0 ? " " : ", ";
      o.echo += statistic_name(parse.statistics[i]);
    }
    o.echo += " instead of the Allan variance sweep.";
  } else if (word == "-phase") {
    if (settings.nominal != 0) {
      o.error = "-phase does not go with -nominal: phase data has no nominal frequency";
      return o;
    }
    settings.kind = DataKind::kPhase;
    o.echo = "Reading the data as phase (time error, s).";
  } else if (word == "-biascorr") {
    settings.bias_correction = true;
    o.echo = "Removing the published noise bias from mtotdev, ttotdev and htotdev too.";
  } else if (word == "-noise") {
    settings.noise = true;
    o.echo = "Fitting noise coefficients after each adev, oadev, mdev, hdev and ohdev table.";
  } else if (word == "-units") {
    if (text.empty()) {
      o.error = "-units needs the data's unit, such as deg/s, m/s^2 or g";
      return o;
    }
    settings.units = text;
    o.echo = "Writing noise coefficients for data in " + text + ".";
  } else if (word == "-nominal") {
    if (settings.kind == DataKind::kPhase) {
      o.error = "-nominal does not go with -phase: phase data has no nominal frequency";
    } else if (!(number > 0) || !std::isfinite(number)) {
      o.error = "-nominal needs a positive frequency, not '" + text + "'";
    } else {
      settings.nominal = number;
      o.echo = "Reading the data as frequency around ";
      o.echo += shortest(number) + ".";
    }
  } else if (word == "-tau0") {
    if (!(number > 0) || !std::isfinite(number)) {
      o.error = "-tau0 needs a positive sampling interval, not '" + text + "'";
    } else {
      settings.tau0 = number;
      o.echo = "Using ";
      o.echo += shortest(number) + " as the sampling interval tau0.";
    }
  } else if (word == "-taus") {
    const TauSetParse parse = parse_tau_set(text);
    if (!parse.valid) {
      o.error = "-taus takes octave, decade, all or a comma-separated list of positive taus, "
                "not '" + text + "'";
      return o;
    }
    settings.tau_set = parse.tau_set;
    settings.taus = parse.taus;
    switch (parse.tau_set) {
      case TauSet::kOctave:
        o.echo = "Using octave taus (1, 2, 4, 8, ... tau0).";
        break;
      case TauSet::kDecade:
        o.echo = "Using decade taus (1, 2, 4, 10, 20, 40, ... tau0).";
        break;
      case TauSet::kAll:
        o.echo = "Using every tau (1, 2, 3, ... tau0).";
        break;
      case TauSet::kList:
        o.echo = "Using the taus";
        for (size_t i = 0; i < parse.taus.size(); ++i) {
          o.echo += i == 0 ? " " : ", ";
          o.echo += shortest(parse.taus[i]);
        }
        o.echo += ", rounded to whole multiples of tau0.";
        break;
    }
  } else if (word == "-conf") {
    if (!(number > 0 && number < 1)) {
      o.error = "-conf needs a confidence between 0 and 1, not '" + text + "'";
    } else {
      settings.confidence = number;
      o.echo = "Using confidence ";
      o.echo += shortest(number) + " for the error bars.";
    }
  } else {
    o.taken = false;
  }
  return o;
}

namespace {

// Thêo1's factors: even m only. The ladders start at 2 (octave 2, 4, 8, ...;
// decade 2, 4, 10, 20, 40, ...), a list's tau is 0.75 m tau0 rounded to the
// nearest even m.
std::vector<int64_t> even_factors(const StatsSettings& settings, const Grid& grid) {
  const int64_t largest = max_factor(Statistic::kTheo1, grid);
  std::vector<int64_t> ms;
  switch (settings.tau_set) {
    case TauSet::kOctave:
    case TauSet::kDecade:
      for (const int64_t m : ladder(settings.tau_set, largest)) {
        if (m >= 2) ms.push_back(m);
      }
      return ms;
    case TauSet::kAll:
      for (int64_t m = 2; m <= largest; m += 2) ms.push_back(m);
      return ms;
    case TauSet::kList:
      break;
  }
  for (const double tau : settings.taus) {
    const double m = 2 * std::round(tau / (1.5 * grid.tau0));
    if (m >= 2 && m <= static_cast<double>(largest)) ms.push_back(static_cast<int64_t>(m));
  }
  std::sort(ms.begin(), ms.end());
  ms.erase(std::unique(ms.begin(), ms.end()), ms.end());
  return ms;
}

}  // namespace

std::vector<int64_t> averaging_factors(const StatsSettings& settings, Statistic s,
                                       const Grid& grid) {
  if (s == Statistic::kTheo1) return even_factors(settings, grid);
  switch (settings.tau_set) {
    case TauSet::kOctave:
    case TauSet::kDecade:
      return ladder(settings.tau_set, default_max_factor(s, grid));
    case TauSet::kAll: {
      std::vector<int64_t> ms;
      const int64_t largest = max_factor(s, grid);
      for (int64_t m = 1; m <= largest; ++m) ms.push_back(m);
      return ms;
    }
    case TauSet::kList:
      break;
  }
  const int64_t largest = max_factor(s, grid);
  std::vector<int64_t> ms;
  for (const double tau : settings.taus) {
    const double m = std::round(tau / grid.tau0);
    // Compared as doubles first: a tau far beyond the record has no integer m.
    if (m >= 1 && m <= static_cast<double>(largest)) ms.push_back(static_cast<int64_t>(m));
  }
  std::sort(ms.begin(), ms.end());
  ms.erase(std::unique(ms.begin(), ms.end()), ms.end());
  return ms;
}

}  // namespace tauspan
