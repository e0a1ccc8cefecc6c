// The number a field gives: which fields are numeric, and how they are read.
#ifndef TAUSPAN_FIELD_NUMBER_H_
#define TAUSPAN_FIELD_NUMBER_H_

#include <string_view>

namespace tauspan {

// The number that atof reads from a field: leading blanks skipped, the
// longest valid prefix converted (hex, inf and nan included), 0 when there
// is none. Plain decimals take a faster path that gives the same double.
double field_number(std::string_view field);

// For a tab-separated line [p, e) whose field begins at p: when that field
// is a plain decimal, its number (field_number's) and where the field ends,
// in one pass; nullptr for any other field, which field_number then reads.
const char* tab_field_number(const char* p, const char* e, double& x);

// Whether a field counts as numeric: its first byte, as a signed char, is
// not above '9'. So bytes 0x80-0xFF are numeric and letters are not.
inline bool is_numeric_field(std::string_view field) {
  return !field.empty() && static_cast<signed char>(field.front()) <= '9';
}

}  // namespace tauspan

#endif  // TAUSPAN_FIELD_NUMBER_H_
