// The data file reader: large reads, lines and fields found with memchr, and
// lines too long for the buffer taken in pieces.
#include "series_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "chunk_read.h"
#include "field_split.h"
#include "long_line.h"
#include "parallel_read.h"
#include "time_format.h"

namespace tauspan {
namespace {

std::string describe(const char* what, const std::string& path, int error) {
  return std::string("cannot ") + what + " '" + path + "': " + std::strerror(error);
}

// The highest 0-based field index the settings read, or -1 for none.
int64_t last_needed_field(const RunSettings& s) {
  return std::max<int64_t>(s.time_column, s.data_column) < 0
             ? -1
             : std::max<int64_t>(s.time_column, s.data_column);
}

// Fills in the row-number columns and decides.
[[gnu::always_inline]] inline LineResult complete_line(const Sample& fields, uint64_t row_index,
                                                       const RunSettings& settings) {
  LineResult r;
  r.sample = fields;
  if (settings.time_column < 0) {
    r.sample.time = static_cast<double>(row_index) * settings.time_multiplier;
  }
  if (settings.data_column < 0) r.sample.value = static_cast<double>(row_index);
  r.accepted = r.sample.value > kMissing && r.sample.time > kMissing;
  return r;
}

// parse_line for a line known to hold no NUL byte. The plain form is the
// default's: tabs alone separate fields and times are plain numbers. The
// other takes any separators (from `set`) and any form of time.
template <bool kPlain>
[[gnu::always_inline]] inline LineResult parse_clean_line(std::string_view line,
                                                          uint64_t row_index,
                                                          const RunSettings& settings,
                                                          const SeparatorSet& set) {
  const auto separator = [&](char c) {
    if constexpr (kPlain) {
      return c == '\t';
    } else {
      return separates(set, c);
    }
  };
  const int64_t last_field = last_needed_field(settings);
  Sample fields;
  const char* p = line.data();
  const char* const e = p + line.size();
  for (int64_t index = 0; index <= last_field; ++index) {
    while (p < e && separator(*p)) ++p;
    if (p == e) break;
    if constexpr (kPlain) {
      // The commonest field, a plain decimal, in one pass.
      if (index == settings.time_column || index == settings.data_column) {
        double x;
        if (const char* stop = tab_field_number(p, e, x)) {
          if (index == settings.time_column) fields.time = settings.time_multiplier * x;
          if (index == settings.data_column) fields.value = x;
          p = stop;
          continue;
        }
      }
    }
    const char* end = p;
    while (end < e && !separator(*end)) ++end;  // fields are short: cheaper than memchr
    const std::string_view field(p, static_cast<size_t>(end - p));
    if constexpr (kPlain) {
      if (is_numeric_field(field) &&
          (index == settings.time_column || index == settings.data_column)) {
        const double x = field_number(field);
        if (index == settings.time_column) fields.time = settings.time_multiplier * x;
        if (index == settings.data_column) fields.value = x;
      }
    } else {
      if (index == settings.time_column) {
        if (const auto t = time_field(field, settings.time_format)) {
          fields.time = settings.time_multiplier * *t;
        }
      }
      if (index == settings.data_column && is_numeric_field(field)) {
        fields.value = field_number(field);
      }
    }
    p = end;
  }
  return complete_line(fields, row_index, settings);
}

// Whether the settings take the plain form of parse_clean_line.
bool is_plain(const RunSettings& settings) {
  return tab_only(settings.separators) && settings.time_format == TimeFormat::kNumber;
}

std::string_view before_nul(std::string_view line) {
  if (const size_t nul = line.find('\0'); nul != std::string_view::npos) {
    return line.substr(0, nul);
  }
  return line;
}

}  // namespace

LineResult parse_line(std::string_view line, uint64_t row_index, const RunSettings& settings) {
  line = before_nul(line);
  if (is_plain(settings)) return parse_clean_line<true>(line, row_index, settings, {});
  return parse_clean_line<false>(line, row_index, settings, separator_set(settings.separators));
}

namespace {

// Where the reading stands.
struct Reader {
  const RunSettings& settings;
  int64_t last_field = -1;
  uint64_t row_index = 0;
  SampleBlocks samples;
  SeparatorLook look;
};

// Keeps a line's result.
[[gnu::always_inline]] inline void keep(Reader& r, const LineResult& line) {
  if (line.accepted) r.samples.push(line.sample);
  ++r.row_index;
}

// One line that fits the buffer: [b, e) is its content.
template <bool kPlain>
[[gnu::always_inline]] inline void take_line(Reader& r, const RunSettings& settings,
                                             const char* b, const char* e, bool has_nul,
                                             const SeparatorSet& set) {
  if (b < e && *b == '#') return;
  std::string_view line(b, static_cast<size_t>(e - b));
  if (has_nul) line = before_nul(line);
  keep(r, parse_clean_line<kPlain>(line, r.row_index, settings, set));
}

// Takes the whole lines in [p, e) and returns where the unfinished one
// begins. One form per kind of line, and per chunk with or without a NUL
// byte, so that the default's loop asks nothing per line that it did not ask
// before other forms existed; and out of line, so that its registers are
// its own. It runs once a chunk.
template <bool kPlain, bool kHasNul>
[[gnu::noinline]] const char* take_lines(Reader& r, const RunSettings& settings, const char* p,
                                         const char* e, const SeparatorSet& set) {
  while (const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(e - p)))) {
    take_line<kPlain>(r, settings, p, nl > p && nl[-1] == '\r' ? nl - 1 : nl, kHasNul, set);
    p = nl + 1;
  }
  return p;
}

