// The data file reader: large reads, lines and fields found with memchr, and
// lines too long for the buffer taken in pieces.
#include "series_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

#include "long_line.h"

namespace tauspan {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// from_chars rounds correctly, as glibc's strtod does, but knows neither
// leading blanks, '+', hex nor the inf/nan words; those, and anything out of
// range, go to strtod. Of a plain decimal both take the same longest prefix.
bool fits_from_chars(std::string_view f) {
  size_t i = f[0] == '-' ? 1 : 0;
  if (i == f.size()) return false;
  if (f[i] == '.') return i + 1 < f.size() && is_digit(f[i + 1]);
  if (!is_digit(f[i])) return false;
  return !(f[i] == '0' && i + 1 < f.size() && (f[i + 1] == 'x' || f[i + 1] == 'X'));
}

// Eight ASCII digits at p, as a number: the usual SWAR steps, two digits,
// then four, then eight at a time.
[[gnu::always_inline]] inline bool eight_digits(const char* p, uint64_t& value) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if (((v & 0xF0F0F0F0F0F0F0F0) | (((v + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) !=
      0x3333333333333333) {
    return false;
  }
  v -= 0x3030303030303030;
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >> 32;
  value = v;
  return true;
}

// Appends the digits at p to m, returning the end of them. m wraps when
// there are more than 19; the caller counts them.
[[gnu::always_inline]] inline const char* take_digits(const char* p, const char* e, uint64_t& m) {
  uint64_t eight;
  while (e - p >= 8 && eight_digits(p, eight)) {
    m = m * 100000000 + eight;
    p += 8;
  }
  for (; p < e && is_digit(*p); ++p) m = m * 10 + static_cast<uint64_t>(*p - '0');
  return p;
}

// The commonest fields, such as "1699999999.123" or "-0.000417", exactly:
// when the digits make an integer m below 2^53 and the decimal exponent e
// has |e| <= 22, both m and 10^|e| are doubles, so the one multiplication or
// division rounds the true value correctly, as strtod does. Returns false
// for anything else. Takes the same longest prefix as strtod.
[[gnu::always_inline]] inline bool small_decimal(std::string_view f, double& out) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* p = f.data();
  const char* const e = p + f.size();
  const bool negative = *p == '-';
  if (negative) ++p;
  const char* const start = p;
  while (p < e && *p == '0') ++p;  // leading zeros carry no digit
  uint64_t m = 0;
  const char* first = p;
  p = take_digits(p, e, m);
  ptrdiff_t digits = p - first;
  int exponent = 0;
  bool any = p > start;
  if (p < e && *p == '.') {
    const char* const fraction = ++p;
    if (m == 0) {
      while (p < e && *p == '0') ++p;
      first = p;
    }
    p = take_digits(p, e, m);
    digits += p - first;
    exponent = -static_cast<int>(std::min<ptrdiff_t>(p - fraction, 10000));
    any = any || p > fraction;
  }
  if (digits > 19) return false;  // m may have wrapped
  if (!any) return false;
  if (p < e && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    const bool exp_negative = q < e && *q == '-';
    if (q < e && (*q == '-' || *q == '+')) ++q;
    if (q < e && is_digit(*q)) {
      int x = 0;
      for (; q < e && is_digit(*q); ++q) {
        if (x > 1000) return false;
        x = x * 10 + (*q - '0');
      }
      exponent += exp_negative ? -x : x;
    }
  }
  if (m > (uint64_t{1} << 53) || exponent < -22 || exponent > 22) return false;
  double x = static_cast<double>(m);
  x = exponent < 0 ? x / kPow10[-exponent] : x * kPow10[exponent];
  out = negative ? -x : x;
  return true;
}

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

}  // namespace

double field_number(std::string_view field) {
  if (field.empty()) return 0;
  if (fits_from_chars(field)) {
    double x = 0;
    if (small_decimal(field, x)) return x;
    const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), x);
    if (ec == std::errc()) return x;
  }
  const std::string copy(field);  // strtod wants the terminating zero
  return std::strtod(copy.c_str(), nullptr);
}

