// Standard descriptors and fatal signals.
#include "process_setup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "result_file.h"

namespace tauspan {
namespace {

// Signals whose default action ends the process (with or without a core
// dump). SIGKILL and SIGSTOP cannot be caught; the stop signals and those
// ignored by default (SIGCHLD, SIGCONT, SIGURG, SIGWINCH) end nothing.
// SIGPIPE and SIGXFSZ are ignored instead. The real-time signals are added
// in install_signal_handlers.
constexpr int kFatalSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT,   SIGTRAP, SIGABRT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
    SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,  SIGIO,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
// The sanitizers report faults from their own handlers for these; a build
// without them cleans up here too.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    SIGSEGV, SIGBUS,  SIGFPE,    SIGILL,
#endif
};

void on_fatal_signal(int sig) {
  remove_unfinished_files();
  // Every handled signal is blocked while this runs; let this one through
  // with its default action, so the process ends by it and no other.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, sig);
  ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
}

}  // namespace

bool open_standard_streams() {
  bool stdout_closed = false;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) stdout_closed = true;
    // The lowest free descriptor is this one, as every lower one is open.
    ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
  return stdout_closed;
}

void install_signal_handlers() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  sigfillset(&action.sa_mask);
  for (const int sig : kFatalSignals) ::sigaction(sig, &action, nullptr);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) ::sigaction(sig, &action, nullptr);
}

}  // namespace tauspan
