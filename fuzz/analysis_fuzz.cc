// The analysis on small series of any doubles (inf, NaN, denormals, huge
// magnitudes) and any tau: the fast bins equal the literal ones bit for bit.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "allan.h"
#include "fuzz_input.h"
#include "reference.h"

namespace {

// Bit for bit, except that NaNs are all alike: which operand's payload an
// addition keeps is the compiler's choice (it may swap them), so only fed
// NaNs can differ. The reader never yields one, and the NaN that inf - inf
// makes is the same default NaN in every order.
bool same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tauspan::fuzz::FuzzInput in{data, size};
  const uint8_t flags = in.byte();
  const int width = (flags & 3) == 0 ? 8 : (flags & 3) == 1 ? 16 : 32;
  tauspan::select_vector_width(width);
  const bool overlap = (flags & 4) == 0;
  const bool ramp = (flags & 8) != 0;  // times 0, 1, 2, ...: long windows
  const double tau = ramp ? in.byte() / 4.0 : in.any_double();
  const double jitter = (flags & 16) ? in.any_double() : 0.0;

  tauspan::SampleSeries series;
  while (in.size > 0 && series.size() < 4096) {
    const double t = ramp ? static_cast<double>(series.size()) : in.any_double();
    series.push_back({t, in.any_double()});
  }
  if (series.empty()) return 0;

  if (series.size() >= 3) {
    tauspan::RunSettings s;
    const tauspan::TimeExtent e = tauspan::time_extent(series, s);
    const tauspan::TauRange r = tauspan::tau_range(series, e, s);
    (void)tauspan::tau_at(1, 100, r.min_tau, r.max_tau, flags & 32);
  }

  const tauspan::SampleSeries got = tauspan::average_bins(series, tau, overlap);
  const tauspan::SampleSeries want = tauspan::reference::average_bins(series, tau, overlap);
  if (got.size() != want.size()) std::abort();
  for (size_t i = 0; i < want.size(); ++i) {
    if (!same(got[i].time, want[i].time) || !same(got[i].value, want[i].value)) std::abort();
  }
  if (!same(tauspan::allan_variance(got, tau, jitter), tauspan::allan_variance(want, tau, jitter))) {
    std::abort();
  }
  // Running sums close the same windows; their means may differ in the last
  // bit, but never in number, and not at all where the times are whole
  // numbers (the ramp).
  const tauspan::SampleSeries running = tauspan::average_bins_running(series, tau, overlap);
  if (running.size() != want.size()) std::abort();
  if (ramp) {
    for (size_t i = 0; i < want.size(); ++i) {
      if (!same(running[i].time, want[i].time)) std::abort();
    }
  }
  return 0;
}
