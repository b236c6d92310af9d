#include "python_ast/token.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

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
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

namespace {

// From this size a buffer has a mapping of its own. Below it the heap
// serves better: it hands freed memory out again without new page faults,
// and copying a few megabytes on growth costs little.
constexpr std::size_t kMappedBytes = std::size_t{8} << 20;

bool is_mapped(std::size_t capacity) { return capacity * sizeof(Token) >= kMappedBytes; }

void advise_huge_pages([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  // Advice only: where the kernel declines, the buffer has ordinary pages.
  (void)::madvise(memory, bytes, MADV_HUGEPAGE);
#endif
}

}  // namespace

void Tokens::grow(std::size_t capacity) {
  std::size_t wanted = std::max({capacity, capacity_ * 2, std::size_t{16}});
  if (wanted > std::numeric_limits<std::size_t>::max() / sizeof(Token) / 2) throw std::bad_alloc();
  void* memory = nullptr;
  if (!is_mapped(wanted)) {
    memory = std::realloc(static_cast<void*>(data_), wanted * sizeof(Token));
    if (memory == nullptr) throw std::bad_alloc();
  } else {
    // Whole pages: the capacity takes in the rounding.
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes = (wanted * sizeof(Token) + page - 1) / page * page;
    if (is_mapped(capacity_)) {
      memory = ::mremap(static_cast<void*>(data_), capacity_ * sizeof(Token), bytes, MREMAP_MAYMOVE);
      if (memory == MAP_FAILED) throw std::bad_alloc();
    } else {
      memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (memory == MAP_FAILED) throw std::bad_alloc();
      if (size_ != 0) std::memcpy(memory, static_cast<const void*>(data_), size_ * sizeof(Token));
      std::free(data_);
    }
    advise_huge_pages(memory, bytes);
    wanted = bytes / sizeof(Token);
  }
  data_ = static_cast<Token*>(memory);
  capacity_ = wanted;
}

void Tokens::release() noexcept {
  if (is_mapped(capacity_)) {
    ::munmap(static_cast<void*>(data_), capacity_ * sizeof(Token));
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  size_ = capacity_ = 0;
}

void Tokens::index_out_of_bounds(std::size_t index) const {
  tolva::fatal("index out of bounds: the len is " + std::to_string(size_) + " but the index is " +
               std::to_string(index));
}

}  // namespace python_ast
