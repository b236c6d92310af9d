#pragma once

// ISO 8601 dates, times, date-times and durations.
//
// Every parser works on ASCII text and returns its value or the exact error
// text that reaches Python callers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/result.h"

namespace tolva_utils::isodate {

struct IsoDate {
  std::int32_t year;
  std::uint8_t month;
  std::uint8_t day;
};

struct IsoTzInfo {
  enum class Kind : std::uint8_t { Utc, Offset };
  Kind kind;
  std::string text;      // Offset: the offset text exactly as written ("+05:30"); empty for Utc
  std::int32_t seconds;  // Offset: seconds east of UTC; 0 for Utc
};

struct IsoTime {
  std::uint8_t hour, minute, second;
  std::uint32_t microsecond;
  std::optional<IsoTzInfo> tzinfo;
};

struct IsoDateTime {
  IsoTime time;
  IsoDate date;
};

struct IsoDuration {
  enum class Kind : std::uint8_t { Micros, YearsOrMonths };
  Kind kind;
  __int128 micros;  // Micros only
};

struct TimedeltaParts {
  std::int32_t days;
  std::int32_t seconds;
  std::int32_t microseconds;
};

tolva::Result<IsoDate> parse_date(std::string_view text);
tolva::Result<IsoTime> parse_time(std::string_view text);
tolva::Result<IsoDateTime> parse_datetime(std::string_view text);
// nullopt = failure; an engaged empty optional = no zone designator.
std::optional<std::optional<IsoTzInfo>> parse_tzinfo(std::string_view text);
std::optional<std::uint8_t> month_number(std::string_view text);
tolva::Result<IsoDuration> parse_duration(std::string_view text);
tolva::Result<TimedeltaParts> split_timedelta(__int128 micros);
std::string duration_isoformat(std::int32_t days, std::int32_t seconds, std::int32_t microseconds);

// ---- The two roads of parse_time and parse_datetime ----
//
// parse_time and parse_datetime first try a fast path that reads, in one
// straight pass, the layouts that nearly every caller writes, and fall back
// on the general parser for everything else.
//
// The fast paths accept, as the whole text and nothing else:
//   time:      an optional "T", then "HH:MM" or "HH:MM:SS" with an optional
//              fraction ("." or "," and digits) on the seconds, then an
//              optional zone ("Z", "z", +HH, +HHMM, +HH:MM, or with "-");
//   date-time: "YYYY-MM-DD" alone, or followed by "T" or one space and such
//              a time (without the optional "T").
// For such a text a fast path fills `out` and returns true, and `out` then
// holds exactly the value that the general parser gives. For any other text
// it returns false, which says nothing about the text (the general parser
// decides), and leaves `out` unspecified. `out` is filled in place, so that
// a caller with a value at hand copies no zone text.
bool parse_time_fast(std::string_view text, IsoTime& out);
bool parse_datetime_fast(std::string_view text, IsoDateTime& out);

// The general parsers: every layout and every error text, without the fast
// paths (parse_datetime_general reads its times with parse_time_general).
tolva::Result<IsoTime> parse_time_general(std::string_view text);
tolva::Result<IsoDateTime> parse_datetime_general(std::string_view text);

// ---- Building blocks of the parsers above ----

// At most this many fraction digits count; later ones are read and ignored.
inline constexpr std::size_t kMaxFractionDigits = 38;

struct FractionSplit {
  std::string_view digits;                   // the n leading digits
  std::optional<std::string_view> fraction;  // the digits after "." or ",", at most kMaxFractionDigits
  std::string_view rest;                     // what follows the fraction's last digit
};
// Splits `n` leading ASCII digits, an optional fraction ("." or "," and one or
// more digits) and the rest; nullopt when the digits or the fraction's digits
// are missing.
std::optional<FractionSplit> split_fraction(std::string_view text, std::size_t n);

struct SecondParts {
  std::uint8_t second;
  std::uint32_t microsecond;
};
// `digits` (two ASCII digits) as the second; the fraction of a second,
// truncated to microseconds.
SecondParts parse_second(std::string_view digits, std::optional<std::string_view> fraction);

struct MinuteParts {
  std::uint8_t minute;
  std::uint8_t second;
  std::uint32_t microsecond;
};
// `digits` as the minute; the fraction of a minute as seconds and
// microseconds, truncated.
MinuteParts parse_minute(std::string_view digits, std::optional<std::string_view> fraction);

// January 1 of `year` plus `day_of_year` - 1 days; nullopt outside 1..365
// (1..366 in a leap year).
std::optional<IsoDate> parse_ordinal_date(std::int32_t year, std::uint32_t day_of_year);

// Weekday `weekday` (1 = Monday, absent = 1) of ISO week `week` (1..53; week
// 53 is accepted in every year); nullopt outside those ranges.
std::optional<IsoDate> parse_week_date(std::int32_t year, std::uint32_t week, std::optional<std::uint32_t> weekday);

// "Unrecognised ISO 8601 {kind} format: {quoted text}".
std::string iso_error(std::string_view kind, std::string_view text);

// A number ("digits" or "digits.digits" / "digits,digits") standing at `pos`
// and directly followed by `unit`.
struct DurationNumber {
  std::string_view number;  // without the unit letter
  std::size_t end;          // just after the unit letter
};
std::optional<DurationNumber> parse_duration_number(std::string_view text, std::size_t pos, char unit);

// A number of the duration grammar ("," or "." as the separator) as the
// nearest double; too large gives infinity, too small 0.
double parse_f64_duration(std::string_view number);

// `x` rounded to an integer, halves to even, saturated to the 128-bit range;
// "Duration value is out of range" for infinities and NaN.
tolva::Result<__int128> round_f64_half_even(double x);

}  // namespace tolva_utils::isodate
