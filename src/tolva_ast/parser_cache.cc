#include "tolva_ast/parser_cache.h"

#include <optional>
#include <unordered_map>

#include "tolva_ast/once_cache.h"
#include "tolva_ast/path_text.h"

namespace tolva_ast {

namespace {

constexpr OnceCacheTexts kParseCacheTexts{
    .map_poisoned = "AST file entry map lock poisoned",
    .entry_poisoned_for = "AST parse cache lock poisoned for ",
};

struct KeyHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
};

}  // namespace

// The locks of this cache are the entry map lock and one mutex per entry of
// `entries` (see once_cache.h for their order); everything else is fixed at
// construction and read without locks.
struct AstFileParserCache::Inner {
  Inner(std::string project_root, SharedAstFileSystem filesystem, bool keep_parsed_files)
      : filesystem(std::move(filesystem)),
        project_root(std::move(project_root)),
        entries(kParseCacheTexts, keep_parsed_files) {}

  const SharedAstFileSystem filesystem;
  const std::string project_root;
  // From the comparison key of an absolute path (paths compared component
  // by component) to its module name; filled at construction.
  std::unordered_map<std::string, std::string, KeyHash, std::equal_to<>> module_names;
  OnceCache<SharedParsedFileCache> entries;
};

namespace {

// A path starting with "/" as it is; any other joined to the root. Not
// cleaned: "." and ".." stay.
std::string absolute_form(std::string_view path, std::string_view root) {
  if (path.starts_with('/')) return std::string(path);
  std::string joined(root);
  if (!joined.empty() && !joined.ends_with('/')) joined.push_back('/');
  joined.append(path);
  return joined;
}

}  // namespace

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

AstFileParserCache::AstFileParserCache(std::string project_root, std::vector<std::string> files)
    : AstFileParserCache(with_filesystem(std::move(project_root),
                                         std::make_shared<const StdAstFileSystem>(std::move(files)))) {}

AstFileParserCache AstFileParserCache::with_filesystem(std::string project_root, SharedAstFileSystem filesystem,
                                                       KeepParsedFiles keep) {
  tolva::check(filesystem != nullptr, "AstFileParserCache needs a file system");
  auto inner = std::make_shared<Inner>(std::move(project_root), std::move(filesystem), keep == KeepParsedFiles::yes);
  // A listing failure leaves the table empty: names are then computed on
  // each request instead.
  const tolva::Result<std::vector<std::string>> listed = inner->filesystem->all_files();
  if (listed.has_value()) {
    inner->module_names.reserve(listed.value().size());
    for (const std::string& path : listed.value()) {
      const std::string absolute = absolute_form(path, inner->project_root);
      inner->module_names.insert_or_assign(path_text::comparison_key(absolute),
                                           module_name_for_absolute_path(absolute, inner->project_root));
    }
  }
  return AstFileParserCache(std::move(inner));
}

tolva::Result<SharedParsedFileCache> AstFileParserCache::get_parsed_file(std::string_view path) const {
  BlockingNotice notice;
  return inner_->entries.get(
      path,
      [&]() -> tolva::Result<SharedParsedFileCache> {
        tolva::Result<std::string> text = inner_->filesystem->read_to_string(path);
        if (!text.has_value()) {
          std::string message = "Failed to read ";
          message.append(path);
          message.append(": ");
          message.append(text.error());
          return tolva::Error{std::move(message)};
        }
        return parse_file_for_cache(std::string(path), std::move(text).value());
      },
      notice);
}

std::string AstFileParserCache::module_name_for_path(std::string_view path) const {
  const std::string absolute = absolute_form(path, inner_->project_root);
  if (const auto found = inner_->module_names.find(path_text::comparison_key(absolute));
      found != inner_->module_names.end()) {
    return found->second;
  }
  return module_name_for_absolute_path(absolute, inner_->project_root);
}

tolva::Result<std::vector<std::string>> AstFileParserCache::all_files() const { return inner_->filesystem->all_files(); }

}  // namespace tolva_ast
