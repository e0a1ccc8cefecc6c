// The reader on arbitrary bytes, with varied columns, multipliers,
// separators, forms of time and read buffers: it must accept exactly the
// samples that the literal reader accepts. Buffers of a few bytes make most lines long, so the pieces in
// which long lines and long numbers are taken get fuzzed as much as the
// lines that fit. The same bytes read on several threads, split into
// stretches of a few bytes, must give the same samples and separator look.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "reference.h"
#include "series_reader.h"

namespace {

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tauspan::fuzz::FuzzInput in{data, size};
  static const double kMultipliers[] = {1.0, 0.001, 0.0, -2.5, 1e300};
  static const size_t kBuffers[] = {2, 3, 4, 7, 16, 61, 256, 4096};
  tauspan::RunSettings s;
  const uint8_t choice = in.byte();
  s.time_column = (choice & 7) - 2;
  s.data_column = ((choice >> 3) & 7) - 2;
  s.time_multiplier = kMultipliers[in.byte() % 5];
  static const char* const kSeparators[] = {"\t", "\t", ",", ";", " \t", ", ", "|:\t"};
  static const tauspan::TimeFormat kForms[] = {
      tauspan::TimeFormat::kNumber, tauspan::TimeFormat::kNumber, tauspan::TimeFormat::kIso,
      tauspan::TimeFormat::kMjd};
  const uint8_t form = in.byte();
  s.separators = std::string(kSeparators[form % 7]);
  s.time_format = kForms[(form >> 3) % 4];
  tauspan::ReadOptions options;
  options.buffer_size = kBuffers[in.byte() % 8];
  const std::string_view text = in.rest();

  const tauspan::SeriesRead got = tauspan::read_series_text(text, s, options);
  if (!got.error.empty()) std::abort();
  const tauspan::SampleSeries want = tauspan::reference::read_series_text(std::string(text), s);
  if (got.samples.size() != want.size()) std::abort();
  for (size_t i = 0; i < want.size(); ++i) {
    if (!same(got.samples[i].time, want[i].time) || !same(got.samples[i].value, want[i].value)) {
      std::abort();
    }
  }
  static const size_t kChunks[] = {1, 3, 17, 64};
  s.threads = 3;
  options.chunk_size = kChunks[(form >> 5) % 4];
  const tauspan::SeriesRead split = tauspan::read_series_text(text, s, options);
  if (!split.error.empty() || split.samples.size() != got.samples.size() ||
      std::memcmp(&split.look, &got.look, sizeof got.look) != 0) {
    std::abort();
  }
  for (size_t i = 0; i < got.samples.size(); ++i) {
    if (!same(split.samples[i].time, got.samples[i].time) ||
        !same(split.samples[i].value, got.samples[i].value)) {
      std::abort();
    }
  }
  return 0;
}
