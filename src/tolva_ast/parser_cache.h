#pragma once

// The parse cache: each path text read and parsed once, the outcome kept,
// failures included; and module names from paths below the project root.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.h"
#include "tolva_ast/ast_filesystem.h"
#include "tolva_ast/parser_cache_types.h"

namespace tolva_ast {

// The dotted module name of the absolute path `path` below `root`.
std::string module_name_for_absolute_path(std::string_view path, std::string_view root);

// Whether a parse cache keeps the files it parsed (failures are kept
// always). The project index's own cache does not: the index keeps only the
// analysis, and asks for each path text at most once.
enum class KeepParsedFiles { yes, no };

class AstFileParserCache {
 public:
  // Over a StdAstFileSystem built from `files`.
  AstFileParserCache(std::string project_root, std::vector<std::string> files);
  // Over a shared file system; lists it once for the module-name table.
  static AstFileParserCache with_filesystem(std::string project_root, SharedAstFileSystem filesystem,
                                            KeepParsedFiles keep = KeepParsedFiles::yes);

  tolva::Result<SharedParsedFileCache> get_parsed_file(std::string_view path) const;
  std::string module_name_for_path(std::string_view path) const;
  tolva::Result<std::vector<std::string>> all_files() const;

  struct Inner;

 private:
  explicit AstFileParserCache(std::shared_ptr<Inner> inner) : inner_(std::move(inner)) {}
  std::shared_ptr<Inner> inner_;  // never null; copies share it
};

}  // namespace tolva_ast
