// The -sep words, their echo, and the table a split looks bytes up in.
#include "field_split.h"

#include <algorithm>

#include "result_file.h"

namespace tauspan {
namespace {

bool is_alphanumeric(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

SeparatorSet separator_set(std::string_view separators) {
  SeparatorSet set;
  for (const char c : separators) set.has[static_cast<unsigned char>(c)] = true;
  return set;
}

SeparatorChoice choose_separators(std::string_view value) {
  static constexpr struct {
    std::string_view word;
    std::string_view separators;
  } kWords[] = {{"tab", "\t"}, {"comma", ","}, {"semicolon", ";"}, {"space", " \t"}};
  SeparatorChoice choice;
  for (const auto& w : kWords) {
    if (value == w.word) {
      choice.separators = std::string(w.separators);
      return choice;
    }
  }
  if (std::any_of(value.begin(), value.end(), is_alphanumeric)) {
    choice.error = "-sep takes tab, comma, semicolon, space or the separating characters, not '";
    choice.error += printable_path(std::string(value));
    choice.error += "'";
    return choice;
  }
  for (const char c : value) {
    if (choice.separators.find(c) == std::string::npos) choice.separators += c;
  }
  if (choice.separators.empty()) choice.error = "-sep needs at least one separating character";
  return choice;
}

std::string describe_separators(std::string_view separators) {
  std::string text = "Using ";
  if (separators == "\t") {
    text += "tabs";
  } else if (separators == ",") {
    text += "commas";
  } else if (separators == ";") {
    text += "semicolons";
  } else if (separators == " ") {
    text += "spaces";
  } else if (separators == " \t" || separators == "\t ") {
    text += "blanks (spaces and tabs)";
  } else {
    text += separators.size() == 1 ? "'" : "any of '";
    text += printable_path(std::string(separators));
    text += "'";
  }
  text += " to separate fields.";
  return text;
}

}  // namespace tauspan
