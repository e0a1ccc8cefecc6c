#include "series_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string_view>

#include "reference.h"
#include "test_util.h"

namespace tauspan {
namespace {

using test::ScratchDir;

RunSettings columns(int32_t time_column, int32_t data_column, double multiplier = 1.0) {
  RunSettings s;
  s.time_column = time_column;
  s.data_column = data_column;
  s.time_multiplier = multiplier;
  return s;
}

SampleSeries read_text(const std::string& text, const RunSettings& settings = {}) {
  ScratchDir dir;
  dir.write("data.dat", text);
  SeriesRead r = read_series(dir.path("data.dat"), settings);
  EXPECT_EQ(r.error, "");
  return r.samples;
}

void expect_samples(const SampleSeries& got, const SampleSeries& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].time, want[i].time) << "sample " << i;
    EXPECT_EQ(got[i].value, want[i].value) << "sample " << i;
  }
}

TEST(SeriesReaderTest, FieldsAreSplitAtRunsOfTabs) {
  expect_samples(read_text("1.0\t2.5\n"), {{1.0, 2.5}});
  expect_samples(read_text("1.0\t\t2.5\n"), {{1.0, 2.5}});
  expect_samples(read_text("\t1.0\t2.5\t\n"), {{1.0, 2.5}});
  // Spaces belong to the field, so space-separated lines hold one field.
  expect_samples(read_text("1.0 2.5\n3 4\n"), {});
}

TEST(SeriesReaderTest, CommentsAreSkippedAndNotCounted) {
  const RunSettings rows = columns(-1, 0);
  expect_samples(read_text("#a\n#b\n7\n8\n", rows), {{0, 7}, {1, 8}});
  // Only a '#' as the very first byte makes a comment.
  expect_samples(read_text(" #x\t5\n"), {{0, 5}});
  expect_samples(read_text("# only\n#comments\n"), {});
  expect_samples(read_text(""), {});
}

TEST(SeriesReaderTest, EveryOtherLineCountsAsARow) {
  // The header and the blank line are rejected but take row numbers 0 and 2.
  expect_samples(read_text("time\tvalue\n5\n\n6\n", columns(-1, 0, 2.0)), {{2, 5}, {6, 6}});
}

TEST(SeriesReaderTest, NonNumericFieldsKeepTheirIndex) {
  expect_samples(read_text("1\tok\t3\n", columns(0, 2)), {{1, 3}});
  expect_samples(read_text("1\tok\n"), {});
  // '#' and ' ' are below ':', so such fields are numeric and read as 0.
  expect_samples(read_text("1\t#5\n"), {{1, 0}});
  expect_samples(read_text("1\t-\n"), {{1, 0}});
  // Bytes from 0x80 up are negative as signed chars: numeric, reading as 0.
  expect_samples(read_text("1\t\xc2\xb5V\n"), {{1, 0}});
  expect_samples(read_text("1\t3.5abc\n"), {{1, 3.5}});
}

TEST(SeriesReaderTest, AByteOrderMarkMakesTheFirstFieldZero) {
  expect_samples(read_text("\xef\xbb\xbf" "7\t1\n8\t2\n"), {{0, 1}, {8, 2}});
  expect_samples(read_text("\xef\xbb\xbf#c\t1\n"), {{0, 1}});
}

TEST(SeriesReaderTest, ColumnsAndMultiplier) {
  expect_samples(read_text("1\t30\t4\n", columns(1, 1, 0.5)), {{15, 30}});
  expect_samples(read_text("1\t30\t4\n", columns(2, 0, 0.5)), {{2, 1}});
  // A data column of 0 (handed over as -1) takes the row number, unscaled.
  expect_samples(read_text("#h\n10\n20\nx\n30\n", columns(0, -1, 0.5)),
                 {{5, 0}, {10, 1}, {15, 3}});
  // Both on the row number: every non-comment line, but no line after the
  // final newline.
  expect_samples(read_text("a\n\nb\n", columns(-1, -1)), {{0, 0}, {1, 1}, {2, 2}});
  expect_samples(read_text("a\n\nb", columns(-1, -1)), {{0, 0}, {1, 1}, {2, 2}});
  // A column beyond the last field rejects the line.
  expect_samples(read_text("1\t2\n", columns(0, 7)), {});
}

