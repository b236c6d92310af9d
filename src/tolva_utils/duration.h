#pragma once

// Short duration strings ("10m", "1h30m") to milliseconds or seconds and back.

#include <cstdint>
#include <string>
#include <string_view>

#include "support/result.h"

namespace tolva_utils::duration {

tolva::Result<std::int64_t> parse_duration_ms(std::string_view text);
tolva::Result<std::int64_t> parse_duration_s(std::string_view text);
std::string seconds_to_duration_string(double seconds);

// Where the error text sends users to read about duration strings.
inline constexpr std::string_view kDurationDocsUrl = "https://docs.tolva.dev/durations";

// The parse error text for input `text`, naming the component `component`.
std::string make_error(std::string_view text, std::string_view component);

}  // namespace tolva_utils::duration
