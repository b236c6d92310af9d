#include "tolva_utils/isodate.h"

#include <gtest/gtest.h>

#include <string>

namespace tolva_utils::isodate {
namespace {

using namespace std::string_literals;

std::string show(const IsoDate& d) {
  return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day);
}

std::string show(const std::optional<IsoTzInfo>& tz) {
  if (!tz) return "naive";
  if (tz->kind == IsoTzInfo::Kind::Utc) return "UTC";
  return tz->text + "=" + std::to_string(tz->seconds);
}

std::string show(const IsoTime& t) {
  return std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second) + "." +
         std::to_string(t.microsecond) + " " + show(t.tzinfo);
}

std::string show(const IsoDateTime& dt) { return show(dt.date) + " " + show(dt.time); }

template <class T>
std::string show(const tolva::Result<T>& r) {
  return r ? show(r.value()) : "error: " + r.error();
}

TEST(ParseDate, Layouts) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"19", "1901-1-1"},
      {"00", "1-1-1"},
      {"2024", "2024-1-1"},
      {"202403", "2024-3-1"},
      {"2024-03", "2024-3-1"},
      {"20240315", "2024-3-15"},
      {"2024-03-15", "2024-3-15"},
      {"2024-13-45", "2024-13-45"},  // calendar fields are not range-tested
      {"2024-00-00", "2024-0-0"},
      {"2024060", "2024-2-29"},
      {"2024-060", "2024-2-29"},
      {"2023-060", "2023-3-1"},
      {"2024-366", "2024-12-31"},
      {"2000-366", "2000-12-31"},    // divisible by 400: leap
      {"2024W011", "2024-1-1"},
      {"2024-W01-1", "2024-1-1"},
      {"2024W01", "2024-1-1"},
      {"2024-W01", "2024-1-1"},
      {"2020-W01-1", "2019-12-30"},
      {"2021-W53-1", "2022-1-3"},    // week 53 in a 52-week year rolls over
      {"2026-W53-7", "2027-1-3"},
      {"2009-W53-7", "2010-1-3"},    // a real 53-week year
      {"0000-001", "0-1-1"},
      {"0000-366", "0-12-31"},       // year 0 is a leap year
      {"0000-W01-1", "0-1-3"},       // 0000-01-01 was a Saturday
      {"2015-W01-1", "2014-12-29"},  // week 1 can start in the year before
      {"9999-W53-7", "10000-1-9"},
  };
  for (const Case& c : cases) EXPECT_EQ(show(parse_date(c.in)), c.out) << c.in;
}

TEST(ParseDate, Failures) {
  for (const std::string in : {"", "2", "202", "20240", "2024-1-5", "24-03-15", "2023-366", "2023-000", "1900-366", "2024-W54-1",
                               "2024-W00-1", "2024-W01-8", "2024-W01-0", "2024w01", "2024-w01-1", "2024/03/15", "2024-03-1a",
                               "+2024-03-15", "2024-03-15 ", " 2024", "2024-03-15T00", "abcd", "２０２４"}) {
    const auto r = parse_date(in);
    ASSERT_FALSE(r) << in;
  }
  EXPECT_EQ(parse_date("2024-1-5").error(), R"(Unrecognised ISO 8601 date format: "2024-1-5")");
  EXPECT_EQ(parse_date("20\"4\\").error(), R"(Unrecognised ISO 8601 date format: "20\"4\\")");
  EXPECT_EQ(parse_date("2024\n").error(), R"(Unrecognised ISO 8601 date format: "2024\n")");
  EXPECT_EQ(parse_date("20\0004"s).error(), R"(Unrecognised ISO 8601 date format: "20\04")");
  // Non-ASCII is refused whatever its length, and shown as it is.
  EXPECT_EQ(parse_date("2024\xC3\xA9").error(), "Unrecognised ISO 8601 date format: \"2024\xC3\xA9\"");
}

