#pragma once

// Writing one character in UTF-8.

#include <string>

namespace tolva {

// Appends UTF-8's one- to four-byte bit pattern for any `c` below 2^21,
// surrogates and values past U+10FFFF included: for a scalar value its
// UTF-8 form, for the others the bytes a strict decoder refuses.
inline void append_utf8_pattern(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Appends the UTF-8 form of `c` to `out`; a value that is not a Unicode
// scalar value (a surrogate or above U+10FFFF) is written as U+FFFD.
inline void append_utf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  append_utf8_pattern(out, c);
}

}  // namespace tolva
