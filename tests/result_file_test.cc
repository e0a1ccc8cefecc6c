#include "result_file.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "plot.h"
#include "test_util.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::ScratchDir;
using test::run_tool;

TEST(ResultFileNameTest, SplitsTheFileNameAtItsLastDot) {
  EXPECT_EQ(result_file_name("run1234.dat"), "run1234_avar.dat");
  EXPECT_EQ(result_file_name("run.old.dat"), "run.old_avar.dat");
  EXPECT_EQ(result_file_name("data.old/run.dat"), "data.old/run_avar.dat");
  EXPECT_EQ(result_file_name("../x/run.old.dat"), "../x/run.old_avar.dat");
  EXPECT_EQ(result_file_name("/abs/path/a.b.c"), "/abs/path/a.b_avar.c");
}

TEST(ResultFileNameTest, NamesWithoutAnExtension) {
  EXPECT_EQ(result_file_name("data.old/run"), "data.old/run_avar");
  EXPECT_EQ(result_file_name("./run"), "./run_avar");
  EXPECT_EQ(result_file_name("run"), "run_avar");
  EXPECT_EQ(result_file_name(".dat"), "_avar.dat");
  EXPECT_EQ(result_file_name("dir/.dat"), "dir/_avar.dat");
  EXPECT_EQ(result_file_name("run."), "run_avar.");
  EXPECT_EQ(result_file_name(std::string(5000, 'a') + ".dat"), std::string(5000, 'a') + "_avar.dat");
}

TEST(PlotFileNameTest, NeverTheResultName) {
  EXPECT_EQ(plot_file_name("run_avar.dat"), "run_avar.svg");
  EXPECT_EQ(plot_file_name("dir.svg/x_avar"), "dir.svg/x_avar.svg");
  EXPECT_EQ(plot_file_name("a_avar.svg"), "a_avar_plot.svg");  // from a data file a.svg
  EXPECT_EQ(plot_file_name("a_avar.SVG"), "a_avar.svg");      // another name where case counts
}

TEST(PrintablePathTest, OnlyControlCharactersAreEscaped) {
  for (const char* plain : {"run.dat", "r\xc3\xa9sum\xc3\xa9 \xe6\xb8\xa9.dat", "a\\n b/\"c\".dat",
                            "\xff\xfe#.dat"}) {
    EXPECT_EQ(printable_path(plain), plain);
  }
  EXPECT_EQ(printable_path("a\nb\tc\rd\x01\x1b\x7f.dat"), "a\\nb\\tc\\rd\\x01\\x1b\\x7f.dat");
  EXPECT_EQ(printable_path(std::string("a\0b", 3)), "a\\x00b");
}

TEST(FormatNumberTest, MatchesAStreamWithPrecision15) {
  const double values[] = {0.5, 2, 249.75, 0.001, 1.23456789012346, 9.6e-35, 1e+15, 1e14,
                           123456789012345.6, 0.0001, 0.00001234, -0.0, 0, -2.5,
                           0.81967981553774976, 1.7976931348623157e308, 4.9e-324, 1.0 / 3};
  for (const double x : values) {
    std::ostringstream s;
    s.precision(15);
    s << x;
    EXPECT_EQ(format_number(x), s.str());
  }
  EXPECT_EQ(format_number(1e+15), "1e+15");
  EXPECT_EQ(format_number(HUGE_VAL), "inf");
  EXPECT_EQ(format_number(-HUGE_VAL), "-inf");
}

std::string header_for(const RunSettings& s) {
  ScratchDir dir;
  ResultFile f = open_result_file(dir.path("r_avar.dat"));
  write_header(f, "some dir/r.dat", s);
  EXPECT_EQ(close_result_file(f), "");
  return dir.read("r_avar.dat");
}

TEST(ResultFileTest, HeaderLines) {
  RunSettings s;
  EXPECT_EQ(header_for(s),
            "#Overlapped Allan variance of some dir/r.dat\n"
            "#Using column 1 as time, column 2 as data\n"
            "#Using linearly spaced taus\n"
            "#tau\tavar\tadev\n");
  s.overlap = false;
  s.log_spacing = true;
  s.time_column = 2;
  s.data_column = 6;
  s.time_multiplier = 0.001;
  EXPECT_EQ(header_for(s),
            "#Non-overlapped Allan variance of some dir/r.dat\n"
            "#Using column 3*0.001 as time, column 7 as data\n"
            "#Using logarithmically spaced taus\n"
            "#tau\tavar\tadev\n");
  s.time_column = -1;
  s.data_column = 0;
  s.time_multiplier = 0;
  EXPECT_EQ(header_for(s).substr(header_for(s).find('\n') + 1, 48),
            "#Using datapoint number*0 as time, column 1 as d");
  s.time_multiplier = 1.0;
  s.data_column = -1;
  EXPECT_NE(header_for(s).find("\n#Using datapoint number as time, column 0 as data\n"),
            std::string::npos);
}