TEST(SplitFraction, DigitsFractionRest) {
  struct Case {
    std::string in;
    bool ok;
    std::string digits, fraction, rest;
    bool has_fraction;
  };
  const Case cases[] = {
      {"12", true, "12", "", "", false},
      {"12Z", true, "12", "", "Z", false},
      {"12.5", true, "12", "5", "", true},
      {"12,50+01", true, "12", "50", "+01", true},
      {"12.", false, "", "", "", false},
      {"12,Z", false, "", "", "", false},
      {"1", false, "", "", "", false},
      {"1a", false, "", "", "", false},
      {"12.5.5", true, "12", "5", ".5", true},
  };
  for (const Case& c : cases) {
    const auto split = split_fraction(c.in, 2);
    ASSERT_EQ(split.has_value(), c.ok) << c.in;
    if (!split) continue;
    EXPECT_EQ(split->digits, c.digits) << c.in;
    EXPECT_EQ(split->fraction.has_value(), c.has_fraction) << c.in;
    if (split->fraction) {
      EXPECT_EQ(*split->fraction, c.fraction) << c.in;
    }
    EXPECT_EQ(split->rest, c.rest) << c.in;
  }
  // Only the first 38 fraction digits are kept; the rest of the run is still consumed.
  const std::string long_fraction = "00." + std::string(38, '1') + std::string(100, '9') + "Z";
  const auto split = split_fraction(long_fraction, 2);
  ASSERT_TRUE(split);
  EXPECT_EQ(*split->fraction, std::string(38, '1'));
  EXPECT_EQ(split->rest, "Z");
}

TEST(ParseTime, Layouts) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"12:30:45", "12:30:45.0 naive"},
      {"T123045", "12:30:45.0 naive"},
      {"123045", "12:30:45.0 naive"},
      {"12:30:45.5", "12:30:45.500000 naive"},
      {"12:30:45,123456789", "12:30:45.123456 naive"},  // truncated
      {"12:30:45.999999999", "12:30:45.999999 naive"},
      {"12:30", "12:30:0.0 naive"},
      {"1230", "12:30:0.0 naive"},
      {"12", "12:0:0.0 naive"},
      {"12:30.5", "12:30:30.0 naive"},
      {"1230.25", "12:30:15.0 naive"},
      {"12:30.0000001", "12:30:0.6 naive"},            // 0.0000001 min = 6 us
      {"12:30.99999999999", "12:30:59.999999 naive"},  // truncated, never 60 s
      {"12.5", "12:30:0.0 naive"},
      {"12.25", "12:15:0.0 naive"},
      {"00.99999999999", "0:59:59.1000000 naive"},     // rounding reaches 1000000, not carried
            {"12:30:45Z", "12:30:45.0 UTC"},
      {"12:30:45z", "12:30:45.0 UTC"},
      {"12:30+05:30", "12:30:0.0 +05:30=19800"},
      {"12:30:45-0800", "12:30:45.0 -0800=-28800"},
      {"123045.5+01", "12:30:45.500000 +01=3600"},
      {"12-00:30", "12:0:0.0 -00:30=-1800"},
      {"25:61:61", "25:61:61.0 naive"},
      {"99:99:99.9", "99:99:99.900000 naive"},
  };
  for (const Case& c : cases) EXPECT_EQ(show(parse_time(c.in)), c.out) << c.in;
}

// Half-even on the microseconds of an hour fraction. One microsecond is
// 1/3.6e9 hour, so (2k + 1) / 7.2e9 hours is k and a half microseconds; with
// 2k + 1 a multiple of 9 that is a finite decimal.
TEST(ParseTime, HourFractionRoundsHalfToEven) {
  struct Case {
    std::string in;
    std::uint32_t microsecond;
  };
  const Case cases[] = {
      {"00.00000000125", 4},           // 4.5 -> 4
      {"00.00000000375", 14},          // 13.5 -> 14
      {"00.000000001250000001", 5},    // just above a half
      {"00.00000000124999999", 4},     // just below a half
      {"00.0000000013888888", 5},      // 4.99999968
      {"00.0000125", 45000},           // exact: 0.045 s
  };
  for (const Case& c : cases) {
    const auto t = parse_time(c.in);
    ASSERT_TRUE(t) << c.in;
    EXPECT_EQ(t.value().microsecond, c.microsecond) << c.in;
  }
}

TEST(ParseTime, Failures) {
  for (const std::string in : {"", "T", "1", "12:30:45+24:00", "12:30:45+5", "12:30:45.", "12:3", "12:30:4", "12:30:45 ",
                               " 12:30", "12:30:45+05:60", "12:30:45+05:3", "12:30:45Zz", "t12:30", "TT12:30", "1a:30",
                               "12:30:45.5.5", "12:30:45\xC3\xA9"}) {
    EXPECT_FALSE(parse_time(in)) << in;
  }
  EXPECT_EQ(parse_time("12:30:45.").error(), R"(Unrecognised ISO 8601 time format: "12:30:45.")");
  EXPECT_EQ(parse_time("T").error(), R"(Unrecognised ISO 8601 time format: "T")");
  EXPECT_EQ(parse_time("1\t2").error(), R"(Unrecognised ISO 8601 time format: "1\t2")");
}

