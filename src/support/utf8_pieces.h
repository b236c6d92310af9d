#pragma once

// Handing long UTF-8 texts to ICU, whose lengths are 32-bit signed numbers:
// a text of 2 GiB or more would reach it as a negative length (which ICU
// refuses, or reads as "up to a NUL"), and from 4 GiB it would wrap. Such
// texts go to ICU in pieces no longer than a piece size, each cut where the
// operation's result does not depend on what lies across the cut.

#include <cstddef>
#include <string_view>

#include "support/fatal_error.h"

namespace tolva {

// Pieces are at most this long by default: far below 2^31 bytes, even once
// widened to UTF-16 (at most one unit per byte) and case-mapped (at most
// three units per unit); long enough that the cost per piece is nothing.
inline constexpr std::size_t kIcuPieceBytes = std::size_t{1} << 24;

// Calls `piece(std::string_view)` on consecutive pieces of `text` that cover
// it in order, each at most `piece_bytes` long. A piece ends at the last
// offset within the limit where `is_cut(text, offset)` holds; `offset` is
// always the start of a UTF-8 character. A stretch of `piece_bytes` bytes
// without such an offset is a fatal error that names `what`.
template <typename IsCut, typename Piece>
void for_each_utf8_piece(std::string_view text, std::size_t piece_bytes, std::string_view what, IsCut is_cut,
                         Piece piece) {
  const auto continuation = [&](std::size_t at) { return (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80; };
  std::size_t start = 0;
  while (text.size() - start > piece_bytes) {
    std::size_t cut = start + piece_bytes;
    while (cut > start && (continuation(cut) || !is_cut(text, cut))) --cut;
    if (cut == start) {
      fatal(std::string(what) + ": the text cannot be split into pieces that ICU can take");
    }
    piece(text.substr(start, cut - start));
    start = cut;
  }
  piece(text.substr(start));
}

}  // namespace tolva
