#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "support/fatal_error.h"
#include "tolva_utils/isodate.h"

namespace tolva_utils::isodate {
namespace {

using namespace std::string_literals;
using Int128 = __int128;

std::string show(Int128 value) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  auto magnitude = negative ? -static_cast<unsigned __int128>(value) : static_cast<unsigned __int128>(value);
  std::string digits;
  while (magnitude != 0) {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  }
  return negative ? "-" + digits : digits;
}

std::string show(const tolva::Result<IsoDuration>& r) {
  if (!r) return "error: " + r.error();
  if (r.value().kind == IsoDuration::Kind::YearsOrMonths) return "years or months";
  return show(r.value().micros);
}

constexpr Int128 kInt128Max = std::numeric_limits<Int128>::max();
constexpr Int128 kInt128Min = std::numeric_limits<Int128>::min();

TEST(ParseDuration, Amounts) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"P1D", "86400000000"},
      {"PT1H30M", "5400000000"},
      {"P1DT2H", "93600000000"},
      {"P1W", "604800000000"},
      {"P1W1D", "691200000000"},
      {"PT1.5S", "1500000"},
      {"PT1,5S", "1500000"},
      {"-PT1S", "-1000000"},
      {"+PT1S", "1000000"},
      {"PT", "0"},
      {"P0D", "0"},
      {"-P0D", "0"},
      {"P1DT", "86400000000"},
      {"PT0.0000005S", "0"},  // half rounds to even
      {"PT0.0000015S", "2"},
      {"PT0.0000025S", "2"},
      {"PT0.0000035S", "4"},
      {"P0Y1D", "86400000000"},
      {"P0Y0,0M1D", "86400000000"},
      {"P000.000Y1D", "86400000000"},
      {"PT1M", "60000000"},
      {"P2W3DT4H5M6.789S", "1483506789000"},
      {"PT0.1S", "100000"},
      {"PT36H", "129600000000"},
      {"P0.5D", "43200000000"},
      {"P007D", "604800000000"},
      // A huge fraction run still reads as the nearest double.
      {"PT1." + std::string(500, '0') + "1S", "1000000"},
      {"PT0." + std::string(400, '0') + "1S", "0"},  // too small for a double: 0
      {"PT" + std::string(300, '9') + "S", show(kInt128Max)},  // finite double beyond 128 bits saturates
      {"-PT" + std::string(300, '9') + "S", show(-kInt128Max)},
  };
  for (const Case& c : cases) EXPECT_EQ(show(parse_duration(c.in)), c.out) << c.in;
}

TEST(ParseDuration, YearsOrMonths) {
  const std::string cases[] = {"P1Y", "P1M", "P0.5Y", "P0,01M", "P1Y2D", "-P1YT1H", "P0Y1M", "P1Y" + std::string(400, '9') + "D"};
  for (const std::string& in : cases) {
    EXPECT_EQ(show(parse_duration(in)), "years or months") << in;
  }
}

TEST(ParseDuration, Failures) {
  const std::string unparsable[] = {
      "", "P", "-P", "+", "-", "P1", "p1D", "P1d", "P1D1W", "PT1H1H", "P.5D", "P1.D", "P1,D", "PD", "P1DX",
      "PT1D", "P1M1Y", "P1S", "PT1H1M1S1", "1D", "P 1D", " P1D", "P1D ", "P--1D", "+-P1D", "P1DT1H2", "PTT1H",
      "PT1.5.5S", "P1e5D", "P-1D", "P1D\0"s, "P1\xC3\xA9" "D", "\xEF\xBB\xBF" "P1D"};
  for (const std::string& in : unparsable) {
    const auto r = parse_duration(in);
    ASSERT_FALSE(r) << in;
    EXPECT_EQ(r.error().rfind("Unable to parse duration string \"", 0), 0u) << in << " -> " << r.error();
  }
  EXPECT_EQ(parse_duration("P1d").error(), R"(Unable to parse duration string "P1d")");
  EXPECT_EQ(parse_duration("P1D\n").error(), R"(Unable to parse duration string "P1D\n")");
  EXPECT_EQ(parse_duration("P\"1\\D").error(), R"(Unable to parse duration string "P\"1\\D")");
  EXPECT_EQ(parse_duration("P1D\0"s).error(), R"(Unable to parse duration string "P1D\0")");

  // Too large for a double: infinity, then out of range.
  EXPECT_EQ(show(parse_duration("P" + std::string(400, '9') + "D")), "error: Duration value is out of range");
  EXPECT_EQ(show(parse_duration("-PT" + std::string(400, '9') + ".5S")), "error: Duration value is out of range");
  // Two finite parts (each about 1.2e308 microseconds) whose sum overflows.
  const std::string weeks = "2" + std::string(296, '0'), days = "14" + std::string(296, '0');
  EXPECT_EQ(show(parse_duration("P" + weeks + "W")), show(kInt128Max));
  EXPECT_EQ(show(parse_duration("P" + days + "D")), show(kInt128Max));
  EXPECT_EQ(show(parse_duration("P" + weeks + "W" + days + "D")), "error: Duration value is out of range");
}

