// The result file and console text of the standard statistics.
#include "stats_file.h"

#include <cmath>
#include <cstdio>

#include "intervals.h"
#include "result_file.h"

namespace tauspan {
namespace {

// A number as %.15g writes it, but "nan" whatever the NaN's sign.
std::string file_number(double x) { return std::isnan(x) ? "nan" : format_number(x); }

std::string console_number(double x) {
  if (std::isnan(x)) return "nan";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", x);
  return buf;
}

std::string alpha_text(int alpha) { return alpha == kNoAlpha ? "nan" : std::to_string(alpha); }

}  // namespace

std::string_view statistic_title(Statistic s) {
  switch (s) {
    case Statistic::kAdev:
      return "Allan deviation";
    case Statistic::kOadev:
      return "Overlapping Allan deviation";
    case Statistic::kMdev:
      return "Modified Allan deviation";
    case Statistic::kTdev:
      return "Time deviation";
    case Statistic::kHdev:
      return "Hadamard deviation";
    case Statistic::kOhdev:
      return "Overlapping Hadamard deviation";
  }
  return "Deviation";
}

std::string grid_summary(const Grid& grid) {
  std::string s;
  if (grid.kind == DataKind::kPhase) {
    s = "Phase data";
  } else if (grid.nominal != 0) {
    s = "Frequency data, nominal " + format_number(grid.nominal);
  } else {
    s = "Fractional frequency data";
  }
  return s + ", tau0 " + format_number(grid.tau0) + ", " + std::to_string(grid.samples) +
         (grid.samples == 1 ? " sample, " : " samples, ") + std::to_string(grid.gaps) +
         (grid.gaps == 1 ? " gap" : " gaps");
}

std::string stats_header(Statistic s, const std::string& data_path, const Grid& grid,
                         double confidence) {
  std::string h = "#";
  h += statistic_title(s);
  h += " (";
  h += statistic_name(s);
  h += ") of " + printable_path(data_path) + "\n";
  h += '#';
  h += grid_summary(grid);
  h += '\n';
  h += "#Confidence " + format_number(confidence) + ", double-sided chi-squared intervals\n";
  h += "#";
  h += kStatsColumns;
  h += "\n";
  return h;
}

std::string stats_file_row(const StatsRow& row) {
  return std::to_string(row.m) + "\t" + file_number(row.tau) + "\t" + std::to_string(row.n) +
         "\t" + alpha_text(row.alpha) + "\t" + file_number(row.min_dev) + "\t" +
         file_number(row.dev) + "\t" + file_number(row.max_dev) + "\n";
}

std::string stats_console_row(const StatsRow& row) {
  return std::to_string(row.m) + "\t" + console_number(row.tau) + "\t" + std::to_string(row.n) +
         "\t" + alpha_text(row.alpha) + "\t" + console_number(row.min_dev) + "\t" +
         console_number(row.dev) + "\t" + console_number(row.max_dev) + "\n";
}

}  // namespace tauspan
