#include "python_ast/arena.h"

#include <algorithm>
#include <cstdlib>

#include <sys/mman.h>

namespace python_ast {

struct Arena::Block {
  Block* next;
  std::size_t size;  // bytes of payload after the header
  // The arena's reserved_ when the block was obtained: blocks obtained later
  // have larger values, which is how release_to finds them.
  std::size_t reserved_before;
};

namespace {
constexpr std::size_t kHeader = (sizeof(void*) * 3 + alignof(std::max_align_t) - 1) &
                                ~(alignof(std::max_align_t) - 1);
constexpr std::size_t kHugePage = 2 * 1024 * 1024;
}  // namespace

Arena::~Arena() { release(); }

Arena::Arena(Arena&& other) noexcept
    : cursor_(other.cursor_),
      end_(other.end_),
      blocks_(other.blocks_),
      next_block_size_(other.next_block_size_),
      max_block_size_(other.max_block_size_),
      reserved_(other.reserved_) {
  other.cursor_ = other.end_ = nullptr;
  other.blocks_ = nullptr;
  other.next_block_size_ = kFirstBlockSize;
  other.max_block_size_ = kDefaultMaxBlockSize;
  other.reserved_ = 0;
}

Arena& Arena::operator=(Arena&& other) noexcept {
  if (this != &other) {
    release();
    cursor_ = other.cursor_;
    end_ = other.end_;
    blocks_ = other.blocks_;
    next_block_size_ = other.next_block_size_;
    max_block_size_ = other.max_block_size_;
    reserved_ = other.reserved_;
    other.cursor_ = other.end_ = nullptr;
    other.blocks_ = nullptr;
    other.next_block_size_ = kFirstBlockSize;
    other.max_block_size_ = kDefaultMaxBlockSize;
    other.reserved_ = 0;
  }
  return *this;
}

namespace {

// Blocks of at least a huge page are placed on huge-page boundaries and
// offered to the kernel for transparent huge pages: a tree of tens of
// megabytes then costs a few dozen page faults instead of thousands, which
// is most of the time a fresh large parse would otherwise spend.
// `payload` is the payload wanted, at least `needed`; on return, the payload
// obtained.
void* allocate_block(std::size_t& payload, std::size_t needed) {
  if (payload < kHugePage) {
    void* memory = std::malloc(kHeader + payload);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
  }
  // Whole huge pages, the header taken out of the payload wanted.
  const std::size_t total = (std::max(payload, needed + kHeader) + kHugePage - 1) & ~(kHugePage - 1);
  void* memory = std::aligned_alloc(kHugePage, total);
  if (memory == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  // Advice only: where the kernel declines, the block has ordinary pages.
  (void)::madvise(memory, total, MADV_HUGEPAGE);
#endif
  payload = total - kHeader;
  return memory;
}

}  // namespace

void* Arena::allocate_slow(std::size_t size, std::size_t align) {
  static_assert(sizeof(Block) <= kHeader);
  std::size_t payload = std::max(next_block_size_, size + align);
  void* memory = allocate_block(payload, size + align);
  auto* block = static_cast<Block*>(memory);
  block->size = payload;
  block->reserved_before = reserved_;
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
  next_block_size_ = std::min(next_block_size_ * 2, max_block_size_);
  return allocate(size, align);
}

Arena::Mark Arena::mark() const noexcept {
  Mark mark;
  mark.block = blocks_;
  mark.cursor = cursor_;
  mark.end = end_;
  mark.reserved = reserved_;
  mark.next_block_size = next_block_size_;
  return mark;
}

void Arena::release_to(const Mark& mark) noexcept {
  // The blocks obtained since the mark are the front of the list up to the
  // block that was current then, and the large ones placed right behind it
  // while it was still current: each run ends at the first older block.
  auto free_newer = [&](Block** link) {
    while (*link != nullptr && (*link)->reserved_before >= mark.reserved) {
      Block* block = *link;
      *link = block->next;
      TOLVA_ARENA_UNPOISON(reinterpret_cast<char*>(block) + kHeader, block->size);
      std::free(block);
    }
  };
  free_newer(&blocks_);
  if (blocks_ != nullptr) free_newer(&blocks_->next);
  cursor_ = mark.cursor;
  end_ = mark.end;
  reserved_ = mark.reserved;
  next_block_size_ = std::min(mark.next_block_size, max_block_size_);
  if (cursor_ != nullptr) TOLVA_ARENA_POISON(cursor_, static_cast<std::size_t>(end_ - cursor_));
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
