#include "tolva_ast/parser_cache.h"

#include <optional>

#include "tolva_ast/path_text.h"

namespace tolva_ast {

std::string module_name_for_absolute_path(std::string_view path, std::string_view root) {
  // The parts are the name components below the root: "__init__.py" adds
  // nothing, a name ending in ".py" adds itself without it, any other name
  // (a directory, "data.json", "M.PY") adds itself whole. The root, "." and
  // ".." add nothing; ".." is not resolved against its predecessor.
  if (std::optional<path_text::ComponentCursor> rest = path_text::strip_prefix(path, root)) {
    std::string dotted;
    bool any = false;
    while (const std::optional<path_text::Component> component = rest->next()) {
      if (component->kind != path_text::ComponentKind::name) continue;
      std::string_view part = component->text;
      if (part == "__init__.py") continue;
      if (part.ends_with(".py")) part.remove_suffix(3);
      if (any) dotted.push_back('.');
      dotted.append(part);
      any = true;
    }
    if (any) return dotted;
  }
  // Not below the root, or nothing named below it: the file stem, else the
  // path itself.
  if (const std::optional<std::string_view> name = path_text::file_name(path)) {
    return std::string(path_text::stem_of_name(*name));
  }
  return std::string(path);
}

}  // namespace tolva_ast
