// ISO 8601 dates, times and date-times.
//
// The parsers read ASCII only and do no range tests on calendar fields: the
// caller's date and time constructors reject month 13 or hour 24. Dates
// computed from ordinal and week layouts are always real calendar dates.

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "tolva_utils/isodate.h"
#include "tolva_utils/text.h"

namespace tolva_utils::isodate {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view text) {
  for (const char c : text) {
    if (!is_digit(c)) return false;
  }
  return true;
}

// The value of an all-digit text short enough not to overflow.
std::uint32_t digits_value(std::string_view digits) {
  std::uint32_t value = 0;
  for (const char c : digits) value = value * 10 + static_cast<std::uint32_t>(c - '0');
  return value;
}

// `layout` holds '#' for a digit and literal characters otherwise.
bool matches(std::string_view text, std::string_view layout) {
  if (text.size() != layout.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (layout[i] == '#' ? !is_digit(text[i]) : text[i] != layout[i]) return false;
  }
  return true;
}

// ---- Proleptic Gregorian day arithmetic, days counted from 1970-01-01 ----

bool is_leap(std::int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = floor_div(year, 400);
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

IsoDate civil_from_days(std::int64_t days) {
  days += 719468;
  const std::int64_t era = floor_div(days, 146097);
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2);
  return IsoDate{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
}

// 0 for Monday .. 6 for Sunday; 1970-01-01 was a Thursday.
std::int64_t weekday_from_monday(std::int64_t days) { return days - floor_div(days + 3, 7) * 7 + 3; }

// ---- Fractions, exactly ----

// A decimal fraction 0.d1d2...dk held as its digits. Multiplying by an
// integer keeps the fraction part in the digits and returns the integer part,
// so floor(fraction x m) and what remains are exact for up to 38 digits.
class Fraction {
 public:
  explicit Fraction(std::optional<std::string_view> digits) {
    if (!digits) return;
    for (const char c : *digits) {
      if (size_ == digits_.size()) break;
      digits_[size_++] = static_cast<std::uint8_t>(c - '0');
    }
  }

  // fraction *= factor; returns the integer part and keeps the rest.
  std::uint64_t multiply(std::uint64_t factor) {
    std::uint64_t carry = 0;
    for (std::size_t i = size_; i-- > 0;) {
      const std::uint64_t product = digits_[i] * factor + carry;
      digits_[i] = static_cast<std::uint8_t>(product % 10);
      carry = product / 10;
    }
    return carry;
  }

  // -1, 0 or 1 as the fraction is below, equal to or above one half.
  int compare_half() const {
    if (size_ == 0 || digits_[0] < 5) return -1;
    if (digits_[0] > 5) return 1;
    for (std::size_t i = 1; i < size_; ++i) {
      if (digits_[i] != 0) return 1;
    }
    return 0;
  }

 private:
  std::array<std::uint8_t, kMaxFractionDigits> digits_{};
  std::size_t size_ = 0;
};

std::uint8_t two_digits(std::string_view digits) { return static_cast<std::uint8_t>(digits_value(digits)); }

// Layout E: the fraction belongs to the hour. Minutes and seconds are
// truncated; the microseconds are rounded half to even and may reach
// 1000000, which is deliberately not carried into the second.
IsoTime hour_with_fraction(std::string_view digits, std::optional<std::string_view> fraction) {
  Fraction rest(fraction);
  const auto minute = static_cast<std::uint8_t>(rest.multiply(60));
  const auto second = static_cast<std::uint8_t>(rest.multiply(60));
  auto microsecond = static_cast<std::uint32_t>(rest.multiply(1000000));
  const int half = rest.compare_half();
  if (half > 0 || (half == 0 && microsecond % 2 == 1)) ++microsecond;
  return IsoTime{two_digits(digits), minute, second, microsecond, std::nullopt};
}

// The time of day of one layout, before its zone is read.
struct TimeAndRest {
  IsoTime time;
  std::string_view rest;
};

// The layouts of parse_time, in the order they are tried.
std::optional<TimeAndRest> time_layout(int layout, std::string_view text) {
  const auto digit_pair = [&](std::size_t at) { return text.size() >= at + 2 && is_digit(text[at]) && is_digit(text[at + 1]); };
  switch (layout) {
    case 0: {  // HH:MM:SS[.f]
      if (text.size() < 8 || text[2] != ':' || text[5] != ':' || !digit_pair(0) || !digit_pair(3)) return std::nullopt;
      const auto split = split_fraction(text.substr(6), 2);
      if (!split) return std::nullopt;
      const SecondParts second = parse_second(split->digits, split->fraction);
      return TimeAndRest{{two_digits(text.substr(0, 2)), two_digits(text.substr(3, 2)), second.second, second.microsecond, std::nullopt},
                         split->rest};
    }
    case 1: {  // HHMMSS[.f]
      if (!digit_pair(0) || !digit_pair(2)) return std::nullopt;
      const auto split = split_fraction(text.substr(4), 2);
      if (!split) return std::nullopt;
      const SecondParts second = parse_second(split->digits, split->fraction);
      return TimeAndRest{{two_digits(text.substr(0, 2)), two_digits(text.substr(2, 2)), second.second, second.microsecond, std::nullopt},
                         split->rest};
    }
    case 2:    // HH:MM[.f]
    case 3: {  // HHMM[.f]
      const std::size_t minute_at = layout == 2 ? 3 : 2;
      if (!digit_pair(0) || (layout == 2 && (text.size() < 3 || text[2] != ':'))) return std::nullopt;
      const auto split = split_fraction(text.substr(minute_at), 2);
      if (!split) return std::nullopt;
      const MinuteParts minute = parse_minute(split->digits, split->fraction);
      return TimeAndRest{{two_digits(text.substr(0, 2)), minute.minute, minute.second, minute.microsecond, std::nullopt}, split->rest};
    }
    default: {  // HH[.f]
      const auto split = split_fraction(text, 2);
      if (!split) return std::nullopt;
      return TimeAndRest{hour_with_fraction(split->digits, split->fraction), split->rest};
    }
  }
}

constexpr int kTimeLayouts = 5;

// ---- The English forms of parse_datetime ----

// A day or year token: trailing commas dropped, then digits only (none
// count as 0), at most `limit`.
std::optional<std::uint32_t> number_token(std::string_view token, std::uint32_t limit) {
  while (!token.empty() && token.back() == ',') token.remove_suffix(1);
  std::uint64_t value = 0;
  for (const char c : token) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > limit) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

bool is_ascii_white_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::optional<IsoDateTime> english_datetime(std::string_view text) {
  // Tokens split at runs of white space; the text is ASCII by now.
  std::array<std::string_view, 5> tokens;
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && is_ascii_white_space(text[pos])) ++pos;
    if (pos == text.size()) break;
    const std::size_t start = pos;
    while (pos < text.size() && !is_ascii_white_space(text[pos])) ++pos;
    if (count == tokens.size()) return std::nullopt;
    tokens[count++] = text.substr(start, pos - start);
  }
  if (count < 3) return std::nullopt;

  std::optional<std::uint8_t> month = month_number(tokens[0]);
  std::string_view day_token, year_token;
  if (month) {
    day_token = tokens[1];
    year_token = tokens[2];
  } else {
    month = month_number(tokens[1]);
    if (!month) return std::nullopt;
    day_token = tokens[0];
    year_token = tokens[2];
  }
  // A day above 255 or a year above the signed 32-bit range has no faithful
  // value in the fields: reject it instead of wrapping it into another date.
  const auto day = number_token(day_token, std::numeric_limits<std::uint8_t>::max());
  const auto year = number_token(year_token, std::numeric_limits<std::int32_t>::max());
  if (!day || !year) return std::nullopt;
  const IsoDate date{static_cast<std::int32_t>(*year), *month, static_cast<std::uint8_t>(*day)};

  if (count == 3) return IsoDateTime{IsoTime{0, 0, 0, 0, std::nullopt}, date};
  std::string time_text(tokens[3]);
  if (count == 5) time_text.append(tokens[4]);
  auto time = parse_time_general(time_text);
  if (!time) return std::nullopt;
  return IsoDateTime{std::move(time).value(), date};
}

