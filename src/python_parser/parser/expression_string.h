#pragma once

// String atoms: implicit concatenation of adjacent literals, f-strings and
// t-strings with their interpolations.
//
// Adjacent literals form one expression; which kinds may be mixed follows
// Python: bytes only with bytes, t-strings only with t-strings, plain strings
// and f-strings freely (an f-string among them makes an f-string value). A
// mixture that Python refuses is reported and still yields a value of the
// nearest kind, with invalid empty placeholders for the parts that do not
// fit. Literal text is decoded by string.h; the decoded values view the
// source when nothing needed decoding and the parser's arena otherwise. The
// joined text of a concatenated plain string is computed when the node is
// built, so the finished tree is never written to again.

#include "python_ast/nodes.h"

namespace python_parser {

class Parser;

// atom: STRING+ | (FSTRING_START ... FSTRING_END)+ | (TSTRING_START ... TSTRING_END)+
// strings: (fstring | tstring | string)+
//
// Every adjacent String, FStringStart ... FStringEnd and TStringStart ...
// TStringEnd, joined into one ExprStringLiteral, ExprBytesLiteral,
// ExprFString or ExprTString. The current token must be one of the three
// start kinds.
python_ast::Expr* parse_strings(Parser& parser);

}  // namespace python_parser
