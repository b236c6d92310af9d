// Short duration strings: "10m", "1h30m", "infinity".
//
// A text is a run of components, each a decimal count and a unit letter, in
// any order, each unit at most once, separated by optional spaces. A few
// common texts, and the two spellings of "forever", come from a table.

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include "tolva_utils/duration.h"
#include "tolva_utils/text.h"

namespace tolva_utils::duration {

namespace {

struct Shortcut {
  std::string_view text;
  std::int64_t millis;
};

// 36500 days of 24 hours.
constexpr std::int64_t kForeverMillis = 3153600000000;

constexpr std::array<Shortcut, 32> kShortcuts{{
    {"", 0},
    {"0s", 0},
    {"1s", 1000},
    {"50s", 50000},
    {"200s", 200000},
    {"1m", 60000},
    {"5m", 300000},
    {"10m", 600000},
    {"15m", 900000},
    {"20m", 1200000},
    {"30m", 1800000},
    {"1h", 3600000},
    {"2h", 7200000},
    {"12h", 43200000},
    {"24h", 86400000},
    {"48h", 172800000},
    {"1d", 86400000},
    {"2d", 172800000},
    {"3d", 259200000},
    {"5d", 432000000},
    {"7d", 604800000},
    {"1w", 604800000},
    {"10d", 864000000},
    {"14d", 1209600000},
    {"30d", 2592000000},
    {"45d", 3888000000},
    {"60d", 5184000000},
    {"90d", 7776000000},
    {"100d", 8640000000},
    {"365d", 31536000000},
    {"all", kForeverMillis},
    {"infinity", kForeverMillis},
}};

enum Unit : unsigned { kWeek, kDay, kHour, kMinute, kSecond, kMillisecond };

constexpr std::array<std::int64_t, 6> kUnitMillis{604800000, 86400000, 3600000, 60000, 1000, 1};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The unit whose letters start at `text[pos]`, and how many letters it has.
std::optional<std::pair<Unit, std::size_t>> read_unit(std::string_view text, std::size_t pos) {
  switch (text[pos]) {
    case 'w':
      return std::pair{kWeek, std::size_t{1}};
    case 'd':
      return std::pair{kDay, std::size_t{1}};
    case 'h':
      return std::pair{kHour, std::size_t{1}};
    case 's':
      return std::pair{kSecond, std::size_t{1}};
    case 'm':
      if (pos + 1 < text.size() && text[pos + 1] == 's') return std::pair{kMillisecond, std::size_t{2}};
      return std::pair{kMinute, std::size_t{1}};
    default:
      return std::nullopt;
  }
}

// Doubles at or above 2^64 saturate, and NaN gives 0, as the callers want.
std::uint64_t saturating_u64(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(value);
}

void append_number(std::string& out, std::uint64_t value, char unit) {
  char digits[20];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
  out.push_back(unit);
}

}  // namespace

std::string make_error(std::string_view text, std::string_view component) {
  std::string message = "The duration '";
  message.append(text);
  message.append("' contained a component '");
  message.append(component);
  message.append("' that could not be parsed. Please use a valid duration, like '10m', '1h', or '1h30m'. Read more at ");
  message.append(kDurationDocsUrl);
  return message;
}

tolva::Result<std::int64_t> parse_duration_ms(std::string_view text) {
  for (const Shortcut& shortcut : kShortcuts) {
    if (shortcut.text == text) return shortcut.millis;
  }
  // Nothing but white space, or a sign and nothing more: the whole input is
  // the culprit.
  const auto whole_input = [&] { return tolva::Error{make_error(text, text)}; };
  // Everything from the failing component to the end, trimmed.
  const auto from = [&](std::size_t pos) { return tolva::Error{make_error(text, text::trim_white_space(text.substr(pos)))}; };

  if (text::trim_white_space(text).empty()) return whole_input();
  std::size_t pos = 0;
  const bool negative = text[0] == '-';
  if (negative) ++pos;

  std::int64_t total = 0;
  unsigned used = 0;  // one bit per Unit
  for (;;) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos == text.size()) {
      if (used == 0) return whole_input();
      break;
    }
    if (!is_digit(text[pos])) return from(pos);

    const std::size_t start = pos;
    std::int64_t count = 0;
    bool overflow = false;
    while (pos < text.size() && is_digit(text[pos])) {
      const int digit = text[pos] - '0';
      overflow = overflow || count > (std::numeric_limits<std::int64_t>::max() - digit) / 10;
      if (!overflow) count = count * 10 + digit;
      ++pos;
    }
    if (overflow) return tolva::Error{make_error(text, text.substr(start, pos - start))};
    if (pos == text.size()) return from(start);

    const auto unit = read_unit(text, pos);
    if (!unit) return from(start);
    const unsigned bit = 1u << unit->first;
    if ((used & bit) != 0) return from(start);
    pos += unit->second;
    if (pos < text.size() && is_letter(text[pos])) return from(start);

    // A count and unit beyond the 64-bit range of milliseconds names the
    // component, digits and unit, that broke it.
    std::int64_t millis;
    if (__builtin_mul_overflow(count, kUnitMillis[unit->first], &millis) || __builtin_add_overflow(total, millis, &total)) {
      return tolva::Error{make_error(text, text.substr(start, pos - start))};
    }
    used |= bit;
  }
  return negative ? -total : total;
}

tolva::Result<std::int64_t> parse_duration_s(std::string_view text) {
  auto millis = parse_duration_ms(text);
  if (!millis) return tolva::Error{std::move(millis).error()};
  return millis.value() / 1000;
}

std::string seconds_to_duration_string(double seconds) {
  if (seconds >= 3153600000.0) return "infinity";
  std::string out;
  if (seconds < 0.0) out.push_back('-');
  const double magnitude = std::fabs(seconds);
  const std::uint64_t whole = saturating_u64(std::trunc(magnitude));
  if (whole >= 86400) append_number(out, whole / 86400, 'd');
  const std::uint64_t in_day = whole % 86400;
  if (in_day >= 3600) append_number(out, in_day / 3600, 'h');
  const std::uint64_t in_hour = in_day % 3600;
  if (in_hour >= 60) append_number(out, in_hour / 60, 'm');
  if (in_hour % 60 != 0) append_number(out, in_hour % 60, 's');
  const std::uint64_t millis = saturating_u64(std::round((magnitude - static_cast<double>(whole)) * 1000.0));
  if (millis != 0) {
    append_number(out, millis, 'm');
    out.push_back('s');
  }
  return out;
}

}  // namespace tolva_utils::duration