tolva::Error unknown_format(std::string_view text) { return tolva::Error{"Unknown string format: " + std::string(text)}; }

// ---- Zones ----

// The zone designator that makes up the whole of `text`: nothing, "Z" or
// "z" (UTC), or "+" or "-" followed by HH, HHMM or HH:MM with HH at most 23
// and MM below 60. Fills `zone` (left empty for no designator) and returns
// true, or returns false.
bool read_zone(std::string_view text, std::optional<IsoTzInfo>& zone) {
  if (text.empty()) return true;
  if (text.size() == 1 && (text[0] == 'Z' || text[0] == 'z')) {
    zone.emplace(IsoTzInfo{IsoTzInfo::Kind::Utc, {}, 0});
    return true;
  }
  if (text[0] != '+' && text[0] != '-') return false;
  const std::string_view body = text.substr(1);
  std::size_t minutes_at;  // 0: no minutes
  switch (body.size()) {
    case 2:  // HH
      minutes_at = 0;
      break;
    case 4:  // HHMM
      minutes_at = 2;
      break;
    case 5:  // HH:MM
      if (body[2] != ':') return false;
      minutes_at = 3;
      break;
    default:
      return false;
  }
  if (!is_digit(body[0]) || !is_digit(body[1])) return false;
  std::uint32_t minutes = 0;
  if (minutes_at != 0) {
    if (!is_digit(body[minutes_at]) || !is_digit(body[minutes_at + 1])) return false;
    minutes = digits_value(body.substr(minutes_at, 2));
  }
  const std::uint32_t hours = digits_value(body.substr(0, 2));
  if (hours > 23 || minutes >= 60) return false;
  const auto magnitude = static_cast<std::int32_t>(hours * 3600 + minutes * 60);
  // Built in place: the text is copied once, into the string's own buffer.
  zone.emplace(IsoTzInfo{IsoTzInfo::Kind::Offset, {}, text[0] == '-' ? -magnitude : magnitude}).text.assign(text);
  return true;
}

