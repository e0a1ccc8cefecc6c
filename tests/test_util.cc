#include "test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tauspan::test {

ScratchDir::ScratchDir() : ScratchDir(std::filesystem::temp_directory_path().string()) {}

ScratchDir::ScratchDir(const std::string& parent) {
  std::string tmpl = (std::filesystem::path(parent) / "tauspan-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void ScratchDir::write(const std::string& name, const std::string& contents) const {
  std::ofstream(path(name), std::ios::binary) << contents;
}

std::string ScratchDir::read(const std::string& name) const {
  std::ifstream in(path(name), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool ScratchDir::exists(const std::string& name) const {
  return std::filesystem::exists(path(name));
}

std::vector<std::string> ScratchDir::entries() const { return entries_of(dir); }

std::vector<std::string> ScratchDir::entries_of(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(directory)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult run_tool(const std::vector<std::string>& args, const RunOptions& options) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  int terminal = -1;
  std::string terminal_name;
  if (options.stderr_terminal) {
    terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    terminal_name = ::ptsname(terminal);
    ::close(err_pipe[0]);
    err_pipe[0] = terminal;
  }
  int in_pipe[2] = {-1, -1};
  if (options.stdin_text && ::pipe(in_pipe) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv_text{TAUSPAN_EXE};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out_pipe[1], 1);
    if (terminal >= 0) {
      const int slave = ::open(terminal_name.c_str(), O_RDWR | O_NOCTTY);
      if (slave < 0) ::_exit(126);
      ::dup2(slave, 2);
      ::close(slave);
      ::close(terminal);
    } else {
      ::dup2(err_pipe[1], 2);
    }
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[0]);
    ::close(err_pipe[1]);
    if (options.stdin_text) {
      ::dup2(in_pipe[0], 0);
      ::close(in_pipe[0]);
      ::close(in_pipe[1]);
    }
    if (!options.stdin_path.empty()) {
      const int in = ::open(options.stdin_path.c_str(), O_RDONLY);
      if (in < 0) ::_exit(125);
      ::dup2(in, 0);
      ::close(in);
    }
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(127);
    if (options.file_size_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.cpu_seconds >= 0) {
      const rlimit limit{static_cast<rlim_t>(options.cpu_seconds), RLIM_INFINITY};
      ::setrlimit(RLIMIT_CPU, &limit);
    }
    // Runs that end by SIGQUIT, SIGABRT and the like leave no core file in
    // the scratch directory.
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    for (const int fd : options.closed_fds) ::close(fd);
    if (options.memory_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(options.memory_limit),
                         static_cast<rlim_t>(options.memory_limit)};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  // The text goes in from a thread of its own, so that a child that writes
  // before it has read everything cannot stall both.
  std::thread feeder;
  if (options.stdin_text) {
    ::close(in_pipe[0]);
    feeder = std::thread([fd = in_pipe[1], text = *options.stdin_text] {
      const sighandler_t old = ::signal(SIGPIPE, SIG_IGN);
      for (size_t at = 0; at < text.size();) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      ::signal(SIGPIPE, old);
      ::close(fd);
    });
  }

  RunResult result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  bool watching = static_cast<bool>(options.watch);
  int open_fds = 2;
  while (open_fds > 0) {
    if (::poll(fds, 2, watching ? 20 : -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      if (i == 0 && options.stdout_lines != SIZE_MAX &&
          static_cast<size_t>(std::count(result.out.begin(), result.out.end(), '\n')) >=
              options.stdout_lines) {
        ::close(fds[0].fd);
        fds[0].fd = -1;
        --open_fds;
      }
    }
    if (watching && options.watch(pid, result)) watching = false;
  }
  if (feeder.joinable()) feeder.join();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal_number = WTERMSIG(status);
  return result;
}

std::string example_path(const std::string& name) {
  return std::string(TAUSPAN_EXAMPLES_DIR) + "/" + name;
}

std::string numbered_lines(const std::vector<double>& values) {
  std::string text;
  char line[64];
  for (size_t i = 0; i < values.size(); ++i) {
    std::snprintf(line, sizeof line, "%zu\t%.17g\n", i, values[i]);
    text += line;
  }
  return text;
}

}  // namespace tauspan::test
