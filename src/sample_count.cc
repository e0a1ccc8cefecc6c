// The sample count and the too-short-file messages, shared by every run.
#include "sample_count.h"

#include <climits>

#include "console.h"
#include "separator_hint.h"

namespace tauspan {

int check_sample_count(const std::string& path, const SeriesRead& read,
                       const RunSettings& settings) {
  const size_t size = read.samples.size();
  const auto count = static_cast<int>(size > INT_MAX ? INT_MAX : size);
  say(" found %i datapoints\n", count);
  // The hint speaks of what a readable file held; a read error speaks for itself.
  const std::string hint =
      read.error.empty() ? separator_hint(path, read.look, size, settings) : "";
  if (size < static_cast<size_t>(kMinPoints)) {
    say("Insufficient valid datapoints to calculate Allan variance for %s\n", path.c_str());
    say("Only found %i, need at least %i\n", count, kMinPoints);
    if (!hint.empty()) report(hint);
    if (!read.error.empty()) {
      report(read.error);
      return kFailed;
    }
    return 0;
  }
  if (!hint.empty()) report(hint);
  return -1;
}

}  // namespace tauspan
