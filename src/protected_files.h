// The data files named on the command line, which no run may replace or
// write, and the check every output name passes before it is written.
#ifndef TAUSPAN_PROTECTED_FILES_H_
#define TAUSPAN_PROTECTED_FILES_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tauspan {

// Files known by device and inode, so that "./x.dat", "x.dat" and links to
// it are one file. Paths are looked up only when an output name turns out
// to exist: until then nothing can be lost.
struct ProtectedFiles {
  std::vector<std::string> unresolved;  // named, not yet looked up
  std::map<std::pair<uint64_t, uint64_t>, std::string> by_identity;  // to the path named
};

// Adds the file that `path` names (following links); "-" names the file or
// pipe on standard input. Nothing is looked up yet; a path that names no
// file when it is looked up protects nothing.
void protect_file(ProtectedFiles& files, const std::string& path);

// The path of the protected file that `output` names (by name, hard link or
// symbolic link), or "" when writing `output` touches none.
std::string protected_target(ProtectedFiles& files, const std::string& output);

// The stderr text for an output refused by protected_target: what was not
// written (`what`, as "result" or "plot"), for which data file, where, and the
// data file it would have replaced.
std::string refusal(const std::string& what, const std::string& data_path,
                    const std::string& output, const std::string& target);

}  // namespace tauspan

#endif  // TAUSPAN_PROTECTED_FILES_H_
