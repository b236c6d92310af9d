#pragma once

// The doors into the Python front end: source text in, syntax tree, token
// list and syntax errors out.
//
// `parse_module` is what project analysis calls: it parses one file as a
// module and answers either the whole result, when the text has no syntax
// error at all, or the first syntax error. `parse` does the same in any mode
// (an IPython cell, an expression). Underneath, the parser never stops at an
// error: it always builds a complete tree and records every error it meets,
// while the lexer records its own; the two lists are merged by start offset
// (merge_errors). `parse_unchecked` hands over everything, errors included,
// in any mode. The checked entries (parse_module, parse, checked_error) need
// only the first error of that merged list: their parse stops as soon as no
// later step can change it (Parser::settle_first_error), so a text that is
// junk from its first bytes costs little more than reading it, and the
// answer is the full parse's on every input.
//
// This header is the whole interface of the entries: it pulls in neither the
// lexer nor the parser.
//
// Ownership: the tree (its own copy of the source, the arena of its nodes,
// the root) is a python_ast::ModuleTree shared by reference count; every node
// and every name or literal text of the tree stays valid for as long as a
// holder of `tree` lives. The token list and the error lists are owned
// values.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "python_ast/module.h"
#include "python_ast/nodes.h"
#include "python_ast/token.h"
#include "python_parser/error.h"
#include "python_parser/mode.h"
#include "python_parser/target_version.h"
#include "support/fatal_error.h"

namespace python_parser {

// Makes on the calling thread what the front end makes once per process:
// ICU's NFKC normaliser (for non-ASCII identifiers) and its table of
// character names (for "\N{...}" escapes). A thread that is the first to
// load one of them holds ICU's once-only lock meanwhile; a process forked
// then would wait for ever at its own first use. Call it before parsing on
// several threads of a process that may fork; cheap once done. The error
// text when ICU cannot provide them.
std::optional<std::string> prepare_for_threads();

// The result of a parse around a root of type T (Mod, or ModModule).
template <class T>
struct Parsed {
  // Owns the source copy, the arena and the root.
  python_ast::SharedModuleTree tree;
  // The root of `tree`.
  const T* syntax = nullptr;
  // Every token in source order, trivia included, the end of file excluded.
  python_ast::Tokens tokens;
  // The merged syntax errors: the parser's and the lexer's, each list in
  // its own order, merged by start offset (see merge_errors).
  std::vector<ParseError> errors;
  // Syntax that needs a newer Python than the target; never an error.
  std::vector<VersionGatedSyntaxError> version_gated_errors;

  bool has_valid_syntax() const { return errors.empty(); }
};

// The same result around the module, when the root is one; nothing when it
// is an expression.
std::optional<Parsed<python_ast::ModModule>> try_into_module(Parsed<python_ast::Mod>&& parsed);

// The answer of a checked parse: the whole result of a text without syntax
// errors, or the first syntax error.
template <class T>
class [[nodiscard]] ParseResult {
 public:
  ParseResult(Parsed<T> parsed)  // NOLINT: implicit by design
      : state_(std::in_place_index<0>, std::move(parsed)) {}
  ParseResult(ParseError error)  // NOLINT: implicit by design
      : state_(std::in_place_index<1>, std::move(error)) {}

  bool has_value() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  Parsed<T>& value() & {
    tolva::check(has_value(), "called `ParseResult::value()` on an error");
    return std::get<0>(state_);
  }
  const Parsed<T>& value() const& {
    tolva::check(has_value(), "called `ParseResult::value()` on an error");
    return std::get<0>(state_);
  }
  Parsed<T>&& value() && {
    tolva::check(has_value(), "called `ParseResult::value()` on an error");
    return std::get<0>(std::move(state_));
  }
  const ParseError& error() const& {
    tolva::check(!has_value(), "called `ParseResult::error()` on a value");
    return std::get<1>(state_);
  }
  ParseError&& error() && {
    tolva::check(!has_value(), "called `ParseResult::error()` on a value");
    return std::get<1>(std::move(state_));
  }

 private:
  std::variant<Parsed<T>, ParseError> state_;
};

// The answer of parse_module.
using ModuleParseResult = ParseResult<python_ast::ModModule>;

// Parses the whole text of one Python source file as a module (start offset
// 0, target version 3.10). Succeeds only when neither the lexer nor the
// parser recorded an error; otherwise answers the error that the merge puts
// first. Texts of 4 GiB or more are refused with a FatalError (the lexer's).
ModuleParseResult parse_module(std::string_view source);
// The same, with `source` taken over as the tree's own text rather than
// copied into it (for a caller that read the text just for the parse).
ModuleParseResult parse_module_text(std::string source);

// The same in `mode`: the root is a module in Mode::Module and Mode::Ipython,
// an expression in the two expression modes. parse(source, Mode::Module)
// answers what parse_module answers, around the Mod that holds the module.
ParseResult<python_ast::Mod> parse(std::string_view source, Mode mode);

// The error of a checked parse in `mode` (parse_module in Mode::Module,
// parse in the others), or nothing when it succeeds.
std::optional<ParseError> checked_error(std::string_view source, Mode mode);

// Parses `source` in `mode` and hands over everything: the tree, the tokens
// and every merged error.
Parsed<python_ast::Mod> parse_unchecked(std::string_view source, Mode mode);

// The error merge, one pass over both lists: while both have errors, the one
// whose front error starts first gives it; at equal starts the lexer's error
// is taken and the parser's dropped. Then the rest of the parser's list, then
// the rest of the lexer's. Neither list is sorted: each keeps its own order.
std::vector<ParseError> merge_errors(std::vector<ParseError> parser_errors, std::vector<LexicalError> lexical_errors);

}  // namespace python_parser
