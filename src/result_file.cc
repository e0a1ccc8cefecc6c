// The result file. Rows are written to a temporary file in the same
// directory, which is renamed over the result name once complete and synced,
// so a failed or interrupted run never leaves a partial result file behind.
#include "result_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>

namespace tauspan {
namespace {

constexpr size_t kWriteSize = size_t{1} << 16;

// Temporary names that a signal handler may still have to remove. Each slot
// owns a heap copy of its name, so the handler never reads a moved string.
constexpr int kCleanupSlots = 4;
std::atomic<char*> g_unfinished[kCleanupSlots];

void register_unfinished(const std::string& name) {
  char* copy = new char[name.size() + 1];
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

std::string describe(const char* what, const std::string& name, int error) {
  return std::string("cannot ") + what + " '" + name + "': " + std::strerror(error);
}

std::string temporary_name(const std::string& name, unsigned attempt) {
  const size_t slash = name.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  const auto tick = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  const unsigned long long tag =
      (tick ^ (static_cast<unsigned long long>(::getpid()) << 20)) + attempt * 7919u;
  char suffix[24];
  const auto end = std::to_chars(suffix, suffix + sizeof suffix, tag % 2176782336ull, 36).ptr;
  return name.substr(0, base) + "." + name.substr(base) + ".tmp-" + std::string(suffix, end);
}

void flush_pending(ResultFile& file) {
  const char* p = file.pending.data();
  size_t left = file.pending.size();
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
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    file.temporary = temporary_name(name, attempt);
    file.fd = ::open(file.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.fd >= 0 || errno != EEXIST) break;
  }
  if (file.fd < 0) {
    file.error = describe("create", name, errno);
    return file;
  }
  register_unfinished(file.temporary);
  return file;
}

void write_header(ResultFile& file, const std::string& data_path, const RunSettings& settings) {
  std::string h = settings.overlap ? "#Overlapped" : "#Non-overlapped";
  h += " Allan variance of " + data_path + "\n";
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
  put(file, format_number(tau) + "\t" + format_number(avar) + "\t" + format_number(adev) + "\n");
}

void write_text(ResultFile& file, const std::string& text) { put(file, text); }

std::string close_result_file(ResultFile& file) {
  if (file.fd >= 0) {
    if (file.error.empty()) flush_pending(file);
    if (file.error.empty() && ::fsync(file.fd) != 0) file.error = describe("write", file.name, errno);
    if (::close(file.fd) != 0 && file.error.empty()) file.error = describe("write", file.name, errno);
    file.fd = -1;
    if (file.error.empty() && ::rename(file.temporary.c_str(), file.name.c_str()) != 0) {
      file.error = describe("replace", file.name, errno);
    }
    if (!file.error.empty()) ::unlink(file.temporary.c_str());
    unregister_unfinished(file.temporary);
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
