// Where a data file's results go: beside it, or in the -outdir directory;
// and the name that results of standard input ("-") take.
#ifndef TAUSPAN_OUTPUT_PLACE_H_
#define TAUSPAN_OUTPUT_PLACE_H_

#include <string>
#include <string_view>

namespace tauspan {

// The data-file name that stands for standard input.
inline bool is_standard_input(std::string_view path) { return path == "-"; }

// The data-file name whose results standard input's results are named
// after: stdin_avar.dat, stdin_oadev.dat.
inline constexpr char kStandardInputName[] = "stdin.dat";

// The path that the result names of the data file `path` are made from: the
// path itself when `output_dir` is empty, else its file-name part (after the
// last '/') in `output_dir`. Standard input counts as kStandardInputName in
// the current directory, or in `output_dir`.
std::string result_base(const std::string& path, const std::string& output_dir);

// "" when `dir` is a directory that can take new files; otherwise what is
// wrong, as "cannot put results in 'out': No such file or directory"
// (ENOTDIR when it is no directory). An empty `dir` is fine: it means
// beside the data files.
std::string check_output_dir(const std::string& dir);

// The echo of -outdir, without the line end.
std::string describe_output_dir(const std::string& dir);

}  // namespace tauspan

#endif  // TAUSPAN_OUTPUT_PLACE_H_
