// The data file reader: tab-separated lines in, accepted samples out.
#ifndef TAUSPAN_SERIES_READER_H_
#define TAUSPAN_SERIES_READER_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "field_number.h"
#include "sample.h"
#include "separator_hint.h"

namespace tauspan {

struct SeriesRead {
  SampleSeries samples;  // file order; empty whenever `error` is set
  std::string error;     // "cannot open 'x': <cause>" or "cannot read ...", else empty
  SeparatorLook look;    // what the first lines that fit the buffer suggest
};

// Reads every line of the file at `path` ("-": standard input) and keeps
// those that give both a time and a value (uses time_column, data_column,
// time_multiplier, separators and time_format).
// Lines whose first byte is '#' are skipped and not counted as rows; every
// other line, blank or rejected, counts. A NUL byte ends a line's content; a
// carriage return just before a newline belongs to the line end. Lines may be
// of any length: one that does not fit the read buffer is taken in pieces,
// keeping only what its needed fields still need. A file that cannot be
// opened or read gives no samples and the cause in `error`.
// A regular file is read on settings.threads threads (0: one per core), in
// stretches split at lines, with the same samples, rows and look as on one.
// `progress`, if given, is called after each chunk with the bytes read so
// far and the file's size (0 when it has none, as a pipe); with several
// threads, on any of them, but never on two at once.
using ReadProgress = void (*)(void* context, uint64_t bytes_read, uint64_t file_size);
SeriesRead read_series(const std::string& path, const RunSettings& settings,
                       ReadProgress progress = nullptr, void* context = nullptr);

// How read_series_fd and read_series_text take their bytes.
struct ReadOptions {
  // Bytes asked for by each read, and all that each thread holds of the
  // data at once besides the samples. At least 2; smaller sizes count as 2.
  size_t buffer_size = size_t{1} << 20;
  // With more than one thread (RunSettings::threads), a regular file or text
  // longer than this is split at lines into stretches of about this many
  // bytes, each read on whichever thread is free; the samples are the same.
  size_t chunk_size = size_t{8} << 20;
  ReadProgress progress = nullptr;
  void* context = nullptr;
};

// read_series on a descriptor open for reading, from where it stands to its
// end; errors name it `name`. The descriptor is left open.
SeriesRead read_series_fd(int fd, const std::string& name, const RunSettings& settings,
                          const ReadOptions& options = {});

// read_series on bytes in memory, taken in the same reads as a file of that
// size, with the same samples.
SeriesRead read_series_text(std::string_view text, const RunSettings& settings,
                            const ReadOptions& options = {});

// The sample of one line (without its line end), or none: time and value are
// left at kMissing when not found, and the line counts as accepted only when
// both are above kMissing. A NaN fails that test.
struct LineResult {
  bool accepted = false;
  Sample sample;
};
LineResult parse_line(std::string_view line, uint64_t row_index,
                      const RunSettings& settings);

}  // namespace tauspan

#endif  // TAUSPAN_SERIES_READER_H_
