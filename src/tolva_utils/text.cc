#include "tolva_utils/text.h"

#include <cstring>

namespace tolva_utils::text {

namespace {

constexpr char kHex[] = "0123456789abcdef";

bool in_range(unsigned char byte, unsigned char low, unsigned char high) { return byte >= low && byte <= high; }

}  // namespace

Decoded decode_utf8(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return {lead, 1, true};

  // The well-formed sequences (Unicode Table 3-7): the lead byte fixes the
  // length and the range of the second byte; later bytes are 80..BF.
  std::size_t length;
  unsigned char second_low = 0x80, second_high = 0xBF;
  char32_t value;
  if (in_range(lead, 0xC2, 0xDF)) {
    length = 2;
    value = lead & 0x1F;
  } else if (in_range(lead, 0xE0, 0xEF)) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;  // no surrogates
  } else if (in_range(lead, 0xF0, 0xF4)) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;  // nothing above U+10FFFF
  } else {
    return {0xFFFD, 1, false};
  }

  std::size_t used = 1;
  while (used < length) {
    if (pos + used >= text.size()) break;
    const unsigned char next = byte(pos + used);
    const bool fits = used == 1 ? in_range(next, second_low, second_high) : in_range(next, 0x80, 0xBF);
    if (!fits) break;
    value = (value << 6) | (next & 0x3F);
    ++used;
  }
  if (used < length) return {0xFFFD, static_cast<std::uint8_t>(used), false};
  return {value, static_cast<std::uint8_t>(length), true};
}

bool is_ascii(std::string_view text) {
  // Eight bytes at a time: a byte at or above 0x80 has its top bit set.
  constexpr std::uint64_t kTopBits = 0x8080808080808080u;
  const char* data = text.data();
  std::size_t pos = 0;
  for (; pos + 8 <= text.size(); pos += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + pos, sizeof word);
    if ((word & kTopBits) != 0) return false;
  }
  for (; pos < text.size(); ++pos) {
    if (static_cast<unsigned char>(data[pos]) >= 0x80) return false;
  }
  return true;
}

bool is_valid_utf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const Decoded unit = decode_utf8(text, pos);
    if (!unit.valid) return false;
    pos += unit.length;
  }
  return true;
}

std::string to_valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const Decoded unit = decode_utf8(text, pos);
    if (unit.valid) {
      out.append(text.substr(pos, unit.length));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    pos += unit.length;
  }
  return out;
}

bool is_white_space(char32_t c) {
  if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  if (c < 0x85) return false;
  switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    // An ASCII byte is a whole unit: no decoding needed.
    if (const auto byte = static_cast<unsigned char>(text[begin]); byte < 0x80) {
      if (!is_white_space(byte)) break;
      ++begin;
      continue;
    }
    const Decoded unit = decode_utf8(text, begin);
    if (!unit.valid || !is_white_space(unit.code_point)) break;
    begin += unit.length;
  }
  std::size_t end = text.size();
  while (end > begin) {
    // An ASCII byte is a whole unit, never the tail of a longer one.
    if (const auto byte = static_cast<unsigned char>(text[end - 1]); byte < 0x80) {
      if (!is_white_space(byte)) break;
      --end;
      continue;
    }
    // The last unit starts at the nearest non-continuation byte at most three
    // bytes back; it counts only when it decodes to exactly the tail.
    std::size_t start = end - 1;
    while (start > begin && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const Decoded unit = decode_utf8(text, start);
    if (!unit.valid || start + unit.length != end || !is_white_space(unit.code_point)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

void append_quoted(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out.push_back('"');
  std::size_t pos = 0;
  while (pos < text.size()) {
    const Decoded unit = decode_utf8(text, pos);
    if (!unit.valid) {
      for (std::size_t i = 0; i < unit.length; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        out.append("\\x");
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0x0F]);
      }
      pos += unit.length;
      continue;
    }
    const char32_t c = unit.code_point;
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\n':
        out.append("\\n");
        break;
      case 0:
        out.append("\\0");
        break;
      default:
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
          out.append("\\u{");
          if (c >= 0x10) out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0x0F]);
          out.push_back('}');
        } else {
          out.append(text.substr(pos, unit.length));
        }
    }
    pos += unit.length;
  }
  out.push_back('"');
}

}  // namespace tolva_utils::text
