#pragma once

// TokenSource: the parser's view of the lexer.
//
// The lexer produces every token, trivia included; the parser must see only
// significant ones. The token source stands between them: it skips Comment
// and NonLogicalNewline tokens while recording them, and every token the
// parser consumes, into the token list that ends up in the parse result. It
// also gives look-ahead without consuming (peek, peek2), the re-lexing hooks
// of error recovery, and the final hand-over of the token list and the
// lexer's errors.
//
// The current token is the lexer's current token. It is never trivia between
// two calls, and it is not in the token list until it is consumed.

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "python_ast/arena.h"
#include "python_ast/token.h"
#include "python_ast/token_kind.h"
#include "python_parser/error.h"
#include "python_parser/lexer.h"
#include "text_size/text_size.h"

namespace python_parser {

// Where the run of trivia that ends the token list has its earliest
// non-logical newline (the token re_lex_logical_token turns back into a
// logical Newline), when the list is only counted.
struct TrailingNewline {
  bool present = false;
  std::size_t position = 0;
  text_size::TextOffset start;
};

// A snapshot of a token source for speculative parsing.
struct TokenSourceCheckpoint {
  LexerCheckpoint lexer;
  // The length of the token list, the tokens only counted included.
  std::size_t tokens_position = 0;
  TrailingNewline trailing_newline;
};

class TokenSource {
 public:
  // A token source over `source`; its current token is the first significant
  // token, and the comments and blank lines before it are already recorded.
  TokenSource(std::string_view source, Mode mode, text_size::TextOffset start_offset, python_ast::Arena& arena);

  TokenSource(const TokenSource&) = delete;
  TokenSource& operator=(const TokenSource&) = delete;

  python_ast::TokenKind current_kind() const { return lexer_.current_kind(); }
  text_size::TextRange current_range() const { return lexer_.current_range(); }
  python_ast::TokenFlags current_flags() const { return lexer_.current_flags(); }
  const TokenValue& current_value() const { return lexer_.current_value(); }
  // The value of the current token; TokenValue::None is left behind.
  TokenValue take_value() { return lexer_.take_value(); }

  // Records the current token with `kind` and moves to the next significant
  // token, recording the trivia in between. The caller has checked the kind.
  void bump(python_ast::TokenKind kind);

  // The kind of the first significant token after the current one; changes
  // nothing (the lexer is rewound, its error list included).
  python_ast::TokenKind peek();
  // The kinds of the first two significant tokens after the current one.
  std::pair<python_ast::TokenKind, python_ast::TokenKind> peek2();

  // Error recovery inside brackets: asks the lexer to turn the non-logical
  // newline that begins the run of trivia ending the token list back into a
  // logical Newline, which becomes the current token. Nothing changes when
  // the lexer declines, except that it may have lowered its bracket nesting.
  void re_lex_logical_token();
  // The f-string and t-string hooks of the lexer; they change the current
  // token in place.
  void re_lex_raw_string_in_format_spec() { lexer_.re_lex_raw_string_in_format_spec(); }
  void re_lex_string_token_in_interpolation_element(InterpolatedStringKind kind) {
    lexer_.re_lex_string_token_in_interpolation_element(kind);
  }

  TokenSourceCheckpoint checkpoint() const {
    return {lexer_.checkpoint(), tokens_.size() + counted_, trailing_newline_};
  }
  void rewind(const TokenSourceCheckpoint& checkpoint);

  // The tokens consumed so far, trivia included (only those stored, see
  // keep_first_lexical_error_only).
  const python_ast::Tokens& tokens() const { return tokens_; }
  // The lexical errors found so far (the first only, after
  // keep_first_lexical_error_only).
  const std::vector<LexicalError>& lexical_errors() const { return lexer_.errors(); }
  // For a parse that reports only its first error, and so hands over no
  // tokens when it has an error: keeps only the first lexical error
  // (Lexer::keep_first_error_only), and from then on, while the parse has
  // an error, only counts the tokens consumed instead of storing them. A
  // token consumed then never reaches the result: an error goes only with
  // a rewind to before it, which drops the token too (or, for the lexer's
  // unclosed-string error of the current token, before that token is
  // consumed).
  void keep_first_lexical_error_only() {
    lexer_.keep_first_error_only();
    first_error_only_ = true;
  }
  // Tells whether the parser has recorded an error (see above).
  void set_parser_has_errors(bool has_errors) { parser_has_errors_ = has_errors; }

  struct Finished {
    python_ast::Tokens tokens;
    std::vector<LexicalError> errors;
  };
  // Hands over the token list, without the final EndOfFile token, and the
  // lexer's errors. Fatal unless the current token is the end of file ("TokenSource
  // was not fully consumed") and the end of file was consumed last.
  Finished finish() &&;

 private:
  // Moves the lexer to the next significant token, recording trivia.
  void advance();
  void push_current(python_ast::TokenKind kind) {
    if (counted_ == 0 && !checked_parse_has_error()) [[likely]] {
      tokens_.push_back(python_ast::Token{lexer_.current_range(), lexer_.current_flags(), kind});
    } else {
      count_current(kind);
    }
  }
  void count_current(python_ast::TokenKind kind);
  // Whether this is a parse that reports its first error only and has one:
  // its tokens are counted from then on, never stored.
  bool checked_parse_has_error() const {
    return first_error_only_ && (parser_has_errors_ || lexer_.error_count() != 0);
  }
  // The earliest non-logical newline of the run of trivia at the end of
  // the stored tokens.
  TrailingNewline stored_trailing_newline() const;

  Lexer lexer_;
  python_ast::Tokens tokens_;
  // The tokens consumed after the stored ones and only counted, the kind of
  // the last of them, and the trailing newline when there are any.
  std::size_t counted_ = 0;
  python_ast::TokenKind last_counted_kind_ = python_ast::TokenKind::EndOfFile;
  TrailingNewline trailing_newline_;
  bool first_error_only_ = false;
  bool parser_has_errors_ = false;
};

}  // namespace python_parser
