#pragma once

// Character boundaries of UTF-8 text and the fatal error of a bad slice.
//
// A byte index is a character boundary of a text when it is 0, the text's
// length, or the index of a byte that is not a UTF-8 continuation byte
// (10xxxxxx). On valid UTF-8 this is exactly "not inside a multi-byte
// character"; on arbitrary bytes it is still well defined, so nothing here
// can read out of bounds or crash.
//
// Slicing a text at an index beyond its end or inside a character is a broken
// invariant of the caller: `check_char_boundary` throws tolva::FatalError
// with a short text that says what happened, for example
//   byte index 5 is not a char boundary; it is inside 'é' (bytes 4..6) of `aaaaé`
// The quoted excerpt of the text is bounded (kExcerptBytes), so the message
// stays short whatever the size of the text.

#include <cstddef>
#include <string>
#include <string_view>

namespace source_file {

// Longest prefix of the text quoted in a slicing failure, in bytes.
inline constexpr std::size_t kExcerptBytes = 40;

constexpr bool is_utf8_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

constexpr bool is_char_boundary(std::string_view text, std::size_t index) {
  if (index == 0 || index == text.size()) return true;
  return index < text.size() && !is_utf8_continuation(static_cast<unsigned char>(text[index]));
}

// The text of the failure for slicing `text` at `index`, which must not be a
// character boundary (out of bounds or inside a character).
std::string slice_failure_text(std::string_view text, std::size_t index);

// Throws tolva::FatalError with slice_failure_text(text, index).
[[noreturn]] void slice_failure(std::string_view text, std::size_t index);

// Fatal unless `index` is a character boundary of `text`.
inline void check_char_boundary(std::string_view text, std::size_t index) {
  if (!is_char_boundary(text, index)) [[unlikely]] {
    slice_failure(text, index);
  }
}

}  // namespace source_file
