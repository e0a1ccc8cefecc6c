// The result name of any path: the directory part is kept as it is, and the
// file-name part gains "_avar" before its last '.' (or at its end).
#include <cstdlib>
#include <string>

#include "result_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  const std::string name = tauspan::result_file_name(path);
  const size_t slash = path.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  const std::string dir = path.substr(0, base);
  const std::string file = path.substr(base);
  if (name.compare(0, dir.size(), dir) != 0) std::abort();
  const size_t dot = file.rfind('.');
  const std::string want = dot == std::string::npos
                               ? file + "_avar"
                               : file.substr(0, dot) + "_avar" + file.substr(dot);
  if (name.substr(dir.size()) != want) std::abort();
  if (name.size() != path.size() + 5) std::abort();
  return 0;
}