TEST(ResultFileTest, RowsReplaceAnEarlierFileOnlyWhenClosed) {
  ScratchDir dir;
  dir.write("r_avar.dat", "old contents\n");
  ResultFile f = open_result_file(dir.path("r_avar.dat"));
  write_header(f, "r.dat", {});
  write_row(f, 0.5, 9.6e-35, 1e+15);
  EXPECT_EQ(dir.read("r_avar.dat"), "old contents\n");
  EXPECT_EQ(dir.entries().size(), 2u);  // the result and its temporary file
  EXPECT_EQ(close_result_file(f), "");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"r_avar.dat"});
  const std::string text = dir.read("r_avar.dat");
  EXPECT_EQ(text.substr(text.rfind("#tau")), "#tau\tavar\tadev\n0.5\t9.6e-35\t1e+15\n");

  ResultFile dropped = open_result_file(dir.path("r_avar.dat"));
  write_row(dropped, 1, 2, 3);
  discard_result_file(dropped);
  EXPECT_EQ(dir.read("r_avar.dat"), text);
  EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(ResultFileTest, NewFilesGetTheUsualPermissions) {
  ScratchDir dir;
  const mode_t old = ::umask(027);
  ResultFile f = open_result_file(dir.path("r_avar.dat"));
  EXPECT_EQ(close_result_file(f), "");
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(dir.path("r_avar.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(ResultFileTest, FailuresNameTheFileAndTheCause) {
  ScratchDir dir;
  ::mkdir(dir.path("taken_avar.dat").c_str(), 0777);
  ResultFile is_dir = open_result_file(dir.path("taken_avar.dat"));
  write_row(is_dir, 1, 2, 3);
  EXPECT_EQ(close_result_file(is_dir),
            "cannot create '" + dir.path("taken_avar.dat") + "': Is a directory");
  ResultFile no_dir = open_result_file(dir.path("none/r_avar.dat"));
  EXPECT_EQ(close_result_file(no_dir),
            "cannot create '" + dir.path("none/r_avar.dat") + "': No such file or directory");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken_avar.dat"});
}

// Whole runs of the binary.

std::string long_series(size_t n) {
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    text += std::to_string(i) + "\t" + std::to_string((i * 7919) % 1000) + "\n";
  }
  return text;
}

TEST(ResultFileRunTest, AFullDiskKeepsTheOldFileAndFails) {
  ScratchDir dir;
  dir.write("r.dat", long_series(2000));
  dir.write("r_avar.dat", "earlier result\n");
  RunOptions o;
  o.cwd = dir.dir;
  o.file_size_limit = 1000;
  const auto r = run_tool({"-n", "300", "r.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: cannot write 'r_avar.dat': File too large\n");
  EXPECT_NE(r.out.find("\ntau\tAVAR\tADEV\n"), std::string::npos);
  EXPECT_EQ(dir.read("r_avar.dat"), "earlier result\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"r.dat", "r_avar.dat"}));
}

TEST(ResultFileRunTest, AnUnwritableResultStillPrintsTheTable) {
  ScratchDir dir;
  dir.write("r.dat", long_series(100));
  ::mkdir(dir.path("r_avar.dat").c_str(), 0777);
  const auto r = run_tool({"-n", "3", dir.path("r.dat")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: cannot create '" + dir.path("r_avar.dat") + "': Is a directory\n");
  EXPECT_NE(r.out.find("Output: " + dir.path("r_avar.dat") + "\n\n\ntau\tAVAR\tADEV\n2.000000\t"),
            std::string::npos);
}

TEST(ResultFileRunTest, AnInterruptedRunLeavesTheOldFileWhole) {
  for (const int sig : {SIGINT, SIGTERM}) {
    ScratchDir dir;
    dir.write("r.dat", long_series(200000));
    dir.write("r_avar.dat", "earlier result\n");
    RunOptions o;
    o.cwd = dir.dir;
    bool sent = false;
    o.watch = [&](pid_t pid, const test::RunResult&) {
      // Wait for the temporary file, so the signal lands mid-sweep.
      if (dir.entries().size() < 3) return false;
      ::kill(pid, sig);
      sent = true;
      return true;
    };
    const auto r = run_tool({"r.dat"}, o);
    EXPECT_TRUE(sent);
    EXPECT_EQ(r.signal_number, sig);
    EXPECT_EQ(dir.read("r_avar.dat"), "earlier result\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"r.dat", "r_avar.dat"}));
  }
}

TEST(ResultFileRunTest, AClosedConsoleDoesNotCostTheResultFile) {
  ScratchDir dir;
  dir.write("r.dat", long_series(1000));
  RunOptions o;
  o.cwd = dir.dir;
  o.stdout_lines = 3;
  // More rows than a pipe holds, so the run must meet the closed pipe.
  const auto r = run_tool({"-n", "5000", "r.dat"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string text = dir.read("r_avar.dat");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4 + 5000);
}

}  // namespace
}  // namespace tauspan
