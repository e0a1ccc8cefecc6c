// Whole runs of the binary: the console output byte for byte, and the exit
// status.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "test_util.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::ScratchDir;
using test::numbered_lines;
using test::run_tool;

const char kUsage[] =
    " tauspan\n Calculate the overlapping Alan Variance of a time series\n\n"
    " usage:\n   tauspan [-options] <datafile(s)>\n   Eg. 'tauspan run1234.dat -logtau run5678.dat'\n"
    "   Will produce run1234_avar.dat and run5678_avar.dat\n\n"
    " Options:\n"
    "  -time <tcol=1>     Will use 'tcol' as time (1-based, 0 for row #)\n"
    "  -data <dcol=2>     Will use 'dcol' as data (1-based, 0 for row #)\n"
    "  -tmult <mult=1.0>  Will multiply timebase by 'mult' before using\n"
    "  -n[umtaus] <n=100> Will calculate for n taus spaced from minimum to maximum\n"
    "  -logtau            Will logarithmically spaced taus\n"
    "  -mintau <min>      Set the minimum tau to be different than T(3)-T(1)\n"
    "  -maxtau <min>      Set the maximum tau to be different than (max time)/4\n"
    "  -nooverlap         Do not use overlapped Alan variance (moving averages)\n"
    "  -jitter <tol>      Allow 'tol' fractional jitter in bin separation\n";

const std::vector<double> kWorkedValues = {1, 3, 2, 5, 4, 6, 5, 7, 6, 8,
                                           7, 9, 8, 10, 9, 11, 10, 12, 11, 13};

// A scratch directory holding the worked 20-sample series as w.dat.
struct WorkedRun : ScratchDir {
  WorkedRun() { write("w.dat", numbered_lines(kWorkedValues)); }
  test::RunResult run(const std::vector<std::string>& args) const {
    RunOptions o;
    o.cwd = dir;
    return run_tool(args, o);
  }
};

std::string table(const std::string& path, const std::string& rows, int count = 20,
                  const std::string& extent = "2.000000 to 4.750000") {
  return "Input: " + path + "\nReading data... found " + std::to_string(count) +
         " datapoints\nTau extent: " + extent + "\nOutput: " +
         path.substr(0, path.rfind('.')) + "_avar" + path.substr(path.rfind('.')) +
         "\n\n\ntau\tAVAR\tADEV\n" + rows;
}

TEST(UsageTest, PrintedForNoArgumentsAndHelpWords) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-h"}, {"/?"}, {"-?"}, {"--help"}, {"-h", "x.dat"}}) {
    const auto r = run_tool(args);
    EXPECT_EQ(r.out.substr(0, sizeof kUsage - 1), kUsage);
    EXPECT_EQ(r.status, 0);
  }
  EXPECT_EQ(run_tool({"-h"}).out, kUsage);
}

TEST(UsageTest, HelpWordsLaterOnAreDataFiles) {
  ScratchDir dir;
  const auto r = run_tool({"-logtau", dir.path("-h")});
  EXPECT_EQ(r.out.substr(0, 38), "Using logarithmic tau spacing.\nInput: ");
  EXPECT_EQ(r.status, 1);  // no such file
}

