// The console: the table and the tool's messages on stdout, its own
// diagnostics on stderr, and the first failure to write either.
#ifndef TAUSPAN_CONSOLE_H_
#define TAUSPAN_CONSOLE_H_

#include <string>

namespace tauspan {

// Exit statuses beyond 0.
inline constexpr int kFailed = 1;      // a file could not be read or written, or memory ran out
inline constexpr int kBadCommand = 2;  // an option lacks its value or has one it cannot take

// std::printf to stdout, noting the first write that fails.
__attribute__((format(printf, 1, 2))) void say(const char* format, ...);

// One line "tauspan: <message>" on stderr, after whatever stdout already holds.
void report(const std::string& message);

// Inside a catch block: what ended the run of the data file `path`, for
// report(): "out of memory while processing 'x'" or "cannot process 'x': ...".
std::string run_failure(const std::string& path);

// Records a console failure (an errno value) unless one is already recorded.
void note_console_error(int error);

// The first failure of console output, as an errno value; 0 while all is well.
int console_error();

}  // namespace tauspan

#endif  // TAUSPAN_CONSOLE_H_
