#include "python_parser/cursor.h"

#include "support/fatal_error.h"

namespace python_parser {

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

char32_t decode_utf8(const char* p, const char* end, std::uint32_t& length) {
  const auto* s = reinterpret_cast<const unsigned char*>(p);
  const std::size_t available = static_cast<std::size_t>(end - p);
  const unsigned char b0 = s[0];
  length = 1;
  if (b0 < 0x80) return b0;
  // Well-formed sequences (Unicode Table 3-7): the second byte's range
  // depends on the lead, which rules out overlong forms, surrogates and
  // values above U+10FFFF.
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (available >= 2 && is_continuation(s[1])) {
      length = 2;
      return (char32_t{b0 & 0x1Fu} << 6) | (s[1] & 0x3Fu);
    }
    return kReplacementCharacter;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (available < 3) return kReplacementCharacter;
    const unsigned char low = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = b0 == 0xED ? 0x9F : 0xBF;
    if (s[1] < low || s[1] > high || !is_continuation(s[2])) return kReplacementCharacter;
    length = 3;
    return (char32_t{b0 & 0x0Fu} << 12) | (char32_t{s[1] & 0x3Fu} << 6) | (s[2] & 0x3Fu);
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (available < 4) return kReplacementCharacter;
    const unsigned char low = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = b0 == 0xF4 ? 0x8F : 0xBF;
    if (s[1] < low || s[1] > high || !is_continuation(s[2]) || !is_continuation(s[3])) {
      return kReplacementCharacter;
    }
    length = 4;
    return (char32_t{b0 & 0x07u} << 18) | (char32_t{s[1] & 0x3Fu} << 12) | (char32_t{s[2] & 0x3Fu} << 6) |
           (s[3] & 0x3Fu);
  }
  return kReplacementCharacter;
}

Cursor::Cursor(std::string_view source, std::uint32_t offset)
    : begin_(source.data()), pos_(source.data()), end_(source.data() + source.size()), token_start_(pos_) {
  tolva::check(offset <= source.size(), "cursor offset is outside the source text");
  pos_ += offset;
  token_start_ = pos_;
}

char32_t Cursor::peek_at_slow(const char* p, const char* end) {
  std::uint32_t length = 1;
  return decode_utf8(p, end, length);
}

char32_t Cursor::second() const {
  if (pos_ == end_) return 0;
  std::uint32_t length = 1;
  if (static_cast<unsigned char>(*pos_) >= 0x80) decode_utf8(pos_, end_, length);
  return peek_at(pos_ + length);
}

char32_t Cursor::third() const {
  if (pos_ == end_) return 0;
  std::uint32_t length = 1;
  if (static_cast<unsigned char>(*pos_) >= 0x80) decode_utf8(pos_, end_, length);
  const char* p = pos_ + length;
  if (p == end_) return 0;
  length = 1;
  if (static_cast<unsigned char>(*p) >= 0x80) decode_utf8(p, end_, length);
  return peek_at(p + length);
}

char32_t Cursor::bump_non_ascii() {
  std::uint32_t length = 1;
  char32_t c = decode_utf8(pos_, end_, length);
  pos_ += length;
  return c;
}

bool Cursor::eat_char_slow(char32_t c) {
  if (pos_ == end_) return false;
  std::uint32_t length = 1;
  if (decode_utf8(pos_, end_, length) != c) return false;
  pos_ += length;
  return true;
}

bool Cursor::eat_char2(char c1, char c2) {
  if (end_ - pos_ < 2) return false;
  if (pos_[0] != c1 || pos_[1] != c2) return false;
  pos_ += 2;
  return true;
}

bool Cursor::eat_char3(char c1, char c2, char c3) {
  if (end_ - pos_ < 3) return false;
  if (pos_[0] != c1 || pos_[1] != c2 || pos_[2] != c3) return false;
  pos_ += 3;
  return true;
}

void Cursor::outside_the_rest() { tolva::fatal("cursor moved outside the rest of the text"); }

}  // namespace python_parser