TEST(SeriesReaderTest, LineEnds) {
  expect_samples(read_text("1\t2\r\n3\t4\r\n"), {{1, 2}, {3, 4}});
  expect_samples(read_text("1\t2\n3\t4"), {{1, 2}, {3, 4}});
  // A carriage return alone ends no line: "2\r3" reads as 2.
  expect_samples(read_text("1\t2\r3\t4\r"), {{1, 2}});
  // A NUL byte ends the line's content.
  expect_samples(read_text(std::string("1\t2\0\t9\n3\0\t4\n5\t6\n", 16), columns(0, 2)), {});
  expect_samples(read_text(std::string("1\t2\0junk\n5\t6\n", 13)), {{1, 2}, {5, 6}});
}

TEST(SeriesReaderTest, LongLinesAreReadWholeAndReadingGoesOn) {
  const std::string pad(3'000'000, 'x');
  // Needed fields before, inside and after a read buffer's worth of text.
  expect_samples(read_text("1\t2\t" + pad + "\n3\t4\n"), {{1, 2}, {3, 4}});
  expect_samples(read_text("1\t" + pad + "\t5\n3\t4\n", columns(0, 2)), {{1, 5}});
  expect_samples(read_text(pad + "\n3\t4\n" + pad), {{3, 4}});
  expect_samples(read_text(std::string(3'000'000, '1') + "\t4\n"), {{HUGE_VAL, 4}});
  std::string fields;
  for (int i = 0; i < 100000; ++i) fields += std::to_string(i) + "\t";
  expect_samples(read_text(fields + "\n" + fields, columns(99998, 99999)),
                 {{99998, 99999}, {99998, 99999}});
}

TEST(SeriesReaderTest, InfinitiesNansAndTheMissingValue) {
  expect_samples(read_text("1\t1e999\n2\t-1e999\n3\tnan\n"), {{1, HUGE_VAL}});
  expect_samples(read_text("inf\t1\n", columns(0, 1, 0.0)), {});
  expect_samples(read_text("1\t-1.7976931348623157e308\n2\t-1.797693134862315e308\n"),
                 {{2, -1.797693134862315e308}});
  expect_samples(read_text("0x1A\t+7\n  3\t.5\n"), {{26, 7}, {3, 0.5}});
}

TEST(SeriesReaderTest, ReportsFilesThatCannotBeRead) {
  ScratchDir dir;
  SeriesRead missing = read_series(dir.path("none.dat"), {});
  EXPECT_EQ(missing.error, "cannot open '" + dir.path("none.dat") + "': No such file or directory");
  EXPECT_TRUE(missing.samples.empty());
  SeriesRead directory = read_series(dir.dir, {});
  EXPECT_EQ(directory.error, "cannot read '" + dir.dir + "': Is a directory");
}

// The one-pass form of a tab-separated line's field: when it takes the
// field, it ends where the field ends and gives atof's double.
void expect_tab_form_agrees(const std::string& field) {
  for (const std::string& line : {field, field + "\t3.5", field + "\t"}) {
    double x = 0;
    const char* stop = tab_field_number(line.data(), line.data() + line.size(), x);
    if (stop == nullptr) continue;
    const std::string own = line.substr(0, line.find('\t'));
    ASSERT_EQ(static_cast<size_t>(stop - line.data()), own.size()) << "'" << line << "'";
    ASSERT_EQ(std::bit_cast<uint64_t>(x), std::bit_cast<uint64_t>(std::atof(own.c_str())))
        << "'" << line << "'";
  }
}

