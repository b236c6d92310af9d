#pragma once

// Test support: sources with markers, and positions computed independently
// of the code under test.
//
// A marked source writes "‹name›" where an offset of interest lies; the
// markers are removed from the text and their byte offsets kept. A range is
// written "‹name›...‹/name›". Expected positions come from
// reference_position, a plain character-by-character scan.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

#include "text_size/text_size.h"
#include "tolva_ast/ast_types.h"

namespace tolva_ast::testing {

// The position of `offset` in `text`: line breaks "\n", "\r\n" and a lone
// "\r" counted before it; characters (UTF-8 lead bytes) from its line's
// start (the "\r" of a "\r\n" is the last character of its line: the line
// ends after the "\n"); a leading byte order mark not counted on the first
// line.
inline Position reference_position(std::string_view text, std::uint32_t offset) {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
  for (std::uint32_t i = 0; i < offset; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n' || (byte == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
      ++line;
      character = 0;
    } else if ((byte & 0xC0) != 0x80) {
      ++character;
    }
  }
  if (line == 0 && text.substr(0, 3) == "\xEF\xBB\xBF" && character > 0) --character;
  return Position{line, character};
}

class MarkedSource {
 public:
  explicit MarkedSource(std::string_view marked) {
    static constexpr std::string_view kOpen = "\xE2\x80\xB9";   // ‹
    static constexpr std::string_view kClose = "\xE2\x80\xBA";  // ›
    while (!marked.empty()) {
      const std::size_t open = marked.find(kOpen);
      if (open == std::string_view::npos) {
        text_ += marked;
        break;
      }
      text_ += marked.substr(0, open);
      marked.remove_prefix(open + kOpen.size());
      const std::size_t close = marked.find(kClose);
      if (close == std::string_view::npos) {
        ADD_FAILURE() << "an unclosed marker";
        break;
      }
      const std::string name(marked.substr(0, close));
      if (!marks_.emplace(name, static_cast<std::uint32_t>(text_.size())).second) {
        ADD_FAILURE() << "the marker " << name << " twice";
      }
      marked.remove_prefix(close + kClose.size());
    }
  }

  const std::string& text() const { return text_; }

  std::uint32_t offset(const std::string& name) const {
    const auto it = marks_.find(name);
    if (it == marks_.end()) {
      ADD_FAILURE() << "no marker " << name;
      return 0;
    }
    return it->second;
  }
  text_size::TextRange byte_range(const std::string& name) const {
    return text_size::TextRange(offset(name), offset("/" + name));
  }
  Position position(const std::string& name) const { return reference_position(text_, offset(name)); }
  // The expected range of "‹name›...‹/name›".
  Range range(const std::string& name) const {
    return Range{position(name), reference_position(text_, offset("/" + name))};
  }
  // The expected range of the `length` bytes at "‹name›".
  Range range_at(const std::string& name, std::uint32_t length) const {
    return Range{position(name), reference_position(text_, offset(name) + length)};
  }

 private:
  std::string text_;
  std::map<std::string, std::uint32_t> marks_;
};

}  // namespace tolva_ast::testing

namespace tolva_ast {
// For gtest's printing of Positions and Ranges in failures.
inline void PrintTo(const Position& position, std::ostream* out) { *out << position.line << ':' << position.character; }
inline void PrintTo(const Range& range, std::ostream* out) {
  *out << range.start.line << ':' << range.start.character << '-' << range.end.line << ':' << range.end.character;
}
}  // namespace tolva_ast