namespace {

// parse_line for a line known to hold no NUL byte.
[[gnu::always_inline]] inline LineResult parse_clean_line(std::string_view line,
                                                          uint64_t row_index,
                                                          const RunSettings& settings) {
  const int64_t last_field = last_needed_field(settings);
  Sample fields;
  const char* p = line.data();
  const char* const e = p + line.size();
  for (int64_t index = 0; index <= last_field; ++index) {
    while (p < e && *p == '\t') ++p;
    if (p == e) break;
    const char* end = p;
    while (end < e && *end != '\t') ++end;  // fields are short: cheaper than memchr
    const std::string_view field(p, static_cast<size_t>(end - p));
    if (is_numeric_field(field) &&
        (index == settings.time_column || index == settings.data_column)) {
      const double x = field_number(field);
      if (index == settings.time_column) fields.time = settings.time_multiplier * x;
      if (index == settings.data_column) fields.value = x;
    }
    p = end;
  }
  return complete_line(fields, row_index, settings);
}

}  // namespace

LineResult parse_line(std::string_view line, uint64_t row_index, const RunSettings& settings) {
  if (const size_t nul = line.find('\0'); nul != std::string_view::npos) {
    line = line.substr(0, nul);
  }
  return parse_clean_line(line, row_index, settings);
}

