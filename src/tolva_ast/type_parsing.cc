#include "tolva_ast/type_parsing.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "source_file/line_index.h"
#include "tolva_ast/statement_visitor.h"
#include "tolva_ast/type_parsing_internal.h"
#include "tolva_utils/namespace.h"
#include "tolva_utils/text.h"

namespace tolva_ast::type_parsing {

namespace {

using namespace python_ast;
using text_size::TextOffset;
using text_size::TextRange;

// The name a decorator expression stands for: a plain name, or the callee
// of a call when that is a plain name. Attribute forms and calls of calls
// give nothing.
const ExprName* decorator_name(const Expr& expression) {
  if (const auto* name = expression.as<ExprName>()) return name;
  if (const auto* call = expression.as<ExprCall>()) return call->function->as<ExprName>();
  return nullptr;
}

// The value of a string literal made of a single part.
std::optional<std::string_view> single_part_string(const Expr& expr) {
  const auto* literal = expr.as<ExprStringLiteral>();
  if (literal == nullptr || literal->value.is_implicit_concatenated()) return std::nullopt;
  return literal->value.to_str();
}

// Every function and class definition of a file, and every return
// statement, in walk order.
class DefinitionCollector final : public statement_visitor::StatementVisitor {
 public:
  std::vector<const StmtClassDefinition*> classes;
  std::vector<const StmtFunctionDefinition*> functions;
  std::vector<const StmtReturn*> returns;

