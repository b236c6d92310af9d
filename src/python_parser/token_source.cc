#include "python_parser/token_source.h"

#include <algorithm>
#include <optional>

#include "support/fatal_error.h"

namespace python_parser {

using python_ast::TokenKind;

namespace {

// Python source averages a little over five bytes per token; starting near
// that spares most of the doubling copies without holding much slack. Huge
// texts (which may be one long comment) start capped and grow by doubling.
constexpr std::size_t kBytesPerTokenEstimate = 6;
constexpr std::size_t kMaxInitialTokens = std::size_t{1} << 20;

}  // namespace

TokenSource::TokenSource(std::string_view source, Mode mode, text_size::TextOffset start_offset,
                         python_ast::Arena& arena)
    : lexer_(source, mode, start_offset, arena) {
  tokens_.reserve(std::min(source.size() / kBytesPerTokenEstimate + 8, kMaxInitialTokens));
  advance();
}

void TokenSource::advance() {
  TokenKind kind = lexer_.next_token();
  while (python_ast::is_trivia(kind)) {
    push_current(kind);
    kind = lexer_.next_token();
  }
}

void TokenSource::bump(TokenKind kind) {
  // Nothing follows the end of file: the lexer is not asked again, so the
  // end of file stays the current token whatever the lexer would say next.
  bool at_end = lexer_.current_kind() == TokenKind::EndOfFile;
  push_current(kind);
  if (!at_end) advance();
}

TokenKind TokenSource::peek() {
  if (lexer_.current_kind() == TokenKind::EndOfFile) return TokenKind::EndOfFile;
  LexerCheckpoint saved = lexer_.checkpoint();
  TokenKind kind = lexer_.next_token();
  while (python_ast::is_trivia(kind)) kind = lexer_.next_token();
  lexer_.rewind(saved);
  return kind;
}

std::pair<TokenKind, TokenKind> TokenSource::peek2() {
  if (lexer_.current_kind() == TokenKind::EndOfFile) return {TokenKind::EndOfFile, TokenKind::EndOfFile};
  LexerCheckpoint saved = lexer_.checkpoint();
  TokenKind first = lexer_.next_token();
  while (python_ast::is_trivia(first)) first = lexer_.next_token();
  TokenKind second = TokenKind::EndOfFile;
  if (first != TokenKind::EndOfFile) {
    second = lexer_.next_token();
    while (python_ast::is_trivia(second)) second = lexer_.next_token();
  }
  lexer_.rewind(saved);
  return {first, second};
}

TrailingNewline TokenSource::stored_trailing_newline() const {
  TrailingNewline newline;
  for (std::size_t i = tokens_.size(); i > 0; --i) {
    const python_ast::Token& token = tokens_[i - 1];
    if (token.kind == TokenKind::Comment) continue;
    if (token.kind != TokenKind::NonLogicalNewline) break;
    newline = TrailingNewline{true, i - 1, token.range.start()};
  }
  return newline;
}

void TokenSource::count_current(TokenKind kind) {
  if (counted_ == 0) trailing_newline_ = stored_trailing_newline();
  if (kind == TokenKind::NonLogicalNewline) {
    if (!trailing_newline_.present) {
      trailing_newline_ = TrailingNewline{true, tokens_.size() + counted_, lexer_.current_range().start()};
    }
  } else if (kind != TokenKind::Comment) {
    trailing_newline_ = TrailingNewline{};
  }
  ++counted_;
  last_counted_kind_ = kind;
}

void TokenSource::re_lex_logical_token() {
  // The earliest non-logical newline of the run of trivia that ends the list.
  const TrailingNewline newline = counted_ == 0 ? stored_trailing_newline() : trailing_newline_;
  std::optional<text_size::TextOffset> newline_start;
  if (newline.present) newline_start = newline.start;

  if (!lexer_.re_lex_logical_token(newline_start)) return;
  if (!newline_start) {
    tolva::fatal("`re_lex_logical_token` should only return `true` if `non_logical_line` is `Some`");
  }
  // The lexer stands on that newline again and produces everything after it
  // anew. It was the earliest newline of the run: no newline is left in
  // what ends the list now.
  if (newline.position < tokens_.size()) {
    tokens_.truncate(newline.position);
    counted_ = 0;
  } else {
    counted_ = newline.position - tokens_.size();
  }
  trailing_newline_ = TrailingNewline{};
  TokenKind current = lexer_.current_kind();
  if (python_ast::is_trivia(current)) {
    push_current(current);
    advance();
  }
}

void TokenSource::rewind(const TokenSourceCheckpoint& checkpoint) {
  lexer_.rewind(checkpoint.lexer);
  if (checkpoint.tokens_position < tokens_.size()) {
    tokens_.truncate(checkpoint.tokens_position);
    counted_ = 0;
  } else {
    counted_ = std::min(counted_, checkpoint.tokens_position - tokens_.size());
  }
  trailing_newline_ = checkpoint.trailing_newline;
}

TokenSource::Finished TokenSource::finish() && {
  if (lexer_.current_kind() != TokenKind::EndOfFile) tolva::fatal("TokenSource was not fully consumed");
  if (counted_ != 0) {
    // Only a parse with an error counts tokens, and hands over none.
    if (!checked_parse_has_error()) {
      tolva::fatal("TokenSource: tokens were only counted in a parse without an error");
    }
    if (last_counted_kind_ != TokenKind::EndOfFile) {
      tolva::fatal("TokenSource: the end of file should be the last token consumed");
    }
    return Finished{python_ast::Tokens(), std::move(lexer_).finish()};
  }
  if (!tokens_.empty()) {
    if (tokens_[tokens_.size() - 1].kind != TokenKind::EndOfFile) {
      tolva::fatal("TokenSource: the end of file should be the last token consumed");
    }
    tokens_.truncate(tokens_.size() - 1);
  }
  std::vector<LexicalError> errors = std::move(lexer_).finish();
  return Finished{std::move(tokens_), std::move(errors)};
}

}  // namespace python_parser
