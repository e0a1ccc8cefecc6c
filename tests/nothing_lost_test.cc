// Whole runs under faults that could cost a user's files or the record of a
// run: closed descriptors, data files in the way of outputs, signals, memory
// limits, awkward names, kills. Each checks what is left on disk.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>

#include "protected_files.h"
#include "test_util.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::RunResult;
using test::ScratchDir;
using test::run_tool;

// Lines "i\t<i*37 % 11>\n" for i = 0 ... n - 1.
std::string ramp(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += std::to_string(i) + "\t" + std::to_string(i * 37 % 11) + "\n";
  return text;
}

RunResult run_in(const ScratchDir& dir, const std::vector<std::string>& args,
                 RunOptions o = {}) {
  o.cwd = dir.dir;
  return run_tool(args, o);
}

// The result file of `-n 3` on ramp(20) as data file `name`.
std::string ramp_result(const std::string& name) {
  return "#Overlapped Allan variance of " + name +
         "\n#Using column 1 as time, column 2 as data\n#Using linearly spaced taus\n"
         "#tau\tavar\tadev\n"
         "2\t3.7265625\t1.93043065143506\n"
         "3.375\t1.98697916666667\t1.40960248533644\n"
         "4.75\t0.9\t0.948683298050514\n";
}

// The rows of a result file, when it holds nothing else.
size_t only_rows(const std::string& result) {
  if (result.find("#tau\tavar\tadev\n") == std::string::npos ||
      result.find("Input:") != std::string::npos || result.find("AVAR") != std::string::npos ||
      result.find("tauspan:") != std::string::npos) {
    return 0;
  }
  return static_cast<size_t>(std::count(result.begin(), result.end(), '\n')) - 4;
}

