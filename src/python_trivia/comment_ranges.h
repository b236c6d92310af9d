#pragma once

// The byte ranges of the comments of one source text.
//
// The parser drops comments from the syntax tree; its token list keeps them.
// CommentRanges holds the range of every Comment token, from its "#" to the
// end of its line (line break excluded), sorted by start and without overlap.
// It is immutable once built.

#include <span>
#include <string_view>
#include <vector>

#include "python_ast/token.h"
#include "text_size/text_size.h"

namespace python_trivia {

class CommentRanges {
 public:
  CommentRanges() = default;

  // The ranges of the Comment tokens of `tokens`, in order. The tokens must be
  // in source order (FatalError otherwise): every lookup relies on it.
  static CommentRanges from(std::span<const python_ast::Token> tokens);
  static CommentRanges from(const python_ast::Tokens& tokens) { return from(tokens.as_span()); }

  // The comments that lie wholly inside `range`, in source order: those that
  // start at or after range.start() and end at or before range.end(). A
  // comment that starts before the range is left out even when it reaches
  // into it. One binary search plus the length of the answer.
  std::span<const text_size::TextRange> comments_in_range(text_size::TextRange range) const;

  // Whether only spaces, tabs and form feeds (or nothing) stand between the
  // start of the line that holds `offset` and `offset`. Reads only `text`.
  // Fatal when `offset` is beyond the text, inside a character, or before its
  // line start (inside a leading byte order mark, or offset 0 of a text that
  // has one).
  static bool is_own_line(text_size::TextOffset offset, std::string_view text);

  std::span<const text_size::TextRange> ranges() const { return ranges_; }

 private:
  std::vector<text_size::TextRange> ranges_;
};

}  // namespace python_trivia
