// What every run says once the data file is read: how many samples it gave
// and, when they are too few to analyse, why nothing follows.
#ifndef TAUSPAN_SAMPLE_COUNT_H_
#define TAUSPAN_SAMPLE_COUNT_H_

#include <string>

#include "sample.h"
#include "series_reader.h"

namespace tauspan {

// Says " found N datapoints" after "Reading data...". With fewer than
// kMinPoints samples it also says so on stdout, reports the separator hint
// and any read error on stderr, and returns the run's exit status (kFailed
// for a read error, else 0). With enough samples it reports the hint, if
// there is one, and returns -1: the run goes on.
int check_sample_count(const std::string& path, const SeriesRead& read,
                       const RunSettings& settings);

}  // namespace tauspan

#endif  // TAUSPAN_SAMPLE_COUNT_H_