  void visit_stmt(const Stmt& stmt) override {
    switch (stmt.kind()) {
      case StmtKind::FunctionDefinition:
        functions.push_back(&stmt.cast<StmtFunctionDefinition>());
        return;
      case StmtKind::ClassDefinition:
        classes.push_back(&stmt.cast<StmtClassDefinition>());
        return;
      case StmtKind::Return:
        returns.push_back(&stmt.cast<StmtReturn>());
        return;
      default:
        return;
    }
  }
};

// The offset of the first occurrence of `pattern` in `text`, or npos. A
// keyword's text nearly always begins with its name; otherwise (a name the
// lexer normalised) glibc's memmem searches in time linear in both lengths,
// where a plain search could compare every offset with most of the pattern.
std::size_t first_occurrence(std::string_view text, std::string_view pattern) {
  if (text.starts_with(pattern)) return 0;
  if (pattern.empty()) return 0;
  const void* found = ::memmem(text.data(), text.size(), pattern.data(), pattern.size());
  return found == nullptr ? std::string_view::npos : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
}

// The dict maps of one resolver decorator call: for each named keyword whose
// value is a dict display, its single-part string keys with the locations of
// the key and of the value.
void fill_dict_maps(std::span<const Keyword> keywords, FileLocations& source, ResolverAST& record) {
  for (const Keyword& keyword : keywords) {
    if (!keyword.arg.has_value()) continue;
    const auto* dict = keyword.value->as<ExprDict>();
    if (dict == nullptr) continue;
    LocationMap key_names;
    LocationMap values;
    for (const DictItem& item : dict->items) {
      if (item.key == nullptr) continue;
      const std::optional<std::string_view> key = single_part_string(*item.key);
      if (!key.has_value()) continue;
      key_names.insert_or_assign(*key, source.location(item.key->range));
      values.insert_or_assign(*key, source.location(item.value->range));
    }
    const std::string_view name = keyword.arg->as_str();
    if (!key_names.empty()) record.kwarg_dict_key_names.insert_or_assign(name, std::move(key_names));
    if (!values.empty()) record.kwarg_dict_values.insert_or_assign(name, std::move(values));
  }
}

// The positions in `returns` (every return of the file, in walk order) of
// the returns of `function`'s body at any depth. The walk offers statements
// in source order, and a body's statements lie in its range, so they are
// the returns that start from the body's first statement on and before its
// last one's end: one run of the list.
std::pair<std::size_t, std::size_t> returns_in_body(const StmtFunctionDefinition& function,
                                                    std::span<const StmtReturn* const> returns) {
  if (function.body.empty()) return {0, 0};
  const TextOffset from = function.body.front()->range.start();
  const TextOffset to = function.body.back()->range.end();
  const auto starts_before = [](const StmtReturn* ret, TextOffset at) { return ret->range.start() < at; };
  const auto first = std::lower_bound(returns.begin(), returns.end(), from, starts_before);
  const auto last = std::lower_bound(first, returns.end(), to, starts_before);
  return {static_cast<std::size_t>(first - returns.begin()), static_cast<std::size_t>(last - returns.begin())};
}

// The locations of all the returns of a file, which the records' return
// statement lists are slices of.
using SharedReturns = std::shared_ptr<const LocationSlice::Shared>;

ResolverAST function_ast(const StmtFunctionDefinition& function, const DecoratorNames& resolver_names,
                         std::string_view module, std::span<const StmtReturn* const> returns,
                         const SharedReturns& return_locations, FileLocations& source) {
  ResolverAST record;
  record.module = std::string(module);
  record.resolver_name = std::string(function.name.as_str());
  record.resolver_name_location = source.location(function.name.range);

  const Parameters empty_parameters;
  const Parameters& parameters = function.parameters != nullptr ? *function.parameters : empty_parameters;
  const std::size_t count = parameters.positional_only.size() + parameters.positional.size() +
                            parameters.keyword_only.size() + (parameters.var_positional != nullptr ? 1 : 0) +
                            (parameters.var_keyword != nullptr ? 1 : 0);
  record.args_in_order.reserve(count);
  record.args.reserve(count);
  for (const Parameter& parameter : parameters.iter()) {
    FunctionArgAST arg;
    arg.arg_name = std::string(parameter.name.as_str());
    arg.arg_location = source.location(parameter.range);
    if (parameter.annotation != nullptr) arg.annotation = source.location(parameter.annotation->range);
    record.args_in_order.push_back(arg.arg_name);
    record.args.insert_or_assign(parameter.name.as_str(), std::move(arg));
  }

  if (function.returns != nullptr) {
    record.return_annotation = source.location(function.returns->range);
  } else if (const auto colon = missing_return_annotation_range(function, source.text())) {
    record.missing_return_annotation = source.location(*colon);
  }

  if (!function.body.empty()) {
    const auto [first, last] = returns_in_body(function, returns);
    record.return_statements = LocationSlice(return_locations, first, last);
    record.body = source.location(TextRange(function.body.front()->range.start(), function.body.back()->range.end()));
    for (const Stmt* stmt : function.body) {
      if (const auto* ret = stmt->as<StmtReturn>()) {
        if (ret->value != nullptr) record.return_arg = source.location(ret->value->range);
        break;
      }
    }
  }

  if (const Decorator* decorator = find_decorator(function.decorators, resolver_names)) {
    record.decorator_location = source.location(decorator->expression->range);
    if (const auto* call = decorator->expression->as<ExprCall>()) {
      KeywordLocationMaps maps = keyword_location_maps(call->arguments.keywords, source);
      record.kwarg_names = std::move(maps.kwarg_names);
      record.kwargs = std::move(maps.kwargs);
      fill_dict_maps(call->arguments.keywords, source, record);
    }
  }
  return record;
}

// The lines of a text: pieces between "\n"s, a "\r" before each "\n"
// removed, no empty piece after a final "\n".
template <class Visit>
void for_each_line(std::string_view text, Visit&& visit) {
  while (!text.empty()) {
    const std::size_t break_at = text.find('\n');
    std::string_view line = text.substr(0, break_at);
    if (break_at != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    visit(line);
    if (break_at == std::string_view::npos) break;
    text.remove_prefix(break_at + 1);
  }
}

bool has_non_white_space(std::string_view text) { return !tolva_utils::text::trim_white_space(text).empty(); }

// Appends the pieces of `text` between runs of Unicode white space.
void append_white_space_split(std::string_view text, std::vector<std::string>& out) {
  std::size_t pos = 0;
  std::size_t piece_start = 0;
  bool in_piece = false;
  while (pos < text.size()) {
    const tolva_utils::text::Decoded unit = tolva_utils::text::decode_utf8(text, pos);
    const bool white = unit.valid && tolva_utils::text::is_white_space(unit.code_point);
    if (white && in_piece) {
      out.emplace_back(text.substr(piece_start, pos - piece_start));
      in_piece = false;
    } else if (!white && !in_piece) {
      piece_start = pos;
      in_piece = true;
    }
    pos += unit.length;
  }
  if (in_piece) out.emplace_back(text.substr(piece_start));
}

// The start of the line of `offset`: after the last line break before it,
// or 0.
std::size_t line_start(std::string_view text, std::size_t offset) {
  const std::size_t before = offset == 0 ? std::string_view::npos : text.find_last_of("\r\n", offset - 1);
  return before == std::string_view::npos ? 0 : before + 1;
}

// The whole lines of a class source: from the start of the line of `start`
// through the line break at or after `end` (or the end of the text).
std::pair<std::size_t, std::size_t> source_lines(std::string_view text, std::uint32_t start, std::uint32_t end) {
  const LineBreak after = next_line_break(text, end);
  return {line_start(text, start), after.at + after.length};
}

// The texts of the class sources of one file. A class's lines are copied
// once; the classes nested in it, which come after it in walk order, share
// the copy.
class SourceTexts {
 public:
  explicit SourceTexts(std::string_view text) : text_(text) {}

  ClassSource source(std::size_t from, std::size_t to) {
    if (shared_ == nullptr || from < from_ || to > from_ + shared_->size()) {
      shared_ = std::make_shared<const std::string>(text_.substr(from, to - from));
      from_ = from;
    }
    return ClassSource(shared_, from - from_, to - from_);
  }

 private:
  std::string_view text_;
  std::shared_ptr<const std::string> shared_;  // the lines from from_ on
  std::size_t from_ = 0;
};

// The field metadata of the candidates, by field name (a later candidate's
// block replaces an earlier one's of the same name).
using MetadataMap = TextMap<FieldCommentMetadata>;

// Each candidate's block: the own-line comments of the class on the lines
// right above its first line, down to the line of the previous candidate
// (whose comments above it were its own). A walk down the class's comments
// that keeps the last run of consecutive lines before each candidate finds
// the same blocks; walking up from each candidate instead reads only the
// comments of the blocks, not those of the nested classes and functions
// between the fields, which every enclosing class would read again.
MetadataMap collect_metadata(const ParsedFileCache& file, const StmtClassDefinition& klass,
                             std::span<const Stmt* const> candidates, std::span<const std::string_view> names,
                             FileLocations& source) {
  MetadataMap metadata;
  const std::string_view text = source.text();
  const std::span<const TextRange> comments = file.comment_ranges.comments_in_range(klass.range);
  if (comments.empty()) return metadata;

  std::vector<std::string_view> block;
  std::uint32_t previous_line = 0;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const TextOffset start = candidates[i]->range.start();
    const std::uint32_t line = source.positions().line(start);
    const std::uint32_t lowest = i == 0 ? 0 : previous_line;  // the lowest line a comment of the block may have
    previous_line = line;
    // Up from the last comment before the candidate, while each is an
    // own-line comment on the line above the one before. (A trailing
    // comment sits on a line of code, which ends the run anyway.)
    auto at = std::lower_bound(comments.begin(), comments.end(), start,
                               [](const TextRange& comment, TextOffset offset) { return comment.start() < offset; });
    block.clear();
    std::uint32_t below = line;  // the line under the next comment of the block
    while (at != comments.begin() && below > lowest) {
      const TextRange& comment = *--at;
      if (source.positions().line(comment.start()) != below - 1) break;
      if (!python_trivia::CommentRanges::is_own_line(comment.start(), text)) break;
      block.push_back(comment_text(text.substr(comment.start().raw, comment.length())));
      --below;
    }
    if (block.empty()) continue;
    std::reverse(block.begin(), block.end());
    metadata.insert_or_assign(names[i], comment_metadata(block));
  }
  return metadata;
}

// The metadata of a field without comments: constant-initialised, so no
// worker can be inside its initialisation when the process forks, and never
// destroyed, since workers may still read it while the process exits.
union EmptyFieldMetadata {
  constexpr EmptyFieldMetadata() : value() {}
  ~EmptyFieldMetadata() {}
  FieldCommentMetadata value;
};
constinit const EmptyFieldMetadata kEmptyFieldMetadata;

const FieldCommentMetadata& metadata_for(const MetadataMap& metadata, std::string_view name) {
  const FieldCommentMetadata* found = metadata.find(name);
  return found == nullptr ? kEmptyFieldMetadata.value : *found;
}

std::optional<FeatureClassAST> feature_class_ast(const ParsedFileCache& file, const StmtClassDefinition& klass,
                                                 const DecoratorNames& feature_names, std::string_view module,
                                                 FileLocations& source, SourceTexts& texts) {
  const Decorator* decorator = find_decorator(klass.decorators, feature_names);
  if (decorator == nullptr) return std::nullopt;
  const std::string_view text = source.text();

  FeatureClassAST record;
  record.module = std::string(module);
  record.class_name = std::string(klass.name.as_str());
  record.class_name_location = source.location(klass.name.range);

  // The whole line of the name, without its break; the "\r" of a "\r\n"
  // stays in it.
  const std::uint32_t name_start = klass.name.range.start().raw;
  const LineBreak after = next_line_break(text, name_start);
  const std::size_t line_end = after.length == 2 ? after.at + 1 : after.at;  // "\r\n" is the one break of two bytes
  record.class_definition_location = source.location(TextRange(static_cast<std::uint32_t>(line_start(text, name_start)),
                                                               static_cast<std::uint32_t>(line_end)));

  // Candidates: the field statements of the body's own list.
  std::vector<const Stmt*> candidates;
  std::vector<std::string_view> names;
  for (const Stmt* stmt : klass.body) {
    if (const auto name = feature_field_name(*stmt)) {
      candidates.push_back(stmt);
      names.push_back(*name);
    }
  }
  const MetadataMap metadata =
      candidates.empty() ? MetadataMap() : collect_metadata(file, klass, candidates, names, source);

  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const auto* annotated = candidates[i]->as<StmtAnnotatedAssignment>();
    if (annotated == nullptr) continue;
    FeatureFieldAST field =
        new_feature_field_ast(std::string(names[i]), source.location(annotated->target->range), metadata_for(metadata, names[i]));
    field.annotation = source.location(annotated->annotation->range);
    if (annotated->value != nullptr) {
      if (const auto* call = annotated->value->as<ExprCall>()) {
        field.feature_call = source.location(call->range);
        KeywordLocationMaps maps = keyword_location_maps(call->arguments.keywords, source);
        field.kwarg_names = std::move(maps.kwarg_names);
        field.kwargs = std::move(maps.kwargs);
      }
    }
    record.annotations.push_back(std::move(field));
  }

