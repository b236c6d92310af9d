#pragma once

// The analysis of one parsed file: functions, resolvers and feature classes
// with their locations.

#include <string>
#include <string_view>

#include "tolva_ast/ast_types.h"
#include "tolva_ast/parser_cache_types.h"

namespace tolva_ast::type_parsing {

// Infallible: whatever cannot be located is left out.
ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& file, std::string_view module);

}  // namespace tolva_ast::type_parsing
