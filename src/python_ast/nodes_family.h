#pragma once

// The common header of the node families and the checked downcasts.
//
// A family base (`Expr`, `Stmt`, ...) holds the node index, the range and a
// private kind tag; each variant record derives from it, sets the tag in its
// constructor and names its kind in `kKind`. Bases cannot be built, copied or
// assigned on their own (no slicing); records copy bytewise.
//
//   const ExprCall* call = expr->as<ExprCall>();  // nullptr on another kind
//   const ExprCall& call = expr->cast<ExprCall>();  // FatalError on another kind

#include <string_view>
#include <type_traits>

#include "python_ast/node_index.h"
#include "python_ast/nodes_common.h"
#include "text_size/text_size.h"

// The body of a family base. `Family` is the base's name, `Kind` its kind
// enumeration.
#define TOLVA_NODE_FAMILY_BASE(Family, Kind)                                                  \
 public:                                                                                      \
  AtomicNodeIndex node_index;                                                                 \
  text_size::TextRange range;                                                                 \
                                                                                              \
  constexpr Kind kind() const { return kind_; }                                               \
  std::string_view kind_name() const { return ::python_ast::kind_name(kind_); }               \
  constexpr NodeType node_type() const { return ::python_ast::node_type_of(kind_); }          \
                                                                                              \
  template <class T>                                                                          \
  constexpr bool is() const {                                                                 \
    static_assert(std::is_base_of_v<Family, T>, "a variant of this family");                  \
    return kind_ == T::kKind;                                                                 \
  }                                                                                           \
  template <class T>                                                                          \
  T* as() {                                                                                   \
    return is<T>() ? static_cast<T*>(this) : nullptr;                                         \
  }                                                                                           \
  template <class T>                                                                          \
  const T* as() const {                                                                       \
    return is<T>() ? static_cast<const T*>(this) : nullptr;                                   \
  }                                                                                           \
  template <class T>                                                                          \
  T& cast() {                                                                                 \
    if (!is<T>()) [[unlikely]] {                                                              \
      ::python_ast::nodes_detail::wrong_variant(::python_ast::kind_name(T::kKind), kind_name()); \
    }                                                                                         \
    return static_cast<T&>(*this);                                                            \
  }                                                                                           \
  template <class T>                                                                          \
  const T& cast() const {                                                                     \
    if (!is<T>()) [[unlikely]] {                                                              \
      ::python_ast::nodes_detail::wrong_variant(::python_ast::kind_name(T::kKind), kind_name()); \
    }                                                                                         \
    return static_cast<const T&>(*this);                                                      \
  }                                                                                           \
                                                                                              \
 protected:                                                                                   \
  constexpr Family(Kind kind, text_size::TextRange node_range) : range(node_range), kind_(kind) {} \
  Family(const Family&) = default;                                                            \
  Family& operator=(const Family&) = default;                                                 \
                                                                                              \
 private:                                                                                     \
  Kind kind_;                                                                                 \
                                                                                              \
 public:

// The identity of a variant record of a family.
#define TOLVA_NODE_VARIANT(Kind, kind)                                   \
  static constexpr Kind kKind = Kind::kind;                              \
  static constexpr NodeType kNodeType = ::python_ast::node_type_of(kKind);

// The identity of a record that is not a family.
#define TOLVA_NODE_RECORD(record) static constexpr NodeType kNodeType = NodeType::record;
