// The console's printing and the record of its first failure.
#include "console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <new>

namespace tauspan {
namespace {

int g_console_error = 0;

}  // namespace

void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vprintf(format, args);
  va_end(args);
  if (n < 0) note_console_error(errno != 0 ? errno : EIO);
}

std::string run_failure(const std::string& path) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "out of memory while processing '" + path + "'";
  } catch (const std::exception& e) {
    return "cannot process '" + path + "': " + e.what();
  } catch (...) {
    return "cannot process '" + path + "': unknown exception";
  }
}

void report(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "tauspan: %s\n", message.c_str());
}

void note_console_error(int error) {
  if (g_console_error == 0) g_console_error = error;
}

int console_error() { return g_console_error; }

}  // namespace tauspan
