#include "python_parser/parse.h"

#include <memory>
#include <string>

#include "python_parser/parser/parser.h"

namespace python_parser {

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

ParseResult<python_ast::Mod> parse(std::string_view source, Mode mode) {
  Parsed<python_ast::Mod> parsed = parse_unchecked(source, mode);
  if (parsed.errors.empty()) return parsed;
  // The tree, the tokens and the other errors are dropped.
  return std::move(parsed.errors.front());
}

ModuleParseResult parse_module(std::string_view source) {
  std::optional<Parsed<python_ast::ModModule>> parsed = try_into_module(parse_unchecked(source, Mode::Module));
  tolva::check(parsed.has_value(), "a module parse gives a module");
  if (parsed->errors.empty()) return std::move(*parsed);
  // The tree, the tokens and the other errors are dropped.
  return std::move(parsed->errors.front());
}

}  // namespace python_parser
