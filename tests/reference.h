// Literal implementations of the reader and the bin averaging, kept as the
// yardstick for the fast ones: a double-ended queue for the window, a fresh
// pass per mean, getline + strtok + atof per line (dates and MJDs through
// time_field: here the splitting is what is checked).
#ifndef TAUSPAN_TESTS_REFERENCE_H_
#define TAUSPAN_TESTS_REFERENCE_H_

#include <string>

#include "sample.h"

namespace tauspan::reference {

SampleSeries read_series(const std::string& path, const RunSettings& settings);
SampleSeries read_series_text(const std::string& text, const RunSettings& settings);
SampleSeries average_bins(const SampleSeries& series, double tau, bool overlap);

}  // namespace tauspan::reference

#endif  // TAUSPAN_TESTS_REFERENCE_H_
