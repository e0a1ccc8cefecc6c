// Whole runs on the inputs that instruments, scripts and accidents produce.
// Each checks the exit status, the console, stderr, and that the data file
// is untouched and nothing but the result file appeared.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "reference.h"
#include "test_util.h"

namespace tauspan {
namespace {

using test::RunOptions;
using test::ScratchDir;
using test::run_tool;

struct Outcome {
  test::RunResult run;
  std::vector<std::string> files;  // what the directory holds afterwards
};

// Runs tauspan in a fresh directory holding `name` with `contents`.
Outcome run_on(const std::string& name, const std::string& contents,
               std::vector<std::string> args = {}) {
  ScratchDir dir;
  dir.write(name, contents);
  RunOptions o;
  o.cwd = dir.dir;
  args.push_back(name);
  Outcome r{run_tool(args, o), dir.entries()};
  EXPECT_EQ(dir.read(name), contents) << "the data file changed";
  return r;
}

std::string too_few(const std::string& name, int found) {
  return "Input: " + name + "\nReading data... found " + std::to_string(found) +
         " datapoints\nInsufficient valid datapoints to calculate Allan variance for " + name +
         "\nOnly found " + std::to_string(found) + ", need at least 4\n";
}

size_t rows(const std::string& out) {
  const size_t title = out.find("tau\tAVAR\tADEV\n");
  if (title == std::string::npos) return 0;
  return static_cast<size_t>(std::count(out.begin() + static_cast<ptrdiff_t>(title), out.end(), '\n')) - 1;
}

// Lines "i\t<value>\n" for i = 0 ... n - 1; the value text defaults to a
// small cycle of whole numbers.
std::string ramp(int n, const std::string& value = "") {
  std::string text;
  for (int i = 0; i < n; ++i) {
    text += std::to_string(i);
    text += '\t';
    text += value.empty() ? std::to_string((i * 37) % 11) : value;
    text += '\n';
  }
  return text;
}

TEST(BadInputTest, FilesWithoutSamples) {
  for (const std::string& contents :
       {std::string(), std::string("# only\n#comments\n"), std::string("\n\n\n"),
        std::string("time\tvalue\nseconds\tvolts\n"), std::string(4096, '\0'),
        std::string("1 2\n3 4\n5 6\n7 8\n")}) {
    const Outcome r = run_on("d.dat", contents);
    EXPECT_EQ(r.run.out, too_few("d.dat", 0));
    // Only the space-separated lines earn a hint, on stderr.
    EXPECT_EQ(r.run.err, contents[0] == '1' ? "tauspan: the lines of 'd.dat' look separated by "
                                              "runs of blanks; -sep space would read them\n"
                                            : "");
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.files, std::vector<std::string>{"d.dat"});
  }
}

TEST(BadInputTest, OddBytesAndLineEnds) {
  // A byte-order mark makes the first time 0; the lines still count.
  Outcome r = run_on("d.dat", "\xef\xbb\xbf" + ramp(8), {"-n", "1"});
  EXPECT_NE(r.run.out.find("found 8 datapoints\n"), std::string::npos);
  EXPECT_EQ(r.run.status, 0);
  // NUL bytes end a line's content: the second field is gone.
  r = run_on("d.dat", std::string("1\0\t5\n2\0\t5\n3\t5\n4\t5\n5\t5\n", 23));
  EXPECT_EQ(r.run.out, too_few("d.dat", 3));
  // Carriage returns alone end no line: one line, one sample.
  r = run_on("d.dat", "0\t1\r1\t2\r2\t3\r3\t4\r4\t5\r");
  EXPECT_EQ(r.run.out, too_few("d.dat", 1));
  // CR LF line ends are plain line ends.
  std::string crlf;
  for (const char c : ramp(10)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  EXPECT_EQ(run_on("d.dat", crlf, {"-n", "2"}).run.out, run_on("d.dat", ramp(10), {"-n", "2"}).run.out);
}

TEST(BadInputTest, RandomBinaryReadsAsTheLiteralReaderReadsIt) {
  std::mt19937_64 rng(5);
  std::string junk(1 << 20, '\0');
  for (char& c : junk) c = static_cast<char>(rng() % 7 == 0 ? '\t' : rng() % 9 == 0 ? '\n' : rng());
  const size_t want = reference::read_series_text(junk, {}).size();
  const Outcome r = run_on("junk.bin", junk, {"-n", "3"});
  EXPECT_NE(r.run.out.find("found " + std::to_string(want) + " datapoints\n"), std::string::npos);
  EXPECT_EQ(r.run.status, 0);
  EXPECT_EQ(r.run.err, "");
}

TEST(BadInputTest, HugeLinesAndManyFields) {
  const std::string big(100'000'000, '7');
  Outcome r = run_on("d.dat", "0\t1\t" + big + "\n" + big + "\n" + ramp(6).substr(4), {"-n", "1"});
  EXPECT_NE(r.run.out.find("found 6 datapoints\n"), std::string::npos) << r.run.out.substr(0, 200);
  EXPECT_EQ(r.run.status, 0);
  std::string wide;
  for (int i = 0; i < 100000; ++i) wide += std::to_string(i % 97) + "\t";
  r = run_on("d.dat", wide + "\n" + wide + "\n" + wide + "\n" + wide + "\n",
             {"-time", "99999", "-data", "5", "-n", "1"});
  EXPECT_NE(r.run.out.find("found 4 datapoints\nTau extent: 0.000000 to 0.000000\n"),
            std::string::npos);
}

TEST(BadInputTest, FilesThatAreNotThere) {
  ScratchDir dir;
  ::mkdir(dir.path("a dir.dat").c_str(), 0777);
  RunOptions o;
  o.cwd = dir.dir;
  dir.write("good.dat", ramp(20));
  const auto r = run_tool({"-n", "1", "a dir.dat", "gone.dat", "good.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tauspan: cannot read 'a dir.dat': Is a directory\n"
            "tauspan: cannot open 'gone.dat': No such file or directory\n");
  EXPECT_EQ(r.out.substr(0, r.out.find("Input: good.dat")),
            "Calculating for 1 tau values\n" + too_few("a dir.dat", 0) + too_few("gone.dat", 0));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a dir.dat", "good.dat", "good_avar.dat"}));
}

TEST(BadInputTest, AwkwardPaths) {
  for (const char* name_text : {"with space.dat", "r\xc3\xa9sum\xc3\xa9 \xe6\xb8\xa9\xe5\xba\xa6.dat",
                                 "-leading-dash.dat", "-h", "no_extension", ".hidden"}) {
    const std::string name = name_text;
    ScratchDir dir;
    dir.write(name, ramp(20));
    RunOptions o;
    o.cwd = dir.dir;
    const auto r = run_tool({"-n", "1", name}, o);
    EXPECT_EQ(r.status, 0) << name;
    const std::string result = name == "no_extension" ? "no_extension_avar"
                               : name == ".hidden"    ? "_avar.hidden"
                               : name == "-h"         ? "-h_avar"
                                                      : name.substr(0, name.size() - 4) + "_avar.dat";
    EXPECT_NE(r.out.find("Output: " + result + "\n"), std::string::npos) << r.out;
    EXPECT_TRUE(dir.exists(result)) << result;
    EXPECT_NE(dir.read(result).find(" Allan variance of " + name + "\n"), std::string::npos);
  }
}

TEST(BadInputTest, ExtremeValues) {
  // Sums past the double range: infinities and NaNs in the rows, no crash.
  Outcome r = run_on("d.dat", ramp(20, "1.7e308"), {"-n", "2"});
  EXPECT_EQ(r.run.status, 0);
  const std::string table = r.run.out.substr(r.run.out.find("ADEV\n") + 5);
  EXPECT_EQ(table.substr(0, 9), "2.000000\t");
  EXPECT_NE(table.find("nan\t"), std::string::npos) << table;  // inf - inf; the sign is libc's
  r = run_on("d.dat", ramp(20, "4e-320"), {"-n", "2"});
  EXPECT_EQ(rows(r.run.out), 2u);
  r = run_on("d.dat", "0\t1e999\n1\t2\n2\t3\n3\t4\n4\t5\n", {"-n", "1"});
  EXPECT_NE(r.run.out.find("found 5 datapoints\n"), std::string::npos);
  EXPECT_EQ(r.run.status, 0);
}

TEST(BadInputTest, OddTimes) {
  // All times equal.
  std::string same_time;
  for (int i = 0; i < 10; ++i) same_time += "5\t" + std::to_string(i) + "\n";
  Outcome r = run_on("d.dat", same_time, {"-n", "2"});
  EXPECT_NE(r.run.out.find("Tau extent: 0.000000 to 0.000000\n"), std::string::npos);
  EXPECT_EQ(rows(r.run.out), 2u);
  r = run_on("d.dat", ramp(10), {"-tmult", "0", "-logtau", "-n", "3"});
  EXPECT_EQ(rows(r.run.out), 3u);
  // Decreasing times: the extent is still lowest to highest, and the sweep
  // runs downward from the third time less the lowest.
  std::string down;
  for (int i = 0; i < 12; ++i) down += std::to_string(100 - i) + "\t" + std::to_string(i % 3) + "\n";
  r = run_on("d.dat", down, {"-n", "2"});
  EXPECT_NE(r.run.out.find("Tau extent: 9.000000 to 2.750000\n"), std::string::npos) << r.run.out;
  EXPECT_EQ(r.run.status, 0);
}

TEST(BadInputTest, OddTauSettings) {
  const std::string data = ramp(40);
  const std::string zero = run_on("d.dat", data, {"-mintau", "0", "-n", "3"}).run.out;
  const std::string unset = run_on("d.dat", data, {"-n", "3"}).run.out;
  EXPECT_EQ(zero.substr(zero.find("Input")), unset.substr(unset.find("Input")));
  Outcome r = run_on("d.dat", data, {"-mintau", "-3", "-n", "3"});
  EXPECT_NE(r.run.out.find("Tau extent: -3.000000 to 9.750000\n"), std::string::npos);
  r = run_on("d.dat", data, {"-maxtau", "nan", "-n", "3"});
  EXPECT_NE(r.run.out.find("Tau extent: 2.000000 to nan\n"), std::string::npos) << r.run.out;
  EXPECT_EQ(r.run.status, 0);
  for (const char* n : {"0", "-5", "ten"}) {
    r = run_on("d.dat", data, {"-n", n});
    EXPECT_EQ(rows(r.run.out), 0u);
    EXPECT_EQ(r.files, (std::vector<std::string>{"d.dat", "d_avar.dat"}));
  }
}

TEST(BadInputTest, AHugeTauCountCanBeInterrupted) {
  ScratchDir dir;
  dir.write("d.dat", ramp(20));
  dir.write("d_avar.dat", "earlier\n");
  RunOptions o;
  o.cwd = dir.dir;
  o.watch = [](pid_t pid, const test::RunResult& so_far) {
    if (std::count(so_far.out.begin(), so_far.out.end(), '\n') < 2000) return false;
    ::kill(pid, SIGINT);
    return true;
  };
  const auto r = run_tool({"-n", "99999999999", "d.dat"}, o);
  EXPECT_EQ(r.out.substr(0, 38), "Calculating for 2147483647 tau values\n");
  EXPECT_EQ(r.signal_number, SIGINT);
  EXPECT_EQ(dir.read("d_avar.dat"), "earlier\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"d.dat", "d_avar.dat"}));
}

TEST(BadInputTest, RunningOutOfMemory) {
#ifdef TAUSPAN_SANITIZE
  GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#endif
  ScratchDir dir;
  std::string lines;
  for (int i = 0; i < 5'000'000; ++i) lines += "1\t2\n";
  dir.write("big.dat", lines);
  dir.write("big_avar.dat", "earlier\n");
  RunOptions o;
  o.cwd = dir.dir;
  o.memory_limit = 48ll << 20;  // the series alone needs 80 MB
  const auto r = run_tool({"big.dat"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Input: big.dat\nReading data...");
  EXPECT_EQ(r.err, "tauspan: out of memory while processing 'big.dat'\n");
  EXPECT_EQ(dir.read("big_avar.dat"), "earlier\n");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"big.dat", "big_avar.dat"}));
}

TEST(BadInputTest, OptionsWithoutValues) {
  for (const char* option : {"-time", "-data", "-tmult", "-n", "-numtaus", "-mintau", "-maxtau",
                             "-jitter"}) {
    const auto r = run_tool({"-logtau", option});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Using logarithmic tau spacing.\n");
    EXPECT_EQ(r.err, std::string("tauspan: option ") + option + " needs a value\n");
  }
}

}  // namespace
}  // namespace tauspan