template <bool kPlain>
const char* take_lines(Reader& r, const RunSettings& settings, const char* p, const char* e,
                       bool has_nul, const SeparatorSet& set) {
  return has_nul ? take_lines<kPlain, true>(r, settings, p, e, set)
                 : take_lines<kPlain, false>(r, settings, p, e, set);
}

// Offers the lines in [p, e) that will be taken next to look_at_line, until
// it has seen enough: whole lines, and with `at_end` the last one without a
// newline. Lines are parsed again here, which for a hundred costs nothing,
// rather than asked about in the loop that takes every line.
void look_at_lines(Reader& r, const char* p, const char* e, bool has_nul, bool plain,
                   const SeparatorSet& set, bool at_end) {
  uint64_t row = r.row_index;
  while (r.look.offered < kLinesLookedAt && p < e) {
    const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(e - p)));
    if (!nl && !at_end) return;
    const char* const end = !nl ? e : nl > p && nl[-1] == '\r' ? nl - 1 : nl;
    if (!(p < end && *p == '#')) {
      std::string_view line(p, static_cast<size_t>(end - p));
      if (has_nul) line = before_nul(line);
      const LineResult result = plain ? parse_clean_line<true>(line, row, r.settings, set)
                                      : parse_clean_line<false>(line, row, r.settings, set);
      look_at_line(r.look, line, result.accepted, r.settings);
      ++row;
    }
    if (!nl) return;
    p = nl + 1;
  }
}

void finish_long_line(Reader& r, LongLine& line) {
  if (!line.comment) keep(r, complete_line(long_line_fields(line, r.settings), r.row_index, r.settings));
  line.active = false;
}

// Where the next read takes its bytes, up to `end` where it is positioned.
struct Input {
  const ByteSource& source;
  uint64_t position;
  uint64_t end;
};

ssize_t read_some(Input& in, char* to, size_t size) {
  const ByteSource& s = in.source;
  if (s.fd >= 0 && !s.positioned) return ::read(s.fd, to, size);
  size = static_cast<size_t>(std::min<uint64_t>(size, in.end - in.position));
  ssize_t n = static_cast<ssize_t>(size);
  if (s.fd >= 0) {
    n = ::pread(s.fd, to, size, static_cast<off_t>(in.position));
  } else if (size > 0) {
    std::memcpy(to, s.text.data() + in.position, size);
  }
  if (n > 0) in.position += static_cast<uint64_t>(n);
  return n;
}

}  // namespace

