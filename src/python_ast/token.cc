#include "python_ast/token.h"

#include <cstdio>
#include <string>

namespace python_ast {

std::ostream& operator<<(std::ostream& out, TokenFlags flags) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%03x", static_cast<unsigned>(flags.bits()));
  return out << text;
}

std::ostream& operator<<(std::ostream& out, const Token& token) {
  return out << debug_name(token.kind) << ' ' << token.range.debug() << ' ' << token.flags;
}

void Tokens::index_out_of_bounds(std::size_t index) const {
  tolva::fatal("index out of bounds: the len is " + std::to_string(tokens_.size()) + " but the index is " +
               std::to_string(index));
}

}  // namespace python_ast
