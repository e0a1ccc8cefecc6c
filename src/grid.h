// Samples placed on a regular grid of slots tau0 apart, with gaps, for the
// standard statistics.
#ifndef TAUSPAN_GRID_H_
#define TAUSPAN_GRID_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sample.h"

namespace tauspan {

enum class DataKind { kFrequency, kPhase };

// How samples become a grid.
struct GridSettings {
  DataKind kind = DataKind::kFrequency;
  double tau0 = 0;     // the slot width; 0 takes it from the times (see make_grid)
  double nominal = 0;  // f0 of -nominal, 0 when not given (frequency data only)
};

// One slot per multiple of tau0 from the first sample's time to the last's.
// For frequency data with a nominal f0, `values` holds v - f0 (exact when v
// lies within a factor 2 of f0) and every deviation is divided by `nominal`
// at the end, so nothing is lost to the division. Phase values are in
// seconds.
struct Grid {
  DataKind kind = DataKind::kFrequency;
  double tau0 = 1;
  double nominal = 0;
  // One per slot; 0 where a gap. Empty once prepare_grid_taking_values has
  // made a frequency grid's values into its phase.
  std::vector<double> values;
  std::vector<uint8_t> present;  // one per slot: 1 where it holds a sample, 0 for a gap
  int64_t samples = 0;           // slots that hold a sample
  int64_t gaps = 0;              // slots that do not
};

// The slots of a grid, whether or not it still holds its values.
inline size_t slot_count(const Grid& grid) { return grid.present.size(); }

struct GridBuild {
  Grid grid;
  std::string error;  // two samples in one slot, a sample before the first, ...; else empty
};

// A grid holds at most kMaxSlotsPerSample slots per sample plus
// kSlotAllowance: beyond that it would be mostly gaps, and the cause is
// nearly always a stray time or a wrong tau0, which should not cost memory.
inline constexpr double kMaxSlotsPerSample = 8;
inline constexpr double kSlotAllowance = 0x1p22;

// Places each sample in slot round((t - t_first) / tau0), t_first the first
// sample's time in file order. Without a tau0 in the settings it is the
// median step between consecutive times, refined over the record so that
// jittered timestamps keep their slots (exactly periodic times keep their
// period). Two samples in one slot, a sample before the first one's time, a
// time too far for the slot limit above, a value that is not finite (an
// infinity read from "1e999") or not finite once f0 is taken off, no
// samples, and no tau0 (one sample, or a median step that is not positive)
// give an error naming the times or values, and an empty grid. The nominal
// is ignored for phase data.
GridBuild make_grid(const SampleSeries& series, const GridSettings& settings);
// The same grid, taking the series: its memory goes back to the system as
// the samples are placed (about as much as the grid takes is held at once,
// not both), and it is left empty.
GridBuild make_grid(SampleSeries&& series, const GridSettings& settings);

}  // namespace tauspan

#endif  // TAUSPAN_GRID_H_
