#pragma once

// `ModuleTree`: one parse's syntax tree with everything it points into.
//
// A tree's nodes live in its Arena, and its names and literal texts are
// views of its source text or of arena text, so the tree owns all three: the
// source, the arena and the root. It is built once by the parser and then
// only read; users hold it as `std::shared_ptr<const ModuleTree>`
// (`SharedModuleTree`) and keep it alive for as long as they look at any of
// its nodes, in place of copying statements out of it. Freeing the last
// holder frees the arena in one sweep, however deep the tree.
//
// Building:
//   auto tree = std::make_shared<ModuleTree>(std::move(text));
//   // lex and parse tree->source() (never the caller's buffer), allocating
//   // every node in tree->arena()
//   tree->set_root(module);
//   SharedModuleTree shared = std::move(tree);

#include <memory>
#include <string>
#include <string_view>

#include "python_ast/arena.h"
#include "python_ast/nodes.h"

namespace python_ast {

class ModuleTree {
 public:
  explicit ModuleTree(std::string source) : source_(std::move(source)) {}
  ModuleTree(const ModuleTree&) = delete;
  ModuleTree& operator=(const ModuleTree&) = delete;

  // The text the tree was parsed from; node views point into it.
  std::string_view source() const { return source_; }

  // The arena of the nodes; only the builder writes to it.
  Arena& arena() { return arena_; }
  const Arena& arena() const { return arena_; }

  // Sets the root, a node of this tree's arena.
  void set_root(const Mod& root) { root_ = &root; }
  bool has_root() const { return root_ != nullptr; }

  // The root; throws FatalError when none was set.
  const Mod& root() const;
  // The root as a module; throws FatalError for another root.
  const ModModule& module() const;
  // The root as an expression; throws FatalError for another root.
  const ModExpression& expression() const;

 private:
  std::string source_;
  Arena arena_;
  const Mod* root_ = nullptr;
};

using SharedModuleTree = std::shared_ptr<const ModuleTree>;

}  // namespace python_ast
