// The look at a data file's first lines, and the hint it may give.
#include "separator_hint.h"

#include <algorithm>

#include "field_split.h"

namespace tauspan {
namespace {

constexpr size_t kBytesLookedAt = 4096;
constexpr int kKinds = static_cast<int>(OtherSeparator::kCount);
constexpr const char* kCharacters[kKinds] = {";", ",", " \t"};
constexpr const char* kNames[kKinds] = {"semicolons", "commas", "runs of blanks"};
constexpr const char* kWords[kKinds] = {"semicolon", "comma", "space"};

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether a field starts with a number, after blanks: digits, possibly after
// a sign and a point. Dates and times of day start so too.
bool starts_number(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && is_blank(field[i])) ++i;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) ++i;
  if (i < field.size() && field[i] == '.') ++i;
  return i < field.size() && is_digit(field[i]);
}

// Calls take(index, field) for each field of the line, as the reader splits
// it, until take returns false.
template <class Take>
void split(std::string_view line, const SeparatorSet& set, Take take) {
  size_t i = 0;
  for (int64_t index = 0;; ++index) {
    while (i < line.size() && separates(set, line[i])) ++i;
    if (i == line.size()) return;
    size_t end = i;
    while (end < line.size() && !separates(set, line[end])) ++end;
    if (!take(index, line.substr(i, end - i))) return;
    i = end;
  }
}

int numbers(std::string_view line, const SeparatorSet& set) {
  int count = 0;
  split(line, set, [&](int64_t, std::string_view field) {
    count += starts_number(field) ? 1 : 0;
    return true;
  });
  return count;
}

// "dddd-dd-dd" and nothing else, blanks aside.
bool is_date_alone(std::string_view field) {
  while (!field.empty() && is_blank(field.front())) field.remove_prefix(1);
  while (!field.empty() && is_blank(field.back())) field.remove_suffix(1);
  if (field.size() != 10 || field[4] != '-' || field[7] != '-') return false;
  for (const size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
    if (!is_digit(field[i])) return false;
  }
  return true;
}

// "dd:dd" at the start, blanks aside.
bool starts_time_of_day(std::string_view field) {
  while (!field.empty() && is_blank(field.front())) field.remove_prefix(1);
  return field.size() >= 5 && is_digit(field[0]) && is_digit(field[1]) && field[2] == ':' &&
         is_digit(field[3]) && is_digit(field[4]);
}

bool date_and_time_apart(std::string_view line, const SeparatorSet& set, int64_t time_column) {
  std::string_view date;
  bool apart = false;
  split(line, set, [&](int64_t index, std::string_view field) {
    if (index == time_column) date = field;
    if (index == time_column + 1) apart = is_date_alone(date) && starts_time_of_day(field);
    return index <= time_column;
  });
  return apart;
}

}  // namespace

void look_at_line(SeparatorLook& look, std::string_view line, bool accepted,
                  const RunSettings& settings) {
  ++look.offered;
  line = line.substr(0, std::min(line.size(), kBytesLookedAt));
  if (std::all_of(line.begin(), line.end(), is_blank)) return;
  if (accepted) ++look.accepted;
  const SeparatorSet own = separator_set(settings.separators);
  const int own_numbers = numbers(line, own);
  if (own_numbers <= 1) {
    for (int k = 0; k < kKinds; ++k) {
      if (separates(own, kCharacters[k][0])) continue;
      if (numbers(line, separator_set(kCharacters[k])) >= 2) {
        ++look.lines_split[k];
        if (accepted) ++look.accepted_split[k];
        break;
      }
    }
  }
  if (settings.time_format == TimeFormat::kIso && settings.time_column >= 0 &&
      separates(own, ' ') && date_and_time_apart(line, own, settings.time_column)) {
    ++look.date_time_apart;
  }
}

std::string separator_hint(const std::string& path, const SeparatorLook& look, size_t samples,
                           const RunSettings& settings) {
  const int most = static_cast<int>(
      std::max_element(std::begin(look.lines_split), std::end(look.lines_split)) -
      std::begin(look.lines_split));
  const std::string other =
      std::string(kNames[most]) + "; -sep " + kWords[most] + " would read them";
  if (samples < static_cast<size_t>(kMinPoints)) {
    if (look.lines_split[most] > 0) return "the lines of '" + path + "' look separated by " + other;
    if (look.date_time_apart > 0) {
      return "the times of '" + path +
             "' look like dates and times of day in two fields, as a blank separates them "
             "there; -timefmt iso needs a 'T' between date and time, or a -sep without space";
    }
    return "";
  }
  const bool first_field_only = std::max(settings.time_column, settings.data_column) == 0;
  for (int k = 0; k < kKinds; ++k) {
    if (first_field_only && look.accepted > 0 && look.accepted_split[k] == look.accepted) {
      return "the lines of '" + path + "' look separated by " + kNames[k] +
             ", so only the first number of each was read; -sep " + kWords[k] +
             " would read them";
    }
  }
  return "";
}

}  // namespace tauspan