TEST(ParseTime, HugeFractionsUseTheFirst38Digits) {
  const std::string seconds = "12:30:45." + std::string(10000, '9');
  EXPECT_EQ(show(parse_time(seconds)), "12:30:45.999999 naive");
  // 38 digits of 0.999... hour: 59 min 59 s and a rounded-up 1000000 us.
  EXPECT_EQ(show(parse_time("00." + std::string(38, '9') + std::string(5000, '0') + "Z")), "0:59:59.1000000 UTC");
  // Digits after the 38th do not count, even when they would round.
  EXPECT_EQ(show(parse_time("00." + std::string(38, '0') + "9")), "0:0:0.0 naive");
}

TEST(ParseTzinfo, Forms) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"", "naive"},         {"Z", "UTC"},           {"z", "UTC"},
      {"+05", "+05=18000"},  {"-00:30", "-00:30=-1800"}, {"+0530", "+0530=19800"},
      {"-23:59", "-23:59=-86340"}, {"+00", "+00=0"},  {"-00", "-00=0"},
  };
  for (const Case& c : cases) {
    const auto tz = parse_tzinfo(c.in);
    ASSERT_TRUE(tz) << c.in;
    EXPECT_EQ(show(*tz), c.out) << c.in;
  }
  for (const std::string in : {"+0560", "+24", "+5", "05:00", "+05:", "+05:0", "+05-00", "+050", "ZZ", "UTC", "+05:00:00", " Z", "+\xC3\xA9"}) {
    EXPECT_FALSE(parse_tzinfo(in)) << in;
  }
}

TEST(MonthNumber, NamesAndAbbreviations) {
  struct Case {
    std::string in;
    int month;  // 0: none
  };
  const Case cases[] = {
      {"jan", 1},      {"January", 1}, {"FEB", 2},       {"february", 2}, {"Mar", 3},  {"march", 3},
      {"apr", 4},      {"April", 4},   {"MAY", 5},       {"jun", 6},      {"June", 6}, {"jul", 7},
      {"July", 7},     {"aug", 8},     {"August", 8},    {"sep", 9},      {"Sept,", 9}, {"September,,", 9},
      {"oct", 10},     {"October", 10}, {"nov", 11},     {"November", 11}, {"dec", 12}, {"DECEMBER", 12},
      {"Sept.", 0},    {"ma", 0},      {"mays", 0},      {"", 0},         {",", 0},    {"septembers", 0},
      {",may", 0},     {"m\xC3\xA4r", 0}, {"januaryjanuary", 0},
  };
  for (const Case& c : cases) {
    const auto month = month_number(c.in);
    EXPECT_EQ(month ? *month : 0, c.month) << c.in;
  }
}

TEST(ParseDatetime, IsoAndEnglishForms) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"2024-03-15T10:00:00Z", "2024-3-15 10:0:0.0 UTC"},
      {"20240315T1000+0100", "2024-3-15 10:0:0.0 +0100=3600"},
      {"2024-03-15 10:00", "2024-3-15 10:0:0.0 naive"},
      {"2024-03-15", "2024-3-15 0:0:0.0 naive"},
      {" 2024-03-15 ", "2024-3-15 0:0:0.0 naive"},
      {"2024-03-15T10:00 ", "2024-3-15 10:0:0.0 naive"},
      {"2024-03-15TT10:00", "2024-3-15 10:0:0.0 naive"},  // the time's own leading T
      {" \t2024-03-15\n\x0B\x0C\r", "2024-3-15 0:0:0.0 naive"},  // ASCII white space around
      {"2024", "2024-1-1 0:0:0.0 naive"},
      {"March 5, 2024", "2024-3-5 0:0:0.0 naive"},
      {"5 March 2024 10:00", "2024-3-5 10:0:0.0 naive"},
      {"March 5, 2024 10:00:00 +05:00", "2024-3-5 10:0:0.0 +05:00=18000"},
      {"March 5, 2024 10:00 Z", "2024-3-5 10:0:0.0 UTC"},
      {"Sept 5, 2024", "2024-9-5 0:0:0.0 naive"},
      {"5  may \t 2024", "2024-5-5 0:0:0.0 naive"},
      {"may , 2024", "2024-5-0 0:0:0.0 naive"},  // an empty day token counts as 0
      {"March 255, 2147483647", "2147483647-3-255 0:0:0.0 naive"},
      {"March 00005, 0002024", "2024-3-5 0:0:0.0 naive"},
      {"2024-03-15 x 12", "error: Unknown string format: 2024-03-15 x 12"},
  };
  for (const Case& c : cases) EXPECT_EQ(show(parse_datetime(c.in)), c.out) << c.in;
}

