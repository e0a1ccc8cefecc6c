// -noise and -units through the tool: the block after the table, the same
// lines ending the result file with the rows untouched, the dashed terms on
// the picture, and the runs where no fit can be had.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::ScratchDir;

struct NoiseDir : ScratchDir {
  test::RunResult run(const std::vector<std::string>& args) const {
    RunOptions o;
    o.cwd = dir;
    return test::run_tool(args, o);
  }
};

std::string example(const std::string& name) {
  std::ifstream in(test::example_path(name), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The console lines from the block's first line up to "Output:".
std::vector<std::string> console_block(const std::string& out) {
  std::vector<std::string> block;
  bool in = false;
  for (const std::string& line : lines_of(out)) {
    if (line.rfind("Noise coefficients of ", 0) == 0) in = true;
    if (line.rfind("Output:", 0) == 0) in = false;
    if (in) block.push_back(line);
  }
  return block;
}

TEST(NoiseRun, TheBlockFollowsTheTableAndEndsTheResultFile) {
  NoiseDir d;
  d.write("gyro.dat", example("gyro.dat"));
  const test::RunResult plain = d.run({"-stat", "oadev", "gyro.dat"});
  ASSERT_EQ(0, plain.status) << plain.err;
  const std::string rows_only = d.read("gyro_oadev.dat");

  const test::RunResult r =
      d.run({"-stat", "oadev", "-noise", "-units", "deg/s", "-plot", "gyro.dat"});
  ASSERT_EQ(0, r.status) << r.err;
  const std::vector<std::string> block = console_block(r.out);
  ASSERT_GE(block.size(), 8u) << r.out;
  EXPECT_EQ("  N angle random walk ", block[3].substr(0, 22));
  EXPECT_NE(block[3].find("deg/s/sqrt(Hz) = "), std::string::npos) << block[3];
  EXPECT_NE(block[3].find(" deg/sqrt(h); read-off "), std::string::npos) << block[3];
  EXPECT_NE(block[4].find(" deg/h; read-off "), std::string::npos) << block[4];
  EXPECT_NE(block[5].find(" deg/h/sqrt(h)"), std::string::npos) << block[5];
  // With a unit the data is no clock's: no h-coefficients.
  EXPECT_EQ(r.out.find("h(0)"), std::string::npos);

  // The file: the same rows, then the block line for line behind '#'.
  std::string expected = rows_only;
  for (const std::string& line : block) expected += "#" + line + "\n";
  EXPECT_EQ(expected, d.read("gyro_oadev.dat"));

  const std::string svg = d.read("gyro_oadev.svg");
  EXPECT_NE(svg.find("class=\"fitted-term\""), std::string::npos);
  EXPECT_NE(svg.find(">N -1/2</text>"), std::string::npos);
  EXPECT_NE(svg.find(">B 0</text>"), std::string::npos);
}

TEST(NoiseRun, ClockDataGetsItsPowerLawLevels) {
  NoiseDir d;
  d.write("clock.dat", example("oscillator.dat"));
  const test::RunResult r = d.run({"-stat", "mdev,adev", "-noise", "clock.dat"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(r.out.find("white phase up to f_h = 1/(2 tau0) = 0.5 Hz"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  h(0)  = 2 N^2 "), std::string::npos);
  EXPECT_NE(r.out.find("  h(-2) = K^2 / (2 pi^2) "), std::string::npos);
  EXPECT_NE(r.out.find("  h(1)  = not fitted"), std::string::npos);
  EXPECT_NE(r.out.find("Noise coefficients of mdev"), std::string::npos);
  EXPECT_NE(r.out.find("Noise coefficients of adev"), std::string::npos);
}

TEST(NoiseRun, TooFewRowsAndOtherStatisticsGiveNoFit) {
  NoiseDir d;
  d.write("short.dat", test::numbered_lines({1, 3, 2, 5, 4, 4, 6, 5, 7, 6}));
  const test::RunResult r = d.run({"-stat", "oadev,tdev", "-noise", "short.dat"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(r.out.find("  not fitted: 2 rows with a variance and an edf; the fit needs at least 6 "
                       "(one more than its 5 terms)\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Noise coefficients of tdev"), std::string::npos);
  EXPECT_NE(d.read("short_oadev.dat").find("#  not fitted: 2 rows"), std::string::npos);
}

TEST(NoiseRun, UnitsNeedsAWord) {
  NoiseDir d;
  test::RunResult r = d.run({"-stat", "oadev", "-noise", "-units", "", "x.dat"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ("tauspan: -units needs the data's unit, such as deg/s, m/s^2 or g\n", r.err);
  r = d.run({"-stat", "oadev", "-units"});
  EXPECT_EQ(2, r.status);
}

}  // namespace
}  // namespace tauspan
