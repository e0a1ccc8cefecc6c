// Whole -stat runs of the total, Thêo1 and time-error statistics: the
// published values of NIST SP 1065, the rows each statistic reports, the
// bias header and -biascorr, MTIE and TIE rms by hand.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "long_term_fixtures.h"
#include "test_util.h"

namespace tauspan {
namespace {

using test::numbered_lines;

struct Dir : test::ScratchDir {
  test::RunResult run(const std::vector<std::string>& args) const {
    test::RunOptions o;
    o.cwd = dir;
    return test::run_tool(args, o);
  }
};

// The tab-separated rows of a result file (lines that start with a digit).
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
    rows.push_back(fields);
  }
  return rows;
}

// Field k of every row, space-separated; with `digits`, numbers rounded as
// SP 1065 prints them (%.{digits-1}e).
std::string column(const std::vector<std::vector<std::string>>& rows, size_t k, int digits = 0) {
  std::string s;
  for (const auto& r : rows) {
    if (!s.empty()) s += ' ';
    if (digits == 0) {
      s += r[k];
      continue;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*e", digits - 1, std::strtod(r[k].c_str(), nullptr));
    s += buf;
  }
  return s;
}

TEST(LongTermRunTest, NistThousandPointSetFromFrequencyAndPhase) {
  Dir d;
  d.write("y.dat", numbered_lines(test::nist_frequency()));
  d.write("x.dat", numbered_lines(test::nist_phase()));
  // Thêo1's taus are 0.75 m: 7.5, 75 and 750 are m = 10, 100, 1000; the
  // others round them to m = 8, 75 and 750, which the checks skip.
  const auto r = d.run({"-stat", "totdev,mtotdev,ttotdev,htotdev,theo1", "-taus",
                        "1,7.5,10,75,100,750", "y.dat", "-phase", "x.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  const struct {
    const char* name;
    const char* factors;
    int digits;
    const char* devs;
  } kPublished[] = {
      {"totdev", "1 10 100", 7, "2.922319e-01 9.134743e-02 3.406530e-02"},
      {"mtotdev", "1 10 100", 5, "2.0664e-01 5.5529e-02 1.9547e-02"},
      {"ttotdev", "1 10 100", 5, "1.1930e-01 3.2060e-01 1.1285e+00"},
      // Without bias correction: SP 1065's values times sqrt(0.995).
      {"htotdev", "1 10 100", 7, "2.943883e-01 9.590720e-02 3.050448e-02"},
      {"theo1", "10 100 1000", 5, "1.0757e-01 3.1789e-02 5.0524e-03"},
  };
  for (const char* form : {"y", "x"}) {
    for (const auto& c : kPublished) {
      SCOPED_TRACE(std::string(form) + " " + c.name);
      std::vector<std::vector<std::string>> rows;
      for (const auto& row : rows_of(d.read(std::string(form) + "_" + c.name + ".dat"))) {
        std::string padded = " ";
        padded += c.factors;
        padded += ' ';
        std::string field = " ";
        field += row[0];
        field += ' ';
        if (padded.find(field) != std::string::npos) rows.push_back(row);
      }
      EXPECT_EQ(column(rows, 0), c.factors);
      EXPECT_EQ(column(rows, 5, c.digits), c.devs);
    }
  }
  // Thêo1's tau is 0.75 m tau0.
  const auto theo = rows_of(d.read("y_theo1.dat"));
  EXPECT_EQ(column(theo, 0) + " / " + column(theo, 1), "2 10 14 100 134 1000 / 1.5 7.5 10.5 75 100.5 750");
}

TEST(LongTermRunTest, BiasCorrectionAndTheHeaderThatSaysSo) {
  Dir d;
  d.write("y.dat", numbered_lines(test::nist_frequency()));
  auto r = d.run({"-stat", "htotdev,totdev,theo1", "-taus", "1,10,100", "y.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(d.read("y_htotdev.dat").find("#Bias not removed (-biascorr removes it)\n#AF"),
            std::string::npos);
  EXPECT_NE(d.read("y_totdev.dat").find("#Bias removed for flicker and random-walk FM"),
            std::string::npos);
  EXPECT_NE(d.read("y_theo1.dat").find("#Bias not removed (Theo1"), std::string::npos);
  r = d.run({"-biascorr", "-stat", "htotdev,mtotdev", "-taus", "1,10,100", "y.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Removing the published noise bias from mtotdev, ttotdev and htotdev too."),
            std::string::npos);
  const std::string h = d.read("y_htotdev.dat");
  EXPECT_NE(h.find("#Bias removed: variance / the published factor of the noise type\n"),
            std::string::npos);
  const auto rows = rows_of(h);
  // AF 1 is the overlapping Hadamard deviation, unbiased. AF 10 is white FM:
  // SP 1065's 9.614787e-02 (the exact sum gives 9.6147875e-02, which the
  // published digits round down). At AF 100 only ten averages remain and the
  // noise reads as flicker PM (alpha 1, as oadev's does), for which no
  // Hadamard total bias is published: the value stays uncorrected, where
  // SP 1065, knowing the set is white FM, prints 3.058103e-02.
  EXPECT_EQ(column(rows, 3), "0 0 1");
  EXPECT_EQ(column(rows, 5, 7), "2.943883e-01 9.614788e-02 3.050448e-02");
  // mtotdev, white FM at AF 10: the variance over 0.73.
  const auto m = rows_of(d.read("y_mtotdev.dat"));
  EXPECT_NEAR(std::strtod(m[1][5].c_str(), nullptr), 5.5529e-02 / std::sqrt(0.73), 1e-6);
}

// Phase at times 0 ... 8, N = 9. MTIE by hand, the largest spread over m + 1
// points: 3 (2 to -1), 4 (3 to -1), 5 (3 to -2), 5. TIE rms: the differences
// at m = 1 square to 15 over 8 terms; at m = 2 to 42 over 7 terms.
TEST(LongTermRunTest, MtieAndTieRmsByHand) {
  Dir d;
  d.write("w.dat", numbered_lines({0, 1, 2, 3, 2, -1, -2, -2, -1}));
  auto r = d.run({"-phase", "-stat", "mtie,tierms", "-taus", "all", "w.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto mtie = rows_of(d.read("w_mtie.dat"));
  EXPECT_EQ(column(mtie, 0) + " / " + column(mtie, 2) + " / " + column(mtie, 5),
            "1 2 3 4 / 9 9 9 9 / 3 4 5 5");
  EXPECT_EQ(column(mtie, 3) + " " + column(mtie, 4) + " " + column(mtie, 6),
            "nan nan nan nan nan nan nan nan nan nan nan nan");
  const auto tie = rows_of(d.read("w_tierms.dat"));
  ASSERT_EQ(tie.size(), 2u);
  EXPECT_EQ(column(tie, 0) + " / " + column(tie, 2), "1 2 / 8 7");
  // Fifteen significant digits in the file.
  EXPECT_NEAR(std::strtod(tie[0][5].c_str(), nullptr), std::sqrt(15.0 / 8), 1e-14);
  EXPECT_NEAR(std::strtod(tie[1][5].c_str(), nullptr), std::sqrt(6.0), 1e-14);
  EXPECT_EQ(column(tie, 3) + " " + column(tie, 4) + " " + column(tie, 6), "nan nan nan nan nan nan");
}

// n and the largest factor of each statistic on N = 1001 phase points.
TEST(LongTermRunTest, EveryFactorUpToEachStatisticsLimit) {
  Dir d;
  d.write("y.dat", numbered_lines(test::nist_frequency()));
  const auto r = d.run({"-stat", "totdev,mtotdev,ttotdev,htotdev,theo1,mtie,tierms", "-taus",
                        "all", "y.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  const struct {
    const char* name;
    const char* first;  // AF and n of the first and the last row
    const char* last;
  } kCases[] = {
      {"totdev", "1 999", "500 999"},     {"mtotdev", "1 999", "333 3"},
      {"ttotdev", "1 999", "333 3"},      {"htotdev", "1 998", "333 2"},
      {"theo1", "2 999", "1000 1"},       {"mtie", "1 1001", "500 1001"},
      {"tierms", "1 1000", "250 751"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const auto rows = rows_of(d.read(std::string("y_") + c.name + ".dat"));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front()[0] + " " + rows.front()[2], c.first);
    EXPECT_EQ(rows.back()[0] + " " + rows.back()[2], c.last);
  }
  // Octave: Thêo1 from m = 2, the others from 1, each to its limit.
  d.run({"-stat", "theo1,totdev,tierms", "y.dat"});
  EXPECT_EQ(column(rows_of(d.read("y_theo1.dat")), 0), "2 4 8 16 32 64 128 256 512");
  EXPECT_EQ(column(rows_of(d.read("y_totdev.dat")), 0), "1 2 4 8 16 32 64 128 256");
  EXPECT_EQ(column(rows_of(d.read("y_tierms.dat")), 0), "1 2 4 8 16 32 64 128");
  d.run({"-stat", "theo1", "-taus", "decade", "y.dat"});
  EXPECT_EQ(column(rows_of(d.read("y_theo1.dat")), 0), "2 4 10 20 40 100 200 400 1000");
}

}  // namespace
}  // namespace tauspan
