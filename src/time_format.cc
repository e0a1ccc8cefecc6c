// ISO 8601 date-times and modified Julian dates as seconds since 1970.
#include "time_format.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "field_number.h"

namespace tauspan {
namespace {

constexpr double kMjdOfUnixEpoch = 40587;  // 1970-01-01
constexpr double kSecondsPerDay = 86400;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A cursor over a field, with the small steps of the ISO grammar.
struct Cursor {
  std::string_view text;
  size_t at = 0;

  bool done() const { return at == text.size(); }
  bool digit() const { return !done() && text[at] >= '0' && text[at] <= '9'; }
  bool take(char c) {
    if (done() || text[at] != c) return false;
    ++at;
    return true;
  }
  // Exactly `count` digits, as a number.
  bool number(int count, int& value) {
    value = 0;
    for (int k = 0; k < count; ++k) {
      if (!digit()) return false;
      value = value * 10 + (text[at++] - '0');
    }
    return true;
  }
  void skip_blanks() {
    while (!done() && is_blank(text[at])) ++at;
  }
};

// The digits after a decimal mark, as a fraction of a second. Digits beyond
// the fifteenth are far below what the sum can resolve; so that the
// quotient is exact before its one rounding, they are read but not kept.
bool fraction(Cursor& c, double& value) {
  if (!c.digit()) return false;
  uint64_t digits = 0;
  double scale = 1;
  for (int kept = 0; c.digit(); ++c.at) {
    if (kept < 15) {
      digits = digits * 10 + static_cast<uint64_t>(c.text[c.at] - '0');
      scale *= 10;
      ++kept;
    }
  }
  value = static_cast<double>(digits) / scale;
  return true;
}

// The offset east of UTC in seconds, or false for a malformed one.
bool utc_offset(Cursor& c, int64_t& seconds) {
  seconds = 0;
  if (c.take('Z') || c.take('z')) return true;
  const bool east = c.take('+');
  if (!east && !c.take('-')) return true;  // none: UTC
  int hours = 0;
  int minutes = 0;
  if (!c.number(2, hours) || hours > 23) return false;
  if (c.take(':')) {
    if (!c.number(2, minutes)) return false;
  } else if (c.digit() && !c.number(2, minutes)) {
    return false;
  }
  if (minutes > 59) return false;
  seconds = (east ? 1 : -1) * (hours * 3600 + minutes * 60);
  return true;
}

}  // namespace

double iso_seconds(std::string_view field) {
  if (field.size() > kLongestTimeField) return kMissing;
  Cursor c{field};
  c.skip_blanks();
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!c.number(4, year) || !c.take('-') || !c.number(2, month) || !c.take('-') ||
      !c.number(2, day)) {
    return kMissing;
  }
  if (!c.take('T') && !c.take('t') && !c.take(' ')) return kMissing;
  if (!c.number(2, hour) || !c.take(':') || !c.number(2, minute)) return kMissing;
  double part = 0;
  if (c.take(':')) {
    if (!c.number(2, second)) return kMissing;
    if ((c.take('.') || c.take(',')) && !fraction(c, part)) return kMissing;
  }
  int64_t offset = 0;
  if (!utc_offset(c, offset)) return kMissing;
  c.skip_blanks();
  if (!c.done() || hour > 23 || minute > 59 || second > 59) return kMissing;

  using namespace std::chrono;
  const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                            std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return kMissing;
  const int64_t days = sys_days(date).time_since_epoch().count();
  const int64_t whole = days * 86400 + hour * 3600 + minute * 60 + second - offset;
  return static_cast<double>(whole) + part;
}

double mjd_seconds(std::string_view field) {
  if (field.size() > kLongestTimeField) return kMissing;
  Cursor c{field};
  c.skip_blanks();
  // from_chars knows no '+', and must not see a second sign after one.
  if (c.take('+') && c.take('-')) return kMissing;
  double days = 0;
  const char* const begin = field.data() + c.at;
  const char* const end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(begin, end, days, std::chars_format::general);
  if (error != std::errc() || !std::isfinite(days)) return kMissing;
  c.at = static_cast<size_t>(stop - field.data());
  c.skip_blanks();
  if (!c.done()) return kMissing;
  // Near today's dates the difference is exact, so the one rounding is the
  // product's.
  return (days - kMjdOfUnixEpoch) * kSecondsPerDay;
}

std::optional<double> time_field(std::string_view field, TimeFormat format) {
  double seconds = kMissing;
  switch (format) {
    case TimeFormat::kNumber:
      if (!is_numeric_field(field)) return std::nullopt;
      return field_number(field);
    case TimeFormat::kIso:
      seconds = iso_seconds(field);
      break;
    case TimeFormat::kMjd:
      seconds = mjd_seconds(field);
      break;
  }
  if (seconds == kMissing) return std::nullopt;
  return seconds;
}

std::string describe_time_format(TimeFormat format) {
  switch (format) {
    case TimeFormat::kNumber:
      return "Using plain numbers as time.";
    case TimeFormat::kIso:
      return "Using ISO 8601 date and time as time (seconds since 1970-01-01 UTC).";
    case TimeFormat::kMjd:
      return "Using modified Julian dates as time (days, as seconds since 1970-01-01 UTC).";
  }
  return "";
}

bool choose_time_format(std::string_view word, TimeFormat& format) {
  if (word == "number") {
    format = TimeFormat::kNumber;
  } else if (word == "iso") {
    format = TimeFormat::kIso;
  } else if (word == "mjd") {
    format = TimeFormat::kMjd;
  } else {
    return false;
  }
  return true;
}

}  // namespace tauspan
