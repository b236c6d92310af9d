#include "python_parser/parser/expression_display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/dump.h"
#include "python_ast/walk.h"
#include "python_parser/parse.h"
#include "python_parser/parser/depth_guard.h"
#include "support/fatal_error.h"

// The tree tests of displays, comprehensions and strings print expressions
// as compact S-expressions (the form is described above `sexpr`). The
// printer lives here; expression_string_test.cc declares it again.
namespace python_parser::expression_testing {

using python_ast::Expr;
using python_ast::ExprKind;

namespace {

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof(buffer), "\\x%02x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

template <class Flags>
void append_flags(std::string& out, Flags flags, bool invalid) {
  out += python_ast::prefix_text(flags.prefix());
  out += flags.quote_str();
  if (invalid) out += "+invalid";
  if (flags.is_unclosed()) out += "+unclosed";
}

std::string_view ctx_suffix(python_ast::ExpressionContext ctx) {
  switch (ctx) {
    case python_ast::ExpressionContext::Load: return "";
    case python_ast::ExpressionContext::Store: return "@Store";
    case python_ast::ExpressionContext::Del: return "@Del";
    case python_ast::ExpressionContext::Invalid: return "@Invalid";
  }
  return "@?";
}

class Printer {
 public:
  explicit Printer(std::string_view source) : source_(source) {}

