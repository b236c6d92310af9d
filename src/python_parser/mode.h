#pragma once

// What a source text is, for the lexer, the parser and the parse entries.

#include <cstdint>

namespace python_parser {

// A statement list (the only mode project analysis parses), one expression,
// one expression already inside parentheses (the lexer starts with a bracket
// nesting of 1), or an IPython cell: a statement list in which escape
// commands ("!ls", "%timeit x", "x = !pwd", "obj?") are lexed and parsed.
enum class Mode : std::uint8_t {
  Module,
  Expression,
  ParenthesizedExpression,
  Ipython,
};

}  // namespace python_parser
