// One stretch of a data file's lines, read as the reader reads a whole file:
// what the series reader and the parallel read share.
#ifndef TAUSPAN_CHUNK_READ_H_
#define TAUSPAN_CHUNK_READ_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "sample.h"
#include "sample_blocks.h"
#include "separator_hint.h"
#include "series_reader.h"

namespace tauspan {

// Where the bytes come from: `text` when `fd` is negative; else the
// descriptor, with pread at the chunk's offsets when `positioned`, or else
// read from where it stands (a pipe).
struct ByteSource {
  int fd = -1;
  bool positioned = false;
  std::string_view text;
};

// A stretch of whole lines [begin, end) of the source (end is ignored for a
// source that is not positioned: it is read to its end). `first_row` is the
// row index of its first line; `look` offers its lines to the separator look
// as a read from the start of the file does.
struct Chunk {
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t first_row = 0;
  bool look = true;
};

struct ChunkRead {
  SampleBlocks samples;
  SeparatorLook look;
  std::string error;  // "cannot read '<name>': <cause>", else empty
};

// Reads the chunk's lines. `file_size` is only passed on to the progress
// callback, with the bytes of this chunk read so far.
ChunkRead read_chunk(const ByteSource& source, const Chunk& chunk, uint64_t file_size,
                     const std::string& name, const RunSettings& settings,
                     const ReadOptions& options);

// A line is offered to the separator look when it is no comment and its
// content fits the read buffer (shorter than this many bytes).
inline size_t read_buffer_size(const ReadOptions& options) {
  return options.buffer_size < 2 ? 2 : options.buffer_size;
}

}  // namespace tauspan

#endif  // TAUSPAN_CHUNK_READ_H_
