// ISO 8601 date-times and modified Julian dates as seconds since 1970.
#include "time_format.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tauspan {
namespace {

// Seconds since 1970 worked out apart from this code (Python's datetime).
TEST(IsoSeconds, DatesAndTimesInUtc) {
  const struct {
    const char* text;
    double seconds;
  } kCases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"1969-12-31T23:59:59Z", -1},
      {"2000-03-01T00:00:00Z", 951868800},  // after a leap day of a year divisible by 400
      {"2024-01-31T13:16:50Z", 1706707010},
      {"2024-02-29T23:59:59Z", 1709251199},
      {"0001-01-01T00:00:00Z", -62135596800},
      {"9999-12-31T23:59:59Z", 253402300799},
      {"2024-01-31T13:16:50", 1706707010},     // no offset: UTC
      {"2024-01-31 13:16:50Z", 1706707010},    // one space instead of the T
      {"2024-01-31t13:16:50z", 1706707010},    // lower case, as RFC 3339 allows
      {"2024-01-31T13:16Z", 1706706960},       // no seconds
      {"  2024-01-31T13:16:50Z\t ", 1706707010},  // blanks around the field
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(iso_seconds(c.text), c.seconds);
  }
}

TEST(IsoSeconds, OffsetsAreEastOfUtc) {
  const double utc = 1706707010;  // 2024-01-31T13:16:50Z
  EXPECT_EQ(iso_seconds("2024-01-31T14:16:50+01:00"), utc);
  EXPECT_EQ(iso_seconds("2024-01-31T14:16:50+0100"), utc);
  EXPECT_EQ(iso_seconds("2024-01-31T14:16:50+01"), utc);
  EXPECT_EQ(iso_seconds("2024-01-31T07:46:50-05:30"), utc);
  EXPECT_EQ(iso_seconds("2024-02-01T00:16:50+11:00"), utc);  // the day before in UTC
  EXPECT_EQ(iso_seconds("2024-01-31T13:16:50-00:00"), utc);
}

TEST(IsoSeconds, FractionsOfASecond) {
  const double whole = 1706707010;
  EXPECT_EQ(iso_seconds("2024-01-31T13:16:50.250Z"), whole + 0.25);
  EXPECT_EQ(iso_seconds("2024-01-31T13:16:50,5Z"), whole + 0.5);
  EXPECT_EQ(iso_seconds("1970-01-01T00:00:00.000001Z"), 1e-6);
  EXPECT_EQ(iso_seconds("1970-01-01T00:00:00.123456789012345678Z"), 0.123456789012345);
  // Near 2024 one double resolves 2^-22 s, about 0.24 us: a microsecond
  // step comes out within that.
  const double step = iso_seconds("2024-01-31T13:16:50.000001Z") -
                      iso_seconds("2024-01-31T13:16:50.000000Z");
  EXPECT_NEAR(step, 1e-6, std::ldexp(1.0, -22));
}

TEST(IsoSeconds, WhatIsNoDateAndTimeIsMissing) {
  for (const char* text :
       {"", "2024", "2024-01-31", "2024-01-31T", "2024-01-31T13", "2024-01-31T13:16:",
        "2024-1-31T13:16:50Z", "24-01-31T13:16:50Z", "2024-01-31T13:16:50.Z",
        "2024-01-31  13:16:50Z", "2024-01-31X13:16:50Z", "2024-01-31T13:16:50Zjunk",
        "2024-01-31T13:16:50 1.5", "2024-13-01T00:00:00Z", "2024-00-10T00:00:00Z",
        "2024-01-32T00:00:00Z", "2023-02-29T00:00:00Z", "1900-02-29T00:00:00Z",
        "2024-04-31T00:00:00Z", "2024-01-31T24:00:00Z", "2024-01-31T13:60:00Z",
        "2024-01-31T23:59:60Z", "2024-01-31T13:16:50+24:00", "2024-01-31T13:16:50+01:60",
        "2024-01-31T13:16:50+1", "2024-01-31T13:16:50+01:0", "1706707010", "-2024-01-31T00:00Z",
        "+2024-01-31T00:00Z"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(iso_seconds(text), kMissing);
  }
  const std::string long_fraction = "2024-01-31T13:16:50." + std::string(300, '0') + "Z";
  EXPECT_EQ(iso_seconds(long_fraction), kMissing);  // beyond kLongestTimeField
}

TEST(MjdSeconds, DaysFromTheUnixEpoch) {
  EXPECT_EQ(mjd_seconds("40587"), 0);
  EXPECT_EQ(mjd_seconds("40588"), 86400);
  EXPECT_EQ(mjd_seconds("60340.5"), 1706702400);  // 2024-01-31T12:00:00Z
  EXPECT_EQ(mjd_seconds(" +60340.5 "), 1706702400);
  EXPECT_EQ(mjd_seconds("6.03405e4"), 1706702400);
  EXPECT_EQ(mjd_seconds("0"), -40587.0 * 86400);
  EXPECT_EQ(mjd_seconds("-1"), -40588.0 * 86400);
  EXPECT_EQ(mjd_seconds("60340.5"), iso_seconds("2024-01-31T12:00:00Z"));
}

TEST(MjdSeconds, WhatIsNoNumberIsMissing) {
  for (const char* text : {"", " ", "60340.5x", "x60340", "nan", "inf", "-inf", "+-1", "--1",
                           "0x10", "60340 5", "1e999", "."}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(mjd_seconds(text), kMissing);
  }
}

TEST(TimeField, EachFormReadsItsOwnForm) {
  // A plain number is read as atof reads it, junk after it and all.
  EXPECT_EQ(time_field("12.5abc", TimeFormat::kNumber), 12.5);
  EXPECT_EQ(time_field("abc", TimeFormat::kNumber), std::nullopt);
  // The same field is a year for atof and no time for the other forms.
  EXPECT_EQ(time_field("2024-01-31T13:16:50Z", TimeFormat::kNumber), 2024);
  EXPECT_EQ(time_field("2024-01-31T13:16:50Z", TimeFormat::kIso), 1706707010);
  EXPECT_EQ(time_field("2024-01-31T13:16:50Z", TimeFormat::kMjd), std::nullopt);
  EXPECT_EQ(time_field("60340.5", TimeFormat::kIso), std::nullopt);
  EXPECT_EQ(time_field("60340.5", TimeFormat::kMjd), 1706702400);
}

TEST(ChooseTimeFormat, TheThreeWordsAndNoOthers) {
  TimeFormat f = TimeFormat::kNumber;
  EXPECT_TRUE(choose_time_format("iso", f));
  EXPECT_EQ(f, TimeFormat::kIso);
  EXPECT_TRUE(choose_time_format("mjd", f));
  EXPECT_EQ(f, TimeFormat::kMjd);
  EXPECT_TRUE(choose_time_format("number", f));
  EXPECT_EQ(f, TimeFormat::kNumber);
  for (const char* word : {"", "ISO", "iso8601", "unix", "-iso"}) {
    EXPECT_FALSE(choose_time_format(word, f)) << word;
  }
  EXPECT_EQ(f, TimeFormat::kNumber);
}

}  // namespace
}  // namespace tauspan
