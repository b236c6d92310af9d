#pragma once

// Shorthands for building syntax trees by hand in tests. Offsets are given
// explicitly so that every tree matches the source text written beside it.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "python_ast/arena.h"
#include "python_ast/nodes.h"
#include "python_ast/walk.h"

namespace python_ast::testing {

class TreeBuilder {
 public:
  Arena arena;

  static text_size::TextRange r(std::uint32_t start, std::uint32_t end) { return text_size::TextRange(start, end); }

  template <class T, class... Args>
  T* make(Args&&... args) {
    return arena.make<T>(std::forward<Args>(args)...);
  }

  template <class T>
  std::span<T> list(std::initializer_list<T> items) {
    std::span<T> copy = arena.make_array<T>(items.size());
    std::size_t i = 0;
    for (const T& item : items) copy[i++] = item;
    return copy;
  }
  std::span<Expr*> exprs(std::initializer_list<Expr*> items) { return list<Expr*>(items); }
  std::span<Stmt*> stmts(std::initializer_list<Stmt*> items) { return list<Stmt*>(items); }
  std::span<Pattern*> patterns(std::initializer_list<Pattern*> items) { return list<Pattern*>(items); }

  // An identifier of `text` starting at `start`.
  static Identifier ident(std::string_view text, std::uint32_t start) {
    return Identifier(Name(text), r(start, start + static_cast<std::uint32_t>(text.size())));
  }
  ExprName* name(std::string_view text, std::uint32_t start, ExpressionContext ctx = ExpressionContext::Load) {
    return make<ExprName>(r(start, start + static_cast<std::uint32_t>(text.size())), Name(text), ctx);
  }
  ExprNumberLiteral* integer(std::uint64_t value, std::uint32_t start, std::uint32_t end) {
    return make<ExprNumberLiteral>(r(start, end), NumberLiteralValue::of_int(Int::small(value)));
  }
  ExprStringLiteral* string(std::string_view value, std::uint32_t start, std::uint32_t end,
                            StringLiteralFlags flags = StringLiteralFlags()) {
    return make<ExprStringLiteral>(r(start, end),
                                   StringLiteralValue::single(arena, StringLiteral(r(start, end), value, flags)));
  }
  Parameters* no_parameters(std::uint32_t start, std::uint32_t end) {
    return make<Parameters>(r(start, end), std::span<ParameterWithDefault>{}, std::span<ParameterWithDefault>{},
                            nullptr, std::span<ParameterWithDefault>{}, nullptr);
  }
  ModModule* module(std::uint32_t end, std::initializer_list<Stmt*> body) {
    return make<ModModule>(r(0, end), stmts(body));
  }
};

// A hand-built tree with its source text and its expected dump.
struct DumpFixture {
  std::string_view source;
  AnyNodeRef root;
  std::string_view expected;
};

// One or more trees per node family; together they hold every node type.
// Defined in dump_fixtures_test.cc; the nodes live in `b`.
std::vector<DumpFixture> dump_fixtures(TreeBuilder& b);

}  // namespace python_ast::testing
