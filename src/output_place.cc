// Result places: the -outdir directory, its check, and standard input's name.
#include "output_place.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tauspan {

std::string result_base(const std::string& path, const std::string& output_dir) {
  const std::string data = is_standard_input(path) ? kStandardInputName : path;
  if (output_dir.empty()) return data;
  const size_t slash = data.rfind('/');
  const std::string name = slash == std::string::npos ? data : data.substr(slash + 1);
  return output_dir.back() == '/' ? output_dir + name : output_dir + "/" + name;
}

std::string check_output_dir(const std::string& dir) {
  if (dir.empty()) return "";
  struct stat st;
  int error = 0;
  if (::stat(dir.c_str(), &st) != 0) {
    error = errno;
  } else if (!S_ISDIR(st.st_mode)) {
    error = ENOTDIR;
  } else if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    error = errno;
  }
  if (error == 0) return "";
  return "cannot put results in '" + dir + "': " + std::strerror(error);
}

std::string describe_output_dir(const std::string& dir) {
  if (dir.empty()) return "Using the data files' own directories for results.";
  return "Using '" + dir + "' for results.";
}

}  // namespace tauspan
