// The status line on stderr: when it is due, drawing it, erasing it.
#include "progress.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace tauspan {
namespace {

constexpr double kQuiet = 1.0;     // no status line for work shorter than this
constexpr double kRefresh = 0.25;  // seconds between redraws

double now() {
  timespec t;
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void write_all(const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(2, p, left);
    if (n <= 0) return;  // a status line is not worth an error
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

Progress start_progress() {
  static const bool terminal = ::isatty(2) == 1;  // asked once: stderr stays what it is
  Progress p;
  p.enabled = terminal;
  p.start = p.last = now();
  return p;
}

bool progress_due(Progress& p) {
  if (!p.enabled) return false;
  const double t = now();
  if (t - p.start < kQuiet || t - p.last < kRefresh) return false;
  p.last = t;
  return true;
}

void show_progress(Progress& p, const std::string& text) {
  if (!p.enabled) return;
  std::fflush(stdout);  // what stdout has said comes first
  write_all("\r\033[K" + p.line_so_far + text);
  p.shown = true;
}

void clear_progress(Progress& p) {
  if (!p.shown) return;
  write_all("\r\033[K" + p.line_so_far);
  p.shown = false;
}

}  // namespace tauspan