// The fast number path must give atof's double for every field.
TEST(FieldNumberTest, AgreesWithAtofOnGeneratedFields) {
  const char* fixed[] = {"0", "-0", "-0.000", "000123.4500", "1e22", "1e23", "-1e-22", "1e-23",
                         "9007199254740992", "9007199254740993", "9007199254740993e-3",
                         "1234567890123456789", "12345678901234567890", "0.00000000000000000001",
                         "4.5e1x", "4.5e+", "4.5e-0001", "1e0000000000000000001", "1.5E3",
                         "1699999999.123456", "10000000.011944", ".5e1", "5.e-1", ".5", "-.5", "5.", "-", ".", "-.", "1e", "1e+", "1e-5x",
                         "1E308", "1e309", "-1e309", "4.9e-324", "2e-324", "1e-400",
                         "2.2250738585072011e-308", "0x1p3", "0X10", "-0x", "00x1", "inf",
                         "-Infinity", "nan(1)", " 7", "+7", "\t7", "1,5", "1_0", ("9" "\xb5"),
                         "123456789012345678901234567890", "0.1000000000000000055511151231257827",
                         "179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497791.9999"};
  for (const char* f : fixed) {
    EXPECT_EQ(std::bit_cast<uint64_t>(field_number(f)), std::bit_cast<uint64_t>(std::atof(f)))
        << f;
    expect_tab_form_agrees(f);
  }
  // The commonest fields take the one pass.
  for (const std::string f : {"1699999999.123", "-0.000417", "42", "10000000.011944", "1.5E3"}) {
    double x = 0;
    EXPECT_NE(tab_field_number(f.data(), f.data() + f.size(), x), nullptr) << f;
  }
  std::mt19937_64 rng(7);
  const std::string alphabet = "0123456789.-+eExXinfa \t#";
  for (int i = 0; i < 200000; ++i) {
    std::string f;
    if (i % 2) {
      // Mostly well-formed decimals of every magnitude.
      char buf[64];
      const double x = std::bit_cast<double>(rng());
      std::snprintf(buf, sizeof buf, i % 4 == 1 ? "%.*g" : "%.*e", static_cast<int>(rng() % 20), x);
      f = buf;
    } else {
      const size_t len = rng() % 12;
      for (size_t k = 0; k < len; ++k) f += alphabet[rng() % alphabet.size()];
    }
    ASSERT_EQ(std::bit_cast<uint64_t>(field_number(f)), std::bit_cast<uint64_t>(std::atof(f.c_str())))
        << "'" << f << "'";
    expect_tab_form_agrees(f);
  }
}

// The fast reader against getline + strtok + atof on random texts, from a
// file and from memory, with buffers so small that most lines are long.
TEST(SeriesReaderTest, AgreesWithTheLiteralReader) {
  std::mt19937_64 rng(11);
  using namespace std::string_view_literals;
  const std::string_view pieces[] = {
      "1", "2.5", "-3", "1e3", "#", "\t", "\t", "\t", "\n", "\n", "\r\n", "\r", "x", " ", "-",
      "inf", "0x1f", ".", "7", "12345.678", "0", "00", "0x", "0x.", "p", "P-", "e", "E+", "+",
      "nan(", ")", "INFINITY", "\v", "\0"sv, "9007199254740993", "0000000000000000000"};
  const size_t kBuffers[] = {2, 3, 5, 16, 64};
  ScratchDir dir;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const size_t n = rng() % 400;
    for (size_t k = 0; k < n; ++k) text += pieces[rng() % std::size(pieces)];
    const RunSettings s = columns(static_cast<int32_t>(rng() % 4) - 1,
                                  static_cast<int32_t>(rng() % 4) - 1, round % 3 ? 1.0 : 0.25);
    const SampleSeries want = reference::read_series_text(text, s);
    dir.write("r.dat", text);
    expect_samples(read_series(dir.path("r.dat"), s).samples, want);
    for (const size_t buffer : kBuffers) {
      SCOPED_TRACE(buffer);
      ReadOptions o;
      o.buffer_size = buffer;
      expect_samples(read_series_text(text, s, o).samples, want);
    }
  }
}

// The decimal digits of 2^-1075, half the smallest double: 0 and the
// smallest subnormal are equally near, so the tie goes to 0, and any nonzero
// digit after its 752 significant ones tips it up.
std::string half_smallest_subnormal() {
  std::string digits = "1";  // of 5^k, least significant first
  for (int k = 0; k < 1075; ++k) {
    int carry = 0;
    for (char& d : digits) {
      const int v = (d - '0') * 5 + carry;
      d = static_cast<char>('0' + v % 10);
      carry = v / 10;
    }
    for (; carry > 0; carry /= 10) digits += static_cast<char>('0' + carry % 10);
  }
  std::reverse(digits.begin(), digits.end());
  return "0." + std::string(1075 - digits.size(), '0') + digits;
}

