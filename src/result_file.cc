// The result file. Rows are written to a temporary file in the same
// directory, which is renamed over the result name once complete and synced,
// so a failed or interrupted run never leaves a partial result file behind.
#include "result_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace tauspan {
namespace {

constexpr size_t kWriteSize = size_t{1} << 16;

// Temporary names that a signal handler may still have to remove. Each slot
// owns a heap copy of its name, so the handler never reads a moved string.
constexpr int kCleanupSlots = 4;
std::atomic<char*> g_unfinished[kCleanupSlots];

void register_unfinished(const std::string& name) {
  // Without memory for the copy, no cleanup on a signal: better than a
  // temporary file that nothing owns.
  char* copy = new (std::nothrow) char[name.size() + 1];
  if (!copy) return;
  std::memcpy(copy, name.c_str(), name.size() + 1);
  for (auto& slot : g_unfinished) {
    char* expected = nullptr;
    if (slot.compare_exchange_strong(expected, copy)) return;
  }
  delete[] copy;  // more files at once than slots: no cleanup on a signal
}

void unregister_unfinished(const std::string& name) {
  for (auto& slot : g_unfinished) {
    char* p = slot.load();
    if (p && name == p && slot.compare_exchange_strong(p, nullptr)) {
      delete[] p;
      return;
    }
  }
}

// Holds every signal back while alive: a signal that ends the run between
// the creation of a temporary file and its registration would otherwise
// leave the file behind. A signal that came meanwhile is handled at the end.
struct SignalsHeld {
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &previous);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  sigset_t previous;
};

std::string describe(const char* what, const std::string& name, int error) {
  return std::string("cannot ") + what + " '" + name + "': " + std::strerror(error);
}

// The longest file name the directory of `name` takes.
size_t name_max(const std::string& name) {
  const size_t slash = name.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : name.substr(0, slash + 1);
  const long n = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<size_t>(n) : size_t{NAME_MAX};
}

// ".<file name>.tmp-<tag>" beside `name`, at most `limit` bytes after the
// last '/'. A file name too long for that is cut (at a character boundary,
// for file systems that insist on UTF-8): the tag alone keeps temporary
// names apart.
std::string temporary_name(const std::string& name, unsigned attempt, size_t limit) {
  const size_t slash = name.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  const auto tick = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  const unsigned long long tag =
      (tick ^ (static_cast<unsigned long long>(::getpid()) << 20)) + attempt * 7919u;
  char suffix[24];
  const auto end = std::to_chars(suffix, suffix + sizeof suffix, tag % 2176782336ull, 36).ptr;
  const std::string tail = ".tmp-" + std::string(suffix, end);
  std::string file = name.substr(base);
  const size_t room = limit > tail.size() + 2 ? limit - 1 - tail.size() : 1;
  if (file.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(file[cut]) & 0xc0) == 0x80) --cut;
    file.resize(cut);
  }
  return name.substr(0, base) + "." + file + tail;
}

void write_all(ResultFile& file, const char* p, size_t left) {
  while (left > 0 && file.error.empty()) {
    const ssize_t n = ::write(file.fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      file.error = describe("write", file.name, errno);
      break;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void flush_pending(ResultFile& file) {
  write_all(file, file.pending.data(), file.pending.size());
  file.pending.clear();
}

void put(ResultFile& file, const std::string& text) {
  if (!file.error.empty()) return;
  file.pending += text;
  if (file.pending.size() >= kWriteSize) flush_pending(file);
}


}  // namespace

size_t extension_dot(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  return dot == std::string::npos || dot < base ? std::string::npos : dot;
}

std::string result_file_name(const std::string& path, std::string_view tag) {
  const size_t dot = extension_dot(path);
  std::string suffix = "_";
  suffix += tag;
  if (dot == std::string::npos) return path + suffix;
  return path.substr(0, dot) + suffix + "." + path.substr(dot + 1);
}

std::string format_number(double x) {
  char buf[32];
  const auto end = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 15).ptr;
  return std::string(buf, end);
}

ResultFile open_result_file(const std::string& name) {
  ResultFile file;
  file.name = name;
  struct stat st;
  if (::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    file.error = describe("create", name, EISDIR);
    return file;
  }
  const size_t slash = name.rfind('/');
  const size_t file_name_size = name.size() - (slash == std::string::npos ? 0 : slash + 1);
  size_t limit = NAME_MAX;
  int error = 0;
  const SignalsHeld held;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    if (file_name_size > limit) {  // the result name itself cannot be made
      error = ENAMETOOLONG;
      break;
    }
    file.temporary = temporary_name(name, attempt, limit);
    file.fd = ::open(file.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.fd >= 0) break;
    error = errno;
    // A file system with shorter names than most: ask it, and cut to fit.
    if (error == ENAMETOOLONG && limit == NAME_MAX && name_max(name) < NAME_MAX) {
      limit = name_max(name);
      continue;
    }
    if (error != EEXIST) break;
  }
  if (file.fd < 0) {
    file.error = describe("create", name, error);
    return file;
  }
  register_unfinished(file.temporary);
  return file;
}

