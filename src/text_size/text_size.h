#pragma once

// Byte offsets and half-open byte ranges into one source text.
//
// Convention, stated once: a `TextOffset` counts UTF-8 bytes from the first
// byte of the text (a leading byte order mark included), in 32 bits; a
// `TextRange` is half-open, [start, end), with start <= end. Both are plain
// values of 4 and 8 bytes.

#include <compare>
#include <cstdint>
#include <ostream>
#include <string>

#include "support/fatal_error.h"

namespace text_size {

struct TextOffset {
  std::uint32_t raw = 0;

  constexpr TextOffset() = default;
  constexpr explicit TextOffset(std::uint32_t value) : raw(value) {}

  constexpr auto operator<=>(const TextOffset&) const = default;

  constexpr TextOffset operator+(TextOffset other) const { return TextOffset(raw + other.raw); }
  constexpr TextOffset operator-(TextOffset other) const { return TextOffset(raw - other.raw); }
};

class TextRange {
 public:
  constexpr TextRange() = default;
  constexpr TextRange(TextOffset start, TextOffset end) : start_(start), end_(end) {
    if (start.raw > end.raw) tolva::fatal("assertion failed: start.raw <= end.raw");
  }
  constexpr TextRange(std::uint32_t start, std::uint32_t end) : TextRange(TextOffset(start), TextOffset(end)) {}

  // The empty range at `offset`.
  static constexpr TextRange empty(TextOffset offset) { return TextRange(offset, offset); }
  // The range of `length` bytes starting at `offset`.
  static constexpr TextRange at(TextOffset offset, std::uint32_t length) {
    return TextRange(offset, TextOffset(offset.raw + length));
  }

  constexpr TextOffset start() const { return start_; }
  constexpr TextOffset end() const { return end_; }
  constexpr std::uint32_t length() const { return end_.raw - start_.raw; }
  constexpr bool is_empty() const { return start_ == end_; }

  // Whether `offset` lies in [start, end).
  constexpr bool contains(TextOffset offset) const { return start_ <= offset && offset < end_; }
  // Whether `offset` lies in [start, end].
  constexpr bool contains_inclusive(TextOffset offset) const { return start_ <= offset && offset <= end_; }
  constexpr bool contains_range(TextRange other) const { return start_ <= other.start_ && other.end_ <= end_; }

  // The smallest range that covers both.
  constexpr TextRange cover(TextRange other) const {
    return TextRange(start_ < other.start_ ? start_ : other.start_, end_ > other.end_ ? end_ : other.end_);
  }

  constexpr bool operator==(const TextRange&) const = default;

  // The debug form "{start}..{end}", as syntax error texts show it.
  std::string debug() const { return std::to_string(start_.raw) + ".." + std::to_string(end_.raw); }

 private:
  TextOffset start_;
  TextOffset end_;
};

static_assert(sizeof(TextOffset) == 4);
static_assert(sizeof(TextRange) == 8);

inline std::ostream& operator<<(std::ostream& out, TextOffset offset) { return out << offset.raw; }
inline std::ostream& operator<<(std::ostream& out, TextRange range) { return out << range.debug(); }

}  // namespace text_size
