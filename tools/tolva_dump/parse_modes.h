#pragma once

// The parse modes of tolva-dump: what the parser makes of whole files.
//
//   tolva-dump ast FILE...      the syntax tree, tokens and errors of each file
//   tolva-dump check FILE...    parse_module's verdict on each file
//
// Both read each FILE whole, as bytes ("-" reads standard input), parse it
// in `mode` (Mode::Module or Mode::Ipython) and write one line per file read
// to `out`. A file that cannot be read is reported on
// standard error and gives no line. A FatalError (a broken invariant of the
// front end) is reported on standard error too; the remaining files are
// still processed.
//
// Exit status of both: 0 when every file was read and parsed without a
// fatal error, whatever syntax errors were found; 1 when some file could not
// be read; 3 when some parse failed fatally (3 wins over 1).

#include <iosfwd>
#include <span>
#include <string>

#include "python_parser/mode.h"

namespace tolva_dump {

// For each file, one JSON object on one line, keys in this order:
//   "path"    the path as given (a JSON string)
//   "tree"    the module's dump (python_ast/dump.h), parsed with every error
//             kept (parse_unchecked in `mode`)
//   "tokens"  [[KIND, START, END], ...]: every token, the final end of file
//             excluded, KIND its debug name ("Name", "Lpar")
//   "errors"  [[TEXT, START, END, SOURCE], ...]: the merged errors in list
//             order, TEXT the kind's display text (without the " at byte
//             range" part), SOURCE "lexer" or "parser"
// A parse that fails fatally writes {"path": PATH, "fatal": TEXT} instead.
int dump_ast(std::span<const std::string> paths, python_parser::Mode mode, std::ostream& out);

// For each file, through parse_module (through parse in IPython mode): "ok
// PATH" when the text has no syntax error, "error PATH: TEXT" with the first
// error's display text otherwise ("Expected `:`, found newline at byte range
// 4..5").
int check_files(std::span<const std::string> paths, python_parser::Mode mode, std::ostream& out);

}  // namespace tolva_dump
