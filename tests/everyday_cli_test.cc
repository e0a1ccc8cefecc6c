// Whole runs with the files users have and the places they want results:
// -sep, the separator hint, -timefmt, -outdir and standard input.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::RunResult;
using test::ScratchDir;
using test::run_tool;

RunResult run_in(const ScratchDir& dir, const std::vector<std::string>& args,
                 RunOptions o = {}) {
  o.cwd = dir.dir;
  return run_tool(args, o);
}

// The fields of twelve samples, at one second, joined by `separator`.
std::string series(const std::string& separator, const std::string& before = "",
                   const std::string& after = "") {
  static const char* const kValues[] = {"1", "3", "2", "5", "4", "6", "5", "7", "6", "8",
                                        "7", "9"};
  std::string text;
  for (int i = 0; i < 12; ++i) {
    text += before + std::to_string(i) + separator + kValues[i] + after + "\n";
  }
  return text;
}

// The console from "Tau extent" on, and a result file without its header.
std::string table(const std::string& out) {
  const size_t at = out.find("Tau extent");
  return at == std::string::npos ? "" : out.substr(at, out.find("Output:", at) - at) +
                                            out.substr(out.find("\n\n\ntau", at));
}
std::string rows(const std::string& result) {
  std::string kept;
  size_t at = 0;
  while (at < result.size()) {
    const size_t end = result.find('\n', at) + 1;
    if (result[at] != '#') kept += result.substr(at, end - at);
    at = end;
  }
  return kept;
}

