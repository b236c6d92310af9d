#include "python_parser/parser/expression_string.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "python_ast/dump.h"
#include "python_ast/nodes.h"
#include "python_parser/parse.h"
#include "python_parser/parser/depth_guard.h"
#include "support/fatal_error.h"
#include "test_support/oracle.h"
#include "test_support/python_parser/expression_printer.h"


namespace python_parser {
namespace {

using expression_testing::parse_expression_for_test;
using expression_testing::ParsedExpression;
using expression_testing::TreeCase;

TEST(ExpressionString, PlainAndBytesLiteralsAndTheirConcatenation) {
  const TreeCase cases[] = {
      {"'a'", R"((str "a" (s ' "a")))"},
      {"\"a\"", R"((str "a" (s " "a")))"},
      {"'''a\nb'''", R"((str "a\nb" (s ''' "a\nb")))"},
      {"'a\\tb'", R"((str "a\tb" (s ' "a\tb")))"},
      {"r'a\\tb'", R"((str "a\\tb" (s r' "a\\tb")))"},
      {"u'a' R\"b\"", R"((str "ab" (s u' "a") (s R" "b")))"},
      {"'a' 'b' 'c'", R"((str "abc" (s ' "a") (s ' "b") (s ' "c")))"},
      {"'a' \\\n 'b'", R"((str "ab" (s ' "a") (s ' "b")))"},
      {"'\\N{BULLET}' ''", R"((str "\xe2\x80\xa2" (s ' "\xe2\x80\xa2") (s ' "")))"},
      {"b'a'", R"((bytes (b b' "a")))"},
      {"b'a' rb'\\d' Rb\"\\x41\"", R"((bytes (b b' "a") (b rb' "\\d") (b Rb" "\\x41")))"},
      {"b'\\xff\\101'", R"((bytes (b b' "\xffA")))"},
  };
  for (const TreeCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    EXPECT_TRUE(parsed.errors.empty()) << c.source << ": " << parsed.first_error();
  }
}

