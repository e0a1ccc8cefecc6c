// The result file: its name, its header lines and rows, and its safe
// replacement of an earlier file of the same name.
#ifndef TAUSPAN_RESULT_FILE_H_
#define TAUSPAN_RESULT_FILE_H_

#include <string>
#include <string_view>

#include "sample.h"

namespace tauspan {

// The result name for a data file's path. Only the part after the last '/'
// is split, at its last '.': "data.old/run.dat" gives "data.old/run_avar.dat".
// A name with no '.' gets "_avar" appended ("./run" gives "./run_avar").
// Another `tag` names another result the same way ("run.dat", "oadev" gives
// "run_oadev.dat").
std::string result_file_name(const std::string& path, std::string_view tag = "avar");

// The position of the last '.' in the file-name part of `path` (after the
// last '/'), or npos when that part has none.
size_t extension_dot(const std::string& path);

// A result file being written. The rows go to a temporary file beside it,
// which replaces the result name only when complete.
struct ResultFile {
  std::string name;
  std::string temporary;
  int fd = -1;
  std::string pending;  // text not yet written
  std::string error;    // the first failure, as "cannot ... 'name': cause"
};

// Starts a result file: creates the temporary file (permissions 0666 less
// the umask), ".<file name>.tmp-<tag>" in the same directory, the file name
// cut short where the whole would exceed the longest name the directory
// takes. On failure `error` says why and every later write is dropped.
ResultFile open_result_file(const std::string& name);

// The four comment lines that say how the rows were made. The data file's
// path is shown by printable_path.
void write_header(ResultFile& file, const std::string& data_path, const RunSettings& settings);

// One row: tau, avar and adev as %.15g would write them.
void write_row(ResultFile& file, double tau, double avar, double adev);

// Any other text, for files written the same safe way (the plot). Written
// from `text` itself, with no copy.
void write_text(ResultFile& file, const std::string& text);

// `path` as the header and the picture's title show it: control characters
// (bytes below 0x20, and 0x7f) as C escapes ("\n", "\t", "\x01"), so that
// a file name cannot add a line; every other byte as it is.
std::string printable_path(const std::string& path);

// Writes what is left, syncs and closes the temporary file and renames it
// over the result name. Returns the first failure, or "" when the result file
// is in place. After a failure the temporary file is removed and an earlier
// result file stays as it was.
std::string close_result_file(ResultFile& file);

// Drops the file without touching the result name.
void discard_result_file(ResultFile& file);

// Removes the temporary files of results still being written. Safe to call
// from a signal handler.
void remove_unfinished_files();

// `x` as an output stream with precision 15 writes it (the %.15g format).
std::string format_number(double x);

}  // namespace tauspan

#endif  // TAUSPAN_RESULT_FILE_H_