TEST(ClosedStreamsTest, NoResultFileTakesTheirPlace) {
  ScratchDir dir;
  dir.write("d.dat", ramp(20));
  // More console text than a stdio buffer holds, so that some is written
  // while the result file is open.
  RunOptions o;
  o.closed_fds = {1};
  RunResult r = run_in(dir, {"-n", "500", "d.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: cannot write to standard output: Bad file descriptor\n");
  EXPECT_EQ(only_rows(dir.read("d_avar.dat")), 500u);
  // A diagnostic written while the result file may be open: the picture of
  // a flat series has nothing to draw.
  dir.write("flat.dat", "0\t7\n1\t7\n2\t7\n3\t7\n4\t7\n5\t7\n");
  o.closed_fds = {2};
  r = run_in(dir, {"-plot", "-n", "1", "flat.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.read("flat_avar.dat"),
            "#Overlapped Allan variance of flat.dat\n#Using column 1 as time, column 2 as data\n"
            "#Using linearly spaced taus\n#tau\tavar\tadev\n2\t0\t0\n");
  o.closed_fds = {0, 1, 2};
  r = run_in(dir, {"-n", "500", "d.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(only_rows(dir.read("d_avar.dat")), 500u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"d.dat", "d_avar.dat", "flat.dat",
                                                     "flat_avar.dat"}));
}

TEST(DataFileGuardTest, AResultNeverReplacesADataFile) {
  ScratchDir dir;
  dir.write("x.dat", ramp(20));
  dir.write("x_avar.dat", ramp(8));  // the user's data, named like a result
  // Named before, named after in another spelling: the same file.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-n", "3", "x_avar.dat", "x.dat"},
        std::vector<std::string>{"-n", "3", "x.dat", "./x_avar.dat"}}) {
    const RunResult r = run_in(dir, args);
    EXPECT_EQ(r.status, 1);
    const bool before = args[2] == "x_avar.dat";
    EXPECT_EQ(r.err, std::string("tauspan: not writing the result of 'x.dat' to 'x_avar.dat': "
                                 "that is the data file '") +
                         (before ? "x_avar.dat" : "./x_avar.dat") + "'\n");
    // The refused file stops after its count; the other file runs.
    EXPECT_NE(r.out.find("Input: x.dat\nReading data... found 20 datapoints\n" +
                         std::string(before ? "" : "Input: ./x_avar.dat\n")),
              std::string::npos)
        << r.out;
    EXPECT_EQ(dir.read("x_avar.dat"), ramp(8));
    EXPECT_TRUE(dir.exists("x_avar_avar.dat"));
  }
  // A hard link and a symbolic link are the file they name.
  dir.write("y.dat", ramp(20));
  ASSERT_EQ(::link(dir.path("x_avar.dat").c_str(), dir.path("y_avar.dat").c_str()), 0);
  ASSERT_EQ(::symlink("x_avar.dat", dir.path("z_avar.dat").c_str()), 0);
  dir.write("z.dat", ramp(20));
  const RunResult r = run_in(dir, {"-n", "3", "x_avar.dat", "y.dat", "z.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tauspan: not writing the result of 'y.dat' to 'y_avar.dat': that is the data file "
            "'x_avar.dat'\n"
            "tauspan: not writing the result of 'z.dat' to 'z_avar.dat': that is the data file "
            "'x_avar.dat'\n");
  EXPECT_EQ(dir.read("x_avar.dat"), ramp(8));
  EXPECT_EQ(dir.read("y_avar.dat"), ramp(8));
  struct stat st;
  EXPECT_TRUE(::lstat(dir.path("z_avar.dat").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
}

TEST(DataFileGuardTest, NamesAreLookedUpOnlyWhenAnOutputExists) {
  ScratchDir dir;
  ProtectedFiles files;
  protect_file(files, dir.path("later.dat"));  // not there yet
  EXPECT_EQ(protected_target(files, dir.path("later.dat")), "");  // nothing there to lose
  dir.write("later.dat", "x\n");
  dir.write("other.dat", "y\n");
  EXPECT_EQ(protected_target(files, dir.dir + "/./later.dat"), dir.path("later.dat"));
  EXPECT_EQ(protected_target(files, dir.path("other.dat")), "");
}

TEST(DataFileGuardTest, APictureNeverReplacesADataFile) {
  ScratchDir dir;
  dir.write("x.dat", ramp(20));
  dir.write("x_avar.svg", "kept\n");
  const RunResult r = run_in(dir, {"-plot", "-n", "3", "x_avar.svg", "x.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tauspan: not writing the plot of 'x.dat' to 'x_avar.svg': that is the data file "
            "'x_avar.svg'\n");
  EXPECT_EQ(r.out.find("Plot:"), std::string::npos);
  EXPECT_EQ(dir.read("x_avar.svg"), "kept\n");
  EXPECT_EQ(dir.read("x_avar.dat"), ramp_result("x.dat"));
}

TEST(PlotOrderTest, APictureNeverTakesTheResultName) {
  ScratchDir dir;
  dir.write("a.svg", ramp(20));
  const RunResult r = run_in(dir, {"-plot", "-n", "3", "a.svg"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(r.out.rfind("Plot:")), "Plot: a_avar_plot.svg\n");
  EXPECT_EQ(dir.read("a_avar.svg"), ramp_result("a.svg"));
  EXPECT_EQ(dir.read("a_avar_plot.svg").substr(0, 5), "<?xml");
}

TEST(PlotOrderTest, NoPictureWithoutItsResult) {
  ScratchDir dir;
  dir.write("r.dat", ramp(20));
  ::mkdir(dir.path("r_avar.dat").c_str(), 0777);
  dir.write("r_avar.svg", "earlier picture\n");
  const RunResult r = run_in(dir, {"-plot", "-n", "3", "r.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: cannot create 'r_avar.dat': Is a directory\n");
  EXPECT_EQ(r.out.find("Plot:"), std::string::npos);
  EXPECT_EQ(dir.read("r_avar.svg"), "earlier picture\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"r.dat", "r_avar.dat", "r_avar.svg"}));
}

// A sweep with no end, stopped by `sig` once its temporary file exists.
RunResult stopped_sweep(const ScratchDir& dir, int sig, RunOptions o = {}) {
  o.watch = [&dir, sig](pid_t pid, const RunResult&) {
    if (dir.entries().size() < 3) return false;
    if (sig != 0) ::kill(pid, sig);
    return true;
  };
  return run_in(dir, {"-n", "2147483647", "d.dat"}, o);
}

TEST(SignalTest, EverySignalThatEndsTheRunRemovesItsTemporaryFile) {
  std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT, SIGTRAP,   SIGABRT, SIGUSR1,
                              SIGUSR2, SIGALRM, SIGTERM, SIGXCPU,   SIGVTALRM, SIGPROF,
                              SIGSYS,  SIGIO,   SIGPWR,  SIGSTKFLT, SIGRTMIN, SIGRTMIN + 5,
                              SIGRTMAX};
#ifndef TAUSPAN_SANITIZE  // the sanitizers report these faults themselves
  signals.insert(signals.end(), {SIGSEGV, SIGBUS, SIGFPE, SIGILL});
#endif
  for (const int sig : signals) {
    SCOPED_TRACE(sig);
    ScratchDir dir;
    dir.write("d.dat", ramp(20));
    dir.write("d_avar.dat", "earlier\n");
    const RunResult r = stopped_sweep(dir, sig);
    EXPECT_EQ(r.signal_number, sig);
    EXPECT_EQ(dir.read("d_avar.dat"), "earlier\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"d.dat", "d_avar.dat"}));
  }
}

TEST(SignalTest, ACpuTimeLimitRemovesTheTemporaryFile) {
  ScratchDir dir;
  dir.write("d.dat", ramp(20));
  RunOptions o;
  o.cpu_seconds = 1;  // as `ulimit -S -t 1` would
  const RunResult r = stopped_sweep(dir, 0, o);
  EXPECT_EQ(r.signal_number, SIGXCPU);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"d.dat"});
}

TEST(MemoryTest, RunningOutEndsOnlyThatFile) {
#ifdef TAUSPAN_SANITIZE
  GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#endif
  ScratchDir dir;
  std::string lines;
  for (int i = 0; i < 5'000'000; ++i) lines += "1\t2\n";
  dir.write("big.dat", lines);
  dir.write("small.dat", ramp(20));
  RunOptions o;
  o.memory_limit = 48ll << 20;  // the series of big.dat alone needs 80 MB
  const RunResult r = run_in(dir, {"-n", "3", "big.dat", "small.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: out of memory while processing 'big.dat'\n");
  EXPECT_NE(r.out.find("Input: small.dat\n"), std::string::npos);
  EXPECT_EQ(dir.read("small_avar.dat"), ramp_result("small.dat"));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"big.dat", "small.dat", "small_avar.dat"}));
}

TEST(MemoryTest, APictureTooLargeForMemoryLeavesTheResultAndNoTemporaryFile) {
#ifdef TAUSPAN_SANITIZE
  GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#endif
  ScratchDir dir;
  dir.write("d.dat", ramp(20));
  dir.write("e.dat", ramp(20));
  RunOptions o;
  // 200 000 points fit; their picture, at about 70 bytes a point, does not
  // (it fails from below 20 MB up to 44 MB here).
  o.memory_limit = 32ll << 20;
  const RunResult r = run_in(dir, {"-plot", "-n", "200000", "d.dat", "-n", "3", "e.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: out of memory while processing 'd.dat'\n");
  EXPECT_EQ(r.out.find("Plot: d_avar.svg"), std::string::npos);
  const std::string result = dir.read("d_avar.dat");
  EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 4 + 200000);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"d.dat", "d_avar.dat", "e.dat",
                                                     "e_avar.dat", "e_avar.svg"}));
}

