// The number in a field too long for the read buffer, taken in pieces: a
// bounded summary of it is kept instead of the field.
#ifndef TAUSPAN_LONG_NUMBER_H_
#define TAUSPAN_LONG_NUMBER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace tauspan {

// What the pieces of one field fed so far hold of the number that atof reads
// from its front: sign, form, the first significant digits, whether nonzero
// digits follow them, and where the point and the exponent put them. Start
// each field from a default one.
struct LongNumber {
  enum class Part : uint8_t {
    kBlanks, kAfterSign, kZero, kDot, kHexStart, kHexDot, kInteger, kFraction,
    kExponentStart, kExponentSign, kExponent, kWord, kDone
  };
  Part part = Part::kBlanks;
  bool negative = false;
  bool hex = false;
  bool any_digit = false;        // the field begins with a number at all
  std::string digits;            // the first significant digits
  bool more_digits = false;      // a nonzero digit beyond those
  int64_t integer_digits = 0;    // significant digits before the point
  int64_t fraction_zeros = 0;    // zeros after the point before the first significant one
  bool has_exponent = false;
  bool exponent_negative = false;
  int64_t exponent = 0;          // saturates far beyond any double's range
  const char* word = nullptr;    // "inf" or "nan" while they are matched
  int word_length = 0;
};

// Takes the next piece of the field (no tab, newline or NUL in it).
void feed_long_number(LongNumber& number, std::string_view piece);

// A short text that atof reads as the same double as the whole field fed so
// far, NaN payloads aside (the reader rejects every NaN): "" where the field
// holds no number, else sign, the kept digits, a 1 standing for the nonzero
// digits beyond them, and the exponent that places them.
std::string long_number_text(const LongNumber& number);

}  // namespace tauspan

#endif  // TAUSPAN_LONG_NUMBER_H_
