#include "python_parser/parser/parser.h"

#include <string>

#include "python_parser/parse.h"
#include "python_parser/parser/depth_guard.h"
#include "python_parser/parser/expression.h"
#include "python_parser/parser/statement.h"

namespace python_parser {

using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

Parser::Parser(std::string_view source, Mode mode, python_ast::Arena& arena, TextOffset start_offset,
               TargetVersion target_version)
    : arena_(arena),
      tokens_(source, mode, start_offset, arena),
      source_(source),
      start_offset_(start_offset),
      mode_(mode),
      target_version_(target_version),
      stack_floor_(stack_floor_of_current_thread()) {}

namespace {

constexpr std::string_view kNotAtEnd = "Parser should be at the end of the file.";

}  // namespace

ParserOutput Parser::parse() && {
  const python_ast::Mod* root = nullptr;
  try {
    root = parse_root();
  } catch (const FirstErrorSettled&) {
    // Nothing after the settled error can change the answer: the tree, the
    // tokens and the other errors are not needed.
    std::vector<ParseError> errors;
    errors.push_back(std::move(*settled_error_));
    return ParserOutput{nullptr, python_ast::Tokens(), std::move(errors), {}};
  }
  TokenSource::Finished finished = std::move(tokens_).finish();
  std::vector<ParseError> errors = merge_errors(std::move(errors_), std::move(finished.errors));
  if (report_ == ErrorReport::FirstOnly) {
    // The parse ran to the end: the first error is the merge's, and the
    // tree and tokens are only wanted when there is none.
    if (!errors.empty()) {
      errors.erase(errors.begin() + 1, errors.end());
      return ParserOutput{nullptr, python_ast::Tokens(), std::move(errors), {}};
    }
  }
  return ParserOutput{root, std::move(finished.tokens), std::move(errors), std::move(version_gated_errors_)};
}

const python_ast::Mod* Parser::parse_root() {
  const python_ast::Mod* root = nullptr;
  if (mode_ == Mode::Expression || mode_ == Mode::ParenthesizedExpression) {
    // One expression list, an optional logical newline, and nothing else.
    TextOffset start = node_start();
    MarkedExpr parsed = parse_expression_list(*this, ExpressionParseFlags::None);
    tolva::check(parsed.expr != nullptr, "parse_expression_list returned no expression");
    eat(TokenKind::Newline);
    if (!at(TokenKind::EndOfFile)) {
      add_error(ParseErrorType::TrailingTokenAfterExpression, current_token_range());
      while (!at(TokenKind::EndOfFile)) bump_any();
    }
    bump(TokenKind::EndOfFile);
    root = arena_.make<python_ast::ModExpression>(TextRange(start, current_token_range().end()), parsed.expr);
  } else {
    // The statement list ends only at the end of file.
    std::span<python_ast::Stmt*> body = parse_list(RecoveryContextKind::ModuleStatements, parse_statement);
    tolva::check(at(TokenKind::EndOfFile), kNotAtEnd);
    bump(TokenKind::EndOfFile);
    root = arena_.make<python_ast::ModModule>(TextRange(start_offset_, current_token_range().end()), body);
  }
  tolva::check(at(TokenKind::EndOfFile), kNotAtEnd);
  return root;
}

std::string_view Parser::src_text(TextRange range) const {
  // Only the bounds are checked: the source may hold bytes that are not
  // UTF-8, and a token range over them is still a valid byte range.
  if (range.end().raw > source_.size()) [[unlikely]] {
    tolva::fatal("Parser::src_text: range " + range.debug() + " lies outside the source text of " +
                 std::to_string(source_.size()) + " bytes");
  }
  return source_.substr(range.start().raw, range.length());
}

void Parser::bump_mismatch(TokenKind expected) const {
  tolva::fatal("Parser::bump: expected " + std::string(python_ast::debug_name(expected)) + ", found " +
               std::string(python_ast::debug_name(current_token_kind())) + " at " + current_token_range().debug());
}

void Parser::bump_any_at_end() const {
  tolva::fatal("Parser::bump_any: the current token is the end of file at " + current_token_range().debug());
}

void Parser::report_first_error_only() {
  report_ = ErrorReport::FirstOnly;
  tokens_.keep_first_lexical_error_only();
}

bool Parser::count_error(TextRange range) {
  if (nesting_exceeded_) return false;
  if (error_count_ != 0 && last_error_start_ == range.start()) return false;
  ++error_count_;
  last_error_start_ = range.start();
  if (report_ == ErrorReport::FirstOnly) {
    watch_first_error_ = true;
    tokens_.set_parser_has_errors(true);
    return errors_.empty();
  }
  return true;
}

void Parser::add_error(ParseErrorType error, TextRange range) {
  if (count_error(range)) errors_.push_back(ParseError{std::move(error), range});
}

void Parser::add_error(ParseErrorType::Kind kind, TextRange range) { add_error(ParseErrorType(kind), range); }

void Parser::add_expected_token_error(TokenKind kind) {
  add_error(ParseErrorType::expected_token(kind, current_token_kind()), current_token_range());
}

void Parser::add_other_error(std::string_view text, TextRange range) {
  if (count_error(range)) errors_.push_back(ParseError{ParseErrorType::other(std::string(text)), range});
}

void Parser::add_version_gated_error(std::uint8_t kind, std::uint8_t sub_kind, TextRange range,
                                     TargetVersion minimum) {
  if (target_version_ >= minimum) return;
  version_gated_errors_.push_back(VersionGatedSyntaxError{kind, sub_kind, range, target_version_});
}

ParserCheckpoint Parser::checkpoint() const {
  return ParserCheckpoint{
      tokens_.checkpoint(), error_count_,      last_error_start_, version_gated_errors_.size(),
      current_token_id_,    prev_token_end_,   recovery_context_, nesting_exceeded_,
  };
}

void Parser::rewind(const ParserCheckpoint& checkpoint) {
  // A FirstOnly parse settles errors that no open reading can drop; a rewind
  // outside one would drop errors it may have settled on.
  if (report_ == ErrorReport::FirstOnly && speculations_ == 0) [[unlikely]] {
    tolva::fatal("Parser::rewind: a first-error parse rewinds only inside a SpeculativeReading");
  }
  tokens_.rewind(checkpoint.tokens);
  if (errors_.size() > checkpoint.errors_position) {
    errors_.erase(errors_.begin() + static_cast<std::ptrdiff_t>(checkpoint.errors_position), errors_.end());
  }
  error_count_ = checkpoint.errors_position;
  last_error_start_ = checkpoint.last_error_start;
  tokens_.set_parser_has_errors(report_ == ErrorReport::FirstOnly && error_count_ != 0);
  if (version_gated_errors_.size() > checkpoint.version_gated_errors_position) {
    version_gated_errors_.erase(
        version_gated_errors_.begin() + static_cast<std::ptrdiff_t>(checkpoint.version_gated_errors_position),
        version_gated_errors_.end());
  }
  current_token_id_ = checkpoint.current_token_id;
  prev_token_end_ = checkpoint.prev_token_end;
  recovery_context_ = checkpoint.recovery_context;
  nesting_exceeded_ = checkpoint.nesting_exceeded;
}

bool Parser::recover_in_list(RecoveryContextKind kind) {
  TokenKind current = current_token_kind();
  if (list_terminator_kind(kind, current) == ListTerminatorKind::Regular) return false;
  if (python_parser::is_enclosing_list_element_or_terminator(current, recovery_context_)) {
    tokens_.re_lex_logical_token();
    return false;
  }
  if (count_error(current_token_range())) {
    errors_.push_back(ParseError{create_error(kind, current), current_token_range()});
  }
  bump_any();
  return true;
}

Parser::CommaListStep Parser::recover_in_comma_separated_list(RecoveryContextKind kind, bool first_element,
                                                              std::optional<TextRange>& trailing_comma) {
  TokenKind current = current_token_kind();
  if (list_terminator_kind(kind, current) == ListTerminatorKind::Regular) return CommaListStep::Stop;
  if (is_list_element(kind, current)) {
    // Two elements with nothing between them: report the missing comma and
    // let the next iteration parse the element.
    expect(TokenKind::Comma);
    return CommaListStep::Continue;
  }
  if (python_parser::is_enclosing_list_element_or_terminator(current, recovery_context_)) {
    tokens_.re_lex_logical_token();
    return CommaListStep::Stop;
  }
  if (first_element || current == TokenKind::Comma) {
    // A comma with no element before it, or a token no element can start.
    if (count_error(current_token_range())) {
      errors_.push_back(ParseError{create_error(kind, current), current_token_range()});
    }
    if (current == TokenKind::Comma) {
      trailing_comma = current_token_range();
    } else {
      trailing_comma.reset();
    }
  } else {
    expect(TokenKind::Comma);
    trailing_comma.reset();
  }
  bump_any();
  return CommaListStep::Continue;
}

void Parser::report_trailing_comma(std::optional<TextRange> trailing_comma, TrailingComma policy) {
  if (trailing_comma && policy == TrailingComma::NotAllowed) {
    add_error(ParseErrorType::other("Trailing comma not allowed"), *trailing_comma);
  }
}

void Parser::nesting_too_deep() {
  if (nesting_exceeded_) return;
  add_error(ParseErrorType::other(std::string(kNestingTooDeepMessage)), current_token_range());
  nesting_exceeded_ = true;
  while (!at(TokenKind::EndOfFile)) do_bump();
}

// The merged list's first error is the first error of the parser's list or
// of the lexer's: the merge takes the parser's when it starts first, the
// lexer's otherwise (merge_errors). The first error of the parser's list is
// `front` once nothing can drop it: errors are only appended after it, and
// only a rewind removes any, never one recorded before the outermost open
// speculative reading. The lexer's list likewise: it loses errors only to a
// rewind, or when the parser re-lexes the current token as something else
// (re_lex_raw_string_in_format_spec and
// re_lex_string_token_in_interpolation_element drop its unclosed-string
// error); this runs as the current token is consumed, after which no hook
// can reach it. So the answer is settled
// - when both lists have a first error that nothing can drop; or
// - outside any speculative reading, when the lexer has recorded no error
//   yet and the parser's first error starts before the end of the token
//   being consumed: the lexer has read that far, so each error it records
//   from here on starts at or after that end (every lexical error lies in
//   the token being lexed, or at the lexer's position, and its re-lexing
//   restarts only after the last consumed token), and the parser's error
//   starts first.
void Parser::settle_first_error() {
  if (errors_.empty()) {
    // A rewind dropped every parser error.
    watch_first_error_ = false;
    return;
  }
  const bool speculating = speculations_ != 0;
  if (speculating && speculation_errors_position_ == 0) return;
  const ParseError& parser_first = errors_.front();
  const std::vector<LexicalError>& lexical = tokens_.lexical_errors();
  if (!lexical.empty() && (!speculating || speculation_lexical_errors_position_ != 0)) {
    const LexicalError& lexical_first = lexical.front();
    settled_error_ = parser_first.range.start() < lexical_first.range.start() ? parser_first
                                                                             : ParseError::from(lexical_first);
    throw FirstErrorSettled{};
  }
  if (!speculating && lexical.empty() && parser_first.range.start() < current_token_range().end()) {
    settled_error_ = parser_first;
    throw FirstErrorSettled{};
  }
}

std::vector<ParseError> merge_errors(std::vector<ParseError> parser_errors, std::vector<LexicalError> lexical_errors) {
  if (lexical_errors.empty()) return parser_errors;
  std::vector<ParseError> merged;
  merged.reserve(parser_errors.size() + lexical_errors.size());
  std::size_t p = 0;
  std::size_t l = 0;
  while (p < parser_errors.size() && l < lexical_errors.size()) {
    TextOffset parser_start = parser_errors[p].range.start();
    TextOffset lexical_start = lexical_errors[l].range.start();
    if (parser_start < lexical_start) {
      merged.push_back(std::move(parser_errors[p++]));
    } else {
      // At equal starts the lexer's error wins and the parser's is dropped.
      if (parser_start == lexical_start) ++p;
      merged.push_back(ParseError::from(std::move(lexical_errors[l++])));
    }
  }
  for (; p < parser_errors.size(); ++p) merged.push_back(std::move(parser_errors[p]));
  for (; l < lexical_errors.size(); ++l) merged.push_back(ParseError::from(std::move(lexical_errors[l])));
  return merged;
}

void ProgressGuard::stuck(const Parser& parser) {
  TextRange range = parser.current_token_range();
  tolva::fatal("The parser is no longer progressing. Stuck at '" + std::string(parser.src_text(range)) + "' " +
               std::string(python_ast::debug_name(parser.current_token_kind())) + ":" + range.debug());
}

}  // namespace python_parser
