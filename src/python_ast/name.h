#pragma once

// `Name`: the text of an identifier, as a view of text that lives elsewhere.
//
// A name points into the source text (pure-ASCII identifiers, which keep
// their source spelling) or into the parse's Arena (NFKC-normalised
// identifiers, names invented by error recovery). Either way the text
// outlives the syntax tree that holds the name, so the name itself is a
// pointer and a 32-bit length: trivially copyable, trivially destructible,
// and never allocating. The empty name is legal; it stands for a name that
// error recovery invented.
//
// Names compare, order and hash by their bytes.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string_view>
#include <type_traits>

#include "python_ast/arena.h"
#include "support/fatal_error.h"

namespace python_ast {

class Name {
 public:
  // The empty name.
  constexpr Name() = default;

  // A view of `text`, which the caller keeps alive as long as the name (a
  // slice of the source text, a literal). A text of 2^32 bytes or more throws
  // FatalError (source texts are shorter than that).
  constexpr explicit Name(std::string_view text)
      : data_(text.data()), size_(static_cast<std::uint32_t>(text.size())) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) [[unlikely]] {
      tolva::fatal("a name is shorter than 4 GiB");
    }
  }

  // A name whose text is a copy of `text` in `arena`.
  static Name copy(Arena& arena, std::string_view text) { return Name(arena.copy_text(text)); }

  constexpr std::string_view as_str() const { return {data_, size_}; }
  constexpr const char* data() const { return data_; }
  constexpr std::uint32_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }

  friend constexpr bool operator==(Name a, Name b) { return a.as_str() == b.as_str(); }
  friend constexpr std::strong_ordering operator<=>(Name a, Name b) { return a.as_str() <=> b.as_str(); }
  friend constexpr bool operator==(Name a, std::string_view b) { return a.as_str() == b; }
  friend constexpr std::strong_ordering operator<=>(Name a, std::string_view b) { return a.as_str() <=> b; }

 private:
  const char* data_ = "";
  std::uint32_t size_ = 0;
};

static_assert(std::is_trivially_copyable_v<Name>);
static_assert(std::is_trivially_destructible_v<Name>);
static_assert(sizeof(Name) == 2 * sizeof(void*));

inline std::ostream& operator<<(std::ostream& out, Name name) { return out << name.as_str(); }

}  // namespace python_ast

template <>
struct std::hash<python_ast::Name> {
  std::size_t operator()(python_ast::Name name) const noexcept { return std::hash<std::string_view>{}(name.as_str()); }
};
