// The whole command line on arbitrary argument lists (NUL-separated), run in
// a scratch directory that holds two small data files: the option walk, and
// the real run of each data file it meets, with the sweep cut short and the
// files read from memory. The console and diagnostics go nowhere. The exit
// status must be one of the documented ones.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "run_default.h"
#include "run_stats.h"

int tauspan_command_line(int argc, char** argv, tauspan::FileRun run_one,
                         tauspan::StatsFileRun run_stats_one);

namespace {

// The lines of `text` as the reader takes them: a CR before the newline
// ignored, '#' lines skipped and not counted, a last line without a newline
// still a line.
tauspan::SampleSeries parse_text(const std::string& text, const tauspan::RunSettings& settings) {
  tauspan::SampleSeries samples;
  uint64_t row = 0;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + begin, end - begin);
    if (end < text.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    begin = end + 1;
    if (!line.empty() && line.front() == '#') continue;
    const tauspan::LineResult r = tauspan::parse_line(line, row++, settings);
    if (r.accepted) samples.push_back(r.sample);
  }
  return samples;
}

// The two data files that set_up writes, which no run changes, parsed once
// for each choice of columns and time multiplier.
std::string g_a_text;
std::string g_b_text;
std::map<std::tuple<bool, int32_t, int32_t, uint64_t, std::string, tauspan::TimeFormat>,
         tauspan::SampleSeries>
    g_parsed;

// The scratch directory holds the two files of set_up, itself, and what the
// runs of the current input made (every such name has "_avar", or "_" and a
// statistic's name); "-" is standard input, which here is empty.
bool may_exist(const std::string& path) {
  return path == "a.dat" || path == "b.dat" || path == "." || path == "-" ||
         path.find('_') != std::string::npos;
}

// The data files, from their text. The real reader, which has a fuzzer of
// its own, sets up a 1 MiB buffer per file: that was most of the time of a
// run here.
tauspan::SeriesRead read_text(const std::string& path, const tauspan::RunSettings& settings,
                              tauspan::ReadProgress, void*) {
  tauspan::SeriesRead r;
  if (path == "a.dat" || path == "b.dat") {
    uint64_t multiplier;  // by its bits: a NaN is a key like any other
    std::memcpy(&multiplier, &settings.time_multiplier, sizeof multiplier);
    const auto key = std::make_tuple(path == "a.dat", settings.time_column, settings.data_column,
                                     multiplier, settings.separators, settings.time_format);
    auto it = g_parsed.find(key);
    if (it == g_parsed.end()) {
      if (g_parsed.size() > 4096) g_parsed.clear();
      it = g_parsed.emplace(key, parse_text(path == "a.dat" ? g_a_text : g_b_text, settings))
               .first;
    }
    r.samples = it->second;
    return r;
  }
  if (path == "-") return r;  // standard input, which here is empty
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.error = "cannot open '" + path + "': " + std::strerror(errno);
    return r;
  }
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) r.error = "cannot read '" + path + "': " + std::strerror(errno);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (r.error.empty()) r.samples = parse_text(text, settings);
  return r;
}

// The walk is what is under test here, and each data file gets the real
// run, with its sweep cut to a few taus: long sweeps are the business of the
// analysis fuzzer and the benchmarks, and here they took most of the time.
constexpr int32_t kMaxTaus = 2;

// Whether the runs of this input may have made a file.
bool g_wrote = false;

// Most arguments of an input name no file. Their run would only say so, as
// the runs of names that may exist but do not (x_avar.dat) still do; here it
// took a third of the time of an input.
int run_briefly(const std::string& path, const tauspan::RunSettings& settings,
                tauspan::ProtectedFiles& protected_files) {
  if (!may_exist(path)) return 1;
  g_wrote = true;
  tauspan::RunSettings brief = settings;
  brief.tau_count = std::min(settings.tau_count, kMaxTaus);
  return tauspan::run_file(path, brief, protected_files, read_text);
}

