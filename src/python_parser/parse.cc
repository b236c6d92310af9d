#include "python_parser/parse.h"

#include <memory>
#include <string>

#include "python_parser/parser/parser.h"

namespace python_parser {

namespace {

// The parse of the text that `tree` owns, reporting `report`.
Parsed<python_ast::Mod> parse_tree(std::shared_ptr<python_ast::ModuleTree> tree, Mode mode, ErrorReport report) {
  // A tree takes about five to six bytes of nodes per byte of source; blocks
  // of at most half the source size keep the unused tail of the last one
  // small beside that.
  tree->arena().limit_block_size(tree->source().size() / 2);
  ParserOutput output = [&] {
    // The tree's own text: node views point into it.
    Parser parser(tree->source(), mode, tree->arena());
    if (report == ErrorReport::FirstOnly) parser.report_first_error_only();
    return std::move(parser).parse();
  }();
  // A FirstOnly parse with an error hands over no root.
  if (output.syntax != nullptr) tree->set_root(*output.syntax);
  return Parsed<python_ast::Mod>{std::move(tree), output.syntax, std::move(output.tokens), std::move(output.errors),
                                 std::move(output.version_gated_errors)};
}

// The checked parse of the text that `tree` owns: it reports only its first
// error, the one the full parse puts first, and stops once that is settled.
ParseResult<python_ast::Mod> checked_tree(std::shared_ptr<python_ast::ModuleTree> tree, Mode mode) {
  Parsed<python_ast::Mod> parsed = parse_tree(std::move(tree), mode, ErrorReport::FirstOnly);
  if (parsed.errors.empty()) return parsed;
  // The tree (its nodes so far) is dropped.
  return std::move(parsed.errors.front());
}

ModuleParseResult checked_module(ParseResult<python_ast::Mod>&& checked) {
  if (!checked) return std::move(checked).error();
  std::optional<Parsed<python_ast::ModModule>> parsed = try_into_module(std::move(checked).value());
  tolva::check(parsed.has_value(), "a module parse gives a module");
  return std::move(*parsed);
}

}  // namespace

Parsed<python_ast::Mod> parse_unchecked(std::string_view source, Mode mode) {
  return parse_tree(std::make_shared<python_ast::ModuleTree>(std::string(source)), mode, ErrorReport::Every);
}

std::optional<Parsed<python_ast::ModModule>> try_into_module(Parsed<python_ast::Mod>&& parsed) {
  const python_ast::ModModule* module = parsed.syntax == nullptr ? nullptr : parsed.syntax->as<python_ast::ModModule>();
  if (module == nullptr) return std::nullopt;
  return Parsed<python_ast::ModModule>{std::move(parsed.tree), module, std::move(parsed.tokens),
                                       std::move(parsed.errors), std::move(parsed.version_gated_errors)};
}

ParseResult<python_ast::Mod> parse(std::string_view source, Mode mode) {
  return checked_tree(std::make_shared<python_ast::ModuleTree>(std::string(source)), mode);
}

ModuleParseResult parse_module(std::string_view source) {
  return checked_module(checked_tree(std::make_shared<python_ast::ModuleTree>(std::string(source)), Mode::Module));
}

ModuleParseResult parse_module_text(std::string source) {
  return checked_module(checked_tree(std::make_shared<python_ast::ModuleTree>(std::move(source)), Mode::Module));
}

std::optional<ParseError> checked_error(std::string_view source, Mode mode) {
  if (mode == Mode::Module) {
    ModuleParseResult result = parse_module(source);
    if (result.has_value()) return std::nullopt;
    return std::move(result).error();
  }
  ParseResult<python_ast::Mod> result = parse(source, mode);
  if (result.has_value()) return std::nullopt;
  return std::move(result).error();
}

std::optional<std::string> prepare_for_threads() {
  // An identifier that NFKC changes (the ligature U+FB01 becomes "fi") and
  // a named escape: the lexer loads both tables on their first use.
  constexpr std::string_view kText = "\xEF\xAC\x81 = '\\N{LATIN SMALL LETTER A}'\n";
  try {
    if (std::optional<ParseError> error = checked_error(kText, Mode::Module)) {
      return "the Unicode tables of ICU are unavailable: " + error->display();
    }
  } catch (const tolva::FatalError& error) {
    return error.message();
  }
  return std::nullopt;
}

}  // namespace python_parser
