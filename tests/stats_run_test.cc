// Whole runs of the standard statistics (-stat): the options, the console,
// the result files, and the published values of NIST SP 1065.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "grid.h"
#include "intervals.h"
#include "result_file.h"
#include "test_util.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::ScratchDir;
using test::numbered_lines;

// Phase at times 0 ... 8. By hand, oadev at m = 1: second differences
// 0 0 -2 -2 2 1 1, squares 14, over 2 * 7 terms: avar 1. At m = 2: x(i+4) -
// 2 x(i+2) + x(i) = -2 -6 -4 3 5, squares 90, over 2 * 2^2 * 5: avar 9/4.
const std::vector<double> kPhase = {0, 1, 2, 3, 2, -1, -2, -2, -1};

struct StatsDir : ScratchDir {
  test::RunResult run(const std::vector<std::string>& args) const {
    RunOptions o;
    o.cwd = dir;
    return test::run_tool(args, o);
  }
};

// The rows of a result file or of a console table, split at tabs; lines
// that are comments, titles or messages are not rows.
std::vector<std::vector<std::string>> rows_of(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    std::vector<std::string> fields;
    std::istringstream l(line);
    std::string f;
    while (std::getline(l, f, '\t')) fields.push_back(f);
    if (fields.size() == 7) rows.push_back(fields);
  }
  return rows;
}

std::string column(const std::vector<std::vector<std::string>>& rows, size_t k) {
  std::string s;
  for (const auto& r : rows) {
    if (!s.empty()) s += ' ';
    s += r[k];
  }
  return s;
}

std::string nan_aware(double x, bool console) {
  if (std::isnan(x)) return "nan";
  if (!console) return format_number(x);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", x);
  return buf;
}

// The alpha, min_dev and max_dev that the interval functions give for this
// grid, as the result file (or the console) writes them around `dev`.
std::string row_with_interval(const std::string& head, const Grid& grid, Statistic s, int64_t m,
                              double dev, const std::string& dev_text, bool console = false) {
  const int alpha = noise_alpha(grid, s, m);
  double lo = NAN, hi = NAN;
  if (alpha != kNoAlpha) {
    const Interval i =
        confidence_interval(dev, equivalent_dof(s, alpha, m, frequency_count(grid) + 1), 0.683);
    lo = i.min_dev;
    hi = i.max_dev;
  }
  return head + "\t" + (alpha == kNoAlpha ? "nan" : std::to_string(alpha)) + "\t" +
         nan_aware(lo, console) + "\t" + dev_text + "\t" + nan_aware(hi, console) + "\n";
}

Grid phase_grid(const std::vector<double>& x) {
  SampleSeries series;
  for (size_t i = 0; i < x.size(); ++i) series.push_back({static_cast<double>(i), x[i]});
  GridSettings settings;
  settings.kind = DataKind::kPhase;
  return make_grid(series, settings).grid;
}

TEST(StatsOptionsTest, EachOptionEchoesWhatItSet) {
  const auto r = test::run_tool({"-stat", "oadev,mdev,oadev", "-phase", "-tau0", "1e-3", "-taus",
                                 "decade", "-taus", "all", "-taus", "1,2.5e-3", "-taus", "octave",
                                 "-conf", "0.95", "-stat", "hdev"});
  EXPECT_EQ(r.out,
            "Computing oadev, mdev instead of the Allan variance sweep.\n"
            "Reading the data as phase (time error, s).\n"
            "Using 0.001 as the sampling interval tau0.\n"
            "Using decade taus (1, 2, 4, 10, 20, 40, ... tau0).\n"
            "Using every tau (1, 2, 3, ... tau0).\n"
            "Using the taus 1, 0.0025, rounded to whole multiples of tau0.\n"
            "Using octave taus (1, 2, 4, 8, ... tau0).\n"
            "Using confidence 0.95 for the error bars.\n"
            "Computing hdev instead of the Allan variance sweep.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(test::run_tool({"-nominal", "10e6"}).out,
            "Reading the data as frequency around 10000000.\n");
}

