// The default run of one data file: read it, sweep the taus, print the
// table, write the result file and, with -plot, the picture.
#ifndef TAUSPAN_RUN_DEFAULT_H_
#define TAUSPAN_RUN_DEFAULT_H_

#include <string>

#include "plot.h"
#include "protected_files.h"
#include "result_file.h"
#include "sample.h"
#include "series_reader.h"

namespace tauspan {

// Where a run gets its series: read_series, or a reader with the same
// contract (the option-walk fuzzer reads from memory).
using SeriesSource = SeriesRead (*)(const std::string& path, const RunSettings& settings,
                                    ReadProgress progress, void* context);

// Runs one data file and returns its exit status (0 or kFailed). Once read,
// the data file joins `protected_files`. An output that would replace or
// write a protected file is refused on stderr: a refused result stops the
// run after the sample count, a refused picture comes after the result. The
// result file is complete and in place before the picture is written;
// without it there is no picture. Running out of memory, or any other
// exception, ends this file's run alone: reported with the file and the
// cause, its temporary files removed, status kFailed.
int run_file(const std::string& path, const RunSettings& settings,
             ProtectedFiles& protected_files, SeriesSource source = read_series);

// Writes a drawn picture under `name` as safely as a result file, unless it
// would replace a protected file, and says so on the console. Returns the
// exit status for it: kFailed when nothing could be drawn, the name is
// refused or the file cannot be written (each reported on stderr).
int place_picture(const std::string& path, const std::string& name, const Plot& plot,
                  ProtectedFiles& protected_files, ResultFile& file);

// The run the option walk gives each data file: run_file with read_series,
// or another in the option-walk fuzzer.
using FileRun = int (*)(const std::string& path, const RunSettings& settings,
                        ProtectedFiles& protected_files);

}  // namespace tauspan

#endif  // TAUSPAN_RUN_DEFAULT_H_
