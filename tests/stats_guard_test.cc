// Whole -stat runs under the faults that the default run already survives:
// data files in the way of outputs, memory limits and awkward names. Each
// checks what is left on disk.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "test_util.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::RunResult;
using test::ScratchDir;
using test::run_tool;

// 64 lines "i\t<i*37 % 11>\n": frequency data with a few octaves of rows.
std::string ramp() {
  std::string text;
  for (int i = 0; i < 64; ++i) text += std::to_string(i) + "\t" + std::to_string(i * 37 % 11) + "\n";
  return text;
}

RunResult run_in(const ScratchDir& dir, const std::vector<std::string>& args,
                 RunOptions o = {}) {
  o.cwd = dir.dir;
  return run_tool(args, o);
}

TEST(StatsGuardTest, AResultNeverReplacesADataFile) {
  ScratchDir dir;
  dir.write("x.dat", ramp());
  dir.write("x_oadev.dat", ramp());  // the user's data, named like a result
  // Named after the file whose result it would be, in another spelling.
  const RunResult r = run_in(dir, {"-stat", "adev,oadev", "x.dat", "./x_oadev.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tauspan: not writing the result of 'x.dat' to 'x_oadev.dat': that is the data file "
            "'./x_oadev.dat'\n");
  // Only the refused statistic is left out; the other one and the other file run.
  EXPECT_NE(r.out.find("Input: ./x_oadev.dat\n"), std::string::npos) << r.out;
  EXPECT_EQ(dir.read("x_oadev.dat"), ramp());
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"x.dat", "x_adev.dat", "x_oadev.dat",
                                                     "x_oadev_adev.dat", "x_oadev_oadev.dat"}));
}

TEST(StatsGuardTest, APictureNeverReplacesADataFile) {
  ScratchDir dir;
  dir.write("x.dat", ramp());
  dir.write("x_adev.svg", ramp());
  const RunResult r = run_in(dir, {"-plot", "-stat", "adev", "x_adev.svg", "x.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tauspan: not writing the plot of 'x.dat' to 'x_adev.svg': that is the data file "
            "'x_adev.svg'\n");
  EXPECT_EQ(r.out.find("Plot: x_adev.svg\n"), std::string::npos);
  EXPECT_EQ(dir.read("x_adev.svg"), ramp());
  EXPECT_TRUE(dir.exists("x_adev.dat"));
}

TEST(StatsGuardTest, NoPictureUntilEveryResultIsInPlace) {
  ScratchDir dir;
  dir.write("r.dat", ramp());
  ::mkdir(dir.path("r_oadev.dat").c_str(), 0777);
  dir.write("r_adev.svg", "earlier picture\n");
  const RunResult r = run_in(dir, {"-plot", "-stat", "adev,oadev", "r.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: cannot create 'r_oadev.dat': Is a directory\n");
  EXPECT_EQ(r.out.find("Plot:"), std::string::npos);
  EXPECT_EQ(dir.read("r_adev.svg"), "earlier picture\n");
  EXPECT_EQ(dir.entries(),
            (std::vector<std::string>{"r.dat", "r_adev.dat", "r_adev.svg", "r_oadev.dat"}));
}

TEST(StatsGuardTest, RunningOutOfMemoryEndsOnlyThatFile) {
#ifdef TAUSPAN_SANITIZE
  GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#endif
  ScratchDir dir;
  std::string lines;
  for (int i = 0; i < 5'000'000; ++i) lines += "1\n";
  dir.write("big.dat", lines);
  dir.write("small.dat", ramp());
  RunOptions o;
  o.memory_limit = 48ll << 20;  // the series of big.dat alone needs 80 MB
  const RunResult r =
      run_in(dir, {"-stat", "oadev", "-time", "0", "big.dat", "-time", "1", "small.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: out of memory while processing 'big.dat'\n");
  EXPECT_NE(r.out.find("Input: small.dat\n"), std::string::npos);
  EXPECT_NE(r.out.find("Output: small_oadev.dat\n"), std::string::npos);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"big.dat", "small.dat", "small_oadev.dat"}));
}

TEST(StatsGuardTest, ControlCharactersAreEscapedInTheHeaderAndTitle) {
  ScratchDir dir;
  const std::string name = "nl\n1\t2\x01\x07.dat";
  dir.write(name, ramp());
  const RunResult r = run_in(dir, {"-plot", "-stat", "oadev", name});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Input: " + name + "\n"), std::string::npos);  // the console as ever
  const std::string shown = "nl\\n1\\t2\\x01\\a.dat";
  const std::string result = dir.read("nl\n1\t2\x01\x07_oadev.dat");
  EXPECT_EQ(result.substr(0, result.find('\n') + 1),
            "#Overlapping Allan deviation (oadev) of " + shown + "\n");
  EXPECT_NE(dir.read("nl\n1\t2\x01\x07_oadev.svg").find(">" + shown + " \xe2\x80\x94 oadev"),
            std::string::npos);
}

}  // namespace
}  // namespace tauspan
