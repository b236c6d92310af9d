#include "tolva_utils/duration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace tolva_utils::duration {
namespace {

using namespace std::string_literals;

std::string message(std::string_view text, std::string_view component) {
  return "The duration '" + std::string(text) + "' contained a component '" + std::string(component) +
         "' that could not be parsed. Please use a valid duration, like '10m', '1h', or '1h30m'. Read more at "
         "https://docs.tolva.dev/durations";
}

TEST(MakeError, Text) { EXPECT_EQ(make_error("1H", "1H"), message("1H", "1H")); }

// The shortcut texts are looked up in a table before the general parser
// runs. Each "<n><unit>" text must give what the general parser gives for the
// same text behind a space (which no table entry matches) and what the
// number and the unit say; the words and the empty text are checked by
// their own values.
TEST(ParseDurationMs, ShortcutsAgreeWithTheGeneralParser) {
  struct Unit {
    char letter;
    std::int64_t millis;
  };
  constexpr Unit kUnits[] = {{'s', 1000}, {'m', 60000}, {'h', 3600000}, {'d', 86400000}, {'w', 604800000}};
  for (const Unit& unit : kUnits) {
    for (std::int64_t n = 0; n <= 400; ++n) {
      const std::string text = std::to_string(n) + unit.letter;
      const auto direct = parse_duration_ms(text);
      const auto general = parse_duration_ms(" " + text);
      ASSERT_TRUE(direct) << text;
      ASSERT_TRUE(general) << text;
      EXPECT_EQ(direct.value(), n * unit.millis) << text;
      EXPECT_EQ(direct.value(), general.value()) << text;
    }
  }
  constexpr std::int64_t kHundredYearsOfDays = std::int64_t{36500} * 86400000;
  const std::pair<std::string_view, std::int64_t> words[] = {{"", 0}, {"all", kHundredYearsOfDays},
                                                             {"infinity", kHundredYearsOfDays}};
  for (const auto& [text, millis] : words) {
    const auto r = parse_duration_ms(text);
    ASSERT_TRUE(r) << text;
    EXPECT_EQ(r.value(), millis) << text;
  }
}

TEST(ParseDurationMs, Grammar) {
  struct Case {
    std::string text;
    std::int64_t millis;
  };
  const Case cases[] = {
      {"1h30m", 5400000},
      {"1h 30m", 5400000},
      {"30m1h", 5400000},
      {" 1h30m ", 5400000},
      {"1m5ms", 60005},
      {"5ms", 5},
      {"5ms1m", 60005},
      {"007m", 420000},
      {"1w2d", 777600000},
      {"-1h", -3600000},
      {"- 1h", -3600000},
      {"-  1h   2m  ", -3720000},
      {"00s", 0},
      {"1w1d1h1m1s1ms", 694861001},
      {"1m5s", 65000},  // a digit may follow a unit directly
      {"9223372036854775807ms", 9223372036854775807},
      {"-9223372036854775807ms", -9223372036854775807},
      {"00000000000000000000000000001s", 1000},  // leading zeros do not overflow
      {"15250284452w", 15250284452LL * 604800000},
      {"106751991167d", 106751991167LL * 86400000},
  };
  for (const Case& c : cases) {
    const auto r = parse_duration_ms(c.text);
    ASSERT_TRUE(r) << c.text << ": " << r.error();
    EXPECT_EQ(r.value(), c.millis) << c.text;
  }
}

TEST(ParseDurationMs, Failures) {
  struct Case {
    std::string text, component;
  };
  const std::string nines(20, '9');
  const Case cases[] = {
      // A: only white space, or nothing after the sign.
      {" ", " "},
      {"\t\n", "\t\n"},
      {"\xE3\x80\x80", "\xE3\x80\x80"},
      {"-", "-"},
      {"- ", "- "},
      // B: the rest from the failing component, trimmed.
      {" -1h", "-1h"},
      {"+5m", "+5m"},
      {"--5m", "-5m"},
      {"0", "0"},
      {"30", "30"},
      {"5 m", "5 m"},
      {"1H", "1H"},
      {"5min", "5min"},
      {"1.5h", "1.5h"},
      {"1h1h", "1h"},
      {"1h 5min", "5min"},
      {"\t5m", "5m"},
      {"5m\n", ""},
      {"1h 2h 3m", "2h 3m"},
      {"1m2ms3m", "3m"},
      {"5mss", "5mss"},
      {"5x", "5x"},
      {"h", "h"},
      {"1h,", ","},  // a non-letter may follow a unit, but no component starts with it
      {"1h-2m", "-2m"},
      {"All", "All"},
      {"INFINITY", "INFINITY"},
      {" infinity", "infinity"},
      {"1h\xC2\xA0" "2m", "2m"},  // a no-break space is no separator, and is trimmed off the component
      {"5m\0"s, "\0"s},
      {"1h \xE2\x80\x83", ""},
      // C: a digit run beyond 64 bits.
      {nines + "s", nines},
      {"1h" + nines + "s", nines},
      {"9223372036854775808ms", "9223372036854775808"},
      // A count and unit, or the running total, beyond 64 bits of milliseconds.
      {"15250284453w", "15250284453w"},
      {"9223372036854775807s", "9223372036854775807s"},
      {"106751991167d1d", "1d"},
      {"9223372036854775807ms1ms", "1ms"},
      {"-9223372036854775807ms1ms", "1ms"},
  };
  for (const Case& c : cases) {
    const auto r = parse_duration_ms(c.text);
    ASSERT_FALSE(r) << c.text;
    EXPECT_EQ(r.error(), message(c.text, c.component)) << c.text;
  }
}

TEST(ParseDurationS, TruncatesTowardZero) {
  struct Case {
    std::string text;
    std::int64_t seconds;
  };
  const Case cases[] = {
      {"1500ms", 1}, {"-1500ms", -1}, {"999ms", 0}, {"-999ms", 0}, {"90s", 90}, {"infinity", 3153600000}, {"", 0},
      {"9223372036854775807ms", 9223372036854775},
  };
  for (const Case& c : cases) {
    const auto r = parse_duration_s(c.text);
    ASSERT_TRUE(r) << c.text;
    EXPECT_EQ(r.value(), c.seconds) << c.text;
  }
  EXPECT_EQ(parse_duration_s("1H").error(), parse_duration_ms("1H").error());
}

TEST(SecondsToDurationString, Texts) {
  struct Case {
    double seconds;
    std::string text;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0.0, ""},
      {-0.0, ""},
      {90, "1m30s"},
      {3600, "1h"},
      {86400, "1d"},
      {90061.5, "1d1h1m1s500ms"},
      {-90, "-1m30s"},
      {-0.0001, "-"},
      {0.0004, ""},
      {0.0005, "1ms"},  // halves round away from zero
      {0.5, "500ms"},
      {59.9996, "59s1000ms"},  // rounding is not carried
      {3153599999, "36499d23h59m59s"},
      {3153600000, "infinity"},
      {inf, "infinity"},
      {-3153600000, "-36500d"},
      {std::nan(""), ""},
      // Whole seconds and milliseconds beyond 2^64 saturate to its largest value.
      {-1e300, "-213503982334601d7h15s18446744073709551615ms"},
      {-inf, "-213503982334601d7h15s18446744073709551615ms"},
      {-1e19, "-115740740740740d17h46m40s"},
  };
  for (const Case& c : cases) EXPECT_EQ(seconds_to_duration_string(c.seconds), c.text) << c.seconds;
}

TEST(ShortDurationHugeInputs, TerminateWithTheirResults) {
  const std::string spaces(4 << 20, ' ');
  EXPECT_EQ(parse_duration_ms(spaces + "1h" + spaces + "2m" + spaces).value(), 3720000);
  const std::string digits(4 << 20, '0');
  EXPECT_EQ(parse_duration_ms(digits + "7s").value(), 7000);
  // Case C names the whole digit run, leading zeros included.
  const std::string run = digits + "9" + digits;
  EXPECT_TRUE(parse_duration_ms(run + "s").error() == message(run + "s", run));
  EXPECT_TRUE(parse_duration_ms(spaces).error() == message(spaces, spaces));
}

}  // namespace
}  // namespace tolva_utils::duration
