// A line too long for the read buffer, taken in pieces as they are read:
// only the field in hand is looked at, and of a needed number only a bounded
// summary is kept, so the line costs no memory whatever its length.
#ifndef TAUSPAN_LONG_LINE_H_
#define TAUSPAN_LONG_LINE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "field_split.h"
#include "sample.h"

namespace tauspan {

// What the pieces of one field fed so far hold of the number that atof reads
// from its front: sign, form, the first significant digits, whether nonzero
// digits follow them, and where the point and the exponent put them. Start
// each field from a default one.
struct LongNumber {
  enum class Part : uint8_t {
    kBlanks,
    kAfterSign,
    kZero,
    kDot,
    kHexStart,
    kHexDot,
    kInteger,
    kFraction,
    kExponentStart,
    kExponentSign,
    kExponent,
    kWord,
    kDone
  };
  Part part = Part::kBlanks;
  bool negative = false;
  bool hex = false;
  bool any_digit = false;      // the field begins with a number at all
  std::string digits;          // the first significant digits
  bool more_digits = false;    // a nonzero digit beyond those
  int64_t integer_digits = 0;  // significant digits before the point
  int64_t fraction_zeros = 0;  // zeros after the point before the first significant one
  bool has_exponent = false;
  bool exponent_negative = false;
  int64_t exponent = 0;        // saturates far beyond any double's range
  const char* word = nullptr;  // "inf" or "nan" while they are matched
  int word_length = 0;
};

// Takes the next piece of the field (no tab, newline or NUL in it).
void feed_long_number(LongNumber& number, std::string_view piece);

// A short text that atof reads as the same double as the whole field fed so
// far, NaN payloads aside (the reader rejects every NaN): "" where the field
// holds no number, else sign, the kept digits, a 1 standing for the nonzero
// digits beyond them, and the exponent that places them.
std::string long_number_text(const LongNumber& number);

// Where a long line stands. Fields are split, numbers recognised and read
// as parse_line does it; a time in the iso or mjd form is kept as text, of
// which kLongestTimeField + 1 bytes tell whether it is too long to be one.
struct LongLine {
  bool active = false;
  bool comment = false;  // the whole line is skipped and counts as no row
  bool ended = false;    // past a NUL or the last needed field: the rest is skipped
  bool in_field = false;
  bool reading_number = false;  // the field in hand is needed and numeric
  bool reading_time = false;    // the field in hand is a time in the iso or mjd form
  int64_t last_field = -1;      // the highest field index the settings need
  int64_t field = -1;           // index of the field in hand or the last one
  Sample fields;                // the needed fields found so far, kMissing where not
  LongNumber number;
  std::string time_text;
  const SeparatorSet* separators = nullptr;  // null: tabs alone
};

// A long line whose first byte is `first`, split by `separators` (null for
// tabs alone, which must then outlive the line).
LongLine begin_long_line(char first, int64_t last_field, const SeparatorSet* separators);

// Takes the next piece [b, e) of the line's content (no newline in it).
void feed_long_line(LongLine& line, const char* b, const char* e, const RunSettings& settings);

// Once the whole content has been fed: the time (multiplied) and value that
// the line's fields give, before the row-number columns are applied.
Sample long_line_fields(LongLine& line, const RunSettings& settings);

}  // namespace tauspan

#endif  // TAUSPAN_LONG_LINE_H_
