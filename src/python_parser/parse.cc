#include "python_parser/parse.h"

#include <memory>
#include <string>

#include "python_parser/parser/expression.h"
#include "python_parser/parser/statement.h"

namespace python_parser {

using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

namespace {

constexpr std::string_view kNotAtEnd = "Parser should be at the end of the file.";

}  // namespace

ParserOutput Parser::parse() && {
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

  TokenSource::Finished finished = std::move(tokens_).finish();
  return ParserOutput{root, std::move(finished.tokens), merge_errors(std::move(errors_), std::move(finished.errors)),
                      std::move(version_gated_errors_)};
}

Parsed<python_ast::Mod> parse_unchecked(std::string_view source, Mode mode) {
  auto tree = std::make_shared<python_ast::ModuleTree>(std::string(source));
  // A tree takes about five to six bytes of nodes per byte of source; blocks
  // of at most half the source size keep the unused tail of the last one
  // small beside that.
  tree->arena().limit_block_size(source.size() / 2);
  ParserOutput output = [&] {
    // The tree's own copy of the text: node views point into it.
    Parser parser(tree->source(), mode, tree->arena());
    return std::move(parser).parse();
  }();
  tree->set_root(*output.syntax);
  return Parsed<python_ast::Mod>{std::move(tree), output.syntax, std::move(output.tokens), std::move(output.errors),
                                 std::move(output.version_gated_errors)};
}

std::optional<Parsed<python_ast::ModModule>> try_into_module(Parsed<python_ast::Mod>&& parsed) {
  const python_ast::ModModule* module = parsed.syntax == nullptr ? nullptr : parsed.syntax->as<python_ast::ModModule>();
  if (module == nullptr) return std::nullopt;
  return Parsed<python_ast::ModModule>{std::move(parsed.tree), module, std::move(parsed.tokens),
                                       std::move(parsed.errors), std::move(parsed.version_gated_errors)};
}

ModuleParseResult parse_module(std::string_view source) {
  std::optional<Parsed<python_ast::ModModule>> parsed = try_into_module(parse_unchecked(source, Mode::Module));
  tolva::check(parsed.has_value(), "a module parse gives a module");
  if (parsed->errors.empty()) return std::move(*parsed);
  // The tree, the tokens and the other errors are dropped.
  return std::move(parsed->errors.front());
}

}  // namespace python_parser
