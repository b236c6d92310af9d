#include "python_trivia/comment_ranges.h"

#include <algorithm>

#include "source_file/line_ranges.h"
#include "support/fatal_error.h"

namespace python_trivia {

using text_size::TextOffset;
using text_size::TextRange;

CommentRanges CommentRanges::from(std::span<const python_ast::Token> tokens) {
  CommentRanges comments;
  for (const python_ast::Token& token : tokens) {
    if (token.kind != python_ast::TokenKind::Comment) continue;
    tolva::check(comments.ranges_.empty() || comments.ranges_.back().end() <= token.range.start(),
                 "comment tokens must be in source order and must not overlap");
    comments.ranges_.push_back(token.range);
  }
  return comments;
}

std::span<const TextRange> CommentRanges::comments_in_range(TextRange range) const {
  auto first = std::partition_point(ranges_.begin(), ranges_.end(),
                                    [&](const TextRange& comment) { return comment.start() < range.start(); });
  auto last = first;
  while (last != ranges_.end() && last->end() <= range.end()) ++last;
  return {first, last};
}

bool CommentRanges::is_own_line(TextOffset offset, std::string_view text) {
  TextOffset line_start = source_file::LineRanges::line_start(text, offset);
  TextRange before(line_start, offset);
  std::string_view indentation = text.substr(before.start().raw, before.length());
  return std::all_of(indentation.begin(), indentation.end(),
                     [](char byte) { return byte == ' ' || byte == '\t' || byte == '\f'; });
}

}  // namespace python_trivia
