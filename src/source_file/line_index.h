#pragma once

// The line table of one source text: byte offsets to one-based lines and
// columns.
//
// Line breaks are "\n", "\r\n" (one break) and a "\r" not followed by "\n".
// `line_starts()` holds 0 and then, for every break, the offset just after
// it, so a text with n breaks has n + 1 lines (a break that ends the text
// opens an empty last line). Columns count bytes, UTF-16 code units or
// characters (Unicode scalar values); an all-ASCII text never decodes, every
// column there is a subtraction.
//
// A LineIndex is immutable and cheap to copy: copies share one table through
// an atomic reference count, so an index may be shared by any number of
// threads. Every lookup takes the very text the index was built from; an
// offset beyond that text, or (for character and UTF-16 columns) inside one
// of its multi-byte characters, is a broken invariant and throws
// tolva::FatalError.

#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <span>
#include <string_view>
#include <vector>

#include "support/fatal_error.h"
#include "text_size/text_size.h"

namespace source_file {

// What a column counts.
enum class ColumnUnit : std::uint8_t {
  Bytes = 0,
  Utf16CodeUnits = 1,
  Characters = 2,  // Unicode scalar values
};

// Whether every byte of the indexed text is below 0x80.
enum class LineIndexKind : std::uint8_t {
  Ascii = 0,
  NonAscii = 1,
};

// A one-based line or column number; never 0.
class OneBasedIndex {
 public:
  // From a one-based number; 0 is a broken invariant.
  constexpr explicit OneBasedIndex(std::uint64_t one_based) : value_(one_based) {
    if (one_based == 0) tolva::fatal("a one-based index is never 0");
  }

  // From a zero-based count: count + 1, saturating at the largest value.
  static constexpr OneBasedIndex from_zero_indexed(std::uint64_t zero_based) {
    return OneBasedIndex(zero_based == std::numeric_limits<std::uint64_t>::max() ? zero_based : zero_based + 1);
  }

  constexpr std::uint64_t get() const { return value_; }
  constexpr std::uint64_t to_zero_indexed() const { return value_ - 1; }

  constexpr auto operator<=>(const OneBasedIndex&) const = default;

 private:
  std::uint64_t value_;
};

struct TextPosition {
  OneBasedIndex line;
  OneBasedIndex column;

  constexpr bool operator==(const TextPosition&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, OneBasedIndex index) { return out << index.get(); }
inline std::ostream& operator<<(std::ostream& out, TextPosition position) {
  return out << position.line << ':' << position.column;
}

class LineIndex {
 public:
  // Scans `text` once. Fatal when the text is 2^32 bytes or longer.
  static LineIndex from_source_text(std::string_view text);

  // The line of `offset` (an offset equal to a line start belongs to the line
  // that starts there) and its column in `unit`.
  TextPosition source_location(text_size::TextOffset offset, std::string_view text, ColumnUnit unit) const;

  // source_location in characters, with a leading byte order mark invisible:
  // on line 1 of a text that begins with EF BB BF the column is one less (not
  // below 1), so offsets 0 and 3 are both line 1, column 1.
  TextPosition line_column(text_size::TextOffset offset, std::string_view text) const;

  // The length of text[start, end) in `unit`. Fatal when start > end or end
  // is beyond the text; for characters and UTF-16 units also when start or
  // end falls inside a character.
  std::uint64_t characters_between(text_size::TextOffset start, text_size::TextOffset end, std::string_view text,
                                   ColumnUnit unit) const;

  std::span<const std::uint32_t> line_starts() const { return impl_->line_starts; }
  LineIndexKind kind() const { return impl_->kind; }

 private:
  struct Impl {
    std::vector<std::uint32_t> line_starts;  // ascending; line_starts[0] == 0
    LineIndexKind kind = LineIndexKind::Ascii;
  };

  explicit LineIndex(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}

  std::shared_ptr<const Impl> impl_;  // never null
};

}  // namespace source_file
