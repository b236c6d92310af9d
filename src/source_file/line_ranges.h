#pragma once

// Line operations on plain text, without a LineIndex.

#include <string_view>

#include "text_size/text_size.h"

namespace source_file {

struct LineRanges {
  // The offset where the line that holds `offset` begins: just after the
  // nearest "\n" or "\r" before `offset`, or, on the first line, 3 when the
  // text begins with a byte order mark (EF BB BF) and 0 otherwise. For an
  // offset between the two bytes of "\r\n" that is the offset after the
  // "\r". Fatal when `offset` is beyond the text or inside a character.
  static text_size::TextOffset line_start(std::string_view text, text_size::TextOffset offset);
};

}  // namespace source_file
