// The options that say how data files are read and where their results go:
// -sep, -timefmt, -outdir and -threads.
#ifndef TAUSPAN_INPUT_OPTIONS_H_
#define TAUSPAN_INPUT_OPTIONS_H_

#include <string>

#include "sample.h"

namespace tauspan {

// Whether `arg` is one of these options (each takes a value).
bool is_input_option(const char* arg);

// What applying one of them did. `echo` is the line (without its end) that
// says what was set, "" when nothing was; `error` is the stderr text when
// the walk must stop, with `status` its exit status: kBadCommand for a -sep
// or -timefmt value that names nothing or a -threads value that is not a
// whole number of 0 or more, kFailed for an -outdir that is no
// directory that can take new files (its echo comes first: it was set).
struct InputOption {
  bool taken = false;
  std::string echo;
  std::string error;
  int status = 0;
};

// Applies `arg` with its value to `settings`; `taken` is false for any other
// word.
InputOption apply_input_option(const char* arg, const char* value, RunSettings& settings);

}  // namespace tauspan

#endif  // TAUSPAN_INPUT_OPTIONS_H_