TEST(ExpressionString, InterpolatedStringsWithoutErrors) {
  const TreeCase cases[] = {
      {"f''", "(fstr (f f'))"},
      {"f'a'", R"((fstr (f f' "a")))"},
      {"f'a{x}b'", R"((fstr (f f' "a" (interp x) "b")))"},
      {"f'{x}{y}'", "(fstr (f f' (interp x) (interp y)))"},
      {"F\"{x}\"", "(fstr (f f\" (interp x)))"},
      {"rf'\\d{x}'", R"((fstr (f rf' "\\d" (interp x))))"},
      {"f'''a\n{x}\n'''", R"((fstr (f f''' "a\n" (interp x) "\n")))"},
      // Doubled braces are one literal brace.
      {"f'{{x}}'", R"((fstr (f f' "{x}")))"},
      {"f'{{{x}}}'", R"((fstr (f f' "{" (interp x) "}")))"},
      // A backslash before an interpolation stays a backslash.
      {"f'\\{x}'", R"((fstr (f f' "\\" (interp x))))"},
      {"f'\\N{BULLET}{x}'", R"((fstr (f f' "\xe2\x80\xa2" (interp x))))"},
      // Conversions.
      {"f'{x!r}'", "(fstr (f f' (interp x !r)))"},
      {"f'{x!s}'", "(fstr (f f' (interp x !s)))"},
      {"f'{x!a}'", "(fstr (f f' (interp x !a)))"},
      // Debug text, with its blanks exactly as written.
      {"f'{x=}'", R"((fstr (f f' (interp x (debug "" "=")))))"},
      {"f'{ x = }'", R"((fstr (f f' (interp x (debug " " " = ")))))"},
      {"f'{x = !r}'", R"((fstr (f f' (interp x (debug "" " = ") !r))))"},
      {"f'{x=:>10}'", R"((fstr (f f' (interp x (debug "" "=") (spec ">10")))))"},
      {"f'{x = !r:^{w}}'", R"((fstr (f f' (interp x (debug "" " = ") !r (spec "^" (interp w))))))"},
      {"f'{a + b=}'", R"((fstr (f f' (interp (+ a b) (debug "" "=")))))"},
      {"f'''{\nx\n=}'''", R"((fstr (f f''' (interp x (debug "\n" "\n=")))))"},
      // Format specifiers: literal text, interpolations, nesting.
      {"f'{x:>10}'", R"((fstr (f f' (interp x (spec ">10")))))"},
      {"f'{x:}'", "(fstr (f f' (interp x (spec))))"},
      {"f'{x:>{w}}'", R"((fstr (f f' (interp x (spec ">" (interp w))))))"},
      {"f'{x:{a}.{b}f}'", R"((fstr (f f' (interp x (spec (interp a) "." (interp b) "f")))))"},
      {"f'{x:{y:{z}}}'", "(fstr (f f' (interp x (spec (interp y (spec (interp z)))))))"},
      {"f'{x:{y!r:>{z}}}'", R"((fstr (f f' (interp x (spec (interp y !r (spec ">" (interp z))))))))"},
      {"f'{x:%H:%M}'", R"((fstr (f f' (interp x (spec "%H:%M")))))"},
      {"f'{x:=5}'", R"((fstr (f f' (interp x (spec "=5")))))"},
      // Colons inside brackets belong to the expression.
      {"f'{x[1:2]}'", "(fstr (f f' (interp ([] x (slice 1 2 <null>)))))"},
      {"f'{(x:=5)}'", "(fstr (f f' (interp (:= x@Store 5))))"},
      {"f'{(lambda: 1)}'", "(fstr (f f' (interp (lambda 1))))"},
      {"f'{d[\"k\"]!r:{w}}'", R"((fstr (f f' (interp ([] d (str "k" (s " "k"))) !r (spec (interp w))))))"},
      // Expression lists, starred and yield expressions.
      {"f'{a, b}'", "(fstr (f f' (interp (tuple a b))))"},
      {"f'{*a, b}'", "(fstr (f f' (interp (tuple (* a) b))))"},
      {"f'{yield}'", "(fstr (f f' (interp (yield))))"},
      {"f'{yield x}'", "(fstr (f f' (interp (yield x))))"},
      {"f'{x if y else z}'", "(fstr (f f' (interp (if x y z))))"},
      {"f'{x!=y}'", "(fstr (f f' (interp (cmp x != y))))"},
      // Strings inside interpolations, nested f-strings in either quote.
      {"f\"{'a' 'b'}\"", R"((fstr (f f" (interp (str "ab" (s ' "a") (s ' "b"))))))"},
      {"f'{f\"{x}\"}'", "(fstr (f f' (interp (fstr (f f\" (interp x))))))"},
      {"f'{f'{x}'}'", "(fstr (f f' (interp (fstr (f f' (interp x))))))"},
      {"f'{[x for x in y]}'", "(fstr (f f' (interp (listcomp x (for x@Store y)))))"},
      {"f'{ {a: b} }'", "(fstr (f f' (interp (dict (: a b)))))"},
      // t-strings share the grammar.
      {"t''", "(tstr (t t'))"},
      {"t'a{x!r:>{w}}b'", R"((tstr (t t' "a" (interp x !r (spec ">" (interp w))) "b")))"},
      {"t'{x=}'", R"((tstr (t t' (interp x (debug "" "=")))))"},
      {"rt'\\d{x}' T'b'", R"((tstr (t rt' "\\d" (interp x)) (t t' "b")))"},
      // Implicit concatenation with f-strings.
      {"f'{x}' 'y'", R"((fstr (f f' (interp x)) (s ' "y")))"},
      {"'y' f'{x}'", R"((fstr (s ' "y") (f f' (interp x))))"},
      {"'a' f'b{x}' 'c' f''", R"((fstr (s ' "a") (f f' "b" (interp x)) (s ' "c") (f f')))"},
      {"f'a' f'b'", R"((fstr (f f' "a") (f f' "b")))"},
  };
  for (const TreeCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    EXPECT_TRUE(parsed.errors.empty()) << c.source << ": " << parsed.first_error();
  }
}

