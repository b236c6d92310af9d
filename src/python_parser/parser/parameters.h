#pragma once

// Parameter lists of function definitions and lambdas, and bracketed type
// parameter lists.
//
// Python's ordering rules of parameters (defaults, `/`, `*`, `*name`,
// `**name`) are enforced here as recorded syntax errors; the tree is always
// built. All records go into the parser's arena.

#include <cstdint>

#include "python_ast/nodes.h"
#include "text_size/text_size.h"

namespace python_parser {

class Parser;

// Which parameter list is parsed.
enum class ParameterListKind : std::uint8_t {
  // A `def`: inside parentheses, annotations allowed.
  Definition,
  // A lambda: no parentheses, no annotations, ended by `:`.
  Lambda,
};

// parameters (of a def):    '(' [params] ')'
// lambda_params (of a lambda): the same, without parentheses or annotations
// For a definition the current token should be `(` (a missing one is
// reported); for a lambda, the first token after `lambda`, which is not `:`.
// The record's range runs from the `(` through the `)` for a definition.
python_ast::Parameters* parse_parameters(Parser& parser, ParameterListKind kind);

// param: NAME [':' annotation]   (star_etc's `*NAME [':' star_annotation]`)
// One parameter that began at `start` (the `*` or `**` of a variadic one):
// its name and, in a definition, its annotation. A starred annotation
// (`*args: *Ts`) is accepted when `star_annotation_allowed`.
python_ast::Parameter parse_parameter(Parser& parser, text_size::TextOffset start, ParameterListKind kind,
                                      bool star_annotation_allowed);

// type_params: '[' type_param_seq ']'
// The type parameters when the current token is `[`; nullptr (consuming
// nothing) otherwise.
python_ast::TypeParams* try_parse_type_params(Parser& parser);

}  // namespace python_parser