TEST(StatsOptionsTest, ARefusedValueStopsTheWalkWithStatus2) {
  const std::string kValid =
      "(valid: adev, oadev, mdev, tdev, hdev, ohdev, totdev, mtotdev, ttotdev, htotdev, theo1, "
      "mtie, tierms)";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } kCases[] = {
      {{"-stat", "oadev,avar"}, "unknown statistic 'avar' for -stat " + kValid},
      {{"-stat", ""}, "unknown statistic '' for -stat " + kValid},
      {{"-tau0", "0"}, "-tau0 needs a positive sampling interval, not '0'"},
      {{"-tau0", "-1"}, "-tau0 needs a positive sampling interval, not '-1'"},
      {{"-tau0", "soon"}, "-tau0 needs a positive sampling interval, not 'soon'"},
      {{"-conf", "0"}, "-conf needs a confidence between 0 and 1, not '0'"},
      {{"-conf", "1"}, "-conf needs a confidence between 0 and 1, not '1'"},
      {{"-conf", "95"}, "-conf needs a confidence between 0 and 1, not '95'"},
      {{"-phase", "-nominal", "1e7"},
       "-nominal does not go with -phase: phase data has no nominal frequency"},
      {{"-nominal", "1e7", "-phase"},
       "-phase does not go with -nominal: phase data has no nominal frequency"},
      {{"-nominal", "-5"}, "-nominal needs a positive frequency, not '-5'"},
      {{"-taus", "1,,2"},
       "-taus takes octave, decade, all or a comma-separated list of positive taus, not '1,,2'"},
  };
  for (const auto& c : kCases) {
    StatsDir d;
    d.write("a.dat", numbered_lines(kPhase));
    d.write("b.dat", numbered_lines(kPhase));
    std::vector<std::string> args = {"-stat", "oadev", "a.dat"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("b.dat");
    SCOPED_TRACE(c.err);
    const auto r = d.run(args);
    EXPECT_EQ(r.err, "tauspan: " + c.err + "\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(d.exists("a_oadev.dat"));  // before the refused option
    EXPECT_EQ(r.out.find("b.dat"), std::string::npos);
    EXPECT_FALSE(d.exists("b_oadev.dat"));
  }
}

TEST(StatsOptionsTest, AValueMissingAtTheEnd) {
  for (const char* option : {"-stat", "-nominal", "-tau0", "-taus", "-conf"}) {
    const auto r = test::run_tool({"-phase", option});
    EXPECT_EQ(r.err, std::string("tauspan: option ") + option + " needs a value\n");
    EXPECT_EQ(r.status, 2);
  }
}

TEST(StatsRunTest, HandWorkedPhaseSeriesConsoleAndResultFile) {
  StatsDir d;
  d.write("w.dat", numbered_lines(kPhase));
  const auto r = d.run({"-stat", "oadev", "-phase", "w.dat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // Octave taus stop at m = N/4 = 2 for the 8 frequency samples.
  const Grid g = phase_grid(kPhase);
  EXPECT_EQ(r.out,
            "Computing oadev instead of the Allan variance sweep.\n"
            "Reading the data as phase (time error, s).\n"
            "Input: w.dat\n"
            "Reading data... found 9 datapoints\n"
            "Phase data, tau0 1, 9 samples, 0 gaps\n"
            "\n"
            "Overlapping Allan deviation (oadev)\n"
            "AF\ttau\tn\talpha\tmin_dev\tdev\tmax_dev\n" +
                row_with_interval("1\t1\t7", g, Statistic::kOadev, 1, 1.0, "1", true) +
                row_with_interval("2\t2\t5", g, Statistic::kOadev, 2, 1.5, "1.5", true) +
                "Output: w_oadev.dat\n");
  EXPECT_EQ(d.read("w_oadev.dat"),
            "#Overlapping Allan deviation (oadev) of w.dat\n"
            "#Phase data, tau0 1, 9 samples, 0 gaps\n"
            "#Confidence 0.683, double-sided chi-squared intervals\n"
            "#AF\ttau\tn\talpha\tmin_dev\tdev\tmax_dev\n" +
                row_with_interval("1\t1\t7", g, Statistic::kOadev, 1, 1.0, "1") +
                row_with_interval("2\t2\t5", g, Statistic::kOadev, 2, 1.5, "1.5"));
  EXPECT_EQ(d.entries(), (std::vector<std::string>{"w.dat", "w_oadev.dat"}));
}

TEST(StatsRunTest, EachStatisticWritesItsOwnFileAndBothFormsAgree) {
  StatsDir d;
  d.write("run1234.dat", numbered_lines(kPhase));
  std::vector<double> y;  // the same record as frequency: y(i) = x(i+1) - x(i)
  for (size_t i = 0; i + 1 < kPhase.size(); ++i) y.push_back(kPhase[i + 1] - kPhase[i]);
  d.write("freq", numbered_lines(y));
  const auto r = d.run({"-stat", "ohdev,adev,oadev,mdev,tdev,hdev", "-taus", "all", "freq",
                        "-phase", "run1234.dat"});
  EXPECT_EQ(r.status, 0);
  // By hand at m = 1: mdev = oadev = 1 and tdev = 1 / sqrt(3); third
  // differences 0 -2 0 4 -1 0, squares 21 over 6 * 6: hvar 7/12. At m = 2:
  // mdev's sums of two lag-2 differences -8 -10 -1 8, squares 229 over
  // 2 * 2^4 * 4: mvar 229/128. The others likewise, in exact fractions.
  const struct {
    const char* name;
    std::vector<double> devs;
  } kCases[] = {
      {"adev", {1, std::sqrt(15.0 / 8), std::sqrt(32.0 / 9), std::sqrt(25.0 / 32)}},
      {"oadev", {1, 1.5, std::sqrt(49.0 / 27), std::sqrt(25.0 / 32)}},
      {"mdev", {1, std::sqrt(229.0 / 128), std::sqrt(50.0 / 81)}},
      {"tdev", {1 / std::sqrt(3.0), 2 * std::sqrt(229.0 / 384), std::sqrt(50.0 / 27)}},
      {"hdev", {std::sqrt(7.0 / 12), std::sqrt(85.0 / 48)}},
      {"ohdev", {std::sqrt(7.0 / 12), std::sqrt(83.0 / 36)}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string phase_file = std::string("run1234_") + c.name + ".dat";
    const std::string freq_file = std::string("freq_") + c.name;
    for (const std::string& file : {phase_file, freq_file}) {
      const auto rows = rows_of(d.read(file));
      ASSERT_EQ(rows.size(), c.devs.size()) << file;
      for (size_t k = 0; k < rows.size(); ++k) {
        EXPECT_EQ(rows[k][0], std::to_string(k + 1));
        EXPECT_NEAR(std::strtod(rows[k][5].c_str(), nullptr), c.devs[k], 1e-14 * c.devs[k]);
      }
    }
    EXPECT_NE(r.out.find("Output: " + phase_file + "\n"), std::string::npos);
  }
}

TEST(StatsRunTest, TwoSamplesInOneSlotRefuseThatFileOnly) {
  StatsDir d;
  d.write("dup.dat", "0\t1\n1\t2\n1.2\t3\n2\t4\n3\t5\n4\t6\n");
  d.write("ok.dat", numbered_lines(kPhase));
  const auto r = d.run({"-stat", "oadev", "dup.dat", "ok.dat"});
  EXPECT_EQ(r.status, 1);
  const std::string head = "tauspan: cannot place the samples of 'dup.dat' on a grid: ";
  EXPECT_EQ(r.err.substr(0, head.size()), head);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find('1'), std::string::npos) << "names the times: " << r.err;
  EXPECT_FALSE(d.exists("dup_oadev.dat"));
  EXPECT_TRUE(d.exists("ok_oadev.dat"));
}

TEST(StatsRunTest, AResultNeverReplacesADataFileOfTheCommand) {
  StatsDir d;
  d.write("x.dat", numbered_lines(kPhase));
  d.write("x_mdev.dat", numbered_lines(kPhase));  // data, named later on
  const auto r = d.run({"-stat", "oadev,mdev", "-phase", "x.dat", "x_mdev.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tauspan: not writing the result of 'x.dat' to 'x_mdev.dat': that is the data file "
            "'x_mdev.dat'\n");
  EXPECT_EQ(d.read("x_mdev.dat"), numbered_lines(kPhase));
  EXPECT_TRUE(d.exists("x_oadev.dat"));       // the other statistic still ran
  EXPECT_TRUE(d.exists("x_mdev_mdev.dat"));   // and so did the next data file
  EXPECT_NE(r.out.find("Modified Allan deviation (mdev)\nInput: x_mdev.dat\n"), std::string::npos);
}

TEST(StatsRunTest, AFileNameCannotAddALineToTheHeader) {
  StatsDir d;
  d.write("nl\n1\t2.dat", numbered_lines(kPhase));
  const auto r = d.run({"-stat", "adev", "-phase", "nl\n1\t2.dat"});
  EXPECT_EQ(r.status, 0);
  const std::string text = d.read("nl\n1\t2_adev.dat");
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), "#Allan deviation (adev) of nl\\n1\\t2.dat\n");
}

TEST(StatsRunTest, TooFewSamplesForATermWriteNoFile) {
  StatsDir d;
  // Slot 2 is a gap: no three consecutive phase points, nor 0, 2, 4.
  d.write("gappy.dat", "0\t0\n1\t1\n3\t2\n4\t0\n");
  d.write("gappy_oadev.dat", "kept");
  auto r = d.run({"-stat", "oadev", "-phase", "-taus", "all", "gappy.dat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(r.out.find("Input:")),
            "Input: gappy.dat\n"
            "Reading data... found 4 datapoints\n"
            "Phase data, tau0 1, 4 samples, 1 gap\n"
            "\n"
            "Overlapping Allan deviation (oadev)\n"
            "No term of oadev can be formed from these samples: no result file.\n");
  EXPECT_EQ(d.read("gappy_oadev.dat"), "kept");
  // Fewer than four samples: as the default run says it.
  d.write("three.dat", "0\t1\n1\t2\n2\t3\n");
  r = d.run({"-stat", "adev", "three.dat"});
  EXPECT_EQ(r.out.substr(r.out.find("Input:")),
            "Input: three.dat\nReading data... found 3 datapoints\n"
            "Insufficient valid datapoints to calculate Allan variance for three.dat\n"
            "Only found 3, need at least 4\n");
  EXPECT_EQ(r.status, 0);
}

TEST(StatsRunTest, RowNumbersAsTimeTakeTheMultiplierAsTau0) {
  StatsDir d;
  d.write("v.dat", "# header\n0.5\n1\n0.25\n2\n1.5\n");
  const auto r = d.run({"-time", "0", "-tmult", "0.5", "-stat", "adev", "v.dat"});
  EXPECT_NE(r.out.find("Fractional frequency data, tau0 0.5, 5 samples, 0 gaps\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(d.read("v_adev.dat").find("\n1\t0.5\t4\t"), std::string::npos);
}

TEST(StatsRunTest, NominalFrequencyGivesTheFractionalFrequencysDeviations) {
  StatsDir d;
  std::vector<double> readings, fractional;
  uint32_t state = 12345;
  for (int i = 0; i < 300; ++i) {
    state = state * 1103515245u + 12345u;
    const double offset = (static_cast<double>(state >> 16) - 32768.0) / 1024.0;  // exact
    readings.push_back(1e7 + offset);  // 10 MHz readings, mHz steps
    fractional.push_back(offset / 1e7);
  }
  d.write("hz.dat", numbered_lines(readings));
  d.write("y.dat", numbered_lines(fractional));
  const auto r = d.run({"-stat", "oadev,hdev", "y.dat", "-nominal", "1e7", "hz.dat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Frequency data, nominal 10000000, tau0 1, 300 samples, 0 gaps\n"),
            std::string::npos);
  EXPECT_NE(d.read("hz_oadev.dat").find("#Frequency data, nominal 10000000, tau0 1,"),
            std::string::npos);
  for (const char* name : {"oadev", "hdev"}) {
    SCOPED_TRACE(name);
    const auto hz = rows_of(d.read(std::string("hz_") + name + ".dat"));
    const auto y = rows_of(d.read(std::string("y_") + name + ".dat"));
    ASSERT_EQ(hz.size(), y.size());
    ASSERT_GT(hz.size(), 3u);
    for (size_t k = 0; k < hz.size(); ++k) {
      const double expected = std::strtod(y[k][5].c_str(), nullptr);
      EXPECT_NEAR(std::strtod(hz[k][5].c_str(), nullptr), expected, 1e-12 * expected);
    }
  }
}

TEST(StatsRunTest, HelpListsTheOptionsAndWhatDoesNotApply) {
  const std::string help = test::run_tool({"--help"}).out;
  for (const char* text :
       {"  -stat <names>      ", "  -phase             ", "  -nominal <f0>      ",
        "  -tau0 <s>          ", "  -taus <set>        ", "  -conf <p>          ",
        "instead of the sweep (-n, -logtau, -mintau, -maxtau,\n -nooverlap, -jitter and -fast do "
        "not apply to them)"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
}

TEST(StatsRunTest, OtherOptionsLeaveTheDefaultRunAsItWas) {
  StatsDir d;
  d.write("w.dat", numbered_lines(kPhase));
  const auto plain = d.run({"-n", "2", "w.dat"});
  const std::string plain_file = d.read("w_avar.dat");
  const auto r =
      d.run({"-phase", "-tau0", "2", "-taus", "all", "-conf", "0.9", "-n", "2", "w.dat"});
  EXPECT_EQ(r.out.substr(r.out.find("Calculating")), plain.out);
  EXPECT_EQ(d.read("w_avar.dat"), plain_file);
  EXPECT_EQ(d.entries(), (std::vector<std::string>{"w.dat", "w_avar.dat"}));
}

// NIST SP 1065 (2008), the 1000-point test set: y(i) = n(i) / 2147483647,
// n(0) = 1234567890, n(i+1) = 16807 n(i) mod 2147483647.
std::vector<double> nist_frequency() {
  std::vector<double> y;
  int64_t n = 1234567890;
  for (int i = 0; i < 1000; ++i) {
    y.push_back(static_cast<double>(n) / 2147483647.0);
    n = 16807 * n % 2147483647;
  }
  return y;
}

std::vector<double> nist_phase() {
  std::vector<double> x = {0};
  for (const double y : nist_frequency()) x.push_back(x.back() + y);
  return x;
}

// Table of SP 1065's published deviations at AF 1, 10 and 100.
TEST(NistSp1065Test, ThousandPointSetFromFrequencyAndPhase) {
  StatsDir d;
  d.write("nist_y.dat", numbered_lines(nist_frequency()));
  d.write("nist_x.dat", numbered_lines(nist_phase()));
  const auto r = d.run({"-stat", "adev,oadev,mdev,tdev,hdev,ohdev", "-taus", "1,10,100",
                        "nist_y.dat", "-phase", "nist_x.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  const struct {
    const char* name;
    const char* devs;
  } kPublished[] = {{"adev", "2.922319e-01 9.965736e-02 3.897804e-02"},
                    {"oadev", "2.922319e-01 9.159953e-02 3.241343e-02"},
                    {"mdev", "2.922319e-01 6.172376e-02 2.170921e-02"},
                    {"tdev", "1.687202e-01 3.563623e-01 1.253382e+00"},
                    // SP 1065 prints 3.910860e-02 at AF 100, which the set
                    // rounded to seven digits gives; the set in full gives
                    // 3.91086056e-02 evaluated exactly.
                    {"hdev", "2.943883e-01 1.052754e-01 3.910861e-02"},
                    {"ohdev", "2.943883e-01 9.581083e-02 3.237638e-02"}};
  for (const char* form : {"nist_y", "nist_x"}) {
    for (const auto& c : kPublished) {
      SCOPED_TRACE(std::string(form) + " " + c.name);
      const auto rows = rows_of(d.read(std::string(form) + "_" + c.name + ".dat"));
      ASSERT_EQ(column(rows, 0), "1 10 100");
      std::string devs;
      for (const auto& row : rows) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.6e", std::strtod(row[5].c_str(), nullptr));
        if (!devs.empty()) devs += ' ';
        devs += buf;
      }
      EXPECT_EQ(devs, c.devs);
    }
  }
}

TEST(NistSp1065Test, TauSetsChooseTheRows) {
  StatsDir d;
  d.write("nist.dat", numbered_lines(nist_frequency()));
  auto r = d.run({"-stat", "oadev,adev", "-taus", "decade", "nist.dat"});
  EXPECT_EQ(column(rows_of(d.read("nist_oadev.dat")), 0), "1 2 4 10 20 40 100 200");
  EXPECT_EQ(column(rows_of(d.read("nist_adev.dat")), 0), "1 2 4 10 20 40 100 200");
  r = d.run({"-stat", "oadev", "nist.dat"});
  EXPECT_EQ(column(rows_of(r.out), 0), "1 2 4 8 16 32 64 128");
  // Every m with a term: up to 500 on 1001 phase points, the last with one.
  r = d.run({"-stat", "oadev", "-taus", "all", "nist.dat"});
  const auto all = rows_of(d.read("nist_oadev.dat"));
  ASSERT_EQ(all.size(), 500u);
  EXPECT_EQ(all.back()[0] + " " + all.back()[2], "500 1");
  // Taus in time units, rounded to whole m: 0.2 gives none, 1.3 gives 3.
  r = d.run({"-stat", "oadev", "-tmult", "0.5", "-taus", "100,0.2,1.3,1,0.5,1e9", "nist.dat"});
  EXPECT_EQ(column(rows_of(d.read("nist_oadev.dat")), 0), "1 2 3 200");
  EXPECT_EQ(column(rows_of(d.read("nist_oadev.dat")), 1), "0.5 1 1.5 100");
  // A tau0 of half the step leaves every other slot empty, and the phase of
  // frequency data cannot cross a gap.
  r = d.run({"-stat", "oadev", "-tau0", "0.5", "nist.dat"});
  EXPECT_NE(r.out.find("Fractional frequency data, tau0 0.5, 1000 samples, 999 gaps\n\n"
                       "Overlapping Allan deviation (oadev)\n"
                       "No term of oadev can be formed from these samples: no result file.\n"),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace tauspan