TEST(OptionWalkTest, EchoesWithoutADataFile) {
  const auto r = run_tool({"-time", "3", "-data", "x", "-tmult", "0.5e-3", "-logtau", "-numtaus",
                           "12", "-n", "99999999999", "-mintau", "-5", "-maxtau", "junk",
                           "-nooverlap", "-jitter", "0.1", "-n", "-7"});
  EXPECT_EQ(r.out,
            "Using column 3 as time.\n"
            "Using column 0 as data.\n"
            "Multiplying time by 0.000500 before use.\n"
            "Using logarithmic tau spacing.\n"
            "Calculating for 12 tau values\n"
            "Calculating for 2147483647 tau values\n"
            "Using -5.000000 for minimum tau size.\n"
            "Using 0.000000 for maximum tau size.\n"
            "Disabling overlap - not using moving average.\n"
            "Allowing 0.100000 fractional jitter in bin spacing.\n"
            "Calculating for -7 tau values\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST(OptionWalkTest, AMissingValueStopsTheWalk) {
  WorkedRun w;
  const auto r = w.run({"-n", "1", "w.dat", "-logtau", "-jitter"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tauspan: option -jitter needs a value\n");
  EXPECT_EQ(r.out, "Calculating for 1 tau values\n" +
                       table("w.dat", "2.000000\t0.671875\t0.819680\n") +
                       "Using logarithmic tau spacing.\n");
  EXPECT_TRUE(w.exists("w_avar.dat"));
}

TEST(FileRunTest, WorkedRunConsoleAndResultFile) {
  WorkedRun w;
  auto r = w.run({"-n", "3", "w.dat"});
  EXPECT_EQ(r.out, "Calculating for 3 tau values\n" +
                       table("w.dat",
                             "2.000000\t0.671875\t0.819680\n"
                             "3.375000\t2.286458\t1.512104\n"
                             "4.750000\t3.510000\t1.873499\n"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(w.read("w_avar.dat"),
            "#Overlapped Allan variance of w.dat\n"
            "#Using column 1 as time, column 2 as data\n"
            "#Using linearly spaced taus\n"
            "#tau\tavar\tadev\n"
            "2\t0.671875\t0.81967981553775\n"
            "3.375\t2.28645833333333\t1.51210394263534\n"
            "4.75\t3.51\t1.87349939951952\n");
  r = w.run({"-nooverlap", "-n", "3", "w.dat"});
  EXPECT_EQ(w.read("w_avar.dat"),
            "#Non-overlapped Allan variance of w.dat\n"
            "#Using column 1 as time, column 2 as data\n"
            "#Using linearly spaced taus\n"
            "#tau\tavar\tadev\n"
            "2\t0.65625\t0.810092587300983\n"
            "3.375\t2.59375\t1.61051234084064\n"
            "4.75\t4.1\t2.02484567313166\n");
}

TEST(FileRunTest, TauCounts) {
  WorkedRun w;
  for (const char* n : {"0", "-5", "many"}) {
    const auto r = w.run({"-n", n, "w.dat"});
    EXPECT_EQ(r.out.substr(r.out.find("Input")), table("w.dat", ""));
    EXPECT_EQ(w.read("w_avar.dat").substr(w.read("w_avar.dat").rfind('#')), "#tau\tavar\tadev\n");
  }
  const std::string one = w.run({"-n", "1", "w.dat"}).out;
  EXPECT_EQ(one.substr(one.find("Input")), table("w.dat", "2.000000\t0.671875\t0.819680\n"));
  // A min_tau of 0 is the derived one.
  const auto r = w.run({"-n", "1", "-mintau", "0", "w.dat"});
  EXPECT_EQ(r.out, "Calculating for 1 tau values\nUsing 0.000000 for minimum tau size.\n" +
                       table("w.dat", "2.000000\t0.671875\t0.819680\n"));
}

TEST(FileRunTest, TooFewSamples) {
  ScratchDir dir;
  dir.write("three.dat", "0\t1\n1\t2\n2\t3\nx\t4\n");
  dir.write("three_avar.dat", "kept");
  const auto r = run_tool({dir.path("three.dat")});
  EXPECT_EQ(r.out, "Input: " + dir.path("three.dat") + "\nReading data... found 3 datapoints\n"
                   "Insufficient valid datapoints to calculate Allan variance for " +
                       dir.path("three.dat") + "\nOnly found 3, need at least 4\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("three_avar.dat"), "kept");
  // Four are enough; the default range then runs downward.
  dir.write("four.dat", "0\t1\n1\t2\n2\t3\n3\t5\n");
  EXPECT_NE(run_tool({"-n", "2", dir.path("four.dat")}).out.find("Tau extent: 2.000000 to 0.750000\n"),
            std::string::npos);
}

TEST(FileRunTest, MissingAndUnreadableFiles) {
  ScratchDir dir;
  auto r = run_tool({dir.path("none.dat")});
  EXPECT_EQ(r.out, "Input: " + dir.path("none.dat") + "\nReading data... found 0 datapoints\n"
                   "Insufficient valid datapoints to calculate Allan variance for " +
                       dir.path("none.dat") + "\nOnly found 0, need at least 4\n");
  EXPECT_EQ(r.err, "tauspan: cannot open '" + dir.path("none.dat") + "': No such file or directory\n");
  EXPECT_EQ(r.status, 1);
  r = run_tool({dir.dir});
  EXPECT_EQ(r.err, "tauspan: cannot read '" + dir.dir + "': Is a directory\n");
  EXPECT_EQ(r.status, 1);
}

TEST(FileRunTest, LaterFilesRunInTurnWithTheirOwnDataColumn) {
  ScratchDir dir;
  dir.write("a.dat", numbered_lines(kWorkedValues));
  std::string three_columns;
  for (size_t i = 0; i < 20; ++i) {
    three_columns += "x\t" + std::to_string(i) + "\t" + std::to_string(kWorkedValues[i]) + "\n";
  }
  dir.write("b.dat", three_columns);
  RunOptions o;
  o.cwd = dir.dir;
  // -time 2 after a.dat makes b.dat read its value from column 3.
  auto r = run_tool({"-n", "1", "a.dat", "-time", "2", "missing.dat", "b.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: cannot open 'missing.dat': No such file or directory\n");
  const std::string row = "2.000000\t0.671875\t0.819680\n";
  EXPECT_EQ(r.out, "Calculating for 1 tau values\n" + table("a.dat", row) +
                       "Using column 2 as time.\n"
                       "Input: missing.dat\nReading data... found 0 datapoints\n"
                       "Insufficient valid datapoints to calculate Allan variance for missing.dat\n"
                       "Only found 0, need at least 4\n" +
                       table("b.dat", row));
  EXPECT_NE(dir.read("b_avar.dat").find("#Using column 2 as time, column 3 as data\n"),
            std::string::npos);
  // Once -data is seen, it holds for every later file.
  r = run_tool({"-n", "1", "-data", "2", "a.dat", "-time", "2", "b.dat"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(dir.read("b_avar.dat").find("#Using column 2 as time, column 2 as data\n"),
            std::string::npos);
}

TEST(FileRunTest, RowNumbersAsTimeOrValue) {
  ScratchDir dir;
  dir.write("v.dat", "#c\nvalue\n" + std::string("5\n6\n8\n7\n9\n8\n10\n9\n"));
  RunOptions o;
  o.cwd = dir.dir;
  auto r = run_tool({"-time", "0", "-n", "1", "v.dat"}, o);
  // Samples at 1 ... 8 (the header took row 0), extent 0 to 7.
  EXPECT_NE(r.out.find("found 8 datapoints\nTau extent: 3.000000 to 1.750000\n"), std::string::npos);
  EXPECT_NE(dir.read("v_avar.dat").find("#Using datapoint number as time, column 1 as data\n"),
            std::string::npos);
  r = run_tool({"-data", "0", "-n", "1", "v.dat"}, o);
  EXPECT_NE(r.out.find("found 8 datapoints\n"), std::string::npos);
  EXPECT_NE(dir.read("v_avar.dat").find("#Using column 1 as time, column 0 as data\n"),
            std::string::npos);
}

TEST(FileRunTest, EqualTimesGiveZeroAndNanTaus) {
  WorkedRun w;
  auto r = w.run({"-tmult", "0", "-n", "2", "w.dat"});
  EXPECT_NE(r.out.find("Tau extent: 0.000000 to 0.000000\n"), std::string::npos);
  EXPECT_NE(r.out.find("tau\tAVAR\tADEV\n0.000000\t0.000000\t0.000000\n0.000000\t0.000000\t0.000000\n"),
            std::string::npos);
  r = w.run({"-tmult", "0", "-logtau", "-n", "2", "w.dat"});
  // The NaN's spelling (and sign) is the C library's.
  const std::string rows = r.out.substr(r.out.find("ADEV\n") + 5);
  EXPECT_EQ(rows.substr(rows.find("nan")), "nan\t0.000000\t0.000000\n0.000000\t0.000000\t0.000000\n");
  EXPECT_EQ(r.status, 0);
}

TEST(FileRunTest, BundledExample) {
  // A copy, so the result file lands in the scratch directory.
  ScratchDir dir;
  std::ifstream in(test::example_path("oscillator.dat"), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  dir.write("oscillator.dat", text.str());
  RunOptions o;
  o.cwd = dir.dir;
  const auto r = run_tool({"-logtau", "oscillator.dat"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Reading data... found 4000 datapoints\n"), std::string::npos);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8 + 100);
  EXPECT_TRUE(dir.exists("oscillator_avar.dat"));
}

}  // namespace
}  // namespace tauspan

namespace tauspan {
namespace {

// A sweep that takes some seconds: long enough for the status line.
std::string slow_series() {
  std::string text;
  for (int i = 0; i < 60000; ++i) text += std::to_string(i) + "\t" + std::to_string(i % 17) + "\n";
  return text;
}

TEST(ProgressTest, StatusLineOnATerminalNeverOnStdout) {
  ScratchDir dir;
  dir.write("s.dat", slow_series());
  RunOptions o;
  o.cwd = dir.dir;
  o.stderr_terminal = true;
  const auto t0 = std::chrono::steady_clock::now();
  o.watch = [&](pid_t pid, const test::RunResult& so_far) {
    const bool seen = so_far.err.find("tauspan: tau ") != std::string::npos;
    if (!seen && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(60)) return false;
    ::kill(pid, SIGTERM);
    return true;
  };
  const auto r = run_tool({"s.dat"}, o);
  const size_t at = r.err.find("\r\033[Ktauspan: tau ");
  ASSERT_NE(at, std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" of 100", at), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
  EXPECT_EQ(r.out.find("tauspan:"), std::string::npos);
  EXPECT_EQ(r.signal_number, SIGTERM);
}

TEST(ProgressTest, NothingWhenStderrIsNoTerminal) {
  ScratchDir dir;
  dir.write("s.dat", slow_series());
  RunOptions o;
  o.cwd = dir.dir;
  const auto t0 = std::chrono::steady_clock::now();
  o.watch = [&](pid_t pid, const test::RunResult&) {
    if (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(2500)) return false;
    ::kill(pid, SIGTERM);
    return true;
  };
  const auto r = run_tool({"s.dat"}, o);
  // A slow build may announce the sweep as long; it draws no status line.
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("tauspan: tau "), std::string::npos) << r.err;
}

TEST(VersionTest, PrintsTheProjectVersion) {
  const auto r = run_tool({"--version"});
  EXPECT_EQ(r.out, "tauspan " TAUSPAN_VERSION "\n");
  EXPECT_EQ(r.status, 0);
  // Only as the first argument.
  EXPECT_EQ(run_tool({"-logtau", "--version"}).status, 1);
}

}  // namespace
}  // namespace tauspan
