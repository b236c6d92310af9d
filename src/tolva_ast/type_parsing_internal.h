#pragma once

// The steps of the analysis of one file, one function each (type_parsing.cc),
// declared here so that tests can call them one by one.
//
// Every step that makes locations takes the file's FileLocations: the URI
// has been decided once for the whole file before any step runs, so a
// location, once asked for, always exists.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/nodes.h"
#include "tolva_ast/ast_types.h"
#include "tolva_ast/locations.h"
#include "tolva_ast/parser_cache_types.h"

namespace tolva_ast::type_parsing {

inline constexpr std::array<std::string_view, 2> RESOLVER_DECORATOR_MODULES = {"tolva", "tolva.features"};
inline constexpr std::array<std::string_view, 3> RESOLVER_DECORATOR_SYMBOLS = {"online", "offline", "stream"};
inline constexpr std::array<std::string_view, 1> FEATURE_DECORATOR_MODULES = {"tolva.features"};
inline constexpr std::array<std::string_view, 1> FEATURE_DECORATOR_SYMBOLS = {"features"};

// What the comment block directly above a class-body field says.
struct FieldCommentMetadata {
  std::optional<std::string> comment;
  std::optional<std::string> description;
  std::optional<std::string> owner;
  std::vector<std::string> tags;
  bool operator==(const FieldCommentMetadata&) const = default;
};

// A decorator name set: the local names under which a file's top-level
// from-imports bind the decorator symbols. Views into the file's ImportMap.
// A file may import a symbol under any number of aliases, and every
// decorator of the file asks the set: `contains` is a binary search.
class DecoratorNames {
 public:
  DecoratorNames() = default;
  // `names` in the order they were found (a name may repeat).
  explicit DecoratorNames(std::vector<std::string_view> names);
  bool empty() const { return names_.empty(); }
  bool contains(std::string_view name) const;
  // The names in the order they were found.
  std::span<const std::string_view> names() const { return names_; }

 private:
  std::vector<std::string_view> names_;
  std::vector<std::string_view> sorted_;  // names_ in byte order, each once
};

// The local names that `imports` holds for any symbol of `symbols` from any
// module of `modules`. Only the top-level, level-0 from-imports reach the
// map, so aliases count (under their local name) and attribute forms, plain
// imports, relative and nested imports never do.
DecoratorNames collect_import_names_for_symbols_from_map(const ImportMap& imports,
                                                         std::span<const std::string_view> modules,
                                                         std::span<const std::string_view> symbols);

// The positions of an expression's range.
Range expr_to_range(const python_ast::Expr& expr, PositionConverter& source);

// The location of `range` in the file at `path`, its URI made through
// file_uri_for_path (resolved on every call); absent when the path gives no
// URI. The file analysis itself resolves once and uses FileLocations.
std::optional<Location> file_location_for_range(std::string_view path, Range range);

struct KeywordLocationMaps {
  LocationMap kwarg_names;  // keyword name -> the name's location
  LocationMap kwargs;       // keyword name -> the value's location
};

// For each named keyword of a call: the name found by a byte search of the
// text between the keyword's start and its value's start (a name that the
// lexer normalised is not found there, and the keyword is left out), and the
// value expression's location. A later keyword of the same name replaces an
// earlier one.
KeywordLocationMaps keyword_location_maps(std::span<const python_ast::Keyword> keywords, FileLocations& source);

// The decorator of `decorators` that `names` selects: the first whose
// expression is a name in the set, or a call of such a name. Nullptr when
// none is, or when the set is empty.
const python_ast::Decorator* find_decorator(std::span<const python_ast::Decorator> decorators,
                                            const DecoratorNames& names);

// The range of the ":" that ends a `def` header without return annotation:
// the first ":" between the end of the parameter list and the first body
// statement (the end of the definition when the body is empty). Absent when
// that region is empty or there is no ":" in it.
std::optional<text_size::TextRange> missing_return_annotation_range(const python_ast::StmtFunctionDefinition& function,
                                                                    std::string_view text);

// One ResolverAST per function, in order. `returns` holds every return
// statement of the file in walk order (the walk that found `functions`);
// each function's return_statements are those of its body at any depth,
// nested definitions included.
std::vector<ResolverAST> collect_function_asts(std::span<const python_ast::StmtFunctionDefinition* const> functions,
                                               std::span<const python_ast::StmtReturn* const> returns,
                                               const DecoratorNames& resolver_names, std::string_view module,
                                               FileLocations& source);

// The field name a class-body statement defines: the target of an
// assignment to exactly one name, or the name target of an annotated
// assignment (with or without value).
std::optional<std::string_view> feature_field_name(const python_ast::Stmt& stmt);

FeatureFieldAST new_feature_field_ast(std::string field_name, Location field_name_location,
                                      const FieldCommentMetadata& metadata);

// The text of a comment: its source text without its leading "#"s, trimmed
// of Unicode white space.
std::string_view comment_text(std::string_view comment_source);

// The metadata of a comment block (its comment texts, top to bottom): the
// texts joined with "\n"; ":owner:" lines (the last one wins), ":tags:"
// lines (split at commas and white space) and the rest, the description,
// kept only when it holds more than white space.
FieldCommentMetadata comment_metadata(std::span<const std::string_view> block);

// The class source from `start` (moved back to its line start) to `end`
// (moved past the line break at or after it), dedented as ClassSource::text
// does. Line breaks are those of the line index: "\n", "\r\n", a lone "\r".
std::string dedented_source(std::string_view text, std::uint32_t start, std::uint32_t end);

// The feature classes among `classes`, in order.
std::vector<FeatureClassAST> collect_feature_class_asts(const ParsedFileCache& file,
                                                        std::span<const python_ast::StmtClassDefinition* const> classes,
                                                        std::string_view module, FileLocations& source);

}  // namespace tolva_ast::type_parsing
