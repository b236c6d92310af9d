#pragma once

// A reference to any syntax node, and the source-order walk of a tree.
//
// The walk visits a node and then every node below it, each child in source
// order, calling `enter` before a node's children and `leave` after them. It
// keeps its own stack on the heap, one small frame per open node, so the
// deepest tree (a 10^6-term `1+1+...` chain) walks in constant machine
// stack.
//
// Source order is declared order except where the source interleaves
// fields: the body of `body if test else orelse` comes before its test; call
// arguments come positional and keyword merged by their start; the keys and
// patterns of a mapping pattern alternate. A dict item is not a node: the
// walk goes straight from a dict to its keys and values. Identifiers (names
// with a range) are nodes and are visited; `ExprName`'s plain `Name` is not.

#include <cstdint>
#include <string_view>

#include "python_ast/nodes.h"

namespace python_ast {

// The node type of a record: `T::kNodeType`, and NodeType::Identifier for
// Identifier (defined elsewhere, without the member).
template <class T>
inline constexpr NodeType node_type_v = T::kNodeType;
template <>
inline constexpr NodeType node_type_v<Identifier> = NodeType::Identifier;

// A borrowed reference to one node of any type: its address and node type.
// Two words, copied by value; never null.
class AnyNodeRef {
 public:
  AnyNodeRef(const Mod& node) : node_(&node), type_(node.node_type()) {}                        // NOLINT: implicit
  AnyNodeRef(const Stmt& node) : node_(&node), type_(node.node_type()) {}                       // NOLINT
  AnyNodeRef(const Expr& node) : node_(&node), type_(node.node_type()) {}                       // NOLINT
  AnyNodeRef(const Pattern& node) : node_(&node), type_(node.node_type()) {}                    // NOLINT
  AnyNodeRef(const ExceptHandler& node) : node_(&node), type_(node.node_type()) {}              // NOLINT
  AnyNodeRef(const TypeParam& node) : node_(&node), type_(node.node_type()) {}                  // NOLINT
  AnyNodeRef(const InterpolatedStringElement& node) : node_(&node), type_(node.node_type()) {}  // NOLINT
#define TOLVA_ANY_NODE_REF_FROM_RECORD(record) \
  AnyNodeRef(const record& node) : node_(&node), type_(NodeType::record) {}  // NOLINT: implicit
  TOLVA_RECORD_NODES(TOLVA_ANY_NODE_REF_FROM_RECORD)
#undef TOLVA_ANY_NODE_REF_FROM_RECORD

  NodeType type() const { return type_; }
  // The record name: "ExprCall", "Identifier", ...
  std::string_view type_name() const { return node_type_name(type_); }
  // The node's range. A dict item, which has none, reports the cover of its
  // key and value.
  text_size::TextRange range() const;
  const void* address() const { return node_; }

  // The node as record T, or nullptr when it is another record.
  template <class T>
  const T* as() const {
    return type_ == node_type_v<T> ? static_cast<const T*>(node_) : nullptr;
  }
  // The node as a member of a family, or nullptr.
  const Mod* as_mod() const;
  const Stmt* as_stmt() const;
  const Expr* as_expr() const;
  const Pattern* as_pattern() const;

  // Same node.
  bool operator==(const AnyNodeRef& other) const { return node_ == other.node_ && type_ == other.type_; }

 private:
  const void* node_;
  NodeType type_;
};

// What the walk does after `enter`.
enum class WalkAction : std::uint8_t {
  Continue,      // visit the node's children
  SkipChildren,  // go on after the node; `leave` is still called for it
};

class SourceOrderVisitor {
 public:
  virtual ~SourceOrderVisitor() = default;
  virtual WalkAction enter(AnyNodeRef node);
  virtual void leave(AnyNodeRef node);
};

// Walks `root` and every node below it. An exception thrown by the visitor
// leaves the walk.
void walk(AnyNodeRef root, SourceOrderVisitor& visitor);

// Calls `enter(AnyNodeRef)` for `root` and every node below it, in source
// pre-order.
template <class Enter>
void walk_preorder(AnyNodeRef root, Enter&& enter) {
  struct Adapter final : SourceOrderVisitor {
    explicit Adapter(Enter& function) : function_(function) {}
    WalkAction enter(AnyNodeRef node) override {
      function_(node);
      return WalkAction::Continue;
    }
    Enter& function_;
  };
  Adapter adapter(enter);
  walk(root, adapter);
}

}  // namespace python_ast