  // The field map: the first annotated statement of each name, then the
  // plain assignments, each adding its name or updating the entry.
  for (const FeatureFieldAST& annotated : record.annotations) {
    if (record.fields.find(annotated.field_name) == nullptr) record.fields.append_new(annotated.field_name, annotated);
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const auto* assignment = candidates[i]->as<StmtAssignment>();
    if (assignment == nullptr) continue;
    const FieldCommentMetadata& field_metadata = metadata_for(metadata, names[i]);
    FeatureFieldAST field = new_feature_field_ast(std::string(names[i]),
                                                  source.location(assignment->targets.front()->range), field_metadata);
    field.feature_call = source.location(assignment->value->range);
    if (const auto* call = assignment->value->as<ExprCall>()) {
      KeywordLocationMaps maps = keyword_location_maps(call->arguments.keywords, source);
      field.kwarg_names = std::move(maps.kwarg_names);
      field.kwargs = std::move(maps.kwargs);
    }
    FeatureFieldAST* const existing = record.fields.find(names[i]);
    if (existing == nullptr) {
      record.fields.append_new(std::string(names[i]), std::move(field));
      continue;
    }
    FeatureFieldAST& entry = *existing;
    if (!entry.comment.has_value()) entry.comment = field_metadata.comment;
    if (!entry.description.has_value()) entry.description = field_metadata.description;
    if (!entry.owner.has_value()) entry.owner = field_metadata.owner;
    if (entry.tags.empty()) entry.tags = field_metadata.tags;
    entry.feature_call = std::move(field.feature_call);
    entry.kwarg_names = std::move(field.kwarg_names);
    entry.kwargs = std::move(field.kwargs);
  }

