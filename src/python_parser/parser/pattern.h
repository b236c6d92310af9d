#pragma once

// The inside of `match` statements: the subject, the block of `case`
// clauses, and every pattern form.
//
// The statement dispatch decides that `match` starts a match statement,
// consumes it, calls parse_match_subject_expression, expects `:`, calls
// parse_match_body and builds the StmtMatch.
//
// Patterns are parsed in one pass with at most one token of look-ahead: the
// class-pattern and complex-literal forms are found by the token after an
// already built pattern, and a pattern that cannot stand where an expression
// is needed (a mapping key, the class of a class pattern, an operand of a
// complex literal) is converted by pattern_to_expr (pattern_recovery.h)
// after the error is recorded, never re-parsed.
//
// Only syntax is checked. Several star patterns in one sequence,
// alternatives that bind different names, irrefutable cases before others,
// repeated mapping keys or keyword names are all accepted without an error.

#include <cstdint>
#include <span>

#include "python_ast/nodes.h"
#include "text_size/text_size.h"

namespace python_parser {

class Parser;

// Whether a star pattern may stand at this place: at the top of a case, as
// an element of a sequence (the first inside `(` or `[` included). Where it
// may not, a star pattern is still built and the error recorded.
enum class AllowStarPattern : std::uint8_t { No, Yes };

// The brackets of a sequence pattern.
enum class SequenceMatchPatternParentheses : std::uint8_t {
  None,    // the open sequence of a case: `case a, b:`
  Tuple,   // `(a, b)`
  List,    // `[a, b]`
};

// subject_expr:
//     | star_named_expression ',' star_named_expressions?
//     | named_expression
// The subject of a match statement; a comma makes an unparenthesized tuple.
python_ast::Expr* parse_match_subject_expression(Parser& parser);

// NEWLINE INDENT case_block+ DEDENT
// case_block: "case" patterns guard? ':' block
// The cases; the current token is the one after the `:` of the match line.
std::span<python_ast::MatchCase> parse_match_body(Parser& parser);

// or_pattern ['as' pattern_capture_target]
// or_pattern: '|'.closed_pattern+
// One pattern with its alternatives and `as` capture.
python_ast::Pattern* parse_match_pattern(Parser& parser, AllowStarPattern allow_star);

// closed_pattern, with the class-pattern and complex-literal tails:
//     | literal_pattern | capture_pattern | wildcard_pattern | value_pattern
//     | group_pattern | sequence_pattern | mapping_pattern | class_pattern
// One pattern without a top-level `|` or `as`.
python_ast::Pattern* parse_match_pattern_lhs(Parser& parser, AllowStarPattern allow_star);

// The rest of a sequence pattern whose first element `first` has been
// parsed; `start` is where the sequence began (its bracket, or its first
// element for an open sequence).
python_ast::PatternSequence* parse_sequence_match_pattern(Parser& parser, python_ast::Pattern* first,
                                                          text_size::TextOffset start,
                                                          SequenceMatchPatternParentheses parentheses);

}  // namespace python_parser
