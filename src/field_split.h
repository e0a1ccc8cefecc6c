// Field separators: the -sep words and characters, and the table by which a
// line is split when tabs alone do not separate its fields.
#ifndef TAUSPAN_FIELD_SPLIT_H_
#define TAUSPAN_FIELD_SPLIT_H_

#include <string>
#include <string_view>

namespace tauspan {

// The separators as a table by byte.
struct SeparatorSet {
  bool has[256] = {};
};

// The table of the bytes in `separators`.
SeparatorSet separator_set(std::string_view separators);

inline bool separates(const SeparatorSet& set, char c) {
  return set.has[static_cast<unsigned char>(c)];
}

// Whether the separators are the tab alone, the default, which the reader
// takes on its fastest path.
inline bool tab_only(std::string_view separators) { return separators == "\t"; }

// What a -sep value sets. The words tab, comma, semicolon and space (a blank
// or a tab) stand for their characters; any other value is the set of its
// own bytes. A value that is empty or holds a letter or a digit (which
// belong to fields, and mostly are a mistyped word) gives `error` instead.
struct SeparatorChoice {
  std::string separators;  // each byte once, in the order given
  std::string error;       // the stderr text, without "tauspan: "
};
SeparatorChoice choose_separators(std::string_view value);

// The echo of -sep, as "Using commas to separate fields.", without the line
// end. Control characters are shown as C escapes.
std::string describe_separators(std::string_view separators);

}  // namespace tauspan

#endif  // TAUSPAN_FIELD_SPLIT_H_
