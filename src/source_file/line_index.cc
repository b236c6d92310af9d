#include "source_file/line_index.h"

#include <algorithm>

#include "source_file/text_scan.h"
#include "source_file/text_slice.h"

namespace source_file {
namespace {

using text_size::TextOffset;
using text_size::TextRange;

// Below this many bytes a span is counted byte by byte: the block-wise count
// only pays off once it has a full 32 bytes to chew on.
constexpr std::size_t kShortSpan = 31;

// Ordinary source files have fewer than one line per 88 bytes, so reserving
// that many entries up front avoids regrowing the table for them.
constexpr std::size_t kBytesPerReservedLine = 88;

std::uint64_t count_in(std::string_view span, ColumnUnit unit) {
  if (unit == ColumnUnit::Characters) {
    return span.size() > kShortSpan ? text_scan::count_characters(span) : text_scan::count_characters_scalar(span);
  }
  return span.size() > kShortSpan ? text_scan::count_utf16_code_units(span)
                                  : text_scan::count_utf16_code_units_scalar(span);
}

bool starts_with_byte_order_mark(std::string_view text) { return text.starts_with("\xEF\xBB\xBF"); }

}  // namespace

LineIndex LineIndex::from_source_text(std::string_view text) {
  auto impl = std::make_shared<Impl>();
  if (text.size() > kBytesPerReservedLine - 1) {
    tolva::check(text.size() <= std::numeric_limits<std::uint32_t>::max(),
                 "assertion failed: u32::try_from(bytes.len()).is_ok()");
    impl->line_starts.reserve(text.size() / kBytesPerReservedLine);
  }
  impl->line_starts.push_back(0);
  bool non_ascii = text_scan::scan_line_starts(text, impl->line_starts);
  impl->kind = non_ascii ? LineIndexKind::NonAscii : LineIndexKind::Ascii;
  return LineIndex(std::move(impl));
}

TextPosition LineIndex::source_location(TextOffset offset, std::string_view text, ColumnUnit unit) const {
  if (offset.raw > text.size()) [[unlikely]] {
    slice_failure(text, offset.raw);
  }
  const std::vector<std::uint32_t>& starts = impl_->line_starts;
  // The last line start at or before `offset`; starts[0] == 0 guarantees one.
  auto after = std::upper_bound(starts.begin(), starts.end(), offset.raw);
  auto row = static_cast<std::uint64_t>(after - starts.begin()) - 1;
  std::uint64_t column = characters_between(TextOffset(starts[row]), offset, text, unit);
  return TextPosition{OneBasedIndex::from_zero_indexed(row), OneBasedIndex::from_zero_indexed(column)};
}

TextPosition LineIndex::line_column(TextOffset offset, std::string_view text) const {
  TextPosition position = source_location(offset, text, ColumnUnit::Characters);
  if (position.line.get() == 1 && starts_with_byte_order_mark(text) && position.column.get() > 1) {
    position.column = OneBasedIndex(position.column.get() - 1);
  }
  return position;
}

std::uint64_t LineIndex::characters_between(TextOffset start, TextOffset end, std::string_view text,
                                            ColumnUnit unit) const {
  TextRange range(start, end);
  if (end.raw > text.size()) [[unlikely]] {
    slice_failure(text, end.raw);
  }
  if (impl_->kind == LineIndexKind::Ascii || unit == ColumnUnit::Bytes) return range.length();
  check_char_boundary(text, start.raw);
  check_char_boundary(text, end.raw);
  return count_in(text.substr(start.raw, range.length()), unit);
}

}  // namespace source_file