  void expr(const Expr* e) {
    if (e == nullptr) {
      out_ += "<null>";
      return;
    }
    switch (e->kind()) {
      case ExprKind::Name: {
        const auto& n = e->cast<python_ast::ExprName>();
        out_ += n.id.as_str();
        out_ += ctx_suffix(n.ctx);
        return;
      }
      case ExprKind::NumberLiteral:
      case ExprKind::BooleanLiteral:
      case ExprKind::NoneLiteral:
      case ExprKind::EllipsisLiteral:
        out_ += source_.substr(e->range.start().raw, e->range.length());
        return;
      case ExprKind::List: {
        const auto& n = e->cast<python_ast::ExprList>();
        open("list", ctx_suffix(n.ctx));
        list(n.elements);
        close();
        return;
      }
      case ExprKind::Tuple: {
        const auto& n = e->cast<python_ast::ExprTuple>();
        open(n.parenthesized ? "ptuple" : "tuple", ctx_suffix(n.ctx));
        list(n.elements);
        close();
        return;
      }
      case ExprKind::Set:
        open("set");
        list(e->cast<python_ast::ExprSet>().elements);
        close();
        return;
      case ExprKind::Dict:
        open("dict");
        for (const python_ast::DictItem& item : e->cast<python_ast::ExprDict>().items) {
          out_ += ' ';
          if (item.key == nullptr) {
            out_ += "(** ";
          } else {
            out_ += "(: ";
            expr(item.key);
            out_ += ' ';
          }
          expr(item.value);
          out_ += ')';
        }
        close();
        return;
      case ExprKind::ListComprehension: {
        const auto& n = e->cast<python_ast::ExprListComprehension>();
        open("listcomp");
        item(n.element);
        generators(n.generators);
        close();
        return;
      }
      case ExprKind::SetComprehension: {
        const auto& n = e->cast<python_ast::ExprSetComprehension>();
        open("setcomp");
        item(n.element);
        generators(n.generators);
        close();
        return;
      }
      case ExprKind::DictComprehension: {
        const auto& n = e->cast<python_ast::ExprDictComprehension>();
        open("dictcomp");
        item(n.key);
        item(n.value);
        generators(n.generators);
        close();
        return;
      }
      case ExprKind::Generator: {
        const auto& n = e->cast<python_ast::ExprGenerator>();
        open(n.parenthesized ? "pgen" : "gen");
        item(n.element);
        generators(n.generators);
        close();
        return;
      }
      case ExprKind::Starred: {
        const auto& n = e->cast<python_ast::ExprStarred>();
        open("*", ctx_suffix(n.ctx));
        item(n.value);
        close();
        return;
      }
      case ExprKind::Assignment: {
        const auto& n = e->cast<python_ast::ExprAssignment>();
        open(":=");
        item(n.target);
        item(n.value);
        close();
        return;
      }
      case ExprKind::BinOp: {
        const auto& n = e->cast<python_ast::ExprBinOp>();
        open(python_ast::as_str(n.op));
        item(n.left);
        item(n.right);
        close();
        return;
      }
      case ExprKind::UnaryOp: {
        const auto& n = e->cast<python_ast::ExprUnaryOp>();
        open(n.op == python_ast::UnaryOp::Not ? std::string_view("not") : python_ast::enum_name(n.op));
        item(n.operand);
        close();
        return;
      }
      case ExprKind::BooleanOperation: {
        const auto& n = e->cast<python_ast::ExprBooleanOperation>();
        open(python_ast::as_str(n.op));
        list(n.values);
        close();
        return;
      }
      case ExprKind::Comparison: {
        const auto& n = e->cast<python_ast::ExprComparison>();
        open("cmp");
        item(n.left);
        for (std::size_t i = 0; i < n.ops.size(); ++i) {
          out_ += ' ';
          out_ += python_ast::as_str(n.ops[i]);
          item(i < n.comparators.size() ? n.comparators[i] : nullptr);
        }
        close();
        return;
      }
      case ExprKind::Conditional: {
        const auto& n = e->cast<python_ast::ExprConditional>();
        open("if");
        item(n.body);
        item(n.test);
        item(n.orelse);
        close();
        return;
      }
      case ExprKind::Lambda:
        open("lambda");
        item(e->cast<python_ast::ExprLambda>().body);
        close();
        return;
      case ExprKind::Await:
        open("await");
        item(e->cast<python_ast::ExprAwait>().value);
        close();
        return;
      case ExprKind::Yield: {
        open("yield");
        const Expr* value = e->cast<python_ast::ExprYield>().value;
        if (value != nullptr) item(value);
        close();
        return;
      }
      case ExprKind::YieldFrom:
        open("yield-from");
        item(e->cast<python_ast::ExprYieldFrom>().value);
        close();
        return;
      case ExprKind::Attribute: {
        const auto& n = e->cast<python_ast::ExprAttribute>();
        open(".", ctx_suffix(n.ctx));
        item(n.value);
        out_ += ' ';
        out_ += n.attribute.id.as_str();
        close();
        return;
      }
      case ExprKind::Subscript: {
        const auto& n = e->cast<python_ast::ExprSubscript>();
        open("[]", ctx_suffix(n.ctx));
        item(n.value);
        item(n.slice);
        close();
        return;
      }
      case ExprKind::Slice: {
        const auto& n = e->cast<python_ast::ExprSlice>();
        open("slice");
        item(n.lower);
        item(n.upper);
        item(n.step);
        close();
        return;
      }
      case ExprKind::Call: {
        const auto& n = e->cast<python_ast::ExprCall>();
        open("call");
        item(n.function);
        list(n.arguments.args);
        for (const python_ast::Keyword& keyword : n.arguments.keywords) {
          out_ += keyword.arg ? " (kw " + std::string(keyword.arg->id.as_str()) + " " : std::string(" (kw** ");
          expr(keyword.value);
          out_ += ')';
        }
        close();
        return;
      }
      case ExprKind::StringLiteral: {
        const auto& value = e->cast<python_ast::ExprStringLiteral>().value;
        open("str");
        out_ += ' ';
        append_quoted(out_, value.to_str());
        for (const python_ast::StringLiteral& part : value.parts()) string_literal(part);
        close();
        return;
      }
      case ExprKind::BytesLiteral:
        open("bytes");
        for (const python_ast::BytesLiteral& part : e->cast<python_ast::ExprBytesLiteral>().value.parts()) {
          out_ += " (b ";
          append_flags(out_, part.flags, part.flags.is_invalid());
          out_ += ' ';
          append_quoted(out_, part.value);
          out_ += ')';
        }
        close();
        return;
      case ExprKind::FString:
        open("fstr");
        for (const python_ast::FStringPart& part : e->cast<python_ast::ExprFString>().value.parts()) {
          if (const python_ast::StringLiteral* literal = part.as_literal()) {
            string_literal(*literal);
          } else {
            const python_ast::FStringLiteralPart& fstring = *part.as_fstring();
            out_ += " (f ";
            append_flags(out_, fstring.flags, false);
            elements(fstring.elements);
            out_ += ')';
          }
        }
        close();
        return;
      case ExprKind::TString:
        open("tstr");
        for (const python_ast::TString& part : e->cast<python_ast::ExprTString>().value.parts()) {
          out_ += " (t ";
          append_flags(out_, part.flags, false);
          elements(part.elements);
          out_ += ')';
        }
        close();
        return;
      default:
        out_ += '<';
        out_ += e->kind_name();
        out_ += '>';
        return;
    }
  }

