// Separators: the -sep words, the echo, and lines split by any set of them,
// with any form of time, as the literal reader splits them.
#include "field_split.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>

#include "reference.h"
#include "series_reader.h"

namespace tauspan {
namespace {

RunSettings split_by(std::string separators, TimeFormat format = TimeFormat::kNumber) {
  RunSettings s;
  s.separators = std::move(separators);
  s.time_format = format;
  return s;
}

SampleSeries read(const std::string& text, const RunSettings& s) {
  return read_series_text(text, s).samples;
}

void expect_samples(const SampleSeries& got, const SampleSeries& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].time, want[i].time) << "sample " << i;
    EXPECT_EQ(got[i].value, want[i].value) << "sample " << i;
  }
}

TEST(ChooseSeparators, WordsAndCharacters) {
  const struct {
    const char* value;
    const char* separators;
    const char* echo;
  } kCases[] = {
      {"tab", "\t", "Using tabs to separate fields."},
      {"comma", ",", "Using commas to separate fields."},
      {",", ",", "Using commas to separate fields."},
      {"semicolon", ";", "Using semicolons to separate fields."},
      {"space", " \t", "Using blanks (spaces and tabs) to separate fields."},
      {" ", " ", "Using spaces to separate fields."},
      {"|", "|", "Using '|' to separate fields."},
      {",;,;", ",;", "Using any of ',;' to separate fields."},
      {"\t|\x01", "\t|\x01", "Using any of '\\t|\\x01' to separate fields."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    const SeparatorChoice choice = choose_separators(c.value);
    EXPECT_EQ(choice.error, "");
    EXPECT_EQ(choice.separators, c.separators);
    EXPECT_EQ(describe_separators(choice.separators), c.echo);
  }
}

TEST(ChooseSeparators, EmptyValuesLettersAndDigitsAreRefused) {
  EXPECT_EQ(choose_separators("").error, "-sep needs at least one separating character");
  // A mistyped word is no set of characters: letters and digits belong to fields.
  for (const char* value : {"Comma", "tabs", "spaces", "x", ",0", "e"}) {
    SCOPED_TRACE(value);
    const SeparatorChoice choice = choose_separators(value);
    EXPECT_EQ(choice.error, std::string("-sep takes tab, comma, semicolon, space or the "
                                        "separating characters, not '") + value + "'");
    EXPECT_EQ(choice.separators, "");
  }
}

TEST(ReadSeparated, CommaSemicolonAndBlankFiles) {
  const SampleSeries want = {{0, 1.5}, {1, 2}, {2, -3}};
  expect_samples(read("time,value\n0,1.5\n1,2\n2,-3\n", split_by(",")), want);
  expect_samples(read("0;1.5\n1;;2\n;2;-3;\n", split_by(";")), want);
  expect_samples(read("  0   1.5  \n1\t \t2\n2 -3\n", split_by(" \t")), want);
  // The default splits none of them.
  EXPECT_TRUE(read("0,1.5\n1,2\n", {}).empty());
  EXPECT_TRUE(read("0;1.5\n1;2\n", {}).empty());
  EXPECT_TRUE(read("0 1.5\n1 2\n", {}).empty());
}

TEST(ReadSeparated, SpacesBelongToAFieldUnlessTheySeparate) {
  // "1, 2.5" has the field " 2.5", which atof reads; a number after a blank
  // inside a field is not another field.
  expect_samples(read("1, 2.5\n2 ,3 4\n", split_by(",")), {{1, 2.5}, {2, 3}});
  // Split by blanks, ",2" is a field of its own, numeric without a number: 0.
  expect_samples(read("1 ,2\n", split_by(" \t")), {{1, 0}});
  // Runs of mixed separators are one; none at the ends makes a field.
  expect_samples(read(",;1;,;2,\n", split_by(",;")), {{1, 2}});
}

TEST(ReadSeparated, TimesAsDatesOrMjdsInAnyColumn) {
  RunSettings iso = split_by(",", TimeFormat::kIso);
  expect_samples(read("time,value\n2024-01-31T13:16:50.250Z,1\n2024-01-31T14:16:51.5+01:00,2\n"
                      "2024-01-31 13:16:52Z , 3\n",
                      iso),
                 {{1706707010.25, 1}, {1706707011.5, 2}, {1706707012, 3}});
  // The multiplier comes after the conversion; a field that is no date is
  // no time, even where atof would read a number from it.
  iso.time_multiplier = 1e-3;
  expect_samples(read("2024-01-31T13:16:50Z,1\n1706707010,2\n", iso), {{1706707010e-3, 1}});
  RunSettings mjd = split_by("\t", TimeFormat::kMjd);
  mjd.time_column = 1;
  mjd.data_column = 0;
  expect_samples(read("5\t40587.5\n6\t40588\n7\t40588x\n", mjd), {{43200, 5}, {86400, 6}});
}

TEST(ReadSeparated, IsoWithBlanksAsSeparatorsSplitsDateFromTime) {
  // With -sep space, "2024-01-31 13:16:50" is two fields: the date alone is
  // no time, so such lines give no sample; a 'T' keeps them one field.
  const RunSettings s = split_by(" \t", TimeFormat::kIso);
  expect_samples(read("2024-01-31 13:16:50 1\n2024-01-31T13:16:51 2\n", s), {{1706707011, 2}});
}

// The fast reader against getline + strtok on random texts with random
// separator sets and forms of time, with buffers so small that most lines
// are long, so that the pieces of a long line are split the same way.
TEST(ReadSeparated, AgreesWithTheLiteralReader) {
  std::mt19937_64 rng(23);
  using namespace std::string_view_literals;
  const std::string_view pieces[] = {
      "1", "2.5", "-3", "#", "\t", "\t", ",", ",", ";", " ", " ", "|", "\n", "\n", "\r\n", "x",
      "2024-01-31T13:16:50Z", "2024-01-31 13:16:50.5+01:00", "2024-02-30T00:00Z", "60340.5",
      " 40587 ", "60340.5x", "1e3", "\0"sv, "T", "Z", ":", "-", "+05:30", "0x1p3"};
  const char* const kSets[] = {"\t", ",", ";", " \t", ", ", "|:\t", ";,"};
  const TimeFormat kForms[] = {TimeFormat::kNumber, TimeFormat::kIso, TimeFormat::kMjd};
  const size_t kBuffers[] = {2, 3, 7, 64, 1 << 20};
  for (int round = 0; round < 400; ++round) {
    std::string text;
    const size_t n = rng() % 300;
    for (size_t k = 0; k < n; ++k) text += pieces[rng() % std::size(pieces)];
    RunSettings s = split_by(kSets[rng() % std::size(kSets)], kForms[rng() % 3]);
    s.time_column = static_cast<int32_t>(rng() % 4) - 1;
    s.data_column = static_cast<int32_t>(rng() % 4) - 1;
    const SampleSeries want = reference::read_series_text(text, s);
    for (const size_t buffer : kBuffers) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", buffer " << buffer);
      ReadOptions o;
      o.buffer_size = buffer;
      expect_samples(read_series_text(text, s, o).samples, want);
    }
  }
}

TEST(ReadSeparated, ATimeFieldLongerThanTheBufferIsReadAlike) {
  // In pieces or whole, a date with a long fraction is one field; past
  // kLongestTimeField bytes it is no time in either.
  const std::string fraction(200, '5');
  const std::string too_long(300, '5');
  const std::string text = "2024-01-31T13:16:50." + fraction + "Z,1\n" +
                           "2024-01-31T13:16:51." + too_long + "Z,2\n";
  const RunSettings s = split_by(",", TimeFormat::kIso);
  ReadOptions small;
  small.buffer_size = 16;
  const SampleSeries want = {{1706707010 + 0.555555555555555, 1}};
  expect_samples(read_series_text(text, s, small).samples, want);
  expect_samples(read(text, s), want);
}

}  // namespace
}  // namespace tauspan