// ---- The fast paths ----

// The two-digit number at `at`, or -1 when either character is not a digit.
int digit_pair_at(std::string_view text, std::size_t at) {
  const unsigned tens = static_cast<unsigned char>(text[at]) - unsigned{'0'};
  const unsigned ones = static_cast<unsigned char>(text[at + 1]) - unsigned{'0'};
  if (tens > 9 || ones > 9) return -1;
  return static_cast<int>(tens * 10 + ones);
}

// "HH:MM" or "HH:MM:SS" with an optional fraction on the seconds, then a
// zone, as the whole of `text`, into `time`. The value is the one that the
// layouts of time_layout, tried in order, give: "HH:MM:SS..." is the first
// layout; "HH:MM" followed by a zone (never by ":", "." or ",") fails the
// first (no ":" at [5]) and the second (no digit at [2]) and is the third,
// without a fraction. `time` is filled in place, field by field, so that no
// time or zone text is copied around.
bool common_time(std::string_view text, IsoTime& time) {
  if (text.size() < 5 || text[2] != ':') return false;
  const int hour = digit_pair_at(text, 0), minute = digit_pair_at(text, 3);
  if (hour < 0 || minute < 0) return false;
  time.hour = static_cast<std::uint8_t>(hour);
  time.minute = static_cast<std::uint8_t>(minute);
  time.second = 0;
  time.microsecond = 0;
  std::size_t pos = 5;
  if (pos < text.size() && text[pos] == ':') {
    if (text.size() < 8) return false;
    const int second = digit_pair_at(text, 6);
    if (second < 0) return false;
    time.second = static_cast<std::uint8_t>(second);
    pos = 8;
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
      // As parse_second: the first six digits, padded with zeros.
      const std::size_t start = ++pos;
      std::uint32_t microsecond = 0;
      while (pos < text.size() && is_digit(text[pos])) {
        if (pos - start < 6) microsecond = microsecond * 10 + static_cast<std::uint32_t>(text[pos] - '0');
        ++pos;
      }
      if (pos == start) return false;
      for (std::size_t used = pos - start; used < 6; ++used) microsecond *= 10;
      time.microsecond = microsecond;
    }
  }
  time.tzinfo.reset();
  return read_zone(text.substr(pos), time.tzinfo);
}

}  // namespace

std::string iso_error(std::string_view kind, std::string_view text) {
  std::string message = "Unrecognised ISO 8601 ";
  message.append(kind);
  message.append(" format: ");
  text::append_quoted(message, text);
  return message;
}

std::optional<FractionSplit> split_fraction(std::string_view text, std::size_t n) {
  if (text.size() < n || !all_digits(text.substr(0, n))) return std::nullopt;
  FractionSplit split{text.substr(0, n), std::nullopt, text.substr(n)};
  if (!split.rest.empty() && (split.rest[0] == '.' || split.rest[0] == ',')) {
    std::size_t end = 1;
    while (end < split.rest.size() && is_digit(split.rest[end])) ++end;
    if (end == 1) return std::nullopt;
    split.fraction = split.rest.substr(1, std::min(end - 1, kMaxFractionDigits));
    split.rest = split.rest.substr(end);
  }
  return split;
}