  std::string take() { return std::move(out_); }

 private:
  void open(std::string_view head, std::string_view suffix = {}) {
    out_ += '(';
    out_ += head;
    out_ += suffix;
  }
  void close() { out_ += ')'; }
  void item(const Expr* e) {
    out_ += ' ';
    expr(e);
  }
  void list(std::span<Expr* const> items) {
    for (const Expr* e : items) item(e);
  }
  void generators(std::span<const python_ast::Comprehension> clauses) {
    for (const python_ast::Comprehension& clause : clauses) {
      out_ += clause.is_async ? " (async-for" : " (for";
      item(clause.target);
      item(clause.iter);
      if (!clause.conditions.empty()) {
        out_ += " (if";
        list(clause.conditions);
        out_ += ')';
      }
      out_ += ')';
    }
  }
  void string_literal(const python_ast::StringLiteral& part) {
    out_ += " (s ";
    append_flags(out_, part.flags, part.flags.is_invalid());
    out_ += ' ';
    append_quoted(out_, part.value);
    out_ += ')';
  }
  void elements(python_ast::InterpolatedStringElements items) {
    for (const python_ast::InterpolatedStringElement* element : items) {
      out_ += ' ';
      if (const auto* literal = element->as<python_ast::InterpolatedStringLiteralElement>()) {
        append_quoted(out_, literal->value);
        continue;
      }
      const auto& interpolation = element->cast<python_ast::Interpolation>();
      out_ += "(interp";
      item(interpolation.expression);
      if (interpolation.debug_text) {
        out_ += " (debug ";
        append_quoted(out_, interpolation.debug_text->leading);
        out_ += ' ';
        append_quoted(out_, interpolation.debug_text->trailing);
        out_ += ')';
      }
      if (interpolation.conversion != python_ast::Conversion::None) {
        out_ += " !";
        out_ += static_cast<char>(interpolation.conversion);
      }
      if (interpolation.format_spec != nullptr) {
        out_ += " (spec";
        elements(interpolation.format_spec->elements);
        out_ += ')';
      }
      out_ += ')';
    }
  }

  std::string_view source_;
  std::string out_;
};

}  // namespace

// The S-expression of an expression:
//   names `x` (with `@Store`, `@Del`, `@Invalid` for other contexts; the
//   empty name of recovery is `@Invalid`); literals as written;
//   `(list ...)`, `(tuple ...)` / `(ptuple ...)` (parenthesized), `(set ...)`,
//   `(dict (: k v) (** m))`, `(listcomp e CLAUSE...)`, `(setcomp e ...)`,
//   `(dictcomp k v ...)`, `(gen e ...)` / `(pgen e ...)` (parenthesized),
//   CLAUSE `(for target iter (if c...))` or `(async-for ...)`; `(* v)`,
//   `(:= t v)`, operators by their text, `(cmp a < b)`, `(call f args
//   (kw name v))`, `(. v attr)`, `([] v slice)`;
//   `(str "joined" (s FLAGS "value")...)`, `(bytes (b FLAGS "value")...)`,
//   `(fstr PART...)` with PART `(s ...)` or `(f FLAGS ELEMENT...)`,
//   `(tstr (t FLAGS ELEMENT...)...)`; ELEMENT a quoted literal or
//   `(interp e (debug "leading" "trailing") !r (spec ELEMENT...))`;
//   FLAGS the prefix and the quotes, then `+invalid` and `+unclosed`.
std::string sexpr(const Expr& expr, std::string_view source) {
  Printer printer(source);
  printer.expr(&expr);
  return printer.take();
}

// "Type start..end" of the expression and every node below it, pre-order.
std::string node_ranges(const Expr& expr) {
  std::string out;
  python_ast::walk_preorder(python_ast::AnyNodeRef(expr), [&](python_ast::AnyNodeRef node) {
    if (!out.empty()) out += ", ";
    out += node.type_name();
    out += ' ';
    out += node.range().debug();
  });
  return out;
}

}  // namespace python_parser::expression_testing

