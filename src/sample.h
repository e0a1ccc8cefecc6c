// Shared records: one sample, a series of samples, and the settings of a run.
#ifndef TAUSPAN_SAMPLE_H_
#define TAUSPAN_SAMPLE_H_

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tauspan {

// Stands for a number that was not found. The reader never accepts it, and a
// window mean over nothing but missing samples returns it.
inline constexpr double kMissing = std::numeric_limits<double>::lowest();

// Fewest accepted samples for which a run computes anything.
inline constexpr int kMinPoints = 4;

// One data point; `time` is already multiplied by the time multiplier.
struct Sample {
  double time = kMissing;
  double value = kMissing;
};

// Samples in file order, bin means in the order they were closed. Contiguous,
// so a window is a run of indices rather than a copy.
using SampleSeries = std::vector<Sample>;

// How the time column is written: a plain number (read as atof reads it),
// an ISO 8601 date and time, or a modified Julian date in days.
enum class TimeFormat : uint8_t { kNumber, kIso, kMjd };

// The settings of one run. Columns are 0-based field indices; a negative
// column stands for the row number. A tau of 0 is derived from the series.
struct RunSettings {
  int32_t time_column = 0;
  int32_t data_column = 1;
  double time_multiplier = 1.0;
  int32_t tau_count = 100;
  double min_tau = 0;
  double max_tau = 0;
  bool log_spacing = false;
  bool overlap = true;
  double jitter = 0;
  bool running_sums = false;  // bin means from running sums (-fast)
  int32_t threads = 0;  // worker threads (-threads); 0: one per core
  bool plot = false;          // also write an SVG picture (-plot)
  std::string separators = "\t";  // the bytes that separate fields (-sep)
  TimeFormat time_format = TimeFormat::kNumber;  // -timefmt
  std::string output_dir;  // where results go (-outdir); empty: beside the data file
};

}  // namespace tauspan

#endif  // TAUSPAN_SAMPLE_H_