ChunkRead read_chunk(const ByteSource& source, const Chunk& chunk, uint64_t file_size,
                     const std::string& name, const RunSettings& settings,
                     const ReadOptions& options) {
  // A sample for every 16 bytes of a known stretch fills the first block:
  // pages never written cost nothing, and the rest is given back at the end.
  const uint64_t known = source.positioned ? chunk.end - chunk.begin : 0;
  Reader r{settings, last_needed_field(settings), chunk.first_row,
           SampleBlocks(static_cast<size_t>(std::min<uint64_t>(known / 16, SIZE_MAX))),
           SeparatorLook()};
  if (!chunk.look) r.look.offered = kLinesLookedAt;
  Input in{source, chunk.begin, chunk.end};
  const size_t buffer_size = read_buffer_size(options);
  const auto buffer = std::make_unique_for_overwrite<char[]>(buffer_size);
  char* const buf = buffer.get();
  size_t have = 0;            // bytes of an unfinished line at the front of buf
  LongLine long_line;
  bool chunk_has_nul = true;  // most files have none: then no line needs a search
  uint64_t bytes_read = 0;

  const bool plain = is_plain(settings);
  const SeparatorSet set = separator_set(settings.separators);

  // Feeds [b, e) of a long line, except a carriage return at its end, which
  // waits at the front of buf until the next read shows whether a newline
  // follows it.
  auto feed_holding_return = [&](const char* b, const char* e) {
    const size_t held = e[-1] == '\r' ? 1 : 0;
    feed_long_line(long_line, b, e - held, settings);
    if (held) buf[0] = '\r';
    have = held;
  };

  for (;;) {
    if (have == buffer_size) {
      // The line fills the buffer: from here on it is taken in pieces.
      long_line = begin_long_line(buf[0], r.last_field, tab_only(settings.separators) ? nullptr : &set);
      feed_holding_return(buf, buf + have);
    }
    const ssize_t n = read_some(in, buf + have, buffer_size - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      ChunkRead failed;
      failed.error = describe("read", name, errno);
      return failed;
    }
    if (n == 0) {
      // A last line without a newline still counts; the empty read after a
      // final newline is no line.
      if (long_line.active) {
        feed_long_line(long_line, buf, buf + have, settings);
        finish_long_line(r, long_line);
      } else if (have > 0) {
        look_at_lines(r, buf, buf + have, chunk_has_nul, plain, set, true);
        if (plain) {
          take_line<true>(r, settings, buf, buf + have, chunk_has_nul, set);
        } else {
          take_line<false>(r, settings, buf, buf + have, chunk_has_nul, set);
        }
      }
      break;
    }
    bytes_read += static_cast<uint64_t>(n);
    if (options.progress) options.progress(options.context, bytes_read, file_size);
    const char* p = buf;
    const char* const e = p + have + static_cast<size_t>(n);
    chunk_has_nul = std::memchr(p, '\0', static_cast<size_t>(e - p)) != nullptr;
    if (long_line.active) {
      const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(e - p)));
      if (!nl) {
        feed_holding_return(p, e);
        continue;
      }
      const char* const end = nl > p && nl[-1] == '\r' ? nl - 1 : nl;
      feed_long_line(long_line, p, end, settings);
      finish_long_line(r, long_line);
      p = nl + 1;
    }
    if (r.look.offered < kLinesLookedAt) look_at_lines(r, p, e, chunk_has_nul, plain, set, false);
    p = plain ? take_lines<true>(r, settings, p, e, chunk_has_nul, set)
              : take_lines<false>(r, settings, p, e, chunk_has_nul, set);
    have = static_cast<size_t>(e - p);
    std::memmove(buf, p, have);
  }
  ChunkRead result;
  r.samples.trim();
  result.samples = std::move(r.samples);
  result.look = r.look;
  return result;
}

namespace {

// The series of one chunk that is the whole input, read on this thread.
SeriesRead read_whole(const ByteSource& source, uint64_t size, uint64_t file_size,
                      const std::string& name, const RunSettings& settings,
                      const ReadOptions& options) {
  ChunkRead read = read_chunk(source, Chunk{0, size, 0, true}, file_size, name, settings, options);
  SeriesRead result;
  if (!read.error.empty()) {
    result.error = std::move(read.error);
    return result;
  }
  reserve_exactly(result.samples, read.samples.size());
  read.samples.move_into(result.samples);
  result.look = read.look;
  return result;
}

}  // namespace

SeriesRead read_series_fd(int fd, const std::string& name, const RunSettings& settings,
                          const ReadOptions& options) {
  struct stat st;
  const bool sized = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
  const uint64_t size = sized ? static_cast<uint64_t>(st.st_size) : 0;
  if (sized && read_threads(settings) > 1) {
    // A file is split at its lines and read on several threads, from where
    // the descriptor stands, which is then left at the end as a read leaves it.
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at >= 0 && static_cast<uint64_t>(at) < size &&
        size - static_cast<uint64_t>(at) > options.chunk_size) {
      ByteSource source{fd, true, {}};
      SeriesRead result =
          read_in_parallel(source, static_cast<uint64_t>(at), size, name, settings, options);
      ::lseek(fd, 0, SEEK_END);
      return result;
    }
  }
  return read_whole(ByteSource{fd, false, {}}, 0, size, name, settings, options);
}

SeriesRead read_series_text(std::string_view text, const RunSettings& settings,
                            const ReadOptions& options) {
  const ByteSource source{-1, true, text};
  if (read_threads(settings) > 1 && text.size() > options.chunk_size) {
    return read_in_parallel(source, 0, text.size(), "", settings, options);
  }
  return read_whole(source, text.size(), text.size(), "", settings, options);
}

SeriesRead read_series(const std::string& path, const RunSettings& settings,
                       ReadProgress progress, void* context) {
  ReadOptions options;
  options.progress = progress;
  options.context = context;
  if (path == "-") return read_series_fd(0, path, settings, options);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SeriesRead result;
    result.error = describe("open", path, errno);
    return result;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  SeriesRead result = read_series_fd(fd, path, settings, options);
  ::close(fd);
  return result;
}

}  // namespace tauspan