struct ErrorCase {
  std::string_view source;
  std::string_view tree;
  std::vector<std::string_view> errors;  // every error of the parse, in order
};

TEST(ExpressionString, MixedConcatenations) {
  const ErrorCase cases[] = {
      // Bytes join only with bytes; the odd parts become invalid placeholders.
      {"'a' b'b'", R"((str "a" (s ' "a") (s '+invalid "")))",
       {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..8"}},
      {"b'a' 'b'", R"((str "b" (s '+invalid "") (s ' "b")))",
       {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..8"}},
      {"b'a' f'{x}'", R"((fstr (s '+invalid "") (f f' (interp x))))",
       {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..11"}},
      // t-strings join only with t-strings; the result is an f-string value
      // whose t-string parts are invalid placeholders.
      {"t'{x}' 'y'", R"((fstr (s '+invalid "") (s ' "y")))",
       {"cannot mix t-string literals with string or bytes literals at byte range 0..10"}},
      {"'y' t'{x}'", R"((fstr (s ' "y") (s '+invalid "")))",
       {"cannot mix t-string literals with string or bytes literals at byte range 0..10"}},
      {"t'a' f'b'", R"((fstr (s '+invalid "") (f f' "b")))",
       {"cannot mix t-string literals with string or bytes literals at byte range 0..9"}},
      // Both rules broken: the t-string error starts where the bytes error
      // does and is dropped.
      {"b'a' 'b' t'c'", R"((fstr (s '+invalid "") (s ' "b") (s '+invalid "")))",
       {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..13"}},
      {"t'a' b'b'", R"((fstr (s '+invalid "") (s '+invalid "")))",
       {"Bytes literal cannot be mixed with non-bytes literals at byte range 0..9"}},
      // Inside an interpolation the mixture is reported at its own range.
      {"f\"{'a' b'c'}\"", R"((fstr (f f" (interp (str "a" (s ' "a") (s '+invalid ""))))))",
       {"Bytes literal cannot be mixed with non-bytes literals at byte range 3..11"}},
  };
  for (const ErrorCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    std::vector<std::string> expected(c.errors.begin(), c.errors.end());
    EXPECT_EQ(parsed.errors, expected) << c.source;
  }
}

TEST(ExpressionString, InterpolationErrors) {
  const ErrorCase cases[] = {
      // Conversions.
      {"f'{x!z}'", "(fstr (f f' (interp x)))", {"f-string: invalid conversion character at byte range 5..6"}},
      {"f'{x!rr}'", "(fstr (f f' (interp x)))", {"f-string: invalid conversion character at byte range 5..7"}},
      {"t'{x!z}'", "(tstr (t t' (interp x)))", {"t-string: invalid conversion character at byte range 5..6"}},
      {"f'{x! r}'", "(fstr (f f' (interp x !r)))",
       {"f-string: conversion type must come right after the exclamation mark at byte range 5..6"}},
      {"f'{x! z}'", "(fstr (f f' (interp x)))",
       {"f-string: conversion type must come right after the exclamation mark at byte range 5..6",
        "f-string: invalid conversion character at byte range 6..7"}},
      // `!}`: the brace is taken for the conversion; the closing quote is
      // then where the brace should be.
      {"f'{x!}'", "(fstr (f f' (interp x)))",
       {"f-string: invalid conversion character at byte range 5..6", "f-string: expecting `}` at byte range 6..7"}},
      // `!r'...`: the raw-string reading of `r'` is undone.
      {"f'{x!r'", "(fstr (f f' (interp x !r)))", {"f-string: expecting `}` at byte range 6..7"}},
      // Missing expression, missing brace.
      {"f'{}'", "(fstr (f f' (interp @Invalid)))", {"Expected an expression at byte range 3..4"}},
      {"f'{'", "(fstr (f f' (interp @Invalid)))", {"Expected an expression at byte range 3..4"}},
      {"f'{x'", "(fstr (f f' (interp x)))", {"f-string: expecting `}` at byte range 4..5"}},
      {"f'{x'\n", "(fstr (f f' (interp x)))", {"f-string: expecting `}` at byte range 4..5"}},
      {"f'{x:>5'", "(fstr (f f' (interp x (spec \">5\"))))", {"f-string: expecting `}` at byte range 7..8"}},
      {"t'{x'", "(tstr (t t' (interp x)))", {"t-string: expecting `}` at byte range 4..5"}},
      // A lambda needs parentheses: its `:` opens a format specifier.
      {"f'{lambda: 1}'", R"((fstr (f f' (interp (lambda @Invalid)) " 1")))",
       {"Expected an expression at byte range 10..12",
        "f-string: lambda expressions are not allowed without parentheses at byte range 3..10",
        "f-string: expecting `}` at byte range 10..12",
        "Expected an element of or the end of the f-string at byte range 12..13"}},
      // A lone closing brace: the lexer's error hides the element list's
      // error at the same token.
      {"f'a}'", R"((fstr (f f' "a")))", {"f-string: single `}` is not allowed at byte range 3..4"}},
      {"f'a}b{x}'", R"((fstr (f f' "a" "b" (interp x))))", {"f-string: single `}` is not allowed at byte range 3..4"}},
  };
  for (const ErrorCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    std::vector<std::string> expected(c.errors.begin(), c.errors.end());
    EXPECT_EQ(parsed.errors, expected) << c.source;
  }
}

TEST(ExpressionString, UndecodableLiteralsAndUnclosedStrings) {
  const ErrorCase cases[] = {
      {"'\\x4'", R"((str "" (s '+invalid "")))", {"Got unexpected unicode at byte range 4..4"}},
      {"'a' '\\xZ1'", R"((str "a" (s ' "a") (s '+invalid "")))", {"Got unexpected unicode at byte range 7..8"}},
      {"u'\\N{NOPE}'", R"((str "" (s u'+invalid "")))", {"Got unexpected unicode at byte range 5..9"}},
      {"b'\\xé'", R"((bytes (b b'+invalid "")))", {"bytes can only contain ASCII literal characters at byte range 4..6"}},
      {"rb'é'", R"((bytes (b rb'+invalid "")))", {"bytes can only contain ASCII literal characters at byte range 3..5"}},
      // A literal part of an f-string: the element is kept, empty.
      {"f'a\\N{NOPE}b{x}'", R"((fstr (f f' "" (interp x))))", {"Got unexpected unicode at byte range 6..10"}},
      // Each collapsed brace moves the file position of later errors.
      {"f'{{x}}\\x4'", R"((fstr (f f' "")))", {"Got unexpected unicode at byte range 10..10"}},
      // An unclosed plain string keeps its text and says so in its flags.
      {"'abc", R"((str "abc" (s '+unclosed "abc")))", {"missing closing quote in string literal at byte range 0..4"}},
      // An f-string without its closing quote: unclosed, and the end token
      // is reported missing.
      {"f'abc", R"((fstr (f f'+unclosed "abc")))",
       {"f-string: unterminated string at byte range 2..5", "Expected FStringEnd, found newline at byte range 5..5"}},
      {"t'''abc", R"((tstr (t t'''+unclosed "abc")))",
       {"t-string: unterminated triple-quoted string at byte range 4..7",
        "Expected TStringEnd, found newline at byte range 7..7"}},
  };
  for (const ErrorCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    std::vector<std::string> expected(c.errors.begin(), c.errors.end());
    EXPECT_EQ(parsed.errors, expected) << c.source;
  }
}

TEST(ExpressionString, NodeRanges) {
  const TreeCase cases[] = {
      {"'a' 'b'", "ExprStringLiteral 0..7, StringLiteral 0..3, StringLiteral 4..7"},
      {"b'a' b'b'", "ExprBytesLiteral 0..9, BytesLiteral 0..4, BytesLiteral 5..9"},
      {"f'a{x!r:>{w}}b'",
       "ExprFString 0..15, FStringLiteralPart 0..15, InterpolatedStringLiteralElement 2..3, Interpolation 3..13, "
       "ExprName 4..5, InterpolatedStringFormatSpec 8..12, InterpolatedStringLiteralElement 8..9, "
       "Interpolation 9..12, ExprName 10..11, InterpolatedStringLiteralElement 13..14"},
      // An empty format specifier is empty at the colon's end.
      {"f'{x:}'", "ExprFString 0..7, FStringLiteralPart 0..7, Interpolation 2..6, ExprName 3..4, "
                  "InterpolatedStringFormatSpec 5..5"},
      // A literal part with a doubled brace covers both braces.
      {"f'{{x}}'", "ExprFString 0..8, FStringLiteralPart 0..8, InterpolatedStringLiteralElement 2..7"},
      {"t'{x}' t''", "ExprTString 0..10, TString 0..6, Interpolation 2..5, ExprName 3..4, TString 7..10"},
      {"'a' f'{x}'", "ExprFString 0..10, StringLiteral 0..3, FStringLiteralPart 4..10, Interpolation 6..9, "
                     "ExprName 7..8"},
      // Mixed concatenations keep every part's own range.
      {"'a' b'b'", "ExprStringLiteral 0..8, StringLiteral 0..3, StringLiteral 4..8"},
  };
  for (const TreeCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.ranges(), c.tree) << c.source;
  }
}

// The joined text of a concatenation is computed once, when the node is
// built, and lives in the arena: the tree is never written to afterwards.
TEST(ExpressionString, JoinedValueIsComputedWhenBuilt) {
  ParsedExpression parsed = parse_expression_for_test("'ab' 'c\\td' r'\\e'");
  ASSERT_TRUE(parsed.errors.empty()) << parsed.first_error();
  const auto& literal = parsed.expr->cast<python_ast::ExprStringLiteral>();
  EXPECT_TRUE(literal.value.is_implicit_concatenated());
  EXPECT_EQ(literal.value.to_str(), "abc\td\\e");

  // A literal with nothing to decode is a view of the source itself.
  std::string_view source = parsed.parsed.tree->source();
  std::string_view first = literal.value.parts()[0].value;
  EXPECT_EQ(first.data(), source.data() + 1);
  std::string_view second = literal.value.parts()[1].value;
  EXPECT_EQ(second, "c\td");
  EXPECT_FALSE(second.data() >= source.data() && second.data() < source.data() + source.size());

  // Readers on many threads see the same text.
  std::vector<std::thread> readers;
  std::vector<std::string> seen(8);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    readers.emplace_back([&, i] { seen[i] = std::string(literal.value.to_str()); });
  }
  for (std::thread& reader : readers) reader.join();
  for (const std::string& text : seen) EXPECT_EQ(text, "abc\td\\e");
}

// The JSON dump of the string nodes holds every field.
TEST(ExpressionString, DumpHoldsEveryField) {
  ParsedExpression parsed = parse_expression_for_test("'a' rf\"{x = !r:>{w}}\"");
  ASSERT_TRUE(parsed.errors.empty()) << parsed.first_error();
  std::string json = python_ast::dump_json(*parsed.expr, parsed.parsed.tree->source());
  EXPECT_EQ(json,
            R"({"type":"ExprFString","range":[0,21],"parts":[)"
            R"({"type":"StringLiteral","range":[0,3],"value":"a",)"
            R"("flags":{"prefix":"","quotes":"'","unclosed":false,"invalid":false}},)"
            R"({"type":"FStringLiteralPart","range":[4,21],"elements":[)"
            R"({"type":"Interpolation","range":[7,20],)"
            R"("expression":{"type":"ExprName","range":[8,9],"id":"x","ctx":"Load"},)"
            R"("debug_text":{"leading":"","trailing":" = "},"conversion":"Repr",)"
            R"("format_spec":{"type":"InterpolatedStringFormatSpec","range":[15,19],"elements":[)"
            R"({"type":"InterpolatedStringLiteralElement","range":[15,16],"value":">"},)"
            R"({"type":"Interpolation","range":[16,19],)"
            R"("expression":{"type":"ExprName","range":[17,18],"id":"w","ctx":"Load"},)"
            R"("debug_text":null,"conversion":"None","format_spec":null}]}}],)"
            R"("flags":{"prefix":"rf","quotes":"\"","unclosed":false}}]})");
}

