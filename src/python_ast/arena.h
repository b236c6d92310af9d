#pragma once

// Arena: the bump allocator that holds one parse's syntax tree.
//
// Every node, node list and arena-held text (decoded string values, NFKC
// names, big integer literals) of a parse is carved out of one Arena. Objects
// placed in it must be trivially destructible: nothing is ever destroyed one
// by one, and freeing a parse is freeing its arena's blocks. That is also what
// keeps destruction of a 10^6-deep expression chain flat.
//
// Contract: `allocate` returns memory aligned to `align` (a power of two, at
// most alignof(std::max_align_t)) that stays valid until the arena is
// destroyed. An Arena is used by one thread while it is filled; afterwards it
// may be read from any number of threads.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <type_traits>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define TOLVA_ARENA_POISON(addr, size) ASAN_POISON_MEMORY_REGION((addr), (size))
#define TOLVA_ARENA_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION((addr), (size))
#else
#define TOLVA_ARENA_POISON(addr, size) ((void)(addr), (void)(size))
#define TOLVA_ARENA_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif

namespace python_ast {

class Arena {
 public:
  Arena() = default;
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  Arena(Arena&& other) noexcept;
  Arena& operator=(Arena&& other) noexcept;

  // Fast path: a pointer bump inside the current block.
  void* allocate(std::size_t size, std::size_t align) {
    auto current = reinterpret_cast<std::uintptr_t>(cursor_);
    std::uintptr_t aligned = (current + (align - 1)) & ~(std::uintptr_t{align} - 1);
    if (cursor_ != nullptr && aligned + size <= reinterpret_cast<std::uintptr_t>(end_)) [[likely]] {
      cursor_ = reinterpret_cast<char*>(aligned + size);
      TOLVA_ARENA_UNPOISON(reinterpret_cast<void*>(aligned), size);
      return reinterpret_cast<void*>(aligned);
    }
    return allocate_slow(size, align);
  }

  template <class T, class... Args>
  T* make(Args&&... args) {
    static_assert(std::is_trivially_destructible_v<T>, "arena objects are never destroyed");
    return ::new (allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
  }

  // An array of `count` value-initialised elements.
  template <class T>
  std::span<T> make_array(std::size_t count) {
    static_assert(std::is_trivially_destructible_v<T>, "arena objects are never destroyed");
    if (count == 0) return {};
    T* first = static_cast<T*>(allocate(sizeof(T) * count, alignof(T)));
    for (std::size_t i = 0; i < count; ++i) ::new (first + i) T();
    return {first, count};
  }

  // A copy of `items` in the arena.
  template <class T>
  std::span<T> copy_array(std::span<const T> items) {
    static_assert(std::is_trivially_copyable_v<T>, "arena arrays are copied bytewise");
    if (items.empty()) return {};
    T* first = static_cast<T*>(allocate(sizeof(T) * items.size(), alignof(T)));
    std::memcpy(static_cast<void*>(first), items.data(), sizeof(T) * items.size());
    return {first, items.size()};
  }

  // A copy of `text` in the arena; the empty text needs no storage.
  std::string_view copy_text(std::string_view text) {
    if (text.empty()) return {};
    char* copy = static_cast<char*>(allocate(text.size(), 1));
    std::memcpy(copy, text.data(), text.size());
    return {copy, text.size()};
  }

  // Bytes of block payload obtained from the system so far (less what
  // release_to gave back).
  std::size_t bytes_reserved() const noexcept { return reserved_; }

  // A point in the arena's history, for release_to.
  class Mark {
   private:
    friend class Arena;
    const void* block = nullptr;  // the current block
    char* cursor = nullptr;
    char* end = nullptr;
    std::size_t reserved = 0;
    std::size_t next_block_size = 0;
  };
  Mark mark() const noexcept;
  // Gives back everything allocated since `mark` (of this arena, and not
  // already given back by a release to an earlier mark): the blocks
  // obtained since are freed, and the current block is reused from where
  // it stood. The caller guarantees that nothing allocated since the mark
  // is reached any more; under AddressSanitizer that memory is poisoned.
  void release_to(const Mark& mark) noexcept;

  // Sets the size up to which blocks grow, kept within [4 KiB, 8 MiB]
  // (1 MiB until set). Blocks double up to it, so it bounds what the last
  // block can leave unused: a parse sets it from its source size, which keeps
  // small trees from holding a block far larger than themselves and lets
  // large ones grow in large blocks.
  void limit_block_size(std::size_t bytes) noexcept {
    max_block_size_ = std::clamp(bytes, kFirstBlockSize, kLargestBlockSize);
    if (next_block_size_ > max_block_size_) next_block_size_ = max_block_size_;
  }

 private:
  struct Block;
  void* allocate_slow(std::size_t size, std::size_t align);
  void release() noexcept;

  char* cursor_ = nullptr;
  char* end_ = nullptr;
  Block* blocks_ = nullptr;  // most recent first
  std::size_t next_block_size_ = kFirstBlockSize;
  std::size_t max_block_size_ = kDefaultMaxBlockSize;
  std::size_t reserved_ = 0;

  static constexpr std::size_t kFirstBlockSize = 4 * 1024;
  static constexpr std::size_t kDefaultMaxBlockSize = 1024 * 1024;
  static constexpr std::size_t kLargestBlockSize = 8 * 1024 * 1024;
};

}  // namespace python_ast
