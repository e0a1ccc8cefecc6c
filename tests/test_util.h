// Helpers for tests that run the real binary in a scratch directory.
#ifndef TAUSPAN_TESTS_TEST_UTIL_H_
#define TAUSPAN_TESTS_TEST_UTIL_H_

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tauspan::test {

// A fresh directory, removed with everything in it at the end of the test.
struct ScratchDir {
  ScratchDir();
  explicit ScratchDir(const std::string& parent);  // inside `parent` rather than the temp dir
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string path(const std::string& name) const { return dir + "/" + name; }
  void write(const std::string& name, const std::string& contents) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  std::vector<std::string> entries() const;  // sorted, hidden ones included
  static std::vector<std::string> entries_of(const std::string& directory);

  std::string dir;
};

struct RunOptions {
  std::string cwd;                 // the child's working directory, if set
  long long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, if >= 0
  long long memory_limit = -1;     // RLIMIT_AS in bytes, if >= 0
  long long cpu_seconds = -1;      // soft RLIMIT_CPU (SIGXCPU when reached), if >= 0
  std::vector<int> closed_fds;     // of 0, 1 and 2: closed in the child (their output is lost)
  std::optional<std::string> stdin_text;  // written to the child's stdin through a pipe
  std::string stdin_path;                 // a file opened as the child's stdin, if set
  bool stderr_terminal = false;    // stderr is a pseudo-terminal, read into `err`
  size_t stdout_lines = SIZE_MAX;  // close the read end of stdout after so many lines
  // Called with the child's pid and its output so far, until it returns true.
  std::function<bool(pid_t, const struct RunResult&)> watch;
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;        // exit status, or -1 when killed by a signal
  int signal_number = 0;  // the signal that ended it, if any
};

// Runs the tauspan binary with these arguments (argv[0] is supplied).
RunResult run_tool(const std::vector<std::string>& args, const RunOptions& options = {});

// The example data file shipped with the sources.
std::string example_path(const std::string& name);

// Lines of "time\tvalue\n" for the given values at times 0, 1, 2, ...
std::string numbered_lines(const std::vector<double>& values);

}  // namespace tauspan::test

#endif  // TAUSPAN_TESTS_TEST_UTIL_H_