  record.decorator_location = source.location(decorator->expression->range);
  std::optional<std::string_view> namespace_name;
  if (const auto* call = decorator->expression->as<ExprCall>()) {
    KeywordLocationMaps maps = keyword_location_maps(call->arguments.keywords, source);
    record.kwarg_names = std::move(maps.kwarg_names);
    record.kwargs = std::move(maps.kwargs);
    for (const Keyword& keyword : call->arguments.keywords) {
      if (keyword.arg.has_value() && keyword.arg->as_str() == "name") {
        namespace_name = single_part_string(*keyword.value);
        break;
      }
    }
  }
  record.namespace_ = namespace_name.has_value() ? std::string(*namespace_name)
                                                 : tolva_utils::namespace_::to_snake_case(record.class_name);

  const TextOffset start = klass.decorators.empty() ? klass.range.start() : klass.decorators.front().range.start();
  const auto [from, to] = source_lines(text, start.raw, klass.range.end().raw);
  record.source = texts.source(from, to);
  return record;
}

}  // namespace

DecoratorNames::DecoratorNames(std::vector<std::string_view> names) : names_(std::move(names)), sorted_(names_) {
  std::sort(sorted_.begin(), sorted_.end());
  sorted_.erase(std::unique(sorted_.begin(), sorted_.end()), sorted_.end());
}

