// The data file reader: large reads, lines and fields found with memchr.
#include "series_reader.h"

#include <fcntl.h>
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
void append(SampleSeries& samples, const Sample& s) {
  if (samples.size() == samples.capacity()) {
    samples.reserve(std::max<size_t>(4096, samples.capacity() + samples.capacity() / 2));
  }
  samples.push_back(s);
}

}  // namespace

double field_number(std::string_view field) {
  if (field.empty()) return 0;
  if (fits_from_chars(field)) {
    double x = 0;
    const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), x);
    if (ec == std::errc()) return x;
  }
  const std::string copy(field);  // strtod wants the terminating zero
  return std::strtod(copy.c_str(), nullptr);
}

LineResult parse_line(std::string_view line, uint64_t row_index, const RunSettings& settings) {
  if (const size_t nul = line.find('\0'); nul != std::string_view::npos) {
    line = line.substr(0, nul);
  }
  const int64_t last_field = last_needed_field(settings);
  LineResult r;
  const char* p = line.data();
  const char* const e = p + line.size();
  for (int64_t index = 0; index <= last_field; ++index) {
    while (p < e && *p == '\t') ++p;
    if (p == e) break;
    const char* tab = static_cast<const char*>(std::memchr(p, '\t', static_cast<size_t>(e - p)));
    const char* end = tab ? tab : e;
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

SeriesRead read_series(const std::string& path, const RunSettings& settings) {
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

  auto handle = [&](const char* b, const char* e) {
    if (b < e && *b == '#') return;
    const LineResult r = parse_line(std::string_view(b, static_cast<size_t>(e - b)),
                                    row_index, settings);
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
    const char* p = buf.data();
    const char* const e = p + have + static_cast<size_t>(n);
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
  return result;
}

}  // namespace tauspan