TEST(ParseDurationNumber, NumberThenUnitAtPosition) {
  struct Case {
    std::string text;
    std::size_t pos;
    char unit;
    bool found;
    std::string number;
    std::size_t end;
  };
  const Case cases[] = {
      {"P12D", 1, 'D', true, "12", 4},   {"P1.5D", 1, 'D', true, "1.5", 5}, {"P1,5D", 1, 'D', true, "1,5", 5},
      {"P12D", 1, 'W', false, "", 0},    {"P1.D", 1, 'D', false, "", 0},    {"P.5D", 1, 'D', false, "", 0},
      {"P12", 1, 'D', false, "", 0},     {"P12D", 4, 'D', false, "", 0},    {"P12D", 9, 'D', false, "", 0},
      {"P1.5.5D", 1, 'D', false, "", 0},
  };
  for (const Case& c : cases) {
    const auto number = parse_duration_number(c.text, c.pos, c.unit);
    ASSERT_EQ(number.has_value(), c.found) << c.text << " at " << c.pos;
    if (!number) continue;
    EXPECT_EQ(number->number, c.number) << c.text;
    EXPECT_EQ(number->end, c.end) << c.text;
  }
}

TEST(ParseF64Duration, ReadsTheNearestDouble) {
  EXPECT_EQ(parse_f64_duration("1"), 1.0);
  EXPECT_EQ(parse_f64_duration("1,5"), 1.5);
  EXPECT_EQ(parse_f64_duration("0.1"), 0.1);
  EXPECT_EQ(parse_f64_duration("007.250"), 7.25);
  EXPECT_EQ(parse_f64_duration("9007199254740993"), 9007199254740992.0);  // ties to even
  EXPECT_EQ(parse_f64_duration("17976931348623157" + std::string(292, '0')), std::numeric_limits<double>::max());
  EXPECT_EQ(parse_f64_duration(std::string(400, '9')), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_f64_duration("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(parse_f64_duration("000" + std::string(400, '0') + ".5"), 0.5);
  // Only the callers' grammar is accepted; anything else is a bug, reported loudly.
  for (const std::string bad : {"", "-1", "1.", ".5", "inf", "nan", "1e5", "1 ", "1.5.5"}) {
    EXPECT_THROW(parse_f64_duration(bad), tolva::FatalError) << bad;
  }
}

TEST(RoundF64HalfEven, HalvesToEvenAndSaturates) {
  struct Case {
    double in;
    Int128 out;
  };
  const Case cases[] = {
      {0.0, 0},    {0.5, 0},     {1.5, 2},     {2.5, 2},    {2.4999999999999996, 2}, {2.5000000000000004, 3},
      {-0.5, 0},   {-1.5, -2},   {-2.5, -2},   {-2.6, -3},  {-0.0, 0},               {1e15 + 0.5, 1000000000000000},
      {4503599627370497.0, 4503599627370497},  // above 2^52 every double is an integer
      {1.7014118346046923e38, kInt128Max},     // 2^127: one past the largest
      {-1.7014118346046923e38, kInt128Min},    // -2^127 is representable
      {1e300, kInt128Max},  {-1e300, kInt128Min},
      {std::numeric_limits<double>::max(), kInt128Max},
      {std::numeric_limits<double>::denorm_min(), 0},
  };
  for (const Case& c : cases) {
    const auto r = round_f64_half_even(c.in);
    ASSERT_TRUE(r) << c.in;
    EXPECT_EQ(show(r.value()), show(c.out)) << c.in;
  }
  // The largest double below 2^127 converts exactly.
  const double below = std::nextafter(1.7014118346046923e38, 0.0);
  EXPECT_EQ(static_cast<double>(round_f64_half_even(below).value()), below);
  for (const double bad : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()}) {
    const auto r = round_f64_half_even(bad);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "Duration value is out of range");
  }
}

