#include "support/utf8_pieces.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tolva {
namespace {

std::vector<std::string> pieces_of(std::string_view text, PieceLimits limits, bool (*is_cut)(std::string_view, std::size_t)) {
  std::vector<std::string> pieces;
  for_each_utf8_piece(text, limits, "test", is_cut, [&](std::string_view piece) { pieces.emplace_back(piece); });
  return pieces;
}

bool anywhere(std::string_view, std::size_t) { return true; }
bool before_space(std::string_view text, std::size_t offset) { return text[offset] == ' '; }

TEST(Utf8Pieces, PiecesCoverTheTextAndCutOnlyAtCharacterStartsTheCallerAllows) {
  struct Case {
    std::string_view text;
    PieceLimits limits;
    bool (*is_cut)(std::string_view, std::size_t);
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"", {4, 4}, anywhere, {""}},
      {"abc", {4, 4}, anywhere, {"abc"}},
      {"abcdefghij", {4, 4}, anywhere, {"abcd", "efgh", "ij"}},
      // A cut never splits a character: "\u00e9" is two bytes, "\u20ac" three.
      {"a\xC3\xA9\xC3\xA9", {2, 2}, anywhere, {"a", "\xC3\xA9", "\xC3\xA9"}},
      {"\xE2\x82\xAC\xE2\x82\xAC", {4, 4}, anywhere, {"\xE2\x82\xAC", "\xE2\x82\xAC"}},
      // The last allowed offset within the preferred length.
      {"ab cd ef gh ij", {6, 6}, before_space, {"ab cd", " ef gh", " ij"}},
      // None within it: the first one after it, up to the longest piece.
      {"abcdefgh ij", {4, 16}, before_space, {"abcdefgh", " ij"}},
      {"abcdefgh", {4, 16}, before_space, {"abcdefgh"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pieces_of(c.text, c.limits, c.is_cut), c.pieces) << c.text << " / " << c.limits.preferred;
  }
}

TEST(Utf8Pieces, AStretchWithoutACutIsAFatalErrorNamingTheOperation) {
  try {
    for_each_utf8_piece("abcdefgh ij", {4, 6}, "lowercasing", before_space, [](std::string_view) {});
    ADD_FAILURE() << "no error";
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "lowercasing: the text cannot be split into pieces that ICU can take");
  }
}

}  // namespace
}  // namespace tolva
