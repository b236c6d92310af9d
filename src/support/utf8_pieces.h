#pragma once

// Handing long UTF-8 texts to ICU, whose lengths are 32-bit signed numbers:
// a text of 2 GiB or more would reach it as a negative length (which ICU
// refuses, or reads as "up to a NUL"), and from 4 GiB it would wrap. Such
// texts go to ICU in pieces no longer than a piece size, each cut where the
// operation's result does not depend on what lies across the cut.

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "support/fatal_error.h"

namespace tolva {

// Pieces are this long where the text allows: long enough that the cost per
// piece is nothing.
inline constexpr std::size_t kIcuPieceBytes = std::size_t{1} << 24;
// And never longer than this: far below 2^31 bytes, even once widened to
// UTF-16 (at most one unit per byte) and case-mapped (at most three units
// per unit).
inline constexpr std::size_t kIcuMaxPieceBytes = std::size_t{1} << 29;

// The limits of the pieces.
struct PieceLimits {
  std::size_t preferred = kIcuPieceBytes;
  std::size_t most = kIcuMaxPieceBytes;  // at least `preferred`
};

// Calls `piece(std::string_view)` on consecutive pieces of `text` that cover
// it in order. A piece ends at the last offset within `limits.preferred`
// bytes where `is_cut(text, offset)` holds (`offset` is always the start of
// a UTF-8 character), else at the first such offset after it; a stretch of
// `limits.most` bytes without one is a fatal error that names `what`.
template <typename IsCut, typename Piece>
void for_each_utf8_piece(std::string_view text, PieceLimits limits, std::string_view what, IsCut is_cut,
                         Piece piece) {
  const auto can_cut = [&](std::size_t at) {
    return (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && is_cut(text, at);
  };
  std::size_t start = 0;
  while (text.size() - start > limits.preferred) {
    std::size_t cut = start + limits.preferred;
    while (cut > start && !can_cut(cut)) --cut;
    if (cut == start) {
      const std::size_t last = std::min(text.size() - 1, start + limits.most);
      cut = start + limits.preferred + 1;
      while (cut <= last && !can_cut(cut)) ++cut;
      if (cut > last) {
        if (text.size() - start <= limits.most) break;  // the rest is one piece
        fatal(std::string(what) + ": the text cannot be split into pieces that ICU can take");
      }
    }
    piece(text.substr(start, cut - start));
    start = cut;
  }
  piece(text.substr(start));
}

}  // namespace tolva
