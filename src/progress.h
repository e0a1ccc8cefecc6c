// A status line on stderr for long runs, when stderr is a terminal.
#ifndef TAUSPAN_PROGRESS_H_
#define TAUSPAN_PROGRESS_H_

#include <string>

namespace tauspan {

struct Progress {
  bool enabled = false;  // stderr is a terminal
  bool shown = false;    // a status line is on the screen
  double start = 0;      // seconds on the monotonic clock
  double last = 0;       // when it was last drawn
  // Text that stdout has put on the terminal's current line, when stdout is
  // that same terminal: the status line draws after it and leaves it there.
  std::string line_so_far;
};

// Starts the clock; enabled only when stderr is a terminal.
Progress start_progress();

// Whether a refresh is due: after the first second, a few times a second.
bool progress_due(Progress& progress);

// Draws `text` as the status line (call when progress_due said so).
void show_progress(Progress& progress, const std::string& text);

// Erases the status line, if one is shown, before stdout writes again.
void clear_progress(Progress& progress);

}  // namespace tauspan

#endif  // TAUSPAN_PROGRESS_H_
