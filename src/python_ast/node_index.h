#pragma once

// The index slot of a syntax node.
//
// Every node carries one, for a numbering of the tree's nodes. This system
// never numbers nodes: every slot keeps the unassigned value 0xFFFFFFFE, and
// copying a node copies it. Nothing writes the slot after construction, so a
// plain 32-bit value serves where a shared, concurrently numbered tree would
// need an atomic; it keeps nodes trivially copyable and destructible.

#include <cstdint>
#include <ostream>

namespace python_ast {

class AtomicNodeIndex {
 public:
  // The largest 32-bit value minus one: not assigned.
  static constexpr std::uint32_t kUnassigned = 0xFFFFFFFE;

  constexpr AtomicNodeIndex() = default;

  constexpr std::uint32_t load() const { return value_; }
  constexpr AtomicNodeIndex clone() const { return *this; }

  constexpr bool operator==(const AtomicNodeIndex&) const = default;

 private:
  std::uint32_t value_ = kUnassigned;
};

static_assert(sizeof(AtomicNodeIndex) == 4);

inline std::ostream& operator<<(std::ostream& out, AtomicNodeIndex index) { return out << index.load(); }

}  // namespace python_ast