// Nested f-strings and format specifiers end with the nesting error instead
// of exhausting the stack; moderate depths parse unchanged.
TEST(ExpressionString, DeepNesting) {
  const std::pair<std::string_view, std::string_view> shapes[] = {
      {"f'{", "}'"},
      {"f\"{x:{", "}}\""},
      {"t'{", "}'"},
      {"f'{'a' f'{", "}'}'"},
  };
  for (const auto& [open, close] : shapes) {
    std::string deep;
    for (int i = 0; i < 50000; ++i) deep += open;
    deep += "x";
    for (int i = 0; i < 50000; ++i) deep += close;
    ParsedExpression parsed;
    ASSERT_NO_THROW(parsed = parse_expression_for_test(deep)) << open;
    bool nesting_reported = false;
    for (const std::string& error : parsed.errors) nesting_reported |= error.starts_with(kNestingTooDeepMessage);
    EXPECT_TRUE(nesting_reported) << open << ": " << parsed.first_error();

    std::string ordinary;
    for (int i = 0; i < 50; ++i) ordinary += open;
    ordinary += "x";
    for (int i = 0; i < 50; ++i) ordinary += close;
    ParsedExpression shallow = parse_expression_for_test(ordinary);
    EXPECT_TRUE(shallow.errors.empty()) << open << ": " << shallow.first_error();
  }
}

