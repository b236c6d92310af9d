// ISO 8601 durations: text to microseconds, microseconds to time-delta
// fields, and time-delta fields back to text.
//
// The amounts are computed in doubles in a fixed order and rounded half to
// even at the end, so that a given text always yields the same count.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "tolva_utils/isodate.h"
#include "tolva_utils/text.h"

namespace tolva_utils::isodate {

namespace {

using Int128 = __int128;
using UInt128 = unsigned __int128;

constexpr std::string_view kOutOfRange = "Duration value is out of range";

constexpr std::int64_t kMicrosPerSecond = 1000000;
constexpr std::int64_t kMicrosPerDay = 86400 * kMicrosPerSecond;

// Unit sizes in microseconds, as the double factors the sum is made of.
constexpr double kWeek = 6.048e11;
constexpr double kDay = 8.64e10;
constexpr double kHour = 3.6e9;
constexpr double kMinute = 6e7;
constexpr double kSecond = 1e6;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::size_t digit_run(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  while (end < text.size() && is_digit(text[end])) ++end;
  return end;
}

tolva::Error unparsable(std::string_view text) {
  std::string message = "Unable to parse duration string ";
  text::append_quoted(message, text);
  return tolva::Error{std::move(message)};
}

// A year or month amount counts when it holds a digit other than 0.
bool is_nonzero_amount(std::string_view number) { return number.find_first_not_of("0.,") != std::string_view::npos; }

// One optional part at `pos`: its amount in microseconds (0 when absent);
// `pos` moves past the part when it is present.
double measured_part(std::string_view text, std::size_t& pos, char unit, double size) {
  const auto part = parse_duration_number(text, pos, unit);
  if (!part) return 0.0;
  pos = part->end;
  return parse_f64_duration(part->number) * size;
}

void append_unsigned(std::string& out, UInt128 value) {
  char digits[40];
  std::size_t count = 0;
  // Every part of a timedelta fits 64 bits, where division by 10 is a
  // multiplication; the 128-bit loop is for the rest.
  if (value <= std::numeric_limits<std::uint64_t>::max()) {
    auto small = static_cast<std::uint64_t>(value);
    do {
      digits[count++] = static_cast<char>('0' + small % 10);
      small /= 10;
    } while (small != 0);
  } else {
    do {
      digits[count++] = static_cast<char>('0' + static_cast<int>(value % 10));
      value /= 10;
    } while (value != 0);
  }
  while (count > 0) out.push_back(digits[--count]);
}

}  // namespace

std::optional<DurationNumber> parse_duration_number(std::string_view text, std::size_t pos, char unit) {
  if (pos > text.size()) return std::nullopt;
  std::size_t end = digit_run(text, pos);
  if (end == pos) return std::nullopt;
  if (end < text.size() && (text[end] == '.' || text[end] == ',')) {
    const std::size_t fraction_end = digit_run(text, end + 1);
    if (fraction_end == end + 1) return std::nullopt;  // "1." and "1," are no numbers
    end = fraction_end;
  }
  if (end >= text.size() || text[end] != unit) return std::nullopt;
  return DurationNumber{text.substr(pos, end - pos), end + 1};
}

double parse_f64_duration(std::string_view number) {
  // The callers pass only numbers of the grammar; anything else is a bug.
  const std::size_t integer_end = digit_run(number, 0);
  const bool well_formed =
      integer_end > 0 && (integer_end == number.size() || ((number[integer_end] == '.' || number[integer_end] == ',') &&
                                                           integer_end + 1 < number.size() && digit_run(number, integer_end + 1) == number.size()));
  tolva::check(well_formed, "duration number is not digits with an optional fraction");
  // from_chars is locale-independent and correctly rounded; it needs "." as
  // the separator. Copying is rare (only "," numbers) and bounded by the input.
  std::string dotted;
  if (number.find(',') != std::string_view::npos) {
    dotted.assign(number);
    for (char& c : dotted) {
      if (c == ',') c = '.';
    }
    number = dotted;
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::fixed);
  if (error == std::errc::result_out_of_range) {
    // Out of range either way: a non-zero integer part means the number is
    // too large for a double, otherwise it is too small to be told from 0.
    const std::string_view integer = number.substr(0, integer_end);
    return integer.find_first_not_of('0') != std::string_view::npos ? std::numeric_limits<double>::infinity() : 0.0;
  }
  tolva::check(error == std::errc() && end == number.data() + number.size(), "duration number was not read whole");
  return value;
}

tolva::Result<Int128> round_f64_half_even(double x) {
  if (!std::isfinite(x)) return tolva::Error{std::string(kOutOfRange)};
  const double floor = std::floor(x);
  const double remainder = x - floor;
  double rounded = floor;
  if (remainder > 0.5 || (remainder == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1.0;
  // 2^127 is exact in a double; every double below it converts without loss.
  constexpr double kLimit = 170141183460469231731687303715884105728.0;
  if (rounded >= kLimit) return std::numeric_limits<Int128>::max();
  if (rounded < -kLimit) return std::numeric_limits<Int128>::min();
  return static_cast<Int128>(rounded);
}

tolva::Result<IsoDuration> parse_duration(std::string_view text) {
  if (!text::is_ascii(text)) return unparsable(text);
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    negative = text[pos] == '-';
    ++pos;
  }
  if (pos >= text.size() || text[pos] != 'P') return unparsable(text);
  ++pos;
  if (pos >= text.size() || !(is_digit(text[pos]) || is_letter(text[pos]))) return unparsable(text);

  bool years_or_months = false;
  for (const char unit : {'Y', 'M'}) {
    if (const auto part = parse_duration_number(text, pos, unit)) {
      years_or_months = years_or_months || is_nonzero_amount(part->number);
      pos = part->end;
    }
  }
  const double weeks = measured_part(text, pos, 'W', kWeek);
  const double days = measured_part(text, pos, 'D', kDay);
  double hours = 0.0, minutes = 0.0, seconds = 0.0;
  if (pos < text.size() && text[pos] == 'T') {
    ++pos;
    hours = measured_part(text, pos, 'H', kHour);
    minutes = measured_part(text, pos, 'M', kMinute);
    seconds = measured_part(text, pos, 'S', kSecond);
  }
  if (pos != text.size()) return unparsable(text);
  if (years_or_months) return IsoDuration{IsoDuration::Kind::YearsOrMonths, 0};

  double total = weeks + days;
  total = total + hours;
  total = minutes + total;
  total = seconds + total;
  auto micros = round_f64_half_even(total);
  if (!micros) return tolva::Error{std::move(micros).error()};
  // The total is never negative, so its negation cannot overflow.
  return IsoDuration{IsoDuration::Kind::Micros, negative ? -micros.value() : micros.value()};
}

tolva::Result<TimedeltaParts> split_timedelta(Int128 micros) {
  Int128 days = micros / kMicrosPerDay;
  Int128 remainder = micros % kMicrosPerDay;
  if (remainder < 0) {
    days -= 1;
    remainder += kMicrosPerDay;
  }
  if (days < std::numeric_limits<std::int32_t>::min() || days > std::numeric_limits<std::int32_t>::max()) {
    return tolva::Error{std::string(kOutOfRange)};
  }
  return TimedeltaParts{static_cast<std::int32_t>(days), static_cast<std::int32_t>(remainder / kMicrosPerSecond),
                        static_cast<std::int32_t>(remainder % kMicrosPerSecond)};
}

std::string duration_isoformat(std::int32_t days, std::int32_t seconds, std::int32_t microseconds) {
  const Int128 total = (static_cast<Int128>(days) * 86400 + seconds) * kMicrosPerSecond + microseconds;
  std::string out;
  if (total < 0) out.push_back('-');
  // |total| stays far below 2^127 for 32-bit fields, so the negation is safe.
  const auto magnitude = static_cast<UInt128>(total < 0 ? -total : total);
  const UInt128 whole_days = magnitude / kMicrosPerDay;
  const auto in_day = static_cast<std::uint64_t>(magnitude % kMicrosPerDay);
  const std::uint64_t hours = in_day / (3600 * kMicrosPerSecond);
  const std::uint64_t minutes = in_day / (60 * kMicrosPerSecond) % 60;
  const std::uint64_t secs = in_day / kMicrosPerSecond % 60;
  const std::uint64_t micros = in_day % kMicrosPerSecond;

  out.push_back('P');
  if (whole_days != 0) {
    append_unsigned(out, whole_days);
    out.push_back('D');
  }
  if (hours == 0 && minutes == 0 && secs == 0 && micros == 0) {
    if (whole_days == 0) out.append("0D");
    return out;
  }
  out.push_back('T');
  if (hours != 0) {
    append_unsigned(out, hours);
    out.push_back('H');
  }
  if (minutes != 0) {
    append_unsigned(out, minutes);
    out.push_back('M');
  }
  if (secs != 0 || micros != 0) {
    append_unsigned(out, secs);
    if (micros != 0) {
      char fraction[6];
      std::uint64_t rest = micros;
      for (std::size_t i = 6; i-- > 0;) {
        fraction[i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
      }
      std::size_t length = 6;
      while (fraction[length - 1] == '0') --length;
      out.push_back('.');
      out.append(fraction, length);
    }
    out.push_back('S');
  }
  return out;
}

}  // namespace tolva_utils::isodate
