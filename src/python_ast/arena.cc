#include "python_ast/arena.h"

#include <algorithm>
#include <cstdlib>

namespace python_ast {

struct Arena::Block {
  Block* next;
  std::size_t size;  // bytes of payload after the header
};

namespace {
constexpr std::size_t kHeader = (sizeof(void*) * 2 + alignof(std::max_align_t) - 1) &
                                ~(alignof(std::max_align_t) - 1);
}  // namespace

Arena::~Arena() { release(); }

Arena::Arena(Arena&& other) noexcept
    : cursor_(other.cursor_),
      end_(other.end_),
      blocks_(other.blocks_),
      next_block_size_(other.next_block_size_),
      reserved_(other.reserved_) {
  other.cursor_ = other.end_ = nullptr;
  other.blocks_ = nullptr;
  other.next_block_size_ = kFirstBlockSize;
  other.reserved_ = 0;
}

Arena& Arena::operator=(Arena&& other) noexcept {
  if (this != &other) {
    release();
    cursor_ = other.cursor_;
    end_ = other.end_;
    blocks_ = other.blocks_;
    next_block_size_ = other.next_block_size_;
    reserved_ = other.reserved_;
    other.cursor_ = other.end_ = nullptr;
    other.blocks_ = nullptr;
    other.next_block_size_ = kFirstBlockSize;
    other.reserved_ = 0;
  }
  return *this;
}

void* Arena::allocate_slow(std::size_t size, std::size_t align) {
  std::size_t payload = std::max(next_block_size_, size + align);
  void* memory = std::malloc(kHeader + payload);
  if (memory == nullptr) throw std::bad_alloc();
  auto* block = static_cast<Block*>(memory);
  block->size = payload;
  char* begin = static_cast<char*>(memory) + kHeader;
  reserved_ += payload;
  if (size + align > next_block_size_ / 4 && blocks_ != nullptr) {
    // A request larger than a quarter of a block gets a block of its own,
    // behind the current one, which stays open for small requests.
    block->next = blocks_->next;
    blocks_->next = block;
    auto aligned = (reinterpret_cast<std::uintptr_t>(begin) + (align - 1)) & ~(std::uintptr_t{align} - 1);
    return reinterpret_cast<void*>(aligned);
  }
  block->next = blocks_;
  blocks_ = block;
  cursor_ = begin;
  end_ = begin + payload;
  TOLVA_ARENA_POISON(cursor_, payload);
  next_block_size_ = std::min(next_block_size_ * 2, kMaxBlockSize);
  return allocate(size, align);
}

void Arena::release() noexcept {
  Block* block = blocks_;
  while (block != nullptr) {
    Block* next = block->next;
    TOLVA_ARENA_UNPOISON(reinterpret_cast<char*>(block) + kHeader, block->size);
    std::free(block);
    block = next;
  }
  blocks_ = nullptr;
  cursor_ = end_ = nullptr;
}

}  // namespace python_ast