// Every prefix of these sources, and every source with one byte replaced,
// parses without a broken invariant: truncation and corruption inside
// interpolations, conversions, format specifiers and displays.
TEST(ExpressionString, TruncatedAndCorruptedSourcesNeverBreakAnInvariant) {
  const std::string_view sources[] = {
      "f'a{x!r:>{w}}b' 'c' b'd' t'{y=}'",
      "(f'{x!', [f\"{ {a: [b for b in c]} = !s:{d:{e}}}\"])",
      "f'''{\nx\n=!a:{y}\n}''' rf'\\N{x}{{' F\"{'a' b'b'}\"",
      "{**a, 'k': f'{v!r}', *b: [*c async for d in e if f]}",
      "[x for x in f'{y:{z!}}' if t'{w'}",
  };
  const char replacements[] = {'\'', '"', '{', '}', '!', ':', '=', '\n', '\\', 'r', ' ', '#', '[', ']'};
  for (std::string_view source : sources) {
    for (std::size_t length = 0; length <= source.size(); ++length) {
      std::string prefix(source.substr(0, length));
      EXPECT_NO_THROW((void)parse_unchecked(prefix, Mode::Module)) << prefix;
      EXPECT_NO_THROW((void)parse_unchecked(prefix, Mode::Expression)) << prefix;
    }
    for (std::size_t position = 0; position < source.size(); ++position) {
      for (char replacement : replacements) {
        std::string corrupted(source);
        corrupted[position] = replacement;
        EXPECT_NO_THROW((void)parse_unchecked(corrupted, Mode::Module)) << corrupted;
      }
    }
  }
}

