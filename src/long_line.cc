// Long lines: fields split as they arrive, and atof's grammar walked one
// byte at a time for a needed number.
#include "long_line.h"

#include <algorithm>
#include <cstring>

#include "series_reader.h"
#include "time_format.h"

namespace tauspan {
namespace {

// The points halfway between neighbouring doubles have at most 767
// significant decimal digits, so a decimal's first 768 digits and whether a
// nonzero digit follows them fix how it rounds. Hexadecimal needs far fewer.
constexpr size_t kKeptDigits = 800;

// Far beyond the exponent of any double, but far from overflowing when the
// point's position is added. Past the second, every value of at most
// kKeptDigits + 1 digits overflows or underflows.
constexpr int64_t kExponentCap = int64_t{1} << 40;
constexpr int64_t kTextExponentCap = 99999;

using Part = LongNumber::Part;

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The digit's value in the number's base, or -1.
int digit_value(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  const char l = lower(c);
  if (hex && l >= 'a' && l <= 'f') return l - 'a' + 10;
  return -1;
}

bool is_exponent_mark(char c, bool hex) { return lower(c) == (hex ? 'p' : 'e'); }

void add_digit(LongNumber& n, int d, bool fraction) {
  n.any_digit = true;
  if (n.digits.empty() && d == 0) {
    if (fraction) ++n.fraction_zeros;
    return;
  }
  if (!fraction) ++n.integer_digits;
  if (n.digits.size() < kKeptDigits) {
    n.digits += "0123456789abcdef"[d];
  } else if (d != 0) {
    n.more_digits = true;
  }
}

void add_exponent_digit(LongNumber& n, char c) {
  n.has_exponent = true;
  if (n.exponent < kExponentCap) n.exponent = n.exponent * 10 + (c - '0');
}

// Takes one byte; false once the number has ended before it.
bool take(LongNumber& n, char c) {
  switch (n.part) {
    case Part::kBlanks:
      if (is_space(c)) return true;
      n.part = Part::kAfterSign;
      if (c == '-' || c == '+') {
        n.negative = c == '-';
        return true;
      }
      [[fallthrough]];
    case Part::kAfterSign:
      if (c == '0') {
        n.any_digit = true;
        n.part = Part::kZero;
      } else if (c >= '1' && c <= '9') {
        add_digit(n, c - '0', false);
        n.part = Part::kInteger;
      } else if (c == '.') {
        n.part = Part::kDot;
      } else if (lower(c) == 'i' || lower(c) == 'n') {
        n.word = lower(c) == 'i' ? "inf" : "nan";
        n.word_length = 1;
        n.part = Part::kWord;
      } else {
        return false;
      }
      return true;
    case Part::kZero:  // a leading 0, which with an 'x' after it makes hexadecimal
      if (lower(c) == 'x') {
        n.hex = true;
        n.part = Part::kHexStart;
        return true;
      }
      n.part = Part::kInteger;
      [[fallthrough]];
    case Part::kInteger:
      if (const int d = digit_value(c, n.hex); d >= 0) {
        add_digit(n, d, false);
      } else if (c == '.') {
        n.part = Part::kFraction;
      } else if (is_exponent_mark(c, n.hex)) {
        n.part = Part::kExponentStart;
      } else {
        return false;
      }
      return true;
    case Part::kHexStart:  // "0x" must go on with a digit or a point, else it is the 0 alone
      if (const int d = digit_value(c, true); d >= 0) {
        add_digit(n, d, false);
        n.part = Part::kInteger;
      } else if (c == '.') {
        n.part = Part::kHexDot;
      } else {
        return false;
      }
      return true;
    case Part::kHexDot:  // "0x." needs a digit
    case Part::kDot:     // as does a leading point
      if (const int d = digit_value(c, n.hex); d >= 0) {
        add_digit(n, d, true);
        n.part = Part::kFraction;
        return true;
      }
      return false;
    case Part::kFraction:
      if (const int d = digit_value(c, n.hex); d >= 0) {
        add_digit(n, d, true);
      } else if (is_exponent_mark(c, n.hex)) {
        n.part = Part::kExponentStart;
      } else {
        return false;
      }
      return true;
    case Part::kExponentStart:
      n.part = Part::kExponentSign;
      if (c == '-' || c == '+') {
        n.exponent_negative = c == '-';
        return true;
      }
      [[fallthrough]];
    case Part::kExponentSign:
    case Part::kExponent:
      if (c < '0' || c > '9') return false;
      add_exponent_digit(n, c);
      n.part = Part::kExponent;
      return true;
    case Part::kWord:
      if (lower(c) != n.word[n.word_length]) return false;
      return ++n.word_length < 3;  // the rest of "infinity" or "nan(...)" changes nothing
    case Part::kDone:
      return false;
  }
  return false;
}

}  // namespace

void feed_long_number(LongNumber& number, std::string_view piece) {
  for (size_t i = 0; i < piece.size(); ++i) {
    // Past the kept digits, a run of digits only counts and may be nonzero.
    if ((number.part == Part::kInteger || number.part == Part::kFraction) &&
        number.digits.size() == kKeptDigits) {
      const size_t start = i;
      for (; i < piece.size() && digit_value(piece[i], number.hex) >= 0; ++i) {
        if (piece[i] != '0') number.more_digits = true;
      }
      if (number.part == Part::kInteger) number.integer_digits += static_cast<int64_t>(i - start);
      if (i == piece.size()) return;
    }
    if (!take(number, piece[i])) {
      number.part = Part::kDone;
      return;
    }
  }
}

std::string long_number_text(const LongNumber& n) {
  const std::string sign = n.negative ? "-" : "";
  if (n.word) return n.word_length == 3 ? sign + n.word : "";
  if (!n.any_digit) return "";
  std::string text = sign + (n.hex ? "0x" : "");
  if (n.digits.empty()) return text + "0";
  text += '.';
  text += n.digits;
  if (n.more_digits) text += '1';
  // Value = 0.<digits> * base^shift * (10 or 2)^exponent; hexadecimal digits
  // are 4 bits each. Past the cap every kept value overflows or underflows.
  const int64_t shift = n.integer_digits - n.fraction_zeros;
  const int64_t exponent = (n.hex ? 4 * shift : shift) +
                           (n.has_exponent ? (n.exponent_negative ? -n.exponent : n.exponent) : 0);
  text += n.hex ? 'p' : 'e';
  text += std::to_string(std::clamp(exponent, -kTextExponentCap, kTextExponentCap));
  return text;
}

namespace {

void end_field(LongLine& line, const RunSettings& settings) {
  if (line.reading_number) {
    const double x = field_number(long_number_text(line.number));
    if (line.field == settings.time_column && settings.time_format == TimeFormat::kNumber) {
      line.fields.time = settings.time_multiplier * x;
    }
    if (line.field == settings.data_column) line.fields.value = x;
  }
  if (line.reading_time) {
    if (const auto t = time_field(line.time_text, settings.time_format)) {
      line.fields.time = settings.time_multiplier * *t;
    }
  }
  line.in_field = false;
  line.reading_number = false;
  line.reading_time = false;
  if (line.field == line.last_field) line.ended = true;
}

}  // namespace

LongLine begin_long_line(char first, int64_t last_field, const SeparatorSet* separators) {
  LongLine line;
  line.active = true;
  line.comment = first == '#';
  line.last_field = last_field;
  line.separators = separators;
  return line;
}

void feed_long_line(LongLine& line, const char* b, const char* e, const RunSettings& settings) {
  if (line.comment || line.ended) return;
  const auto* nul = static_cast<const char*>(std::memchr(b, '\0', static_cast<size_t>(e - b)));
  if (nul) e = nul;
  const SeparatorSet* const set = line.separators;
  const auto separator = [set](char c) { return set ? separates(*set, c) : c == '\t'; };
  const bool plain_time = settings.time_format == TimeFormat::kNumber;
  while (b < e && !line.ended) {
    if (!line.in_field) {
      while (b < e && separator(*b)) ++b;
      if (b == e) break;
      if (++line.field > line.last_field) {
        line.ended = true;
        break;
      }
      line.in_field = true;
      const bool time = line.field == settings.time_column;
      line.reading_number = is_numeric_field(std::string_view(b, 1)) &&
                            ((time && plain_time) || line.field == settings.data_column);
      if (line.reading_number) line.number = LongNumber();
      line.reading_time = time && !plain_time;
      if (line.reading_time) line.time_text.clear();
    }
    const char* stop = nullptr;  // the separator that ends the field, if in this piece
    if (!set) {
      stop = static_cast<const char*>(std::memchr(b, '\t', static_cast<size_t>(e - b)));
    } else {
      stop = std::find_if(b, e, separator);
      if (stop == e) stop = nullptr;
    }
    const char* const end = stop ? stop : e;
    if (line.reading_number) {
      feed_long_number(line.number, std::string_view(b, static_cast<size_t>(end - b)));
    }
    if (line.reading_time && line.time_text.size() <= kLongestTimeField) {
      const size_t room = kLongestTimeField + 1 - line.time_text.size();
      line.time_text.append(b, std::min(room, static_cast<size_t>(end - b)));
    }
    b = end;
    if (stop) end_field(line, settings);
  }
  if (nul && !line.ended) {  // the content ends here
    if (line.in_field) end_field(line, settings);
    line.ended = true;
  }
}

Sample long_line_fields(LongLine& line, const RunSettings& settings) {
  if (line.in_field) end_field(line, settings);
  return line.fields;
}

}  // namespace tauspan
