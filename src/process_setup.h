// What the process settles before its first file: the standard descriptors
// and the signals that would end it.
#ifndef TAUSPAN_PROCESS_SETUP_H_
#define TAUSPAN_PROCESS_SETUP_H_

namespace tauspan {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file the tool opens later can take its place (a result file on
// descriptor 1 would receive the console). Returns whether stdout was closed.
bool open_standard_streams();

// Every signal whose default action ends the process and that can be caught
// removes the temporary files of unfinished results, then ends the process
// by that same signal. SIGPIPE and SIGXFSZ are ignored instead: a write then
// fails with EPIPE or EFBIG, which the run reports.
void install_signal_handlers();

}  // namespace tauspan

#endif  // TAUSPAN_PROCESS_SETUP_H_