TEST(ExceptionTest, AHugeSparseFileEndsOnlyThatFile) {
  // tmpfs takes files up to 8 EiB; most disk file systems stop at 16 TiB.
  if (::access("/dev/shm", W_OK) != 0) GTEST_SKIP() << "no /dev/shm";
  ScratchDir dir("/dev/shm");
  // Dense lines, then nothing for 4 EiB: a reserve sized from the file's
  // length and its first lines would be beyond any vector.
  std::string dense;
  for (int i = 0; i < 300000; ++i) dense += "1\t2\n";
  dir.write("huge.dat", dense);
  dir.write("good.dat", ramp(20));
  const auto data_size = static_cast<off_t>(dense.size());
  if (::truncate(dir.path("huge.dat").c_str(), off_t{1} << 62) != 0) {
    GTEST_SKIP() << "no 4 EiB sparse file here";
  }
  RunOptions o;
  const auto t0 = std::chrono::steady_clock::now();
  o.watch = [&](pid_t, const RunResult& so_far) {
    // A reader that reads on through the hole meets the end of the file.
    if (so_far.out.find("Input: good.dat") != std::string::npos) return true;
    if (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) return false;
    ::truncate(dir.path("huge.dat").c_str(), data_size);
    return true;
  };
  const RunResult r = run_in(dir, {"-n", "3", "huge.dat", "good.dat"}, o);
  EXPECT_EQ(r.signal_number, 0);
  EXPECT_NE(r.out.find("Input: good.dat\n"), std::string::npos);
  EXPECT_EQ(dir.read("good_avar.dat"), ramp_result("good.dat"));
  if (r.status != 0) {
    EXPECT_EQ(r.err.substr(0, 40), "tauspan: cannot process 'huge.dat': vect") << r.err;
  }
}

