#include "source_file/line_ranges.h"

#include "source_file/text_scan.h"
#include "source_file/text_slice.h"

namespace source_file {

text_size::TextOffset LineRanges::line_start(std::string_view text, text_size::TextOffset offset) {
  if (offset.raw != 0) {
    check_char_boundary(text, offset.raw);
    std::size_t at = text_scan::find_last_line_break(text.substr(0, offset.raw));
    if (at != std::string_view::npos) return text_size::TextOffset(static_cast<std::uint32_t>(at + 1));
  }
  // The first line of a text with a byte order mark begins after the mark.
  return text_size::TextOffset(text.starts_with("\xEF\xBB\xBF") ? 3 : 0);
}

}  // namespace source_file
