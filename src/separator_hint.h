// A look at a data file's first lines for fields separated otherwise than
// the settings say, and the stderr hint that names the -sep that reads them.
#ifndef TAUSPAN_SEPARATOR_HINT_H_
#define TAUSPAN_SEPARATOR_HINT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sample.h"

namespace tauspan {

// The separators a hint can name, in the order they are tried on a line: a
// semicolon before a comma, because files separated by semicolons often
// write decimal commas.
enum class OtherSeparator : uint8_t { kSemicolon, kComma, kBlanks, kCount };

// What the lines looked at so far suggest.
struct SeparatorLook {
  uint32_t offered = 0;   // lines given to look_at_line, blank ones included
  uint32_t accepted = 0;  // looked-at lines that gave a sample
  // Lines that hold more numbers split by this separator than by the
  // settings' separators, at least two; and how many of them gave a sample.
  uint32_t lines_split[static_cast<int>(OtherSeparator::kCount)] = {};
  uint32_t accepted_split[static_cast<int>(OtherSeparator::kCount)] = {};
  // With -timefmt iso and a blank among the separators: lines whose time
  // field is a date alone, followed by a field that starts as a time of day.
  uint32_t date_time_apart = 0;
};

// Lines beyond these are not looked at; the reader stops offering them.
inline constexpr uint32_t kLinesLookedAt = 100;

// Looks at one line that is no comment (its content without the line end,
// no NUL in it), of which only the first 4096 bytes count, and whether it
// gave a sample.
void look_at_line(SeparatorLook& look, std::string_view line, bool accepted,
                  const RunSettings& settings);

// The stderr hint for a data file that was read with these settings and gave
// `samples` samples, without "tauspan: ", or "" for none. There is one when
// the file gave fewer than kMinPoints samples and some line looked at holds
// numbers split by another separator (the separator on most lines is named),
// or its times were dates and times of day in two fields; and when only the
// first field was read (-time 0, or -data 0 with the time in the first
// field) and every line looked at that gave a sample holds numbers split by
// one other separator.
std::string separator_hint(const std::string& path, const SeparatorLook& look, size_t samples,
                           const RunSettings& settings);

}  // namespace tauspan

#endif  // TAUSPAN_SEPARATOR_HINT_H_
