// The whole command line on arbitrary argument lists (NUL-separated), run in
// a scratch directory that holds two small data files. Console output goes
// to /dev/null. The exit status must be one of the documented ones.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int tauspan_command_line(int argc, char** argv);

namespace {

void set_up() {
  char tmpl[] = "/tmp/tauspan-fuzz-walk-XXXXXX";
  if (!::mkdtemp(tmpl) || ::chdir(tmpl) != 0) std::abort();
  FILE* a = std::fopen("a.dat", "w");
  FILE* b = std::fopen("b.dat", "w");
  if (!a || !b) std::abort();
  for (int i = 0; i < 24; ++i) {
    std::fprintf(a, "%d\t%d\n", i, (i * 7) % 5);
    std::fprintf(b, "x\t%d\t%g\t%d\n", i, i * 0.5, i % 3);
  }
  std::fclose(a);
  std::fclose(b);
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

// Inputs whose runs could not end quickly, or could touch files outside the
// scratch directory, are not tried.
bool acceptable(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].find('/') != std::string::npos || args[i].rfind("..", 0) == 0) return false;
    if ((args[i] == "-n" || args[i] == "-numtaus") && i + 1 < args.size() &&
        std::strtol(args[i + 1].c_str(), nullptr, 10) > 500) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (set_up(), true);
  (void)ready;
  std::vector<std::string> args{"tauspan"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 24; ++i) {
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
  const int status = tauspan_command_line(static_cast<int>(args.size()), argv.data());
  if (status != 0 && status != 1 && status != 2) std::abort();
  return 0;
}