SecondParts parse_second(std::string_view digits, std::optional<std::string_view> fraction) {
  // floor(0.d1d2... x 10^6) is the first six digits, padded with zeros.
  std::uint32_t microsecond = 0;
  const std::string_view six = fraction ? fraction->substr(0, 6) : std::string_view();
  for (std::size_t i = 0; i < 6; ++i) microsecond = microsecond * 10 + (i < six.size() ? static_cast<std::uint32_t>(six[i] - '0') : 0);
  return SecondParts{two_digits(digits), microsecond};
}

MinuteParts parse_minute(std::string_view digits, std::optional<std::string_view> fraction) {
  Fraction rest(fraction);
  const std::uint64_t micros = rest.multiply(60000000);
  return MinuteParts{two_digits(digits), static_cast<std::uint8_t>(micros / 1000000), static_cast<std::uint32_t>(micros % 1000000)};
}

std::optional<IsoDate> parse_ordinal_date(std::int32_t year, std::uint32_t day_of_year) {
  if (day_of_year < 1 || day_of_year > (is_leap(year) ? 366u : 365u)) return std::nullopt;
  return civil_from_days(days_from_civil(year, 1, 1) + day_of_year - 1);
}

std::optional<IsoDate> parse_week_date(std::int32_t year, std::uint32_t week, std::optional<std::uint32_t> weekday) {
  const std::uint32_t day = weekday.value_or(1);
  if (week < 1 || week > 53 || day < 1 || day > 7) return std::nullopt;
  const std::int64_t january_4 = days_from_civil(year, 1, 4);
  const std::int64_t first_monday = january_4 - weekday_from_monday(january_4);
  return civil_from_days(first_monday + 7 * static_cast<std::int64_t>(week - 1) + (day - 1));
}

