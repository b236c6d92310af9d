#include "test_support/python_parser/expression_printer.h"

#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "python_ast/walk.h"

// The printer of the expression tree tests
// (expression_printer.h describes the form).
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
      case ExprKind::Lambda: {
        const auto& n = e->cast<python_ast::ExprLambda>();
        open("lambda");
        if (n.parameters != nullptr) parameters(*n.parameters);
        item(n.body);
        close();
        return;
      }
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
        identifier(n.attribute);
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
          if (keyword.arg) {
            out_ += " (kw ";
            identifier(*keyword.arg);
            out_ += ' ';
          } else {
            out_ += " (kw** ";
          }
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
  // The empty identifier of recovery prints like the empty name.
  void identifier(const python_ast::Identifier& name) {
    out_ += name.is_valid() ? name.as_str() : std::string_view("@Invalid");
  }
  void parameter(const python_ast::Parameter& p) {
    identifier(p.name);
    if (p.annotation != nullptr) {
      out_ += ':';
      expr(p.annotation);
    }
  }
  // ` [a b=1 / c * d **e]`, in declaration order, with the separators as
  // Python writes them.
  void parameters(const python_ast::Parameters& params) {
    out_ += " [";
    const char* separator = "";
    // The next entry starts with `mark`.
    auto next = [&](std::string_view mark) {
      out_ += separator;
      out_ += mark;
      separator = " ";
    };
    auto with_defaults = [&](std::span<const python_ast::ParameterWithDefault> list) {
      for (const python_ast::ParameterWithDefault& p : list) {
        next("");
        parameter(p.parameter);
        if (p.default_value != nullptr) {
          out_ += '=';
          expr(p.default_value);
        }
      }
    };
    with_defaults(params.positional_only);
    if (!params.positional_only.empty()) next("/");
    with_defaults(params.positional);
    if (params.var_positional != nullptr) {
      next("*");
      parameter(*params.var_positional);
    } else if (!params.keyword_only.empty()) {
      next("*");
    }
    with_defaults(params.keyword_only);
    if (params.var_keyword != nullptr) {
      next("**");
      parameter(*params.var_keyword);
    }
    out_ += ']';
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

std::string sexpr(const Expr& expr, std::string_view source) {
  Printer printer(source);
  printer.expr(&expr);
  return printer.take();
}

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

ParsedExpression parse_expression_for_test(std::string_view source) {
  ParsedExpression result{parse_unchecked(source, Mode::Expression), nullptr, {}};
  result.expr = result.parsed.syntax->cast<python_ast::ModExpression>().body;
  for (const ParseError& error : result.parsed.errors) result.errors.push_back(error.display());
  return result;
}

}  // namespace python_parser::expression_testing
