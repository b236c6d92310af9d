#pragma once

// Text helpers shared by the date, duration and naming utilities: UTF-8
// decoding, the Unicode White_Space set, and the quoted form of an input
// shown inside an error text.
//
// Inputs from Python are valid UTF-8, but every helper here is total over
// arbitrary bytes: an ill-formed sequence decodes as one invalid unit per
// maximal subpart (the Unicode "substitution of maximal subparts" practice),
// and is never white space.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolva_utils::text {

// One decoded unit of a UTF-8 text.
struct Decoded {
  char32_t code_point;  // U+FFFD when !valid
  std::uint8_t length;  // bytes consumed, 1..4; never 0
  bool valid;
};

// Decodes the unit that starts at `text[pos]`; `pos` must be below
// `text.size()`.
Decoded decode_utf8(std::string_view text, std::size_t pos);

// True when every byte of `text` is below 0x80.
bool is_ascii(std::string_view text);

// True when `text` is well-formed UTF-8.
bool is_valid_utf8(std::string_view text);

// `text` with every ill-formed maximal subpart replaced by U+FFFD.
std::string to_valid_utf8(std::string_view text);

// The Unicode White_Space property: U+0009..U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool is_white_space(char32_t c);

// `text` without leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view text);

// Appends the quoted form of `text` to `out`: enclosed in double quotes, a
// backslash before each double quote and backslash, "\t", "\r", "\n" for tab,
// carriage return and line feed, "\0" for NUL, "\u{hex}" (lower case) for the
// other control characters (U+0001..U+001F, U+007F..U+009F). Every other
// character is copied as it is. A byte of an ill-formed sequence, which no
// Python string can hold, is written as "\x" and two lower-case hex digits.
void append_quoted(std::string& out, std::string_view text);

}  // namespace tolva_utils::text