// ---- Against CPython ----

// The first version whose grammar nests quotes inside f-strings.
constexpr std::string_view kNestedQuotesVersion = "3.12";

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    out.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
    out.push_back(kDigits[static_cast<unsigned char>(c) & 15]);
  }
  return out;
}

// Flattens both sides to what CPython's own tree says of a string
// expression: the merged literal texts (empty ones dropped) and, for each
// interpolation, the expression's byte range, the conversion (with the
// implicit `!r` of a debug text without a specifier) and the flattened
// specifier. Our side is read from the JSON dump; a debug text becomes the
// literal text before its interpolation, as CPython writes it. Each input
// line is "SOURCE DUMP" in hex (DUMP "-" when we reported errors); each
// output line is "ok" or what differs, in hex.
constexpr std::string_view kFlattenScript = R"(
import ast, json, sys

def merge(items):
    out = []
    for item in items:
        if item[0] == 's':
            if item[1] == '':
                continue
            if out and out[-1][0] == 's':
                out[-1] = ('s', out[-1][1] + item[1])
                continue
        out.append(item)
    return out

def offsets(text):
    starts = [0]
    for i, byte in enumerate(text):
        if byte == 10:
            starts.append(i + 1)
    return starts

def theirs(node, starts):
    if isinstance(node, ast.Constant):
        return [('b' if isinstance(node.value, bytes) else 's', node.value)]
    items = []
    for value in node.values:
        if isinstance(value, ast.Constant):
            items.append(('s', value.value))
            continue
        e = value.value
        span = (starts[e.lineno - 1] + e.col_offset, starts[e.end_lineno - 1] + e.end_col_offset)
        spec = theirs(value.format_spec, starts) if value.format_spec is not None else None
        items.append(('i', span, value.conversion, spec))
    return merge(items)

