#include "source_file/text_slice.h"

#include <cstdint>

#include "support/fatal_error.h"

namespace source_file {
namespace {

// Length of the well-formed UTF-8 sequence that starts at `bytes[0]`, or 0
// when the bytes there are not one (bad lead byte, truncated, overlong,
// surrogate, or beyond U+10FFFF).
std::size_t valid_sequence_length(const unsigned char* bytes, std::size_t available) {
  unsigned char lead = bytes[0];
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80;  // allowed range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;    // no overlong forms
    if (lead == 0xED) high = 0x9F;   // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;    // no overlong forms
    if (lead == 0xF4) high = 0x8F;   // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (available < length) return 0;
  if (bytes[1] < low || bytes[1] > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!is_utf8_continuation(bytes[k])) return 0;
  }
  return length;
}

void append_hex_byte(std::string& out, unsigned char byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0xF];
}

// The first kExcerptBytes bytes of `text` (cut at a sequence boundary), with
// control characters and ill-formed bytes escaped, so that the message is
// one line of valid UTF-8; "[...]" marks a cut.
std::string excerpt(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t length = valid_sequence_length(bytes + i, text.size() - i);
    std::size_t step = length == 0 ? 1 : length;
    if (i + step > kExcerptBytes) break;
    if (length == 0) {
      append_hex_byte(out, bytes[i]);
    } else if (length == 1 && (bytes[i] < 0x20 || bytes[i] == 0x7F)) {
      switch (bytes[i]) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: append_hex_byte(out, bytes[i]); break;
      }
    } else {
      out.append(text.substr(i, length));
    }
    i += step;
  }
  if (i < text.size()) out += "[...]";
  return out;
}

}  // namespace

std::string slice_failure_text(std::string_view text, std::size_t index) {
  std::string message = "byte index " + std::to_string(index);
  if (index > text.size()) {
    message += " is out of bounds of `";
  } else {
    message += " is not a char boundary; it is inside ";
    // Back up over at most three continuation bytes to the lead byte of the
    // character that holds `index`.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t start = index;
    while (start > 0 && index - start < 3 && is_utf8_continuation(bytes[start])) --start;
    std::size_t length = valid_sequence_length(bytes + start, text.size() - start);
    if (length > 1 && start + length > index) {
      message += "'";
      message.append(text.substr(start, length));
      message += "' (bytes " + std::to_string(start) + ".." + std::to_string(start + length) + ")";
    } else {
      message += "an ill-formed UTF-8 sequence";
    }
    message += " of `";
  }
  message += excerpt(text);
  message += "`";
  return message;
}

void slice_failure(std::string_view text, std::size_t index) { tolva::fatal(slice_failure_text(text, index)); }

}  // namespace source_file