void write_header(ResultFile& file, const std::string& data_path, const RunSettings& settings) {
  std::string h = settings.overlap ? "#Overlapped" : "#Non-overlapped";
  h += " Allan variance of " + printable_path(data_path) + "\n";
  if (settings.time_column >= 0) {
    h += "#Using column " + std::to_string(int64_t{settings.time_column} + 1);
  } else {
    h += "#Using datapoint number";
  }
  if (settings.time_multiplier != 1.0) {
    h += '*';
    h += format_number(settings.time_multiplier);
  }
  h += " as time, column " + std::to_string(int64_t{settings.data_column} + 1) + " as data\n";
  h += settings.log_spacing ? "#Using logarithmically spaced taus\n"
                            : "#Using linearly spaced taus\n";
  if (settings.running_sums) h += "#Using running sums for bin means\n";
  h += "#tau\tavar\tadev\n";
  put(file, h);
}

void write_row(ResultFile& file, double tau, double avar, double adev) {
  // Formatted in place: a sweep of millions of taus then makes no string
  // per row.
  char row[3 * 32];
  char* p = row;
  const double fields[3] = {tau, avar, adev};
  for (int i = 0; i < 3; ++i) {
    p = std::to_chars(p, p + 31, fields[i], std::chars_format::general, 15).ptr;
    *p++ = i < 2 ? '\t' : '\n';
  }
  if (!file.error.empty()) return;
  file.pending.append(row, static_cast<size_t>(p - row));
  if (file.pending.size() >= kWriteSize) flush_pending(file);
}

void write_text(ResultFile& file, const std::string& text) {
  // Straight from where it lies: a picture can be larger than the memory
  // left for a copy.
  if (!file.error.empty()) return;
  flush_pending(file);
  write_all(file, text.data(), text.size());
}

std::string printable_path(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      out += c;
      continue;
    }
    switch (c) {
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\v': out += "\\v"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", u);
        out += hex;
      }
    }
  }
  return out;
}

std::string close_result_file(ResultFile& file) {
  if (file.fd >= 0) {
    if (file.error.empty()) flush_pending(file);
    // The message is made last: without memory for it, nothing may be left
    // on disk.
    const bool failed_before = !file.error.empty();
    const char* failed = nullptr;  // what could not be done, if anything
    int error = 0;
    if (!failed_before && ::fsync(file.fd) != 0) {
      failed = "write";
      error = errno;
    }
    if (::close(file.fd) != 0 && !failed_before && !failed) {
      failed = "write";
      error = errno;
    }
    file.fd = -1;
    if (!failed_before && !failed &&
        ::rename(file.temporary.c_str(), file.name.c_str()) != 0) {
      failed = "replace";
      error = errno;
    }
    if (failed_before || failed) ::unlink(file.temporary.c_str());
    unregister_unfinished(file.temporary);
    if (failed) file.error = describe(failed, file.name, error);
  }
  return file.error;
}

void discard_result_file(ResultFile& file) {
  if (file.fd < 0) return;
  ::close(file.fd);
  file.fd = -1;
  ::unlink(file.temporary.c_str());
  unregister_unfinished(file.temporary);
}

void remove_unfinished_files() {
  for (auto& slot : g_unfinished) {
    if (const char* p = slot.load()) ::unlink(p);
  }
}

}  // namespace tauspan
