// The forms of the time column beyond plain numbers: ISO 8601 date and time,
// and modified Julian dates, both turned into seconds since 1970-01-01 UTC.
#ifndef TAUSPAN_TIME_FORMAT_H_
#define TAUSPAN_TIME_FORMAT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "sample.h"

namespace tauspan {

// Fields longer than this give no time in the iso and mjd forms, so that a
// line too long for the read buffer keeps no more than this of its time.
inline constexpr size_t kLongestTimeField = 256;

// Seconds since 1970-01-01T00:00:00 UTC of an ISO 8601 date and time in its
// extended form: YYYY-MM-DD, then 'T' (or 't', or one space), hh:mm, an
// optional :ss with an optional fraction after '.' or ',', then an optional
// 'Z' or offset (+hh:mm, +hhmm, +hh, or with '-'); no offset is UTC. Blanks
// may stand before and after. Anything else, a date without a time, a
// month, day, hour, minute or offset out of range, or a leap second (:60)
// gives kMissing. The sum is one double: near 2024 it resolves about
// 0.24 microseconds.
double iso_seconds(std::string_view field);

// Seconds since 1970-01-01 UTC (MJD 40587) of a modified Julian date in
// days: a decimal number, optionally signed and with an exponent, with
// blanks allowed around it. Anything else, or a value that is not finite,
// gives kMissing.
double mjd_seconds(std::string_view field);

// The time that the field gives in `format`, before the time multiplier, or
// none. Plain numbers are read only from numeric fields (is_numeric_field),
// as atof reads them, whatever they are; in the other forms kMissing means
// none.
std::optional<double> time_field(std::string_view field, TimeFormat format);

// The echo of -timefmt, without the line end.
std::string describe_time_format(TimeFormat format);

// The form a -timefmt value names; false for a word that names none.
bool choose_time_format(std::string_view word, TimeFormat& format);

}  // namespace tauspan

#endif  // TAUSPAN_TIME_FORMAT_H_
