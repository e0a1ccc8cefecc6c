// The reader on arbitrary bytes, with varied columns and multipliers: it
// must accept exactly the samples that the literal reader accepts.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "reference.h"
#include "series_reader.h"

namespace {

const std::string& scratch_file() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/tauspan-fuzz-XXXXXX";
    const int fd = ::mkstemp(tmpl);
    if (fd < 0) std::abort();
    ::close(fd);
    return std::string(tmpl);
  }();
  return path;
}

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tauspan::fuzz::FuzzInput in{data, size};
  static const double kMultipliers[] = {1.0, 0.001, 0.0, -2.5, 1e300};
  tauspan::RunSettings s;
  const uint8_t choice = in.byte();
  s.time_column = (choice & 7) - 2;
  s.data_column = ((choice >> 3) & 7) - 2;
  s.time_multiplier = kMultipliers[in.byte() % 5];
  const std::string_view text = in.rest();

  FILE* f = std::fopen(scratch_file().c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);

  const tauspan::SeriesRead got = tauspan::read_series(scratch_file(), s);
  if (!got.error.empty()) std::abort();
  const tauspan::SampleSeries want = tauspan::reference::read_series_text(std::string(text), s);
  if (got.samples.size() != want.size()) std::abort();
  for (size_t i = 0; i < want.size(); ++i) {
    if (!same(got.samples[i].time, want[i].time) || !same(got.samples[i].value, want[i].value)) {
      std::abort();
    }
  }
  return 0;
}