// Slots of the grid beyond which a -stat run is not tried: a -tau0 far
// below the step between the times makes millions of mostly empty slots,
// which is the business of the benchmarks.
constexpr double kMaxSlots = 1e4;

// A -stat run of a data file, from memory like the sweep's. With the grid's
// own tau0 the 24-sample files give short tau sets whatever they are.
int run_stats_briefly(const std::string& path, const tauspan::RunSettings& settings,
                      const tauspan::StatsSettings& stats,
                      tauspan::ProtectedFiles& protected_files) {
  if (!may_exist(path)) return 1;
  if (stats.tau0 > 0) {
    const tauspan::SeriesRead r = read_text(path, settings, nullptr, nullptr);
    double lo = 0, hi = 0;
    for (size_t i = 0; i < r.samples.size(); ++i) {
      lo = i == 0 ? r.samples[i].time : std::min(lo, r.samples[i].time);
      hi = i == 0 ? r.samples[i].time : std::max(hi, r.samples[i].time);
    }
    if (!((hi - lo) / stats.tau0 <= kMaxSlots)) return 1;
  }
  g_wrote = true;
  return tauspan::run_stats_file(path, settings, stats, protected_files, read_text);
}

void set_up() {
  // Memory rather than disk where there is one: every result file is synced.
  std::string tmpl = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/tauspan-fuzz-walk-XXXXXX"
                                                      : "/tmp/tauspan-fuzz-walk-XXXXXX";
  if (!::mkdtemp(tmpl.data()) || ::chdir(tmpl.c_str()) != 0) std::abort();
  char line[64];
  for (int i = 0; i < 24; ++i) {
    std::snprintf(line, sizeof line, "%d\t%d\n", i, (i * 7) % 5);
    g_a_text += line;
    std::snprintf(line, sizeof line, "x\t%d\t%g\t%d\n", i, i * 0.5, i % 3);
    g_b_text += line;
  }
  FILE* a = std::fopen("a.dat", "w");
  FILE* b = std::fopen("b.dat", "w");
  if (!a || !b || std::fputs(g_a_text.c_str(), a) < 0 || std::fputs(g_b_text.c_str(), b) < 0 ||
      std::fclose(a) != 0 || std::fclose(b) != 0) {
    std::abort();
  }
  // The console and the tool's diagnostics go nowhere, without a system
  // call for each flush. libFuzzer and the sanitizers keep their own stderr.
  cookie_io_functions_t discard{};
  discard.write = [](void*, const char*, size_t size) { return static_cast<ssize_t>(size); };
  stdout = ::fopencookie(nullptr, "w", discard);
  stderr = ::fopencookie(nullptr, "w", discard);
  if (!stdout || !stderr) std::abort();
}

// Removes what the runs of an input made, so that every input starts from
// the same two files: a crash then replays from its input alone.
void clear_scratch() {
  DIR* dir = ::opendir(".");
  if (!dir) std::abort();
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != ".." && name != "a.dat" && name != "b.dat") {
      ::unlink(name.c_str());
    }
  }
  ::closedir(dir);
}

// Inputs that could touch files outside the scratch directory are not tried.
bool acceptable(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg.find('/') != std::string::npos || arg.rfind("..", 0) == 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (set_up(), true);
  (void)ready;
  std::vector<std::string> args{"tauspan"};
  std::string current;
  // Up to 17 arguments: room for every option with a value and two data
  // files; longer lists only repeat, at the cost of time.
  for (size_t i = 0; i < size && args.size() < 17; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) args.push_back(current);
  if (!acceptable(args)) return 0;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int status = tauspan_command_line(static_cast<int>(args.size()), argv.data(), run_briefly,
                                          run_stats_briefly);
  if (status != 0 && status != 1 && status != 2) std::abort();
  if (g_wrote) clear_scratch();
  g_wrote = false;
  return 0;
}