// Fields longer than the buffer are read in pieces and must give what atof
// gives of the whole field.
TEST(SeriesReaderTest, NumbersLongerThanTheBufferReadAsAtofReadsThem) {
  const std::string z(3000, '0');
  const std::string half = half_smallest_subnormal();
  const std::string fields[] = {
      std::string(3000, '1'), "0." + z + "123e3003", "1" + z + "e-3000", "-" + z,
      std::string(3000, ' ') + "-7.5", "1e" + z + "5", "1e-" + z, "." + z + "1e3001",
      "9007199254740993." + z, "9007199254740993." + z + "1", "-9007199254740995" + z + "e-3000",
      "0x1.00000000000008" + z + "p0", "0x1.00000000000008" + z + "1p0", "0x" + z + "1p-1074",
      "0x." + z + "8p12001", z + "x1", "0x" + z, "-0x.p1" + z, "0x1p" + z, "1.5" + z + "e",
      half, half + "1", half + z + "1", "-" + half.substr(0, 700), "1" + z + z + z,
      "1e" + std::string(30, '9'), "-1e-" + std::string(30, '9'), "." + z, "+infinity" + z,
      " INF" + z, "+" + z + "7", "\v\f\r" + z};
  ASSERT_EQ(std::atof(half.c_str()), 0.0);
  ASSERT_EQ(std::atof((half + "1").c_str()), std::numeric_limits<double>::denorm_min());
  ReadOptions small;
  small.buffer_size = 64;
  for (const std::string& field : fields) {
    SCOPED_TRACE(field.substr(0, 40));
    const SampleSeries got = read_series_text(field + "\t1\n", columns(0, 1), small).samples;
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::bit_cast<uint64_t>(got[0].time),
              std::bit_cast<uint64_t>(std::atof(field.c_str())));
  }
  // A NaN is rejected however long its text, as is a time of -inf.
  EXPECT_TRUE(read_series_text("+nan(" + z + ")\t1\n", {}, small).samples.empty());
  EXPECT_TRUE(read_series_text("1\t-NaN" + z + "\n", {}, small).samples.empty());
  EXPECT_TRUE(read_series_text("-infinity" + z + "\t1\n", {}, small).samples.empty());
}

TEST(SeriesReaderTest, ReadsAlikeFromAPathADescriptorAndMemory) {
  std::ifstream in(test::example_path("oscillator.dat"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const RunSettings s;
  const SampleSeries want = read_series(test::example_path("oscillator.dat"), s).samples;
  ASSERT_GT(want.size(), 1000u);
  expect_samples(read_series_text(text, s).samples, want);
  // A pipe has no size, so the series grows without an estimate.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string tail = text.substr(text.size() - 30000);
  tail = tail.substr(tail.find('\n') + 1);
  ASSERT_EQ(::write(fds[1], tail.data(), tail.size()), static_cast<ssize_t>(tail.size()));
  ::close(fds[1]);
  const SeriesRead piped = read_series_fd(fds[0], "pipe", s);
  ::close(fds[0]);
  EXPECT_EQ(piped.error, "");
  expect_samples(piped.samples, read_series_text(tail, s).samples);
  const SeriesRead closed = read_series_fd(fds[0], "closed", s);
  EXPECT_EQ(closed.error, "cannot read 'closed': Bad file descriptor");
}

// Whole runs under a limit on the address space, which counts reserved
// memory whether or not it is ever written. The sanitizers need more address
// space than the limits leave.
#ifdef TAUSPAN_SANITIZE
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

test::RunResult run_limited(const ScratchDir& dir, const std::vector<std::string>& args,
                            long long memory_limit) {
  test::RunOptions o;
  o.cwd = dir.dir;
  o.memory_limit = memory_limit;
  return test::run_tool(args, o);
}

std::string samples_text(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += std::to_string(i) + "\t" + std::to_string(i * 37 % 11) + "\n";
  return text;
}

TEST(ReaderMemory, LeadingBlankLinesReserveNothing) {
  if (kSanitized) GTEST_SKIP() << "no address space limit under the sanitizers";
  // 16 MB of samples after a MiB of blank lines. Room for samples once came
  // from the density of the first MiB: 17 bytes for every byte of the file.
  ScratchDir dir;
  dir.write("d.dat", std::string(1 << 20, '\n') + samples_text(1'000'000));
  const auto r = run_limited(dir, {"-nooverlap", "-n", "1", "d.dat"}, 64ll << 20);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("found 1000000 datapoints\n"), std::string::npos) << r.out;
}

TEST(ReaderMemory, AHoleAfterTheSamplesCostsNoRoom) {
  // 19 MB of samples, then a hole of 256 MB. Room was once guessed from the
  // density read so far, for the whole file 16 times the samples, more than
  // the limit allows; now it follows the samples read.
  if (kSanitized) GTEST_SKIP() << "no address space limit under the sanitizers";
  ScratchDir dir;
  const std::string text = samples_text(1'200'000);
  dir.write("d.dat", text);
  const auto size = static_cast<off_t>(text.size() + (256 << 20));
  ASSERT_EQ(::truncate(dir.path("d.dat").c_str(), size), 0);
  const auto r = run_limited(dir, {"-nooverlap", "-n", "1", "d.dat"}, 64ll << 20);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("found 1200000 datapoints\n"), std::string::npos) << r.out;
}