TEST(SplitTimedelta, FloorsToDays) {
  struct Case {
    Int128 micros;
    std::int32_t days, seconds, microseconds;
  };
  constexpr Int128 kDay = 86400000000;
  const Case cases[] = {
      {0, 0, 0, 0},
      {-1, -1, 86399, 999999},
      {86400000000, 1, 0, 0},
      {86399999999, 0, 86399, 999999},
      {-86400000000, -1, 0, 0},
      {-86400000001, -2, 86399, 999999},
      {1500000, 0, 1, 500000},
      {kDay * 2147483647 + kDay - 1, 2147483647, 86399, 999999},
      {kDay * -2147483648LL, -2147483647 - 1, 0, 0},
  };
  for (const Case& c : cases) {
    const auto r = split_timedelta(c.micros);
    ASSERT_TRUE(r) << show(c.micros);
    EXPECT_EQ(r.value().days, c.days) << show(c.micros);
    EXPECT_EQ(r.value().seconds, c.seconds) << show(c.micros);
    EXPECT_EQ(r.value().microseconds, c.microseconds) << show(c.micros);
  }
  for (const Int128 out_of_range : {kDay * 2147483648LL, kDay * -2147483648LL - 1, kInt128Max, kInt128Min}) {
    const auto r = split_timedelta(out_of_range);
    ASSERT_FALSE(r) << show(out_of_range);
    EXPECT_EQ(r.error(), "Duration value is out of range");
  }
}

TEST(DurationIsoformat, Texts) {
  struct Case {
    std::int32_t days, seconds, microseconds;
    std::string out;
  };
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const Case cases[] = {
      {0, 0, 0, "P0D"},
      {1, 0, 0, "P1D"},
      {0, 1, 500000, "PT1.5S"},
      {0, 0, 1, "PT0.000001S"},
      {0, 60, 0, "PT1M"},
      {0, 3600, 0, "PT1H"},
      {1, 7384, 500000, "P1DT2H3M4.5S"},
      {-1, 79200, 0, "-PT2H"},
      {-2, 79200, 0, "-P1DT2H"},
      {1, 0, 100, "P1DT0.0001S"},
      {-1, 86399, 999999, "-PT0.000001S"},
      {0, 86399, 999999, "PT23H59M59.999999S"},
      {0, 3601, 0, "PT1H1S"},
      {0, 3660, 120000, "PT1H1M0.12S"},
      {999999999, 86399, 999999, "P999999999DT23H59M59.999999S"},
      {-999999999, 0, 0, "-P999999999D"},
      // Fields outside a normalised delta still give a text and never overflow.
      {0, 90000, 0, "P1DT1H"},
      {0, -1, 0, "-PT1S"},
      {kMax, kMax, kMax, "P2147508502DT3H49M54.483647S"},
      {kMin, kMin, kMin, "-P2147508503DT3H49M55.483648S"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(duration_isoformat(c.days, c.seconds, c.microseconds), c.out) << c.days << " " << c.seconds << " " << c.microseconds;
  }
}

TEST(DurationRoundTrip, IsoformatThenParse) {
  // Text written by duration_isoformat parses back to the same delta.
  const std::int32_t fields[][3] = {{0, 0, 0}, {1, 7384, 500000}, {-2, 79200, 0}, {0, 0, 1}, {123456, 45296, 789012}, {-1, 86399, 999999}};
  for (const auto& f : fields) {
    const std::string text = duration_isoformat(f[0], f[1], f[2]);
    const auto parsed = parse_duration(text);
    ASSERT_TRUE(parsed) << text;
    const auto parts = split_timedelta(parsed.value().micros);
    ASSERT_TRUE(parts) << text;
    EXPECT_EQ(parts.value().days, f[0]) << text;
    EXPECT_EQ(parts.value().seconds, f[1]) << text;
    EXPECT_EQ(parts.value().microseconds, f[2]) << text;
  }
}

TEST(IsoDurationHugeInputs, TerminateWithTheirResults) {
  const std::string megabytes(4 << 20, '9');
  EXPECT_EQ(show(parse_duration("PT" + megabytes + "S")), "error: Duration value is out of range");
  EXPECT_EQ(show(parse_duration("PT0," + megabytes + "S")), "1000000");
  EXPECT_EQ(show(parse_duration("PT0." + std::string(4 << 20, '0') + "1S")), "0");
  EXPECT_FALSE(parse_duration("P" + megabytes));
  EXPECT_FALSE(parse_duration("P1D" + std::string(4 << 20, 'T')));
}

}  // namespace
}  // namespace tolva_utils::isodate
