#include "tolva_ast/parser_cache_types.h"

#include <utility>

#include "python_parser/parse.h"

namespace tolva_ast {

namespace {

// The top-level `from M import N as L` statements without leading dots:
// M -> N -> {L}. Relative imports, imports without a module, plain imports
// and imports nested in any other statement are not looked at.
ImportMap top_level_from_imports(std::span<python_ast::Stmt* const> body) {
  ImportMap imports;
  for (const python_ast::Stmt* stmt : body) {
    const auto* from_import = stmt->as<python_ast::StmtFromImport>();
    if (from_import == nullptr || from_import->level != 0 || !from_import->module.has_value()) continue;
    auto& names = imports.try_emplace(std::string(from_import->module->as_str())).first->second;
    for (const python_ast::Alias& alias : from_import->names) {
      const std::string_view name = alias.name.as_str();
      const std::string_view local = alias.as_name.has_value() ? alias.as_name->as_str() : name;
      auto it = names.find(name);
      if (it == names.end()) it = names.try_emplace(std::string(name)).first;
      it->second.emplace(local);
    }
  }
  return imports;
}

}  // namespace

tolva::Result<SharedParsedFileCache> parse_file_for_cache(std::string path, std::string source) {
  python_parser::ModuleParseResult result = python_parser::parse_module_text(std::move(source));
  if (!result) {
    return tolva::Error{"Failed to parse " + path + ": " + result.error().display()};
  }
  python_parser::Parsed<python_ast::ModModule> parsed = std::move(result).value();
  auto record = std::make_shared<ParsedFileCache>();
  record->path = std::move(path);
  record->tree = std::move(parsed.tree);
  record->imports = top_level_from_imports(record->tree->module().body);
  record->comment_ranges = python_trivia::CommentRanges::from(parsed.tokens);
  // `parsed` and its token list end here.
  return SharedParsedFileCache(std::move(record));
}

}  // namespace tolva_ast