TEST(ReaderMemory, LongLinesCostOnlyTheBuffer) {
  if (kSanitized) GTEST_SKIP() << "no address space limit under the sanitizers";
  // Each long line once took a buffer of its length and more.
  const size_t n = 16 << 20;
  const std::string ordinary = samples_text(20);
  const std::string lines[] = {
      "#" + std::string(n, 'c') + "\n",            // a comment
      std::string(n, 'x') + "\t5\t6\n",          // text, no tab, in the time's place
      "20\t1." + std::string(n, '0') + "\n",      // a needed number longer than the buffer
      "21\t2\t" + std::string(n, 'y') + "\n",    // what follows the needed fields
      "22\t" + std::string(n, 'z') + "\t3\n"};   // text in the value's place
  std::string text = ordinary;
  for (const std::string& line : lines) text += line;
  ScratchDir dir;
  dir.write("d.dat", text);
  const auto r = run_limited(dir, {"-n", "3", "d.dat"}, 24ll << 20);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  // The same run on the samples alone.
  ScratchDir plain;
  plain.write("d.dat", ordinary + "20\t1\n21\t2\n");
  EXPECT_EQ(r.out, run_limited(plain, {"-n", "3", "d.dat"}, -1).out);
  EXPECT_EQ(dir.read("d_avar.dat"), plain.read("d_avar.dat"));
}

// A directory for a file of exabytes: the test directory's file system, or
// else tmpfs. Empty where neither takes such a size.
struct SparseDir {
  SparseDir() {
    for (const std::string& base : {std::filesystem::temp_directory_path().string(),
                                    std::string("/dev/shm")}) {
      std::string tmpl = base + "/tauspan-sparse-XXXXXX";
      if (!::mkdtemp(tmpl.data())) continue;
      const std::string probe = tmpl + "/probe";
      const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT, 0666);
      const bool fits = fd >= 0 && ::ftruncate(fd, kSize) == 0;
      if (fd >= 0) ::close(fd);
      ::unlink(probe.c_str());
      if (fits) {
        dir = tmpl;
        return;
      }
      ::rmdir(tmpl.c_str());
    }
  }
  ~SparseDir() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
  static constexpr off_t kSize = off_t{1} << 62;  // 4 EiB
  std::string dir;
};

// How many bytes a process has read, from /proc.
uint64_t bytes_read_by(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

TEST(ReaderMemory, AFileOfExabytesIsReadWithoutReservingForIt) {
  // Dense lines, then a hole to 4 EiB. Room for samples was once estimated
  // from the size, beyond what a vector can hold: std::length_error, abort.
  SparseDir sparse;
  if (sparse.dir.empty()) GTEST_SKIP() << "no file system here takes a file of 4 EiB";
  const std::string path = sparse.dir + "/huge.dat";
  std::ofstream(path, std::ios::binary) << samples_text(200'000);
  ASSERT_EQ(::truncate(path.c_str(), SparseDir::kSize), 0);
  test::RunOptions o;
  o.cwd = sparse.dir;
  if (!kSanitized) o.memory_limit = 64ll << 20;
  // Reading the hole would take years: stop once well past the dense part.
  o.watch = [](pid_t pid, const test::RunResult&) {
    if (bytes_read_by(pid) < (uint64_t{256} << 20)) return false;
    ::kill(pid, SIGTERM);
    return true;
  };
  const auto r = test::run_tool({"huge.dat"}, o);
  EXPECT_EQ(r.out, "Input: huge.dat\nReading data...");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.signal_number, SIGTERM);
}

}  // namespace
}  // namespace tauspan
