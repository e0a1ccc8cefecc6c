// The data file reader: large reads, lines and fields found with memchr.
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
#include <system_error>

namespace tauspan {
namespace {

constexpr size_t kReadSize = size_t{1} << 20;

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

// For a line that does not fit the buffer: where its needed fields end, if
// they end within [b, e). Past that point the line can only be skipped.
const char* needed_prefix_end(const char* b, const char* e, int64_t last_field) {
  const char* nul = static_cast<const char*>(std::memchr(b, '\0', static_cast<size_t>(e - b)));
  if (nul) return nul;
  if (last_field < 0) return b + 1;  // the first byte decides a comment
  int64_t index = 0;
  const char* p = b;
  for (;;) {
    while (p < e && *p == '\t') ++p;
    if (p == e) return nullptr;
    const char* tab = static_cast<const char*>(std::memchr(p, '\t', static_cast<size_t>(e - p)));
    if (!tab) return nullptr;
    if (index++ == last_field) return tab;
    p = tab;
  }
}

// Grows by half rather than doubling: the peak while copying is then 2.5
// times the series instead of 3.
[[gnu::always_inline]] inline void append(SampleSeries& samples, const Sample& s) {
  if (samples.size() == samples.capacity()) {
    samples.reserve(std::max<size_t>(4096, samples.capacity() + samples.capacity() / 2));
  }
  samples.push_back(s);
}

// Reserves room for the samples a file of `file_size` bytes will give, going
// by the line length of its first chunk. Reserved pages cost no memory until
// written, so a guess on the high side is cheap; it saves the copies of
// growing, and asks for huge pages so that filling them takes fewer faults.
void reserve_for(SampleSeries& samples, const char* chunk, size_t chunk_size, off_t file_size) {
  if (file_size <= 0 || static_cast<size_t>(file_size) <= chunk_size) return;
  const auto lines = static_cast<size_t>(std::count(chunk, chunk + chunk_size, '\n'));
  if (lines == 0) return;
  const double per_line = static_cast<double>(chunk_size) / static_cast<double>(lines);
  const auto estimate = static_cast<size_t>(static_cast<double>(file_size) / per_line * 1.05) + 1024;
  samples.reserve(estimate);
  constexpr uintptr_t kHuge = uintptr_t{1} << 21;
  const auto begin = reinterpret_cast<uintptr_t>(samples.data());
  const uintptr_t end = begin + samples.capacity() * sizeof(Sample);
  const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  if (end > first + kHuge) {
    ::madvise(reinterpret_cast<void*>(first), (end - first) & ~(kHuge - 1), MADV_HUGEPAGE);
  }
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
  LineResult r;
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
      if (index == settings.time_column) r.sample.time = settings.time_multiplier * x;
      if (index == settings.data_column) r.sample.value = x;
    }
    p = end;
  }
  if (settings.time_column < 0) {
    r.sample.time = static_cast<double>(row_index) * settings.time_multiplier;
  }
  if (settings.data_column < 0) r.sample.value = static_cast<double>(row_index);
  r.accepted = r.sample.value > kMissing && r.sample.time > kMissing;
  return r;
}

}  // namespace

LineResult parse_line(std::string_view line, uint64_t row_index, const RunSettings& settings) {
  if (const size_t nul = line.find('\0'); nul != std::string_view::npos) {
    line = line.substr(0, nul);
  }
  return parse_clean_line(line, row_index, settings);
}

SeriesRead read_series(const std::string& path, const RunSettings& settings,
                       ReadProgress progress, void* context) {
  SeriesRead result;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.error = describe("open", path, errno);
    return result;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const int64_t last_field = last_needed_field(settings);
  std::vector<char> buf(kReadSize);
  size_t have = 0;         // bytes of an unfinished line at the front of buf
  bool skipping = false;   // in the rest of a line already handled
  uint64_t row_index = 0;
  bool chunk_has_nul = true;  // most files have none: then no line needs a search
  off_t file_size = -1;       // not known yet
  uint64_t bytes_read = 0;

  auto handle = [&](const char* b, const char* e) {
    if (b < e && *b == '#') return;
    const std::string_view line(b, static_cast<size_t>(e - b));
    const LineResult r = chunk_has_nul ? parse_line(line, row_index, settings)
                                       : parse_clean_line(line, row_index, settings);
    if (r.accepted) append(result.samples, r.sample);
    ++row_index;
  };

  for (;;) {
    if (have == buf.size()) {
      // A line fills the whole buffer: handle it now if its needed fields are
      // all there, else make room for more of it.
      if (const char* end = needed_prefix_end(buf.data(), buf.data() + have, last_field)) {
        handle(buf.data(), end);
        skipping = true;
        have = 0;
      } else {
        buf.resize(buf.size() * 2);
      }
    }
    const ssize_t n = ::read(fd, buf.data() + have, buf.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      result.error = describe("read", path, errno);
      result.samples = SampleSeries();
      ::close(fd);
      return result;
    }
    if (n == 0) {
      // A last line without a newline still counts; the empty read after a
      // final newline is no line.
      if (have > 0 && !skipping) handle(buf.data(), buf.data() + have);
      break;
    }
    if (file_size < 0) {
      struct stat st;
      file_size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
      reserve_for(result.samples, buf.data(), have + static_cast<size_t>(n), file_size);
    }
    bytes_read += static_cast<uint64_t>(n);
    if (progress) progress(context, bytes_read, static_cast<uint64_t>(file_size));
    const char* p = buf.data();
    const char* const e = p + have + static_cast<size_t>(n);
    chunk_has_nul = std::memchr(p, '\0', static_cast<size_t>(e - p)) != nullptr;
    while (const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(e - p)))) {
      if (skipping) {
        skipping = false;
      } else {
        handle(p, nl > p && nl[-1] == '\r' ? nl - 1 : nl);
      }
      p = nl + 1;
    }
    have = skipping ? 0 : static_cast<size_t>(e - p);
    std::memmove(buf.data(), p, have);
  }
  ::close(fd);
  // Growth by half can leave a third of the storage unused for the whole run.
  SampleSeries& samples = result.samples;
  if (samples.capacity() - samples.size() > samples.size() / 8) samples.shrink_to_fit();
  return result;
}

}  // namespace tauspan
