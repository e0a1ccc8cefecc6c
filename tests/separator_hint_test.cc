// The look at a file's first lines and the hint it gives, through the reader.
#include "separator_hint.h"

#include <gtest/gtest.h>

#include "series_reader.h"

namespace tauspan {
namespace {

RunSettings with(int32_t time_column, int32_t data_column, std::string separators = "\t",
                 TimeFormat format = TimeFormat::kNumber) {
  RunSettings s;
  s.time_column = time_column;
  s.data_column = data_column;
  s.separators = std::move(separators);
  s.time_format = format;
  return s;
}

std::string hint_for(const std::string& text, const RunSettings& s = {}) {
  const SeriesRead r = read_series_text(text, s);
  return separator_hint("f.dat", r.look, r.samples.size(), s);
}

TEST(SeparatorHint, FewSamplesAndAnotherSeparatorNameIt) {
  EXPECT_EQ(hint_for("time,value\n0,1\n1,3\n2,2\n3,5\n"),
            "the lines of 'f.dat' look separated by commas; -sep comma would read them");
  EXPECT_EQ(hint_for("0;1,5\n1;3,25\n"),  // decimal commas: the semicolon separates
            "the lines of 'f.dat' look separated by semicolons; -sep semicolon would read them");
  EXPECT_EQ(hint_for("  0   1\n1 3\n"),
            "the lines of 'f.dat' look separated by runs of blanks; -sep space would read them");
  // Under -sep comma, a semicolon file is still named.
  EXPECT_EQ(hint_for("0;1\n1;3\n", with(0, 1, ",")),
            "the lines of 'f.dat' look separated by semicolons; -sep semicolon would read them");
  // The separator on most lines wins.
  EXPECT_EQ(hint_for("0;1\n0,1\n1,2\n"),
            "the lines of 'f.dat' look separated by commas; -sep comma would read them");
}

TEST(SeparatorHint, NoneWhereNothingElseSeparatesNumbers) {
  EXPECT_EQ(hint_for(""), "");
  EXPECT_EQ(hint_for("# 1,2\n# 3,4\n"), "");            // comments are not looked at
  EXPECT_EQ(hint_for("0\t1\n1\t2\n"), "");              // too few, but tab-separated
  EXPECT_EQ(hint_for("time,value\nseconds,volts\n"), "");  // no numbers to split
  EXPECT_EQ(hint_for("1,x\n2,y\n"), "");                // one number a line
  EXPECT_EQ(hint_for("0 1\n1 2\n", with(0, 1, " \t")), "");  // already split by blanks
  EXPECT_EQ(hint_for("0\t1\n1\t3\n2\t2\n3\t5\n4\t4\n"), "");  // enough samples
}

TEST(SeparatorHint, RowNumbersOverFieldsThatHoldMore) {
  const RunSettings rows = with(-1, 0);  // -time 0: the first field is the value
  EXPECT_EQ(hint_for("time,value\n0,1\n1,3\n2,2\n3,5\n", rows),
            "the lines of 'f.dat' look separated by commas, so only the first number of each "
            "was read; -sep comma would read them");
  // -data 0 with the time in the first field reads only that field too.
  EXPECT_EQ(hint_for("0;1\n1;3\n2;2\n3;5\n", with(0, -1)),
            "the lines of 'f.dat' look separated by semicolons, so only the first number of "
            "each was read; -sep semicolon would read them");
  // Every line that gave a sample must hold more; one plain line is enough
  // to show that the file means one number a line.
  EXPECT_EQ(hint_for("0,1\n1,3\n2\n3,5\n", rows), "");
  EXPECT_EQ(hint_for("1\n2\n3\n4\n", rows), "");
  EXPECT_EQ(hint_for("0\t1\n1\t3\n2\t2\n3\t5\n", rows), "");
  // Reading the second field: the file is read as meant.
  EXPECT_EQ(hint_for("0,1\n1,3\n2,2\n3,5\n", with(-1, 1, ",")), "");
}

TEST(SeparatorHint, OnlyTheFirstHundredLinesAreLookedAt) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "x\n";
  EXPECT_EQ(hint_for(text + "0,1\n1,2\n"), "");
  EXPECT_EQ(hint_for("0,1\n" + text), "the lines of 'f.dat' look separated by commas; -sep comma "
                                       "would read them");
}

TEST(SeparatorHint, DatesAndTimesSplitByBlanks) {
  const RunSettings s = with(0, 1, " \t", TimeFormat::kIso);
  EXPECT_EQ(hint_for("2024-01-31 13:16:50 1\n2024-01-31 13:16:51 2\n", s),
            "the times of 'f.dat' look like dates and times of day in two fields, as a blank "
            "separates them there; -timefmt iso needs a 'T' between date and time, or a -sep "
            "without space");
  EXPECT_EQ(hint_for("2024-01-31T13:16:50 1\n", s), "");
  EXPECT_EQ(hint_for("2024-01-31 13:16:50\t1\n", with(0, 1, "\t", TimeFormat::kIso)), "");
}

}  // namespace
}  // namespace tauspan
