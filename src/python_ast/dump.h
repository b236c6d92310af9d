#pragma once

// The debug dump of a syntax tree: compact, stable JSON.
//
// Shape:
//   - a node is an object: "type" (the record name, "ExprBinOp"), "range"
//     ([start, end] byte offsets), then every field in declared order, keyed
//     by the field's name (`default_value` is written "default", and an
//     except handler's `type` is written "type_", clear of the node's own
//     "type");
//   - lists are arrays; an absent optional is null;
//   - names and texts are JSON strings with every control character and
//     every non-ASCII character escaped as \uXXXX (surrogate pairs above
//     U+FFFF), so that Python's json.loads gives back the exact text; a
//     three-byte form of a lone surrogate U+D800..U+DFFF is written as that
//     surrogate, and any other byte that is not UTF-8 as \ufffd;
//   - a bytes value is an array of its byte values (0..255);
//   - enumerations (operators, contexts, conversions, kinds) are their
//     enumerator names: "Add", "NotIn", "Store", "Repr";
//   - a number literal's value is {"kind": "Int", "value": 5}, with a big
//     integer as the string of its kept text, {"kind": "Float", "value":
//     1.5} or {"kind": "Complex", "real": 0.0, "imag": 1.0}; floats have the
//     shortest round-trip form and always a "." or an exponent, and
//     infinities and NaN are the strings "inf", "-inf", "nan";
//   - string flags are {"prefix": "rb", "quotes": "'''", "unclosed": false}
//     plus "invalid" for plain strings and bytes;
//   - a debug text is {"leading": ..., "trailing": ...};
//   - string values are flattened into their expression: a plain string's
//     "value" is its whole text, then "parts" lists its literals; bytes,
//     f-strings and t-strings have "parts" only;
//   - a dict item is {"type": "DictItem", "key": ..., "value": ...}, without
//     a range; an Identifier is {"type": "Identifier", "range": ..., "id": ...};
//   - node indexes, which this system never assigns, are not written.
//
// The dump runs on its own heap stack, like the walk, so any depth works.
// `source` is the text the tree was parsed from: a node range that does not
// lie inside it throws FatalError, so that a dump never passes a broken
// range silently.

#include <string>
#include <string_view>

#include "python_ast/walk.h"

namespace python_ast {

// Any node: a ModModule, a Stmt, an Expr, a Pattern, ...
std::string dump_json(AnyNodeRef node, std::string_view source);

// Appends `text` to `out` as a JSON string, quotes included, escaped as the
// dump escapes texts.
void append_json_string(std::string& out, std::string_view text);

}  // namespace python_ast
