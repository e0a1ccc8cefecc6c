// The reader on several threads: a file split at its lines into stretches
// that are read at once and joined in order, with the samples, row numbers
// and separator look of a read from start to end.
#ifndef TAUSPAN_PARALLEL_READ_H_
#define TAUSPAN_PARALLEL_READ_H_

#include <cstdint>
#include <string>

#include "chunk_read.h"
#include "sample.h"
#include "series_reader.h"

namespace tauspan {

// The threads a read uses: settings.threads, or one per core when that is 0
// or less.
int read_threads(const RunSettings& settings);

// Reads [begin, end) of a positioned source (the end of the file or text),
// in stretches of about options.chunk_size bytes, on read_threads threads.
SeriesRead read_in_parallel(const ByteSource& source, uint64_t begin, uint64_t end,
                            const std::string& name, const RunSettings& settings,
                            const ReadOptions& options);

}  // namespace tauspan

#endif  // TAUSPAN_PARALLEL_READ_H_
