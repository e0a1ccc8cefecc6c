// The parallel read: one thread at a time finds where the next stretch ends
// (and, where row numbers are read, how many rows it holds), then reads it
// as a whole file is read, while the others read theirs. The stretches'
// samples are joined in order into a series of exactly their number.
#include "parallel_read.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tauspan {
namespace {

constexpr size_t kWindow = size_t{64} << 10;  // bytes read at once while finding an end
constexpr int kMostThreads = 256;

ssize_t read_at(const ByteSource& s, char* to, size_t size, uint64_t at) {
  if (s.fd >= 0) return ::pread(s.fd, to, size, static_cast<off_t>(at));
  std::memcpy(to, s.text.data() + at, size);
  return static_cast<ssize_t>(size);
}

struct ChunkEnd {
  uint64_t end = 0;
  uint64_t rows = 0;  // lines that are no comment, where they are counted
  bool at_eof = false;  // reads ended there, which may be short of a size that was claimed
  int error = 0;
};

// Where a stretch that begins at a line start `begin` ends: just after the
// first newline at `least_end` or beyond, and after the newline of the
// `look_lines`-th line that the separator look is offered (no comment, and
// shorter than the read buffer, as a read offers them); else at `end`. Rows
// are counted as the reader counts them only with `count_rows`.
ChunkEnd find_chunk_end(const ByteSource& source, uint64_t begin, uint64_t end,
                        uint64_t least_end, bool count_rows, uint32_t look_lines,
                        size_t buffer_size, char* window) {
  ChunkEnd found;
  const bool walk = count_rows || look_lines > 0;  // else only the next newline matters
  uint64_t pos = walk ? begin : std::clamp(least_end - 1, begin, end);
  uint64_t line_start = begin;
  bool first_pending = true;  // the first byte of the line at line_start is not seen yet
  char first = 0;
  uint32_t offered = 0;
  for (;;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kWindow, end - pos));
    const ssize_t n = want == 0 ? 0 : read_at(source, window, want, pos);
    if (n < 0) {
      if (errno == EINTR) continue;
      found.error = errno;
      return found;
    }
    if (n == 0) {
      // A last line without a newline counts as well.
      if (walk && line_start < pos && first != '#') ++found.rows;
      found.end = pos;
      found.at_eof = true;
      return found;
    }
    const auto size = static_cast<size_t>(n);
    for (size_t i = 0; i < size;) {
      if (walk && first_pending) {
        first = window[i];
        first_pending = false;
      }
      const auto* nl = static_cast<const char*>(std::memchr(window + i, '\n', size - i));
      if (!nl) break;
      const uint64_t nl_at = pos + static_cast<uint64_t>(nl - window);
      if (walk) {
        if (first != '#') {
          ++found.rows;
          if (nl_at - line_start < buffer_size && offered < look_lines) ++offered;
        }
        line_start = nl_at + 1;
        first_pending = true;
      }
      if (nl_at + 1 >= least_end && offered >= look_lines) {
        found.end = nl_at + 1;
        return found;
      }
      i = static_cast<size_t>(nl - window) + 1;
    }
    pos += size;
  }
}

// Counts the bytes that all stretches have read, and shows the sum through
// the run's callback on whichever thread finds it free.
struct ProgressShare {
  std::atomic<uint64_t> bytes{0};
  std::mutex mutex;
  ReadProgress progress = nullptr;
  void* context = nullptr;
  uint64_t size = 0;
};

struct ChunkProgress {
  ProgressShare* share;
  uint64_t reported = 0;
};

void report_chunk_progress(void* context, uint64_t bytes_read, uint64_t) {
  auto& chunk = *static_cast<ChunkProgress*>(context);
  ProgressShare& share = *chunk.share;
  share.bytes += bytes_read - chunk.reported;
  chunk.reported = bytes_read;
  std::unique_lock lock(share.mutex, std::try_to_lock);
  if (lock) share.progress(share.context, share.bytes.load(), share.size);
}

// What the threads share: the next stretch to hand out and the results.
struct Work {
  Work(const ByteSource& s, uint64_t e, const std::string& n, const RunSettings& rs,
       const ReadOptions& o)
      : source(s), end(e), name(n), settings(rs), options(o),
        count_rows(rs.time_column < 0 || rs.data_column < 0) {}

