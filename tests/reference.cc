#include "reference.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <vector>

#include "time_format.h"

namespace tauspan::reference {
namespace {

Sample mean(const std::deque<Sample>& window) {
  double sum_time = 0;
  double sum_value = 0;
  int count = 0;
  for (const Sample& s : window) {
    if (s.value == kMissing || s.time == kMissing) continue;
    sum_time += s.time;
    sum_value += s.value;
    ++count;
  }
  if (count > 0) return {sum_time / count, sum_value / count};
  return {kMissing, kMissing};
}

SampleSeries read_stream(std::istream& in, const RunSettings& settings) {
  SampleSeries samples;
  uint64_t row_index = 0;
  std::string line;
  while (std::getline(in, line)) {
    // A carriage return belongs to the line end only before a newline.
    if (!in.eof() && !line.empty() && line.back() == '\r') line.pop_back();
    if (line[0] == '#') continue;  // line[0] is the terminator of an empty line
    double time = kMissing;
    double value = kMissing;
    std::vector<char> buf(line.c_str(), line.c_str() + line.size() + 1);
    int index = 0;
    const char* const separators = settings.separators.c_str();
    for (char* f = std::strtok(buf.data(), separators); f;
         f = std::strtok(nullptr, separators), ++index) {
      if (static_cast<signed char>(f[0]) > '9') continue;
      if (index == settings.time_column) {
        if (settings.time_format == TimeFormat::kNumber) {
          time = settings.time_multiplier * std::atof(f);
        } else if (const auto t = time_field(f, settings.time_format)) {
          time = settings.time_multiplier * *t;
        }
      }
      if (index == settings.data_column) value = std::atof(f);
    }
    if (settings.time_column < 0) time = static_cast<double>(row_index) * settings.time_multiplier;
    if (settings.data_column < 0) value = static_cast<double>(row_index);
    if (value > kMissing && time > kMissing) samples.push_back({time, value});
    ++row_index;
  }
  return samples;
}

}  // namespace

SampleSeries read_series(const std::string& path, const RunSettings& settings) {
  std::ifstream in(path);
  return read_stream(in, settings);
}

SampleSeries read_series_text(const std::string& text, const RunSettings& settings) {
  std::istringstream in(text);
  return read_stream(in, settings);
}

SampleSeries average_bins(const SampleSeries& series, double tau, bool overlap) {
  std::deque<Sample> window;
  SampleSeries bins;
  for (const Sample& s : series) {
    if (window.empty()) {
      window.push_back(s);
    } else if (tau > s.time - window.front().time) {
      window.push_back(s);
    } else {
      bins.push_back(mean(window));
      window.pop_front();
      if (!overlap) window.clear();
      window.push_back(s);
    }
  }
  if (!window.empty() && window.back().time - window.front().time > 0.9 * tau) {
    bins.push_back(mean(window));
  }
  return bins;
}

}  // namespace tauspan::reference