CONVERSIONS = {'None': -1, 'Repr': 114, 'Str': 115, 'Ascii': 97}

def our_elements(elements, source, items):
    for element in elements:
        if element['type'] == 'InterpolatedStringLiteralElement':
            items.append(('s', element['value']))
            continue
        start, end = element['expression']['range']
        conversion = CONVERSIONS[element['conversion']]
        debug = element['debug_text']
        if debug is not None:
            items.append(('s', debug['leading'] + source[start:end].decode() + debug['trailing']))
            if conversion == -1 and element['format_spec'] is None:
                conversion = 114
        spec = None
        if element['format_spec'] is not None:
            spec = []
            our_elements(element['format_spec']['elements'], source, spec)
            spec = merge(spec)
        items.append(('i', (start, end), conversion, spec))

def ours(tree, source):
    kind = tree['type']
    if kind == 'ExprStringLiteral':
        return [('s', tree['value'])]
    if kind == 'ExprBytesLiteral':
        return [('b', bytes(b for part in tree['parts'] for b in part['value']))]
    if kind == 'ExprFString':
        items = []
        for part in tree['parts']:
            if part['type'] == 'StringLiteral':
                items.append(('s', part['value']))
            else:
                our_elements(part['elements'], source, items)
        return merge(items)
    return [('not a string', kind)]

for line in sys.stdin:
    source_hex, dump_hex = line.split()
    source = bytes.fromhex(source_hex)
    try:
        tree = ast.parse(source.decode(), mode='eval').body
    except SyntaxError as error:
        tree = None
        message = str(error)
    if dump_hex == '2d':
        answer = 'ok' if tree is None else 'we report errors, CPython accepts'
    elif tree is None:
        answer = 'CPython rejects: ' + message
    else:
        expected = theirs(tree, offsets(source))
        got = ours(json.loads(bytes.fromhex(dump_hex)), source)
        answer = 'ok' if expected == got else 'CPython %r, ours %r' % (expected, got)
    sys.stdout.write(answer.encode().hex() + '\n')
)";

// Runs kFlattenScript over `inputs` with the first peer interpreter found;
// nothing when there is none (`skip` says why), no lines when it failed.
std::optional<std::vector<std::string>> run_flatten_peer(const std::vector<std::string>& inputs, std::string& skip) {
  std::vector<test_support::Oracle> oracles = test_support::oracles_from(kNestedQuotesVersion);
  if (oracles.empty()) {
    skip = "no oracle interpreter of Python 3.12 or later";
    return std::nullopt;
  }
  const std::string python = oracles.front().python;
  char dir_template[] = "/tmp/tolva_fstring_peer_XXXXXX";
  const char* dir = mkdtemp(dir_template);
  if (dir == nullptr) {
    skip = "cannot create a temporary directory";
    return std::nullopt;
  }
  const std::string script_path = std::string(dir) + "/peer.py";
  const std::string input_path = std::string(dir) + "/input.txt";
  std::ofstream(script_path) << kFlattenScript;
  {
    std::ofstream input(input_path);
    for (const std::string& line : inputs) input << line << '\n';
  }
  const std::string command = python + " " + script_path + " < " + input_path;
  std::string output;
  int status = -1;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
    status = pclose(pipe);
  }
  std::remove(script_path.c_str());
  std::remove(input_path.c_str());
  rmdir(dir);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::vector<std::string>();
  std::vector<std::string> answers;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::string text;
    for (std::size_t i = 0; i + 1 < line.size(); i += 2) {
      text.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    answers.push_back(text);
  }
  return answers;
}

