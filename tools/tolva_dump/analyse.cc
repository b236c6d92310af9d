#include "tolva_dump/analyse.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <vector>

#include "support/fatal_error.h"
#include "tolva_ast/ast_filesystem.h"
#include "tolva_ast/ast_types.h"
#include "tolva_ast/locations.h"
#include "tolva_ast/parser_cache.h"
#include "tolva_ast/parser_cache_types.h"
#include "tolva_ast/type_parsing.h"
#include "tolva_dump/input.h"

namespace tolva_dump {

namespace {

using namespace tolva_ast;

// A JSON string: quotes and backslashes escaped, control characters (C0,
// DEL and C1, general category Cc) as \u00XX, everything else as its UTF-8
// bytes.
void append_string(std::string& out, std::string_view text) {
  out.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    unsigned control = 0x100;  // none
    if (byte < 0x20 || byte == 0x7F) {
      control = byte;
    } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      control = static_cast<unsigned char>(text[++i]);
    }
    if (control != 0x100) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", control);
      out += buffer;
    } else if (byte == '"' || byte == '\\') {
      out.push_back('\\');
      out.push_back(text[i]);
    } else {
      out.push_back(text[i]);
    }
  }
  out.push_back('"');
}

void append_optional_string(std::string& out, const std::optional<std::string>& text) {
  if (text.has_value()) {
    append_string(out, *text);
  } else {
    out += "null";
  }
}

void append_key(std::string& out, std::string_view key, bool first = false) {
  if (!first) out += ", ";
  append_string(out, key);
  out += ": ";
}

void append_location(std::string& out, const Location& location) {
  const Range& r = location.range;
  out.push_back('[');
  append_number(out, r.start.line);
  out += ", ";
  append_number(out, r.start.character);
  out += ", ";
  append_number(out, r.end.line);
  out += ", ";
  append_number(out, r.end.character);
  out.push_back(']');
}

void append_location(std::string& out, const std::optional<Location>& location) {
  if (location.has_value()) {
    append_location(out, *location);
  } else {
    out += "null";
  }
}

void append_strings(std::string& out, const std::vector<std::string>& texts) {
  out.push_back('[');
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out += ", ";
    append_string(out, texts[i]);
  }
  out.push_back(']');
}

// A map as an object with its keys in byte order.
template <class V, class Write>
void append_map(std::string& out, const TextMap<V>& map, Write&& write) {
  std::vector<const typename TextMap<V>::Entry*> entries;
  entries.reserve(map.size());
  for (const auto& entry : map) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
  out.push_back('{');
  for (std::size_t i = 0; i < entries.size(); ++i) {
    append_key(out, entries[i]->first, i == 0);
    write(out, entries[i]->second);
  }
  out.push_back('}');
}

void append_location_map(std::string& out, const LocationMap& map) {
  append_map(out, map, [](std::string& o, const Location& l) { append_location(o, l); });
}

void append_nested_location_map(std::string& out, const NestedLocationMap& map) {
  append_map(out, map, [](std::string& o, const LocationMap& inner) { append_location_map(o, inner); });
}

void append_arg(std::string& out, const FunctionArgAST& arg) {
  out.push_back('{');
  append_key(out, "arg_name", true);
  append_string(out, arg.arg_name);
  append_key(out, "arg_location");
  append_location(out, arg.arg_location);
  append_key(out, "annotation");
  append_location(out, arg.annotation);
  out.push_back('}');
}

void append_resolver(std::string& out, const ResolverAST& r) {
  out.push_back('{');
  append_key(out, "module", true);
  append_string(out, r.module);
  append_key(out, "resolver_name");
  append_string(out, r.resolver_name);
  append_key(out, "resolver_name_location");
  append_location(out, r.resolver_name_location);
  append_key(out, "decorator_location");
  append_location(out, r.decorator_location);
  append_key(out, "kwarg_names");
  append_location_map(out, r.kwarg_names);
  append_key(out, "kwargs");
  append_location_map(out, r.kwargs);
  append_key(out, "kwarg_dict_key_names");
  append_nested_location_map(out, r.kwarg_dict_key_names);
  append_key(out, "kwarg_dict_values");
  append_nested_location_map(out, r.kwarg_dict_values);
  append_key(out, "args_in_order");
  append_strings(out, r.args_in_order);
  append_key(out, "args");
  append_map(out, r.args, [](std::string& o, const FunctionArgAST& arg) { append_arg(o, arg); });
  append_key(out, "return_annotation");
  append_location(out, r.return_annotation);
  append_key(out, "missing_return_annotation");
  append_location(out, r.missing_return_annotation);
  append_key(out, "return_statements");
  out.push_back('[');
  for (std::size_t i = 0; i < r.return_statements.size(); ++i) {
    if (i > 0) out += ", ";
    append_location(out, r.return_statements[i]);
  }
  out.push_back(']');
  append_key(out, "body");
  append_location(out, r.body);
  append_key(out, "return_arg");
  append_location(out, r.return_arg);
  out.push_back('}');
}

