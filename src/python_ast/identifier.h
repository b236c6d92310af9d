#pragma once

// `Identifier`: a name with its place in the source.
//
// The parser makes an empty identifier (empty name, empty range at the point
// where a name was expected) when it reports a missing name; code that uses
// the name asks `is_valid()` first.

#include <ostream>
#include <string_view>
#include <type_traits>

#include "python_ast/name.h"
#include "python_ast/node_index.h"
#include "text_size/text_size.h"

namespace python_ast {

struct Identifier {
  Name id;
  text_size::TextRange range;
  AtomicNodeIndex node_index;

  // The empty identifier at offset 0.
  constexpr Identifier() = default;
  // A name at `range`, its node index unassigned.
  constexpr Identifier(Name name, text_size::TextRange at) : id(name), range(at) {}

  // True when the name is not empty.
  constexpr bool is_valid() const { return !id.empty(); }
  constexpr std::string_view as_str() const { return id.as_str(); }
};

static_assert(std::is_trivially_copyable_v<Identifier>);
static_assert(std::is_trivially_destructible_v<Identifier>);

inline std::ostream& operator<<(std::ostream& out, const Identifier& identifier) { return out << identifier.id; }

}  // namespace python_ast