bool DecoratorNames::contains(std::string_view name) const {
  return std::binary_search(sorted_.begin(), sorted_.end(), name);
}

DecoratorNames collect_import_names_for_symbols_from_map(const ImportMap& imports,
                                                         std::span<const std::string_view> modules,
                                                         std::span<const std::string_view> symbols) {
  std::vector<std::string_view> names;
  for (const std::string_view module : modules) {
    const auto entry = imports.find(module);
    if (entry == imports.end()) continue;
    for (const std::string_view symbol : symbols) {
      const auto locals = entry->second.find(symbol);
      if (locals == entry->second.end()) continue;
      for (const std::string& local : locals->second) names.push_back(local);
    }
  }
  return DecoratorNames(std::move(names));
}

Range expr_to_range(const Expr& expr, PositionConverter& source) { return source.range(expr.range); }

std::optional<Location> file_location_for_range(std::string_view path, Range range) {
  std::optional<std::string> uri = file_uri_for_path(path);
  if (!uri.has_value()) return std::nullopt;
  return Location{std::make_shared<const std::string>(std::move(*uri)), range};
}

KeywordLocationMaps keyword_location_maps(std::span<const Keyword> keywords, FileLocations& source) {
  KeywordLocationMaps maps;
  const std::string_view text = source.text();
  for (const Keyword& keyword : keywords) {
    if (!keyword.arg.has_value()) continue;
    const std::uint32_t s = keyword.range.start().raw;
    const std::uint32_t v = keyword.value->range.start().raw;
    if (s >= v || v > text.size()) continue;
    const std::string_view name = keyword.arg->as_str();
    const std::size_t found = first_occurrence(text.substr(s, v - s), name);
    if (found == std::string_view::npos) continue;
    const auto k = static_cast<std::uint32_t>(s + found);
    maps.kwarg_names.insert_or_assign(name, source.location(TextRange::at(TextOffset(k), static_cast<std::uint32_t>(name.size()))));
    maps.kwargs.insert_or_assign(name, source.location(keyword.value->range));
  }
  return maps;
}

const Decorator* find_decorator(std::span<const Decorator> decorators, const DecoratorNames& names) {
  if (names.empty()) return nullptr;
  for (const Decorator& decorator : decorators) {
    const ExprName* name = decorator_name(*decorator.expression);
    if (name != nullptr && names.contains(name->id.as_str())) return &decorator;
  }
  return nullptr;
}

std::optional<TextRange> missing_return_annotation_range(const StmtFunctionDefinition& function,
                                                          std::string_view text) {
  if (function.parameters == nullptr) return std::nullopt;
  const std::uint32_t from = function.parameters->range.end().raw;
  const std::uint32_t to = function.body.empty() ? function.range.end().raw : function.body.front()->range.start().raw;
  if (from >= to || to > text.size()) return std::nullopt;
  const std::size_t colon = text.substr(from, to - from).find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  return TextRange::at(TextOffset(static_cast<std::uint32_t>(from + colon)), 1);
}

std::vector<ResolverAST> collect_function_asts(std::span<const StmtFunctionDefinition* const> functions,
                                               std::span<const StmtReturn* const> returns,
                                               const DecoratorNames& resolver_names, std::string_view module,
                                               FileLocations& source) {
  std::vector<ResolverAST> records;
  if (functions.empty()) return records;
  // A return has one location, whatever the number of functions whose body
  // holds it.
  auto return_locations = std::make_shared<LocationSlice::Shared>();
  return_locations->uri = source.uri();
  return_locations->ranges.reserve(returns.size());
  for (const StmtReturn* ret : returns) return_locations->ranges.push_back(source.positions().range(ret->range));
  const SharedReturns shared_returns = std::move(return_locations);
  records.reserve(functions.size());
  for (const StmtFunctionDefinition* function : functions) {
    records.push_back(function_ast(*function, resolver_names, module, returns, shared_returns, source));
  }
  return records;
}

std::optional<std::string_view> feature_field_name(const Stmt& stmt) {
  if (const auto* assignment = stmt.as<StmtAssignment>()) {
    if (assignment->targets.size() != 1) return std::nullopt;
    if (const auto* name = assignment->targets.front()->as<ExprName>()) return name->id.as_str();
    return std::nullopt;
  }
  if (const auto* annotated = stmt.as<StmtAnnotatedAssignment>()) {
    if (const auto* name = annotated->target->as<ExprName>()) return name->id.as_str();
  }
  return std::nullopt;
}