  const ByteSource& source;
  uint64_t end;  // where the input ends; only under the mutex
  const std::string& name;
  const RunSettings& settings;
  const ReadOptions& options;
  bool count_rows;
  ProgressShare progress;

  std::mutex mutex;
  uint64_t cursor = 0;  // where the next stretch begins
  uint64_t next_row = 0;
  bool stop = false;                 // an error: hand out no more
  std::deque<ChunkRead> results;     // in file order
  std::string scan_error;            // finding an end failed after all results
  std::exception_ptr failure;        // an exception, rethrown on the caller's thread
};

void work(Work& w) {
  const auto window = std::make_unique_for_overwrite<char[]>(kWindow);
  try {
    for (;;) {
      Chunk chunk;
      size_t index = 0;
      {
        std::lock_guard lock(w.mutex);
        if (w.stop || w.cursor >= w.end) return;
        const bool first = w.results.empty();
        chunk.begin = w.cursor;
        const ChunkEnd found = find_chunk_end(
            w.source, chunk.begin, w.end, chunk.begin + std::max<size_t>(w.options.chunk_size, 1),
            w.count_rows, first ? kLinesLookedAt : 0, read_buffer_size(w.options), window.get());
        if (found.error != 0) {
          w.scan_error = std::string("cannot read '") + w.name + "': " + std::strerror(found.error);
          w.stop = true;
          return;
        }
        // The last stretch of a file is read to where reads end, as a read
        // from start to end would, should the file have grown since.
        if (found.at_eof) w.end = found.end;  // a file that shrank ends here
        chunk.end = found.end == w.end && w.source.fd >= 0 ? UINT64_MAX : found.end;
        chunk.first_row = w.next_row;
        chunk.look = first;
        w.next_row += found.rows;
        w.cursor = found.end;
        index = w.results.size();
        w.results.emplace_back();
      }
      ReadOptions options = w.options;
      ChunkProgress progress{&w.progress};
      options.progress = w.options.progress ? report_chunk_progress : nullptr;
      options.context = &progress;
      ChunkRead read = read_chunk(w.source, chunk, w.progress.size, w.name, w.settings, options);
      std::lock_guard lock(w.mutex);
      if (!read.error.empty()) w.stop = true;
      w.results[index] = std::move(read);
    }
  } catch (...) {
    std::lock_guard lock(w.mutex);
    if (!w.failure) w.failure = std::current_exception();
    w.stop = true;
  }
}

}  // namespace

int read_threads(const RunSettings& settings) {
  if (settings.threads > 0) return std::min(settings.threads, kMostThreads);
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMostThreads);
}

SeriesRead read_in_parallel(const ByteSource& source, uint64_t begin, uint64_t end,
                            const std::string& name, const RunSettings& settings,
                            const ReadOptions& options) {
  Work w(source, end, name, settings, options);
  w.cursor = begin;
  w.progress.progress = options.progress;
  w.progress.context = options.context;
  w.progress.size = end;
  const uint64_t chunks = (end - begin) / std::max<size_t>(options.chunk_size, 1) + 1;
  const auto threads =
      static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(read_threads(settings)), chunks));
  std::vector<std::thread> helpers;
  for (int i = 1; i < threads; ++i) {
    try {
      helpers.emplace_back(work, std::ref(w));
    } catch (const std::system_error&) {
      break;  // the threads there are will do
    }
  }
  work(w);
  for (std::thread& t : helpers) t.join();
  if (w.failure) std::rethrow_exception(w.failure);
  if (options.progress) options.progress(options.context, w.progress.bytes.load(), end);

  SeriesRead result;
  size_t total = 0;
  for (const ChunkRead& read : w.results) {
    if (!read.error.empty()) {
      result.error = read.error;
      return result;
    }
    total += read.samples.size();
  }
  if (!w.scan_error.empty()) {
    result.error = w.scan_error;
    return result;
  }
  reserve_exactly(result.samples, total);
  for (ChunkRead& read : w.results) read.samples.move_into(result.samples);
  if (!w.results.empty()) result.look = w.results.front().look;
  return result;
}

}  // namespace tauspan