TEST(ParseDatetime, Failures) {
  struct Case {
    std::string in, error;
  };
  const Case cases[] = {
      {"", "String does not contain a date: "},
      {" ", "String does not contain a date:  "},
      {"\t\r\n", "String does not contain a date: \t\r\n"},
      // Non-ASCII is refused before the trim, white space included.
      {"\xE2\x80\xA8\t", "Unknown string format: \xE2\x80\xA8\t"},
      {"\xE3\x80\x80" "2024-03-15", "Unknown string format: \xE3\x80\x80" "2024-03-15"},
      {"Hello", "Unknown string format: Hello"},
      {"5 OCT 2024", "Unknown string format: 5 OCT 2024"},  // its T splits date and time
      {"2024-03-15 10:00:00 +05:00", "Unknown string format: 2024-03-15 10:00:00 +05:00"},
      {"2024-03-15T", "Unknown string format: 2024-03-15T"},
      {"March 2024", "Unknown string format: March 2024"},
      {"March 5 2024 10:00 +05:00 x", "Unknown string format: March 5 2024 10:00 +05:00 x"},
      {"March five 2024", "Unknown string format: March five 2024"},
      {"March 5 2024 noon", "Unknown string format: March 5 2024 noon"},
      {"5 5 2024", "Unknown string format: 5 5 2024"},
      // Day and year beyond their fields are refused, not wrapped.
      {"March 256, 2024", "Unknown string format: March 256, 2024"},
      {"March 261, 2024", "Unknown string format: March 261, 2024"},
      {"March 5, 2147483648", "Unknown string format: March 5, 2147483648"},
      {"March 5, 4294969320", "Unknown string format: March 5, 4294969320"},
      {"5 March 99999999999999999999999999", "Unknown string format: 5 March 99999999999999999999999999"},
      // Non-ASCII content between the ends.
      {"5\xC2\xA0March 2024", "Unknown string format: 5\xC2\xA0March 2024"},
      {"M\xC3\xA4rz 5 2024", "Unknown string format: M\xC3\xA4rz 5 2024"},
      {"2024-03-15\0"s, "Unknown string format: 2024-03-15\0"s},
  };
  for (const Case& c : cases) {
    const auto r = parse_datetime(c.in);
    ASSERT_FALSE(r) << c.in;
    EXPECT_EQ(r.error(), c.error) << c.in;
  }
}

TEST(IsoDateHugeInputs, TerminateWithTheirErrors) {
  const std::string megabytes(4 << 20, '9');
  EXPECT_FALSE(parse_date(megabytes));
  EXPECT_FALSE(parse_time(megabytes));
  EXPECT_EQ(show(parse_time("12:30:45." + megabytes + "Z")), "12:30:45.999999 UTC");
  EXPECT_EQ(show(parse_time("12." + megabytes)), "12:59:59.1000000 naive");
  EXPECT_FALSE(parse_datetime(megabytes));
  EXPECT_FALSE(parse_datetime("March 5 " + megabytes));
  EXPECT_FALSE(parse_datetime(std::string(1 << 20, ' ') + "x" + std::string(1 << 20, '\t')));
  EXPECT_EQ(show(parse_datetime(std::string(1 << 20, ' ') + "2024-03-05" + std::string(1 << 20, '\n'))), "2024-3-5 0:0:0.0 naive");
  std::string many_tokens;
  for (int i = 0; i < 100000; ++i) many_tokens += "March ";
  EXPECT_FALSE(parse_datetime(many_tokens));
  EXPECT_FALSE(month_number(std::string(1 << 20, ',')));
  const std::string utf8_spaces = [] {
    std::string s;
    for (int i = 0; i < 100000; ++i) s += "\xE3\x80\x80";
    return s;
  }();
  EXPECT_EQ(parse_datetime(utf8_spaces).error(), "Unknown string format: " + utf8_spaces);
}

}  // namespace
}  // namespace tolva_utils::isodate