FeatureFieldAST new_feature_field_ast(std::string field_name, Location field_name_location,
                                      const FieldCommentMetadata& metadata) {
  FeatureFieldAST field;
  field.field_name = std::move(field_name);
  field.field_name_location = std::move(field_name_location);
  field.comment = metadata.comment;
  field.description = metadata.description;
  field.owner = metadata.owner;
  field.tags = metadata.tags;
  return field;
}

std::string_view comment_text(std::string_view comment_source) {
  const std::size_t hashes = comment_source.find_first_not_of('#');
  comment_source.remove_prefix(hashes == std::string_view::npos ? comment_source.size() : hashes);
  return tolva_utils::text::trim_white_space(comment_source);
}

FieldCommentMetadata comment_metadata(std::span<const std::string_view> block) {
  FieldCommentMetadata metadata;
  std::string comment;
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (i > 0) comment.push_back('\n');
    comment += block[i];
  }
  std::string description;
  bool any_description_line = false;
  for_each_line(comment, [&](std::string_view line) {
    const std::string_view t = tolva_utils::text::trim_white_space(line);
    if (t.size() >= 7 && t.starts_with(":owner:")) {
      metadata.owner = std::string(tolva_utils::text::trim_white_space(t.substr(7)));
    } else if (t.size() >= 6 && t.starts_with(":tags:")) {
      std::string rest(t.substr(6));
      std::replace(rest.begin(), rest.end(), ',', ' ');
      append_white_space_split(rest, metadata.tags);
    } else {
      if (any_description_line) description.push_back('\n');
      description += line;
      any_description_line = true;
    }
  });
  if (has_non_white_space(description)) metadata.description = std::move(description);
  metadata.comment = std::move(comment);
  return metadata;
}

std::string dedented_source(std::string_view text, std::uint32_t start, std::uint32_t end) {
  const auto [from, to] = source_lines(text, start, end);
  return ClassSource::whole(std::string(text.substr(from, to - from))).text();
}

std::vector<FeatureClassAST> collect_feature_class_asts(const ParsedFileCache& file,
                                                        std::span<const StmtClassDefinition* const> classes,
                                                        std::string_view module, FileLocations& source) {
  std::vector<FeatureClassAST> records;
  const DecoratorNames feature_names =
      collect_import_names_for_symbols_from_map(file.imports, FEATURE_DECORATOR_MODULES, FEATURE_DECORATOR_SYMBOLS);
  if (feature_names.empty()) return records;
  SourceTexts texts(source.text());
  for (const StmtClassDefinition* klass : classes) {
    if (std::optional<FeatureClassAST> record = feature_class_ast(file, *klass, feature_names, module, source, texts)) {
      records.push_back(std::move(*record));
    }
  }
  return records;
}

ParsedAstFile parse_ast_file_with_feature_module(const ParsedFileCache& file, std::string_view module) {
  ParsedAstFile result;
  // The one decision of the file: whether its path gives locations at all.
  std::optional<std::string> uri = file_uri_for_path(file.path);
  if (!uri.has_value()) return result;

  DefinitionCollector definitions;
  statement_visitor::walk_body(file.body(), definitions);
  const DecoratorNames resolver_names =
      collect_import_names_for_symbols_from_map(file.imports, RESOLVER_DECORATOR_MODULES, RESOLVER_DECORATOR_SYMBOLS);
  const bool any_feature_classes =
      !definitions.classes.empty() &&
      !collect_import_names_for_symbols_from_map(file.imports, FEATURE_DECORATOR_MODULES, FEATURE_DECORATOR_SYMBOLS)
           .empty();
  if (definitions.functions.empty() && !any_feature_classes) return result;

  const std::string_view text = file.source();
  const source_file::LineIndex index = source_file::LineIndex::from_source_text(text);
  FileLocations source(text, index, std::make_shared<const std::string>(std::move(*uri)));

  result.functions = collect_function_asts(definitions.functions, definitions.returns, resolver_names, module, source);
  for (std::size_t i = 0; i < result.functions.size(); ++i) {
    if (result.functions[i].decorator_location.has_value()) result.resolvers.push_back(static_cast<std::uint32_t>(i));
  }
  if (any_feature_classes) result.feature_classes = collect_feature_class_asts(file, definitions.classes, module, source);
  return result;
}

}  // namespace tolva_ast::type_parsing
