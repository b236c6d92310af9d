#include "python_ast/token.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
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

Tokens::Tokens(const std::vector<Token>& tokens) {
  reserve(tokens.size());
  if (!tokens.empty()) std::memcpy(static_cast<void*>(data_), tokens.data(), tokens.size() * sizeof(Token));
  size_ = tokens.size();
}

Tokens::Tokens(const Tokens& other) : Tokens() { *this = other; }

Tokens& Tokens::operator=(const Tokens& other) {
  if (this != &other) {
    size_ = 0;
    reserve(other.size_);
    if (other.size_ != 0) std::memcpy(static_cast<void*>(data_), other.data_, other.size_ * sizeof(Token));
    size_ = other.size_;
  }
  return *this;
}

Tokens& Tokens::operator=(Tokens&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

void Tokens::grow(std::size_t capacity) {
  std::size_t wanted = std::max({capacity, capacity_ * 2, std::size_t{16}});
  if (wanted > std::numeric_limits<std::size_t>::max() / sizeof(Token)) throw std::bad_alloc();
  void* memory = std::realloc(static_cast<void*>(data_), wanted * sizeof(Token));
  if (memory == nullptr) throw std::bad_alloc();
  data_ = static_cast<Token*>(memory);
  capacity_ = wanted;
}

void Tokens::index_out_of_bounds(std::size_t index) const {
  tolva::fatal("index out of bounds: the len is " + std::to_string(size_) + " but the index is " +
               std::to_string(index));
}

}  // namespace python_ast