// f-strings of every shape, and adjacent literals of every mixture, against
// CPython's own tree: literal texts, debug texts, conversions, format
// specifiers and expression ranges agree, and the sources we report errors
// for are the ones CPython refuses.
TEST(ExpressionString, AgreesWithCPython) {
  std::vector<std::string> sources;
  const std::string_view expressions[] = {"x",       "a.b",       "f(x, *y)",      "x[1:2]",  "(x := 1)", "'a' 'b'",
                                          "{a: b}",  "[i for i in y]", "x if y else z", "(yield)", "a, *b",   "f'{q!r}'"};
  const std::string_view debugs[] = {"", "=", " = ", "= ", " ="};
  const std::string_view conversions[] = {"", "!r", "!s", "!a"};
  const std::string_view specs[] = {"", ":", ":>10", ":{w}", ":{w}.{p}f", ":{w!r:{v}}", ":%H:%M", ":{{}}"};
  for (std::string_view expression : expressions) {
    for (std::string_view debug : debugs) {
      for (std::string_view conversion : conversions) {
        for (std::string_view spec : specs) {
          std::string field = std::string(expression) + std::string(debug) + std::string(conversion) + std::string(spec);
          sources.push_back("f\"a{" + field + "}b\\n\"");
          sources.push_back("f'''\n{ " + field + "}'''");
          sources.push_back("f'{{" + field + "}}'");
        }
      }
    }
  }
  const std::string_view literals[] = {"'a'", "b'b'", "f'{x}c'", "t'{x}'", "rb'\\d'", "u'\\N{BULLET}'", "F''"};
  for (std::string_view first : literals) {
    for (std::string_view second : literals) {
      sources.push_back(std::string(first) + " " + std::string(second));
      for (std::string_view third : literals) {
        sources.push_back(std::string(first) + " " + std::string(second) + " " + std::string(third));
      }
    }
  }
  const std::string_view rejected[] = {
      "f'{x!z}'", "f'{x! r}'", "f'{x!}'", "f'{}'",  "f'{x'",   "f'{lambda: 1}'",
      "f'a}'",    "f'{x:{y'",  "'\\x4'",  "b'\xc3\xa9'", "f'{*x}'", "f'{x!r=}'",
  };
  for (std::string_view source : rejected) sources.emplace_back(source);

  std::vector<std::string> compared;
  std::vector<std::string> inputs;
  for (const std::string& source : sources) {
    ParsedExpression parsed = parse_expression_for_test(source);
    // The peers predate t-strings: a valid one has nothing to be compared
    // with (a mixture with other literals is an error on both sides).
    if (parsed.errors.empty() && parsed.expr->is<python_ast::ExprTString>()) continue;
    compared.push_back(source);
    std::string dump = parsed.errors.empty() ? python_ast::dump_json(*parsed.expr, parsed.parsed.tree->source()) : "-";
    inputs.push_back(hex(source) + " " + hex(dump));
  }
  std::string skip;
  std::optional<std::vector<std::string>> answers = run_flatten_peer(inputs, skip);
  if (!answers) GTEST_SKIP() << skip;
  ASSERT_EQ(answers->size(), compared.size()) << "the Python peer failed";
  for (std::size_t i = 0; i < compared.size(); ++i) EXPECT_EQ((*answers)[i], "ok") << compared[i];
}

}  // namespace
}  // namespace python_parser