void append_field(std::string& out, const FeatureFieldAST& f) {
  out.push_back('{');
  append_key(out, "field_name", true);
  append_string(out, f.field_name);
  append_key(out, "field_name_location");
  append_location(out, f.field_name_location);
  append_key(out, "comment");
  append_optional_string(out, f.comment);
  append_key(out, "description");
  append_optional_string(out, f.description);
  append_key(out, "owner");
  append_optional_string(out, f.owner);
  append_key(out, "tags");
  append_strings(out, f.tags);
  append_key(out, "annotation");
  append_location(out, f.annotation);
  append_key(out, "feature_call");
  append_location(out, f.feature_call);
  append_key(out, "kwarg_names");
  append_location_map(out, f.kwarg_names);
  append_key(out, "kwargs");
  append_location_map(out, f.kwargs);
  out.push_back('}');
}

void append_feature_class(std::string& out, const FeatureClassAST& k) {
  out.push_back('{');
  append_key(out, "module", true);
  append_string(out, k.module);
  append_key(out, "namespace");
  append_string(out, k.namespace_);
  append_key(out, "class_name");
  append_string(out, k.class_name);
  append_key(out, "source");
  append_string(out, k.source.text());
  append_key(out, "class_name_location");
  append_location(out, k.class_name_location);
  append_key(out, "class_definition_location");
  append_location(out, k.class_definition_location);
  append_key(out, "decorator_location");
  append_location(out, k.decorator_location);
  append_key(out, "kwarg_names");
  append_location_map(out, k.kwarg_names);
  append_key(out, "kwargs");
  append_location_map(out, k.kwargs);
  append_key(out, "fields");
  append_map(out, k.fields, [](std::string& o, const FeatureFieldAST& f) { append_field(o, f); });
  append_key(out, "annotations");
  out.push_back('[');
  for (std::size_t i = 0; i < k.annotations.size(); ++i) {
    if (i > 0) out += ", ";
    append_field(out, k.annotations[i]);
  }
  out.push_back(']');
  out.push_back('}');
}

// The URI that the analysis's locations carry, or the path's own when the
// analysis found nothing to locate.
std::optional<std::string> uri_of(const ParsedAstFile& analysis, std::string_view path) {
  if (!analysis.functions.empty()) return *analysis.functions.front().resolver_name_location.uri;
  if (!analysis.feature_classes.empty()) return *analysis.feature_classes.front().class_name_location.uri;
  return file_uri_for_path(path);
}

// The absolute form the parse cache names a path by: the path itself when
// it begins with "/", else joined to the root.
std::string absolute_form(const std::string& root, const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  if (root.empty() || root.back() == '/') return root + path;
  return root + "/" + path;
}

}  // namespace

int analyse_files(const std::string& root, std::span<const std::string> paths, std::ostream& out) {
  const StdAstFileSystem filesystem(std::vector<std::string>(paths.begin(), paths.end()));
  int status = 0;
  std::string line;
  for (const std::string& path : paths) {
    line.clear();
    line += "{";
    append_key(line, "path", true);
    append_string(line, path);
    append_key(line, "module");
    append_string(line, module_name_for_absolute_path(absolute_form(root, path), root));
    try {
      tolva::Result<std::string> text = filesystem.read_to_string(path);
      tolva::Result<SharedParsedFileCache> parsed =
          text.has_value() ? parse_file_for_cache(path, std::move(text).value())
                           : tolva::Result<SharedParsedFileCache>(tolva::Error{"Failed to read " + path + ": " + text.error()});
      if (!parsed.has_value()) {
        append_key(line, "error");
        append_string(line, parsed.error());
      } else {
        const ParsedAstFile analysis = type_parsing::parse_ast_file_with_feature_module(
            *parsed.value(), module_name_for_absolute_path(absolute_form(root, path), root));
        const std::optional<std::string> uri = uri_of(analysis, path);
        append_key(line, "uri");
        append_optional_string(line, uri);
        append_key(line, "feature_classes");
        line.push_back('[');
        for (std::size_t i = 0; i < analysis.feature_classes.size(); ++i) {
          if (i > 0) line += ", ";
          append_feature_class(line, analysis.feature_classes[i]);
        }
        line.push_back(']');
        append_key(line, "functions");
        line.push_back('[');
        for (std::size_t i = 0; i < analysis.functions.size(); ++i) {
          if (i > 0) line += ", ";
          append_resolver(line, analysis.functions[i]);
        }
        line.push_back(']');
        append_key(line, "resolvers");
        line.push_back('[');
        for (std::size_t i = 0; i < analysis.resolvers.size(); ++i) {
          if (i > 0) line += ", ";
          append_resolver(line, analysis.resolver(i));
        }
        line.push_back(']');
      }
    } catch (const tolva::FatalError& error) {
      report_fatal(path, error.message());
      status = 3;
      continue;
    }
    line += "}\n";
    out << line;
  }
  out.flush();
  return status;
}

}  // namespace tolva_dump