tolva::Result<IsoDate> parse_date(std::string_view text) {
  const auto fail = [&] { return tolva::Error{iso_error("date", text)}; };
  if (!text::is_ascii(text)) return fail();
  const auto year = [&] { return static_cast<std::int32_t>(digits_value(text.substr(0, 4))); };
  const auto number = [&](std::size_t at, std::size_t length) { return digits_value(text.substr(at, length)); };
  const auto calendar = [&](std::uint32_t month, std::uint32_t day) {
    return IsoDate{year(), static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
  };
  const auto computed = [&](std::optional<IsoDate> date) -> tolva::Result<IsoDate> {
    if (!date) return fail();
    return *date;
  };

  switch (text.size()) {
    case 2:
      if (matches(text, "##")) return IsoDate{static_cast<std::int32_t>(number(0, 2) * 100 + 1), 1, 1};
      break;
    case 4:
      if (matches(text, "####")) return calendar(1, 1);
      break;
    case 6:
      if (matches(text, "######")) return calendar(number(4, 2), 1);
      break;
    case 7:
      if (matches(text, "#######")) return computed(parse_ordinal_date(year(), number(4, 3)));
      if (matches(text, "####-##")) return calendar(number(5, 2), 1);
      if (matches(text, "####W##")) return computed(parse_week_date(year(), number(5, 2), std::nullopt));
      break;
    case 8:
      if (matches(text, "########")) return calendar(number(4, 2), number(6, 2));
      if (matches(text, "####-###")) return computed(parse_ordinal_date(year(), number(5, 3)));
      if (matches(text, "####-W##")) return computed(parse_week_date(year(), number(6, 2), std::nullopt));
      if (matches(text, "####W###")) return computed(parse_week_date(year(), number(5, 2), number(7, 1)));
      break;
    case 10:
      if (matches(text, "####-##-##")) return calendar(number(5, 2), number(8, 2));
      if (matches(text, "####-W##-#")) return computed(parse_week_date(year(), number(6, 2), number(9, 1)));
      break;
    default:
      break;
  }
  return fail();
}

std::optional<std::optional<IsoTzInfo>> parse_tzinfo(std::string_view text) {
  std::optional<IsoTzInfo> zone;
  if (!read_zone(text, zone)) return std::nullopt;
  return zone;
}

std::optional<std::uint8_t> month_number(std::string_view text) {
  while (!text.empty() && text.back() == ',') text.remove_suffix(1);
  // The longest name is "september"; anything longer cannot match.
  std::array<char, 9> lowered{};
  if (text.size() > lowered.size()) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    lowered[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view name(lowered.data(), text.size());
  struct Month {
    std::string_view name;
    std::uint8_t number;
  };
  static constexpr std::array<Month, 24> kMonths{{
      {"jan", 1},  {"january", 1},  {"feb", 2},  {"february", 2}, {"mar", 3},       {"march", 3},
      {"apr", 4},  {"april", 4},    {"may", 5},  {"jun", 6},      {"june", 6},      {"jul", 7},
      {"july", 7}, {"aug", 8},      {"august", 8}, {"sep", 9},    {"sept", 9},      {"september", 9},
      {"oct", 10}, {"october", 10}, {"nov", 11}, {"november", 11}, {"dec", 12},     {"december", 12},
  }};
  for (const Month& month : kMonths) {
    if (month.name == name) return month.number;
  }
  return std::nullopt;
}

bool parse_time_fast(std::string_view text, IsoTime& out) {
  if (!text.empty() && text[0] == 'T') text.remove_prefix(1);
  return common_time(text, out);
}

bool parse_datetime_fast(std::string_view text, IsoDateTime& out) {
  // "YYYY-MM-DD": digits where parse_date wants them, and neither white
  // space to trim, nor a "T", nor a space before the separator.
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  const int century = digit_pair_at(text, 0), year_in_century = digit_pair_at(text, 2);
  const int month = digit_pair_at(text, 5), day = digit_pair_at(text, 8);
  if (century < 0 || year_in_century < 0 || month < 0 || day < 0) return false;
  out.date = IsoDate{century * 100 + year_in_century, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
  if (text.size() == 10) {
    out.time.hour = out.time.minute = out.time.second = 0;
    out.time.microsecond = 0;
    out.time.tzinfo.reset();
    return true;
  }
  // With "T" the first "T" is this one; with a space the text holds no "T"
  // (a time of common_time has none) and this is its first space. Either
  // way the general parser reads the date before and the time after it.
  if (text[10] != 'T' && text[10] != ' ') return false;
  return common_time(text.substr(11), out.time);
}

tolva::Result<IsoTime> parse_time(std::string_view text) {
  IsoTime time;
  if (parse_time_fast(text, time)) return time;
  return parse_time_general(text);
}

tolva::Result<IsoDateTime> parse_datetime(std::string_view text) {
  IsoDateTime datetime;
  if (parse_datetime_fast(text, datetime)) return datetime;
  return parse_datetime_general(text);
}

tolva::Result<IsoTime> parse_time_general(std::string_view text) {
  if (text::is_ascii(text)) {
    std::string_view body = text;
    if (!body.empty() && body[0] == 'T') body.remove_prefix(1);
    for (int layout = 0; layout < kTimeLayouts; ++layout) {
      auto parsed = time_layout(layout, body);
      if (!parsed) continue;
      if (!read_zone(parsed->rest, parsed->time.tzinfo)) continue;
      return std::move(parsed->time);
    }
  }
  return tolva::Error{iso_error("time", text)};
}

tolva::Result<IsoDateTime> parse_datetime_general(std::string_view text) {
  // Like every parser here, ASCII or no date at all: this test comes before
  // the trim, so only ASCII white space is ever trimmed.
  if (!text::is_ascii(text)) return unknown_format(text);
  const std::string_view trimmed = text::trim_white_space(text);
  if (trimmed.empty()) return tolva::Error{"String does not contain a date: " + std::string(text)};

  // An upper-case "T" makes the text an ISO date-time and nothing else.
  if (const std::size_t t = trimmed.find('T'); t != std::string_view::npos) {
    auto date = parse_date(trimmed.substr(0, t));
    auto time = parse_time_general(trimmed.substr(t + 1));
    if (!date || !time) return unknown_format(text);
    return IsoDateTime{std::move(time).value(), date.value()};
  }

  // "date time" with a single space between an ISO date and an ISO time.
  if (const std::size_t space = trimmed.find(' '); space != std::string_view::npos && space > 0 && is_digit(trimmed[0])) {
    auto date = parse_date(trimmed.substr(0, space));
    if (date) {
      auto time = parse_time_general(trimmed.substr(space + 1));
      if (time) return IsoDateTime{std::move(time).value(), date.value()};
    }
  }

  if (auto date = parse_date(trimmed)) return IsoDateTime{IsoTime{0, 0, 0, 0, std::nullopt}, date.value()};

  if (auto english = english_datetime(trimmed)) return std::move(*english);
  return unknown_format(text);
}

}  // namespace tolva_utils::isodate
