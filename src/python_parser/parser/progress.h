#pragma once

// The progress guard: turns a parser loop that stops consuming tokens into a
// loud internal error instead of an endless loop.
//
// A loop creates one guard before its first iteration and calls `check` at
// the start of every iteration. From the second call on, `check` compares
// the number of tokens consumed with its value at the previous call; equal
// means the previous iteration consumed nothing, and the loop would spin
// forever. That is fatal, with the text
//   "The parser is no longer progressing. Stuck at '{text}' {Kind}:{start}..{end}"
// (the current token's source text, its kind's debug name and its range).
// Every parser loop that may meet a token it cannot use runs under one: the
// list loops, the decorator, elif and except loops, the operator chains.
//
// `check` is defined in parser.h, where Parser is complete.

#include <cstdint>

namespace python_parser {

class Parser;

class ProgressGuard {
 public:
  inline void check(const Parser& parser);

 private:
  [[noreturn]] static void stuck(const Parser& parser);

  std::uint32_t previous_token_id_ = 0;
  bool started_ = false;
};

}  // namespace python_parser