namespace {

// Where the reading stands.
struct Reader {
  const RunSettings& settings;
  int64_t last_field = -1;
  uint64_t shortest_line = 1;  // bytes of the shortest line that gives a sample
  uint64_t file_size = 0;      // 0 when unknown
  uint64_t buffer_offset = 0;  // where in the data the buffer's first byte lies
  uint64_t row_index = 0;
  SampleSeries samples;
};

// A size is only a claim until it has been read (a sparse file can claim
// exabytes), so a guess never asks for more than this many times the
// samples read.
constexpr double kMostGrowth = 16;

// Room for more samples, once `consumed` bytes of the data are behind: never
// more than the rest of the data can hold at the shortest line. Reserved
// pages cost no memory until written, so room is first asked for the count
// that the density read so far gives for the whole file: that saves the
// copies of growing, and huge pages make filling it take fewer faults. Where
// memory refuses the guess, the series grows by half as a vector does.
[[gnu::noinline]] void reserve_more(Reader& r, uint64_t consumed) {
  SampleSeries& samples = r.samples;
  const auto size = static_cast<double>(samples.size());
  double fits = static_cast<double>(samples.max_size());
  double guess = 0;
  if (r.file_size > 0 && consumed > 0 && consumed <= r.file_size) {
    const uint64_t rest = (r.file_size - consumed + 1) / r.shortest_line;
    fits = std::min(fits, size + 1 + static_cast<double>(rest));
    const double density = size / static_cast<double>(consumed);
    guess = std::min(density * static_cast<double>(r.file_size) * 1.05 + 1024,
                     kMostGrowth * (size + 1));
  }
  const double grown = std::max(4096.0, static_cast<double>(samples.capacity()) * 1.5);
  const auto count = [&](double room) {
    return std::max(samples.size() + 1, static_cast<size_t>(std::min(room, fits)));
  };
  if (guess > grown) {
    try {
      samples.reserve(count(guess));
    } catch (const std::bad_alloc&) {
      // Only a saving was lost.
    }
  }
  if (samples.size() == samples.capacity()) samples.reserve(count(grown));
  constexpr uintptr_t kHuge = uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<uintptr_t>(samples.data());
  const uintptr_t end = begin + samples.capacity() * sizeof(Sample);
  const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  if (end > first + kHuge) {
    ::madvise(reinterpret_cast<void*>(first), (end - first) & ~(kHuge - 1), MADV_HUGEPAGE);
  }
}

// Keeps a line's result; `line_end` (in `buffer`) is where its content ends.
[[gnu::always_inline]] inline void keep(Reader& r, const LineResult& line, const char* buffer,
                                        const char* line_end) {
  if (line.accepted) {
    if (r.samples.size() == r.samples.capacity()) {
      reserve_more(r, r.buffer_offset + static_cast<uint64_t>(line_end - buffer));
    }
    r.samples.push_back(line.sample);
  }
  ++r.row_index;
}

void finish_long_line(Reader& r, LongLine& line, const char* buffer, const char* line_end) {
  if (!line.comment) {
    keep(r, complete_line(long_line_fields(line, r.settings), r.row_index, r.settings), buffer,
         line_end);
  }
  line.active = false;
}

// Where the bytes come from: the descriptor, or `text` when it is negative.
struct Input {
  int fd = -1;
  std::string_view text;
  size_t position = 0;
};

ssize_t read_some(Input& in, char* to, size_t size) {
  if (in.fd >= 0) return ::read(in.fd, to, size);
  size = std::min(size, in.text.size() - in.position);
  if (size > 0) std::memcpy(to, in.text.data() + in.position, size);
  in.position += size;
  return static_cast<ssize_t>(size);
}

SeriesRead read_input(Input& in, uint64_t file_size, const std::string& name,
                      const RunSettings& settings, const ReadOptions& options) {
  const int64_t last_field = last_needed_field(settings);
  // A sample needs its fields up to the last needed one, each a byte and a
  // tab, the last a byte and the newline; with none needed, the newline.
  const uint64_t shortest = last_field < 0 ? 1 : 2 * static_cast<uint64_t>(last_field + 1);
  Reader r{settings, last_field, shortest, file_size, 0, 0, SampleSeries()};
  const size_t buffer_size = std::max<size_t>(options.buffer_size, 2);
  const auto buffer = std::make_unique_for_overwrite<char[]>(buffer_size);
  char* const buf = buffer.get();
  size_t have = 0;            // bytes of an unfinished line at the front of buf
  LongLine long_line;
  bool chunk_has_nul = true;  // most files have none: then no line needs a search
  uint64_t bytes_read = 0;

  auto handle = [&](const char* b, const char* e) {
    if (b < e && *b == '#') return;
    const std::string_view line(b, static_cast<size_t>(e - b));
    keep(r, chunk_has_nul ? parse_line(line, r.row_index, settings)
                          : parse_clean_line(line, r.row_index, settings),
         buf, e);
  };
  // Feeds [b, e) of a long line, except a carriage return at its end, which
  // waits at the front of buf until the next read shows whether a newline
  // follows it.
  auto feed_holding_return = [&](const char* b, const char* e) {
    const size_t held = e[-1] == '\r' ? 1 : 0;
    feed_long_line(long_line, b, e - held, settings);
    r.buffer_offset += static_cast<uint64_t>(e - held - buf);
    if (held) buf[0] = '\r';
    have = held;
  };

  for (;;) {
    if (have == buffer_size) {
      // The line fills the buffer: from here on it is taken in pieces.
      long_line = begin_long_line(buf[0], r.last_field);
      feed_holding_return(buf, buf + have);
    }
    const ssize_t n = read_some(in, buf + have, buffer_size - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      SeriesRead failed;
      failed.error = describe("read", name, errno);
      return failed;
    }
    if (n == 0) {
      // A last line without a newline still counts; the empty read after a
      // final newline is no line.
      if (long_line.active) {
        feed_long_line(long_line, buf, buf + have, settings);
        finish_long_line(r, long_line, buf, buf + have);
      } else if (have > 0) {
        handle(buf, buf + have);
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
      finish_long_line(r, long_line, buf, end);
      p = nl + 1;
    }
    while (const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(e - p)))) {
      handle(p, nl > p && nl[-1] == '\r' ? nl - 1 : nl);
      p = nl + 1;
    }
    have = static_cast<size_t>(e - p);
    r.buffer_offset += static_cast<uint64_t>(p - buf);
    std::memmove(buf, p, have);
  }
  // Growth by half can leave a third of the storage unused for the whole run.
  SeriesRead result;
  result.samples = std::move(r.samples);
  SampleSeries& samples = result.samples;
  if (samples.capacity() - samples.size() > samples.size() / 8) samples.shrink_to_fit();
  return result;
}

}  // namespace

SeriesRead read_series_fd(int fd, const std::string& name, const RunSettings& settings,
                          const ReadOptions& options) {
  struct stat st;
  const bool sized = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
  Input in;
  in.fd = fd;
  return read_input(in, sized ? static_cast<uint64_t>(st.st_size) : 0, name, settings, options);
}

SeriesRead read_series_text(std::string_view text, const RunSettings& settings,
                            const ReadOptions& options) {
  Input in;
  in.text = text;
  return read_input(in, text.size(), "", settings, options);
}

SeriesRead read_series(const std::string& path, const RunSettings& settings,
                       ReadProgress progress, void* context) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SeriesRead result;
    result.error = describe("open", path, errno);
    return result;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  ReadOptions options;
  options.progress = progress;
  options.context = context;
  SeriesRead result = read_series_fd(fd, path, settings, options);
  ::close(fd);
  return result;
}

}  // namespace tauspan
