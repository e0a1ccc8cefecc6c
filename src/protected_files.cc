// Data files by identity. Names cannot decide it: "run_avar.dat" and
// "./run_avar.dat" are one file, and so are a file and its links.
#include "protected_files.h"

#include <sys/stat.h>

namespace tauspan {
namespace {

bool identity(const std::string& path, std::pair<uint64_t, uint64_t>& id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

// Standard input, which "-" stands for: a file redirected there is data too.
bool descriptor_identity(int fd, std::pair<uint64_t, uint64_t>& id) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

}  // namespace

void protect_file(ProtectedFiles& files, const std::string& path) {
  files.unresolved.push_back(path);
}

std::string protected_target(ProtectedFiles& files, const std::string& output) {
  std::pair<uint64_t, uint64_t> id;
  if (!identity(output, id)) return "";  // nothing there yet, so nothing to lose
  // No run has replaced a data file before this point, so looking the names
  // up now finds what they named at the start (or what a run made since).
  for (const std::string& path : files.unresolved) {
    std::pair<uint64_t, uint64_t> data;
    if (path == "-" ? descriptor_identity(0, data) : identity(path, data)) {
      files.by_identity.emplace(data, path);
    }
  }
  files.unresolved.clear();
  const auto it = files.by_identity.find(id);
  return it == files.by_identity.end() ? "" : it->second;
}

std::string refusal(const std::string& what, const std::string& data_path,
                    const std::string& output, const std::string& target) {
  return "not writing the " + what + " of '" + data_path + "' to '" + output +
         "': that is the data file '" + target + "'";
}

}  // namespace tauspan
