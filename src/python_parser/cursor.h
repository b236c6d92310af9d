#pragma once

// Cursor: the lexer's forward character iterator over one source text.
//
// The cursor walks the rest of the text one Unicode scalar value at a time and
// keeps a token-start marker. Offsets are byte offsets from the first byte of
// the whole text (a leading byte order mark included).
//
// Invalid UTF-8: the text handed to the lexer is meant to be UTF-8, but a
// std::string_view may hold anything. A byte that does not begin a
// well-formed UTF-8 sequence (a stray continuation byte, an overlong form, an
// encoded surrogate, a truncated sequence, a byte above F4) decodes as one
// U+FFFD REPLACEMENT CHARACTER spanning exactly that byte. The cursor never
// reads outside the text, whatever it holds.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "text_size/text_size.h"

namespace python_parser {

// The replacement for a byte that does not start a well-formed UTF-8 sequence.
inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

// Decodes the scalar value that starts at `p` (p < end), storing its length in
// bytes (1 to 4) in `length`. Ill-formed input gives U+FFFD with length 1.
char32_t decode_utf8(const char* p, const char* end, std::uint32_t& length);

class Cursor {
 public:
  Cursor() = default;
  // A cursor over `source` at byte `offset` (offset <= source.size()).
  Cursor(std::string_view source, std::uint32_t offset);

  // Takes the next character; nothing at the end of the text.
  std::optional<char32_t> bump() {
    if (pos_ == end_) return std::nullopt;
    auto byte = static_cast<unsigned char>(*pos_);
    if (byte < 0x80) {
      ++pos_;
      return static_cast<char32_t>(byte);
    }
    return bump_non_ascii();
  }

  // The next character without taking it; U+0000 at the end of the text (a
  // NUL byte in the text gives U+0000 too: ask is_eof() to tell them apart).
  char32_t first() const { return peek_at(pos_); }
  // The character after the next one; U+0000 past the end.
  char32_t second() const;
  // The third character from here; U+0000 past the end.
  char32_t third() const;

  bool is_eof() const { return pos_ == end_; }

  // Consume the next one, two or three characters only when they are exactly
  // these; nothing is consumed otherwise (or at the end of the text).
  bool eat_char(char32_t c) {
    if (c < 0x80) {
      if (pos_ != end_ && static_cast<unsigned char>(*pos_) == c) {
        ++pos_;
        return true;
      }
      return false;
    }
    return eat_char_slow(c);
  }
  // The two- and three-character forms take ASCII characters, the only ones
  // the lexer ever asks for, and compare bytes.
  bool eat_char2(char c1, char c2);
  bool eat_char3(char c1, char c2, char c3);

  // Consumes the next character when `predicate` accepts it, returning it.
  template <class Predicate>
  std::optional<char32_t> eat_if(Predicate predicate) {
    if (pos_ == end_) return std::nullopt;
    std::uint32_t length = 1;
    char32_t c = static_cast<unsigned char>(*pos_) < 0x80 ? static_cast<unsigned char>(*pos_)
                                                           : decode_utf8(pos_, end_, length);
    if (!predicate(c)) return std::nullopt;
    pos_ += length;
    return c;
  }

  // Sets the token-start marker at the current position.
  void start_token() { token_start_ = pos_; }
  // Bytes consumed since the token-start marker.
  std::uint32_t token_len() const { return static_cast<std::uint32_t>(pos_ - token_start_); }
  text_size::TextOffset token_start() const { return offset_of(token_start_); }
  // From the token-start marker to the current position.
  text_size::TextRange token_range() const {
    return text_size::TextRange(offset_of(token_start_), offset_of(pos_));
  }

  text_size::TextOffset offset() const { return offset_of(pos_); }
  // The rest of the text, from the current position to the end.
  std::string_view rest() const { return {pos_, static_cast<std::size_t>(end_ - pos_)}; }
  // The raw bytes of the rest, for byte searches.
  const char* position() const { return pos_; }
  const char* end() const { return end_; }

  // Skips `count` bytes (at most the rest; the caller keeps to character
  // boundaries, which byte searches for ASCII bytes always do).
  void skip_bytes(std::size_t count) {
    const auto available = static_cast<std::size_t>(end_ - pos_);
    pos_ += count < available ? count : available;
  }
  // Moves to `p`, a position between the current one and the end that a byte
  // search returned; any other position is a broken invariant.
  void skip_to(const char* p) {
    // One unsigned compare covers both sides.
    if (static_cast<std::size_t>(p - pos_) > static_cast<std::size_t>(end_ - pos_)) [[unlikely]] outside_the_rest();
    pos_ = p;
  }
  void skip_to_end() { pos_ = end_; }

 private:
  static char32_t peek_at_slow(const char* p, const char* end);
  char32_t peek_at(const char* p) const {
    if (p == end_) return 0;
    auto byte = static_cast<unsigned char>(*p);
    return byte < 0x80 ? static_cast<char32_t>(byte) : peek_at_slow(p, end_);
  }
  char32_t bump_non_ascii();
  [[noreturn]] static void outside_the_rest();
  bool eat_char_slow(char32_t c);
  text_size::TextOffset offset_of(const char* p) const {
    return text_size::TextOffset(static_cast<std::uint32_t>(p - begin_));
  }

  const char* begin_ = nullptr;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  const char* token_start_ = nullptr;
};

}  // namespace python_parser