TEST(SepOptionTest, CsvSemicolonAndBlankFilesReadAsTheirTabTwin) {
  ScratchDir dir;
  dir.write("t.dat", series("\t"));
  dir.write("c.csv", "time,value\n" + series(","));
  dir.write("s.txt", series(";", ";", ";"));
  dir.write("b.txt", series(" \t  ", "  ", " "));
  const RunResult twin = run_in(dir, {"-n", "3", "t.dat"});
  const RunResult r = run_in(dir, {"-n", "3", "-sep", "comma", "c.csv", "-sep", "semicolon",
                                   "s.txt", "-sep", "space", "b.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string expected_table = table(twin.out);
  ASSERT_NE(expected_table, "");
  const std::string first = "Calculating for 3 tau values\nUsing commas to separate fields.\n"
                            "Input: c.csv\nReading data... found 12 datapoints\n";
  EXPECT_EQ(r.out.substr(0, first.size()), first);
  for (const std::string name : {"c.csv", "s.txt", "b.txt"}) {
    SCOPED_TRACE(name);
    const size_t at = r.out.find("Input: " + name);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(table(r.out.substr(at)).substr(0, expected_table.size()), expected_table);
    EXPECT_EQ(rows(dir.read(name.substr(0, 1) + "_avar" + name.substr(1))),
              rows(dir.read("t_avar.dat")));
  }
  EXPECT_NE(r.out.find("Using semicolons to separate fields.\nInput: s.txt\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Using blanks (spaces and tabs) to separate fields.\nInput: b.txt\n"),
            std::string::npos);
}

TEST(SepOptionTest, TheLastOneWinsForTheFilesAfterIt) {
  ScratchDir dir;
  dir.write("c.csv", series(","));
  const RunResult r =
      run_in(dir, {"-n", "1", "c.csv", "-sep", "semicolon", "-sep", ",", "c.csv", "-sep", "tab",
                   "c.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Using semicolons to separate fields.\nUsing commas to separate fields.\n"
                       "Input: c.csv\nReading data... found 12 datapoints\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Using tabs to separate fields.\nInput: c.csv\n"
                       "Reading data... found 0 datapoints\n"),
            std::string::npos);
  EXPECT_EQ(r.out.find("Input: c.csv\nReading data... found 0 datapoints\n"),
            r.out.find("Input: c.csv"));  // the first run had the default
}

TEST(SepOptionTest, AValueThatIsNoSeparatorStopsTheWalk) {
  ScratchDir dir;
  dir.write("t.dat", series("\t"));
  RunResult r = run_in(dir, {"-n", "1", "t.dat", "-sep", "Comma", "t.dat"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tauspan: -sep takes tab, comma, semicolon, space or the separating "
                   "characters, not 'Comma'\n");
  EXPECT_EQ(r.out.find("Input: t.dat"), r.out.rfind("Input: t.dat"));  // only the first ran
  r = run_in(dir, {"-sep", ""});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tauspan: -sep needs at least one separating character\n");
  r = run_in(dir, {"-sep"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tauspan: option -sep needs a value\n");
}

TEST(SeparatorHintTest, ACsvFileWithTheDefaultSeparator) {
  ScratchDir dir;
  dir.write("counter.csv", "time,value\n" + series(","));
  RunResult r = run_in(dir, {"counter.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Input: counter.csv\nReading data... found 0 datapoints\n"
                   "Insufficient valid datapoints to calculate Allan variance for counter.csv\n"
                   "Only found 0, need at least 4\n");
  EXPECT_EQ(r.err, "tauspan: the lines of 'counter.csv' look separated by commas; -sep comma "
                   "would read them\n");
  // With -time 0 each line's first number is read as the value: the run
  // goes on as before, and stderr says what it read.
  r = run_in(dir, {"-n", "1", "-time", "0", "counter.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("found 12 datapoints\n"), std::string::npos);
  EXPECT_EQ(r.err, "tauspan: the lines of 'counter.csv' look separated by commas, so only the "
                   "first number of each was read; -sep comma would read them\n");
  EXPECT_TRUE(dir.exists("counter_avar.csv"));
  // Read as meant, there is nothing to say.
  r = run_in(dir, {"-n", "1", "-sep", "comma", "counter.csv"});
  EXPECT_EQ(r.err, "");
}

// ISO times at 0.25 s steps, in every form the reader takes, against their
// seconds since 1970 as plain numbers.
TEST(TimefmtOptionTest, IsoTimesWithAndWithoutFractionsAndOffsets) {
  ScratchDir dir;
  const char* const kIso[] = {
      "2024-01-31T13:16:50Z",          "2024-01-31T13:16:50.25Z",
      "2024-01-31 13:16:50.500Z",      "2024-01-31T14:16:50.75+01:00",
      "2024-01-31T08:16:51-0500",      "2024-01-31T13:16:51,25",
      "2024-01-31t13:16:51.5z",        "2024-02-01T00:16:51.750+11",
  };
  std::string iso = "# logged\ntime\tvalue\n";
  std::string plain;
  for (int i = 0; i < 8; ++i) {
    const std::string value = std::to_string((i * 7) % 5);
    iso += std::string(kIso[i]) + "\t" + value + "\n";
    plain += std::to_string(1706707010 + i / 4) + "." + std::to_string(i % 4 * 25) + "\t" +
             value + "\n";
  }
  dir.write("iso.dat", iso);
  dir.write("plain.dat", plain);
  const RunResult twin = run_in(dir, {"-n", "4", "plain.dat"});
  const RunResult r = run_in(dir, {"-n", "4", "-timefmt", "iso", "iso.dat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.substr(0, r.out.find("Tau extent")),
            "Calculating for 4 tau values\nUsing ISO 8601 date and time as time (seconds since "
            "1970-01-01 UTC).\nInput: iso.dat\nReading data... found 8 datapoints\n");
  EXPECT_EQ(table(r.out), table(twin.out));
  EXPECT_EQ(rows(dir.read("iso_avar.dat")), rows(dir.read("plain_avar.dat")));
  // Read as plain numbers, the same file gives the year on every line.
  const RunResult years = run_in(dir, {"-n", "4", "iso.dat"});
  EXPECT_NE(years.out.find("Tau extent: 0.000000"), std::string::npos) << years.out;
}

TEST(TimefmtOptionTest, MjdDaysAsSeconds) {
  ScratchDir dir;
  std::string mjd;
  std::string plain;
  for (int i = 0; i < 10; ++i) {
    const std::string value = std::to_string((i * 3) % 7);
    mjd += std::to_string(60340 + i / 4) + "." + std::to_string(i % 4 * 25) + "\t" + value + "\n";
    plain += std::to_string(1706659200 + i * 21600) + "\t" + value + "\n";  // 2024-01-31 on
  }
  dir.write("mjd.dat", mjd);
  dir.write("plain.dat", plain);
  const RunResult twin = run_in(dir, {"-n", "3", "-tmult", "0.001", "plain.dat"});
  const RunResult r =
      run_in(dir, {"-n", "3", "-timefmt", "mjd", "-tmult", "0.001", "mjd.dat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Using modified Julian dates as time (days, as seconds since "
                       "1970-01-01 UTC).\n"),
            std::string::npos);
  EXPECT_EQ(table(r.out), table(twin.out));
  EXPECT_EQ(rows(dir.read("mjd_avar.dat")), rows(dir.read("plain_avar.dat")));
}

TEST(TimefmtOptionTest, OtherWordsStopTheWalkAndNumberGoesBack) {
  ScratchDir dir;
  dir.write("t.dat", series("\t"));
  RunResult r = run_in(dir, {"-timefmt", "unix", "t.dat"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tauspan: -timefmt takes number, iso or mjd, not 'unix'\n");
  EXPECT_EQ(r.out, "");
  r = run_in(dir, {"-n", "1", "-timefmt", "iso", "-timefmt", "number", "t.dat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Using plain numbers as time.\nInput: t.dat\n"
                       "Reading data... found 12 datapoints\n"),
            std::string::npos);
}

TEST(OutdirOptionTest, ResultsAndPicturesLandThereAndNothingBesideTheData) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir(dir.path("data").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(dir.path("out").c_str(), 0755), 0);
  dir.write("data/run.dat", series("\t"));
  const RunResult r = run_in(dir, {"-n", "2", "-plot", "-outdir", "out", "data/run.dat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Using 'out' for results.\nInput: data/run.dat\n"), std::string::npos);
  EXPECT_NE(r.out.find("Output: out/run_avar.dat\n"), std::string::npos);
  EXPECT_NE(r.out.find("Plot: out/run_avar.svg\n"), std::string::npos);
  EXPECT_EQ(dir.read("out/run_avar.dat").substr(0, 40),
            "#Overlapped Allan variance of data/run.d");
  EXPECT_TRUE(dir.exists("out/run_avar.svg"));
  EXPECT_EQ(ScratchDir::entries_of(dir.path("data")), std::vector<std::string>{"run.dat"});
  // A trailing slash, and an empty value to go back beside the data.
  const RunResult back =
      run_in(dir, {"-n", "2", "-outdir", "out/", "data/run.dat", "-outdir", "", "data/run.dat"});
  EXPECT_EQ(back.status, 0);
  EXPECT_NE(back.out.find("Output: out/run_avar.dat\n"), std::string::npos);
  EXPECT_NE(back.out.find("Using the data files' own directories for results.\n"
                          "Input: data/run.dat\nReading data... found 12 datapoints\n"),
            std::string::npos);
  EXPECT_NE(back.out.find("Output: data/run_avar.dat\n"), std::string::npos);
}

// The kernel's files take no new neighbours, whoever asks (CI runs as
// root, for whom permission bits are no obstacle): the whole table is
// computed and its result fails, unless -outdir puts it elsewhere.
TEST(OutdirOptionTest, ADataFileInAPlaceThatTakesNoNewFiles) {
  struct stat st;
  if (::stat("/proc/stat", &st) != 0) GTEST_SKIP() << "no /proc/stat";
  ScratchDir dir;
  const std::vector<std::string> read_it = {"-n", "1", "-sep", "space", "-time", "0", "-data",
                                            "2"};
  std::vector<std::string> args = read_it;
  args.push_back("/proc/stat");
  RunResult r = run_in(dir, args);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'/proc/stat_avar'"), std::string::npos) << r.err;
  args = read_it;
  args.insert(args.end(), {"-outdir", dir.dir, "/proc/stat"});
  r = run_in(dir, args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Output: " + dir.dir + "/stat_avar\n"), std::string::npos);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"stat_avar"});
}

TEST(OutdirOptionTest, ADirectoryThatIsNotThereStopsTheWalk) {
  ScratchDir dir;
  dir.write("a.dat", series("\t"));
  RunResult r = run_in(dir, {"-n", "1", "a.dat", "-outdir", "nope", "a.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: cannot put results in 'nope': No such file or directory\n");
  EXPECT_EQ(r.out.find("Input: a.dat"), r.out.rfind("Input: a.dat"));  // the second never ran
  EXPECT_EQ(r.out.substr(r.out.size() - 26), "Using 'nope' for results.\n");
  r = run_in(dir, {"-outdir", "a.dat", "a.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: cannot put results in 'a.dat': Not a directory\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.dat", "a_avar.dat"}));
}

TEST(OutdirOptionTest, TheDataFileGuardHoldsThere) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir(dir.path("out").c_str(), 0755), 0);
  dir.write("x.dat", series("\t"));
  dir.write("out/x_avar.dat", series("\t"));  // data, named like the result
  const RunResult r = run_in(dir, {"-n", "1", "-outdir", "out", "x.dat", "out/x_avar.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: not writing the result of 'x.dat' to 'out/x_avar.dat': that is the "
                   "data file 'out/x_avar.dat'\n");
  EXPECT_EQ(dir.read("out/x_avar.dat"), series("\t"));
  EXPECT_TRUE(dir.exists("out/x_avar_avar.dat"));
}

TEST(StandardInputTest, FromAPipe) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir(dir.path("out").c_str(), 0755), 0);
  dir.write("t.dat", series("\t"));
  const RunResult twin = run_in(dir, {"-n", "3", "t.dat"});
  RunOptions o;
  o.stdin_text = series("\t");
  RunResult r = run_in(dir, {"-n", "3", "-"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.substr(0, r.out.find("Tau extent")),
            "Calculating for 3 tau values\nInput: -\nReading data... found 12 datapoints\n");
  EXPECT_NE(r.out.find("Output: stdin_avar.dat\n"), std::string::npos);
  EXPECT_EQ(table(r.out), table(twin.out));
  const std::string result = dir.read("stdin_avar.dat");
  EXPECT_EQ(result.substr(0, result.find('\n')), "#Overlapped Allan variance of -");
  EXPECT_EQ(rows(result), rows(dir.read("t_avar.dat")));
  // Into -outdir, and with the other options: a CSV through the pipe.
  o.stdin_text = series(",");
  r = run_in(dir, {"-n", "3", "-sep", "comma", "-outdir", "out", "-"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Output: out/stdin_avar.dat\n"), std::string::npos);
  EXPECT_EQ(rows(dir.read("out/stdin_avar.dat")), rows(dir.read("t_avar.dat")));
  // Standard input is read once: a second "-" finds it at its end.
  o.stdin_text = series("\t");
  r = run_in(dir, {"-n", "3", "-", "-"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Input: -\nReading data... found 0 datapoints\n"), std::string::npos);
}

TEST(StandardInputTest, AFileOnStandardInputIsDataToo) {
  ScratchDir dir;
  dir.write("stdin_avar.dat", series("\t"));  // data, named like the result of "-"
  RunOptions o;
  o.stdin_path = dir.path("stdin_avar.dat");
  const RunResult r = run_in(dir, {"-n", "1", "-"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tauspan: not writing the result of '-' to 'stdin_avar.dat': that is the data "
                   "file '-'\n");
  EXPECT_EQ(dir.read("stdin_avar.dat"), series("\t"));
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"stdin_avar.dat"});
}

}  // namespace
}  // namespace tauspan

namespace tauspan {
namespace {

TEST(StandardInputTest, StatisticsFromAPipeIntoOutdir) {
  ScratchDir dir;
  ASSERT_EQ(::mkdir(dir.path("out").c_str(), 0755), 0);
  dir.write("t.dat", series("\t"));
  RunOptions o;
  o.stdin_text = "time,value\n" + series(",");
  const RunResult r = run_in(
      dir, {"-stat", "oadev,mdev", "-plot", "-sep", "comma", "-outdir", "out", "-"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Input: -\nReading data... found 12 datapoints\n"), std::string::npos);
  EXPECT_NE(r.out.find("Output: out/stdin_oadev.dat\n"), std::string::npos);
  EXPECT_NE(r.out.find("Output: out/stdin_mdev.dat\n"), std::string::npos);
  EXPECT_NE(r.out.find("Plot: out/stdin_oadev.svg\n"), std::string::npos);
  EXPECT_EQ(ScratchDir::entries_of(dir.path("out")),
            (std::vector<std::string>{"stdin_mdev.dat", "stdin_oadev.dat", "stdin_oadev.svg"}));
  // The rows are those of the same samples from a tab-separated file.
  const RunResult twin = run_in(dir, {"-stat", "oadev", "t.dat"});
  EXPECT_EQ(twin.status, 0);
  EXPECT_EQ(rows(dir.read("out/stdin_oadev.dat")), rows(dir.read("t_oadev.dat")));
  // Results beside nothing: without -outdir they go into the current directory.
  o.stdin_text = series("\t");
  EXPECT_EQ(run_in(dir, {"-stat", "adev", "-"}, o).status, 0);
  EXPECT_TRUE(dir.exists("stdin_adev.dat"));
}

}  // namespace
}  // namespace tauspan
