#include "series_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

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
  }
}

// The fast reader against getline + strtok + atof on random texts.
TEST(SeriesReaderTest, AgreesWithTheLiteralReader) {
  std::mt19937_64 rng(11);
  const char* pieces[] = {"1", "2.5", "-3", "1e3", "#", "\t", "\t", "\t", "\n", "\n", "\r\n",
                          "\r", "x", " ", "-", "inf", "0x1f", ".", "7", "12345.678"};
  ScratchDir dir;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const size_t n = rng() % 400;
    for (size_t k = 0; k < n; ++k) text += pieces[rng() % std::size(pieces)];
    const RunSettings s = columns(static_cast<int32_t>(rng() % 4) - 1,
                                  static_cast<int32_t>(rng() % 4) - 1, round % 3 ? 1.0 : 0.25);
    dir.write("r.dat", text);
    const SeriesRead got = read_series(dir.path("r.dat"), s);
    expect_samples(got.samples, reference::read_series_text(text, s));
  }
}

}  // namespace
}  // namespace tauspan
