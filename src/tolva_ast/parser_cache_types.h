#pragma once

// `ParsedFileCache`: one read and parsed file, as the parse cache keeps it.

#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "python_ast/module.h"
#include "python_ast/nodes.h"
#include "python_trivia/comment_ranges.h"
#include "support/result.h"

namespace tolva_ast {

// From the top-level, level-0 `from M import N as L` statements: M, then N,
// then the set of local names L. Ordered containers, so every level iterates
// in byte order.
using ImportMap = std::map<std::string, std::map<std::string, std::set<std::string>, std::less<>>, std::less<>>;

struct ParsedFileCache {
  // The path exactly as passed to get_parsed_file.
  std::string path;
  // Owns the file's text (as read), the arena of the nodes and the module.
  python_ast::SharedModuleTree tree;
  ImportMap imports;
  python_trivia::CommentRanges comment_ranges;

  // The whole file content as read_to_string returned it.
  std::string_view source() const { return tree->source(); }
  // The module's top-level statements.
  std::span<python_ast::Stmt* const> body() const { return tree->module().body; }
};

using SharedParsedFileCache = std::shared_ptr<const ParsedFileCache>;

// Parses `source`, the text read from `path`, with parse_module and builds
// the record: the tree, the top-level from-import map and the comment
// ranges (the token list is then released). A syntax error gives "Failed to
// parse {path}: {error}".
tolva::Result<SharedParsedFileCache> parse_file_for_cache(std::string path, std::string source);

}  // namespace tolva_ast