TEST(FileNameTest, ControlCharactersAreEscapedInTheHeaderAndTitle) {
  ScratchDir dir;
  const std::string name = "nl\n1\t2\x01.dat";
  dir.write(name, ramp(20));
  const RunResult r = run_in(dir, {"-plot", "-n", "3", name});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Input: " + name + "\n"), std::string::npos);  // the console as ever
  const std::string shown = "nl\\n1\\t2\\x01.dat";
  EXPECT_EQ(dir.read("nl\n1\t2\x01_avar.dat"), ramp_result(shown));
  EXPECT_NE(dir.read("nl\n1\t2\x01_avar.svg").find(">" + shown + " \xe2\x80\x94 overlapped"),
            std::string::npos);
}

TEST(FileNameTest, LongNamesGetAShorterTemporaryName) {
  for (const size_t length : {239u, 245u, 250u, 251u}) {
    SCOPED_TRACE(length);
    ScratchDir dir;
    const std::string stem(length - 4, 'n');
    dir.write(stem + ".dat", ramp(20));
    const RunResult r = run_in(dir, {"-n", "3", stem + ".dat"});
    if (length <= 250) {  // the result name has 255 bytes or fewer
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(dir.read(stem + "_avar.dat"), ramp_result(stem + ".dat"));
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, "tauspan: cannot create '" + stem + "_avar.dat': File name too long\n");
    }
    EXPECT_EQ(dir.entries().size(), length <= 250 ? 2u : 1u);
  }
}

TEST(ConsoleTest, AKilledRunLeavesWhatItPrintedSoFar) {
  ScratchDir dir;
  dir.write("d.dat", ramp(200000));
  RunOptions o;
  const auto t0 = std::chrono::steady_clock::now();
  o.watch = [&](pid_t pid, const RunResult& so_far) {
    const bool first_row = so_far.out.find("ADEV\n2.000000\t") != std::string::npos;
    if (!first_row && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(10)) {
      return false;
    }
    ::kill(pid, SIGKILL);
    return true;
  };
  const RunResult r = run_in(dir, {"d.dat"}, o);
  EXPECT_EQ(r.signal_number, SIGKILL);
  EXPECT_EQ(r.out.substr(0, r.out.find("ADEV\n") + 5),
            "Input: d.dat\nReading data... found 200000 datapoints\n"
            "Tau extent: 2.000000 to 49999.750000\nOutput: d_avar.dat\n\n\ntau\tAVAR\tADEV\n");
  EXPECT_NE(r.out.find("ADEV\n2.000000\t"), std::string::npos);
}

TEST(ConsoleTest, ARunawaySweepIsAnnouncedOnceOnStderr) {
  for (const bool fast : {false, true}) {
    ScratchDir dir;
    dir.write("d.dat", ramp(20));
    RunOptions o;
    const auto t0 = std::chrono::steady_clock::now();
    o.watch = [&](pid_t pid, const RunResult& so_far) {
      if (so_far.err.empty() && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(10)) {
        return false;
      }
      ::kill(pid, SIGINT);
      return true;
    };
    std::vector<std::string> args = {"-n", "2147483647", "d.dat"};
    if (fast) args.insert(args.begin(), "-fast");
    const RunResult r = run_in(dir, args, o);
    const std::string duration = "[0-9.]+ (seconds|minutes|hours|days|years)";
    const std::regex expected("tauspan: the sweep of 'd.dat' will take about " + duration +
                              (fast ? "" : " \\(with -fast about " + duration + "\\)") + "\n");
    EXPECT_TRUE(std::regex_match(r.err, expected)) << r.err;
    EXPECT_EQ(r.out.find("tauspan"), std::string::npos);
    EXPECT_EQ(r.signal_number, SIGINT);
  }
}

}  // namespace
}  // namespace tauspan
