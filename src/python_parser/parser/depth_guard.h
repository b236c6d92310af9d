#pragma once

// The nesting limit of the parser.
//
// Recursive descent recurses once per nested bracket, operator, block or
// pattern, and unbounded recursion would overflow the thread's stack and take
// the host process down. Each recursive entry point of the grammar
// (expressions, statements and blocks, patterns) therefore opens a DepthGuard
// first:
//
//   DepthGuard depth(parser);
//   if (depth.exceeded()) return <placeholder node at parser.node_range(start)>;
//
// A guard counts one level while it lives. The limit is crossed when more
// than kMaxNestingDepth guards are open, or when the stack has less than
// kStackMargin bytes left below the current frame (the thread's stack bounds
// are read once per thread; threads with small stacks, such as 256 KiB, stop
// earlier than the count says). On the first crossing the parser records one
// error, kNestingTooDeepMessage (ParseErrorType::Other) at the current token,
// skips every remaining token up to the end of the file, and records no
// further error. Every caller up the stack then sees the end of file, which
// ends every list and loop, and unwinds without consuming anything else.
//
// The limit lies far above what real code needs: CPython itself stops at 200
// nested brackets and 100 nested blocks, which parse here unchanged, on a
// 256 KiB stack too. That holds as long as the frames of the recursive parse
// functions stay small: their error reports are built out of line (see
// Parser::add_error and add_other_error), not in the recursive frames.
//
// The stack is assumed to grow downwards (x86-64, AArch64).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "python_parser/parser/parser.h"

namespace python_parser {

inline constexpr std::uint32_t kMaxNestingDepth = 1000;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
// Instrumented frames are several times larger.
inline constexpr std::size_t kStackMargin = 128 * 1024;
#else
inline constexpr std::size_t kStackMargin = 64 * 1024;
#endif

inline constexpr std::string_view kNestingTooDeepMessage =
    "Nesting is too deep: too many nested brackets, operators, blocks or patterns";

// The lowest stack address that a parse on the calling thread may reach:
// the bottom of the thread's stack plus kStackMargin, or 0 when the bounds
// cannot be read. Computed once per thread.
std::uintptr_t stack_floor_of_current_thread();

class DepthGuard {
 public:
  explicit DepthGuard(Parser& parser) : parser_(parser) {
    ++parser.depth_;
    auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    if (parser.depth_ > kMaxNestingDepth || frame < parser.stack_floor_) [[unlikely]] {
      exceeded_ = true;
      parser.nesting_too_deep();
    }
  }
  ~DepthGuard() { --parser_.depth_; }

  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

  // True when this entry lies beyond the limit: the caller must return a
  // placeholder at once, without parsing (the parser is at the end of file).
  bool exceeded() const { return exceeded_; }

 private:
  Parser& parser_;
  bool exceeded_ = false;
};

}  // namespace python_parser