namespace python_parser {
namespace {

// One expression, parsed in expression mode, with every error of the parse
// in its display form.
struct ParsedExpression {
  Parsed<python_ast::Mod> parsed;
  const python_ast::Expr* expr = nullptr;
  std::vector<std::string> errors;

  std::string tree() const { return expression_testing::sexpr(*expr, parsed.tree->source()); }
  std::string ranges() const { return expression_testing::node_ranges(*expr); }
  std::string first_error() const { return errors.empty() ? std::string("<none>") : errors.front(); }
};

ParsedExpression parse_expression_for_test(std::string_view source) {
  ParsedExpression result{parse_unchecked(source, Mode::Expression), nullptr, {}};
  result.expr = result.parsed.syntax->cast<python_ast::ModExpression>().body;
  for (const ParseError& error : result.parsed.errors) result.errors.push_back(error.display());
  return result;
}


struct TreeCase {
  std::string_view source;
  std::string_view tree;
};

TEST(ExpressionDisplay, DisplaysAndComprehensionsWithoutErrors) {
  const TreeCase cases[] = {
      {"[]", "(list)"},
      {"[1]", "(list 1)"},
      {"[1, 2,]", "(list 1 2)"},
      {"[*a, b]", "(list (* a) b)"},
      {"[x := 1, y]", "(list (:= x@Store 1) y)"},
      {"[1, [2, {3: [4]}]]", "(list 1 (list 2 (dict (: 3 (list 4)))))"},
      {"{}", "(dict)"},
      {"{1, 2,}", "(set 1 2)"},
      {"{1}", "(set 1)"},
      {"{*a, b}", "(set (* a) b)"},
      {"{*(a or b)}", "(set (* (or a b)))"},
      {"{x := 1, y}", "(set (:= x@Store 1) y)"},
      {"{1: 2, **m, 3: 4,}", "(dict (: 1 2) (** m) (: 3 4))"},
      {"{**a, k: 1}", "(dict (** a) (: k 1))"},
      {"{**a, **b}", "(dict (** a) (** b))"},
      {"{**a | b}", "(dict (** (| a b)))"},
      {"{(a := 1): 2}", "(dict (: (:= a@Store 1) 2))"},
      {"{a: b if c else d}", "(dict (: a (if b c d)))"},
      {"{1: 2 for x in y}", "(dictcomp 1 2 (for x@Store y))"},
      {"{a: b for a, b in c if d}", "(dictcomp a b (for (tuple@Store a@Store b@Store) c (if d)))"},
      {"{1 for x in y}", "(setcomp 1 (for x@Store y))"},
      {"{(x := 1) for y in z}", "(setcomp (:= x@Store 1) (for y@Store z))"},
      {"[x for x in y]", "(listcomp x (for x@Store y))"},
      {"[x async for x in y if a if b]", "(listcomp x (async-for x@Store y (if a b)))"},
      {"[x for x in a for y in b if y async for z in c]",
       "(listcomp x (for x@Store a) (for y@Store b (if y)) (async-for z@Store c))"},
      {"[x for x, y in z]", "(listcomp x (for (tuple@Store x@Store y@Store) z))"},
      {"[x for *a, b in c]", "(listcomp x (for (tuple@Store (*@Store a@Store) b@Store) c))"},
      {"[x for [a, b] in c]", "(listcomp x (for (list@Store a@Store b@Store) c))"},
      {"[x for a.b in c]", "(listcomp x (for (.@Store a b) c))"},
      {"[x for x in y if a or b and c]", "(listcomp x (for x@Store y (if (or a (and b c)))))"},
      {"[x for x in not a]", "(listcomp x (for x@Store (not a)))"},
      {"[x for x in a if (y := x)]", "(listcomp x (for x@Store a (if (:= y@Store x))))"},
      {"[x for x in (a if b else c)]", "(listcomp x (for x@Store (if a b c)))"},
      {"[x for x in a not in b]", "(listcomp x (for x@Store (cmp a not in b)))"},
      {"[(x, y) for x in a]", "(listcomp (ptuple x y) (for x@Store a))"},
      {"[[y for y in x] for x in z]", "(listcomp (listcomp y (for y@Store x)) (for x@Store z))"},
      {"(x for x in y)", "(pgen x (for x@Store y))"},
      {"(x async for x in y if z)", "(pgen x (async-for x@Store y (if z)))"},
      {"f(x for x in y)", "(call f (gen x (for x@Store y)))"},
      {"[x for x in y][0]", "([] (listcomp x (for x@Store y)) 0)"},
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

TEST(ExpressionDisplay, ErrorsAndTheTreesBuiltAroundThem) {
  const ErrorCase cases[] = {
      // A missing comma after the first element, and between later ones.
      {"[1 2]", "(list 1 2)", {"Expected `,`, found int at byte range 3..4"}},
      {"[1, 2 3]", "(list 1 2 3)", {"Expected `,`, found int at byte range 6..7"}},
      {"{1 2}", "(set 1 2)", {"Expected `,`, found int at byte range 3..4"}},
      {"{1: 2 3: 4}", "(dict (: 1 2) (: 3 4))", {"Expected `,`, found int at byte range 6..7"}},
      // A comma with no element before it.
      {"[1, , 2]", "(list 1 2)", {"Expected an expression or a ']' at byte range 4..5"}},
      {"[, 1]", "(list @Invalid 1)", {"Expected an expression at byte range 1..2"}},
      {"{1, , 2}", "(set 1 2)", {"Expected an expression or a '}' at byte range 4..5"}},
      {"{1: 2, , 3: 4}", "(dict (: 1 2) (: 3 4))", {"Expected an expression or a '}' at byte range 7..8"}},
      // A dict item without its value.
      {"{1: 2, 3}", "(dict (: 1 2) (: 3 @Invalid))", {"Expected `:`, found `}` at byte range 8..9"}},
      // Starred and named first keys stay keys.
      {"{*a: 1}", "(dict (: (* a) 1))", {"Starred expression cannot be used here at byte range 1..3"}},
      {"{a := 1: 2}", "(dict (: (:= a@Store 1) 2))",
       {"Unparenthesized named expression cannot be used here at byte range 1..7"}},
      // A later starred key or value is the expression parser's to report.
      {"{1: 2, *a: 3}", "(dict (: 1 2) (: (* a) 3))", {"Starred expression cannot be used here at byte range 7..9"}},
      // Unpacking in a comprehension's element.
      {"[*a for a in b]", "(listcomp (* a) (for a@Store b))",
       {"Iterable unpacking cannot be used in a comprehension at byte range 1..3"}},
      {"{*a for a in b}", "(setcomp (* a) (for a@Store b))",
       {"Iterable unpacking cannot be used in a comprehension at byte range 1..3"}},
      // The parenthesized form is the group's error, not the comprehension's.
      {"[(*a) for a in b]", "(listcomp (* a) (for a@Store b))",
       {"Starred expression cannot be used here at byte range 2..4"}},
      // `**` starts a dict display, never a comprehension: the list loop
      // skips `for`, and `a in b` is then the next key (keys do not stop at
      // `in`), whose `:` is missing.
      {"{**a for a in b}", "(dict (** a) (: (cmp a in b) @Invalid))",
       {"Expected an expression or a '}' at byte range 5..8", "Expected `:`, found `}` at byte range 15..16"}},
      // The value after `*` and `**` binds at bitwise-or level.
      {"[*a or b]", "(list (* (or a b)))", {"Boolean expression cannot be used here at byte range 2..8"}},
      {"{**a if b else c}", "(dict (** (if a b c)))",
       {"Conditional expression cannot be used here at byte range 3..16"}},
      // Clause keywords.
      {"[x async x in y]", "(listcomp x (async-for x@Store y))", {"Expected `for`, found name at byte range 9..10"}},
      {"[x for x y]", "(listcomp x (for x@Store y))", {"Expected `in`, found name at byte range 9..10"}},
      // The condition ends before `else`, which then stands where `]` should.
      {"[x for x in a if b else c]", "(listcomp x (for x@Store a (if b)))",
       {"Expected `]`, found `else` at byte range 19..23"}},
      // A lambda or a conditional is no iterable without parentheses.
      {"[x for x in lambda: y]", "(listcomp x (for x@Store (lambda y)))",
       {"Lambda expression cannot be used here at byte range 12..21"}},
      // Targets that cannot be assigned to.
      {"[x for 1 in y]", "(listcomp x (for 1 y))", {"Invalid assignment target at byte range 7..8"}},
      {"[x for f() in y]", "(listcomp x (for (call f) y))", {"Invalid assignment target at byte range 7..10"}},
      // A bracket or brace that is never closed: the lexer reports the end of
      // the file inside brackets, which hides the parser's errors there.
      {"[", "(list @Invalid)", {"unexpected EOF while parsing at byte range 1..1"}},
      {"{", "(set @Invalid)", {"unexpected EOF while parsing at byte range 1..1"}},
      {"[1, 2", "(list 1 2)", {"unexpected EOF while parsing at byte range 5..5"}},
      {"{1: 2", "(dict (: 1 2))", {"unexpected EOF while parsing at byte range 5..5"}},
      {"[x for x in y", "(listcomp x (for x@Store y))", {"unexpected EOF while parsing at byte range 13..13"}},
      {"(x for x in y", "(pgen x (for x@Store y))", {"unexpected EOF while parsing at byte range 13..13"}},
  };
  for (const ErrorCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    std::vector<std::string> expected(c.errors.begin(), c.errors.end());
    EXPECT_EQ(parsed.errors, expected) << c.source;
  }
}

TEST(ExpressionDisplay, NodeRanges) {
  const TreeCase cases[] = {
      // Displays cover their brackets.
      {"[]", "ExprList 0..2"},
      {"{}", "ExprDict 0..2"},
      {"[a, b,]", "ExprList 0..7, ExprName 1..2, ExprName 4..5"},
      {"{a: b}", "ExprDict 0..6, ExprName 1..2, ExprName 4..5"},
      // A clause runs from its `for` or `async` to its last condition.
      {"[x for x in y if z]",
       "ExprListComprehension 0..19, ExprName 1..2, Comprehension 3..18, ExprName 7..8, ExprName 12..13, "
       "ExprName 17..18"},
      {"{k: v async for k in y}",
       "ExprDictComprehension 0..23, ExprName 1..2, ExprName 4..5, Comprehension 6..22, ExprName 16..17, "
       "ExprName 21..22"},
      // A generator with its own parentheses covers them; the sole argument
      // of a call does not own the call's.
      {"(x for x in y)", "ExprGenerator 0..14, ExprName 1..2, Comprehension 3..13, ExprName 7..8, ExprName 12..13"},
      {"f(x for x in y)",
       "ExprCall 0..15, ExprName 0..1, Arguments 1..15, ExprGenerator 2..14, ExprName 2..3, Comprehension 4..14, "
       "ExprName 8..9, ExprName 13..14"},
      // A missing bracket: the display ends with its last element.
      {"[a, b", "ExprList 0..5, ExprName 1..2, ExprName 4..5"},
  };
  for (const TreeCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.ranges(), c.tree) << c.source;
  }
}

// Inside a module: line breaks within brackets do not end the statement;
// a statement keyword after an unclosed bracket ends the display (the line
// break before it becomes logical again) and is parsed as a statement.
TEST(ExpressionDisplay, MissingClosingBracketInAModule) {
  struct Case {
    std::string_view source;
    std::vector<std::string_view> errors;
  };
  const Case cases[] = {
      {"x = [1,\n  2]\ny = {a: b,\n c: d}\n", {}},
      {"x = [1, 2\ndef f(): pass\n", {"Expected `]`, found newline at byte range 9..10"}},
      {"x = {1: 2, 3: 4\ndef f(): pass\n", {"Expected `}`, found newline at byte range 15..16"}},
      // After a dict's first item the comma is expected before the list
      // loop runs, so the keyword is reported first, then the brace at the
      // line break before it: the errors keep the order they were found in.
      {"x = {1: 2\ndef f(): pass\n",
       {"Expected `,`, found `def` at byte range 10..13", "Expected `}`, found newline at byte range 9..10"}},
      {"x = {1, 2\nclass C: pass\n", {"Expected `}`, found newline at byte range 9..10"}},
  };
  for (const Case& c : cases) {
    Parsed<python_ast::Mod> parsed = parse_unchecked(c.source, Mode::Module);
    std::vector<std::string> errors;
    for (const ParseError& error : parsed.errors) errors.push_back(error.display());
    std::vector<std::string> expected(c.errors.begin(), c.errors.end());
    EXPECT_EQ(errors, expected) << c.source;
  }
}

// The JSON dump of the display and comprehension nodes holds every field.
TEST(ExpressionDisplay, DumpHoldsEveryField) {
  ParsedExpression parsed = parse_expression_for_test("{k: [*v] async for k in y if c}");
  ASSERT_TRUE(parsed.errors.empty()) << parsed.first_error();
  std::string json = python_ast::dump_json(*parsed.expr, parsed.parsed.tree->source());
  EXPECT_EQ(json,
            R"({"type":"ExprDictComprehension","range":[0,31],)"
            R"("key":{"type":"ExprName","range":[1,2],"id":"k","ctx":"Load"},)"
            R"("value":{"type":"ExprList","range":[4,8],"elements":[{"type":"ExprStarred","range":[5,7],)"
            R"("value":{"type":"ExprName","range":[6,7],"id":"v","ctx":"Load"},"ctx":"Load"}],"ctx":"Load"},)"
            R"("generators":[{"type":"Comprehension","range":[9,30],)"
            R"("target":{"type":"ExprName","range":[19,20],"id":"k","ctx":"Store"},)"
            R"("iter":{"type":"ExprName","range":[24,25],"id":"y","ctx":"Load"},)"
            R"("conditions":[{"type":"ExprName","range":[29,30],"id":"c","ctx":"Load"}],"is_async":true}]})");
}

// Deep nesting of every display kind ends with the nesting error instead of
// exhausting the stack.
TEST(ExpressionDisplay, DeepNestingIsReportedNotFatal) {
  const std::string_view openers[] = {"[", "{", "{**", "[x for x in ", "{x: y for x in ", "(x for x in ", "{1: "};
  for (std::string_view opener : openers) {
    std::string source;
    for (int i = 0; i < 100000; ++i) source += opener;
    ParsedExpression parsed;
    ASSERT_NO_THROW(parsed = parse_expression_for_test(source)) << opener;
    ASSERT_FALSE(parsed.errors.empty()) << opener;
    bool nesting_reported = false;
    for (const std::string& error : parsed.errors) {
      nesting_reported |= error.starts_with(kNestingTooDeepMessage);
    }
    EXPECT_TRUE(nesting_reported) << opener << ": " << parsed.first_error();
  }
}

// Moderately deep displays parse unchanged.
TEST(ExpressionDisplay, OrdinaryDepthParses) {
  std::string source;
  for (int i = 0; i < 100; ++i) source += "[{";
  source += "x";
  for (int i = 0; i < 100; ++i) source += "}]";
  ParsedExpression parsed = parse_expression_for_test(source);
  EXPECT_TRUE(parsed.errors.empty()) << parsed.first_error();
}

}  // namespace
}  // namespace python_parser
