#include "test_support/python_parser/syntax_printer.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>
#include "python_ast/dump.h"
#include "python_ast/walk.h"
#include "python_parser/parse.h"
#include "python_parser/parser/depth_guard.h"
#include "support/fatal_error.h"
#include "test_support/threads.h"
// ---------------------------------------------------------------------------
// Test support of the pattern and with-statement tests: a compact
// S-expression of patterns and expressions, in the vocabulary of CPython's
// `ast` module so that the same text can be printed from CPython's tree, and
// a runner that has a Python interpreter print it.

namespace python_parser::syntax_testing {


using python_ast::Expr;
using python_ast::Pattern;

namespace {

std::string range_text(text_size::TextRange range, std::uint32_t base) {
  std::string out = std::to_string(range.start().raw - base);
  out += "..";
  out += std::to_string(range.end().raw - base);
  return out;
}

std::string name_text(std::string_view name) { return name.empty() ? std::string("''") : std::string(name); }

// CPython's class name of an expression, for those printed without their
// children.
std::string_view cpython_name(const Expr& expr) {
  using K = python_ast::ExprKind;
  switch (expr.kind()) {
    case K::BooleanOperation: return "BoolOp";
    case K::Assignment: return "NamedExpr";
    case K::BinOp: return "BinOp";
    case K::UnaryOp: return "UnaryOp";
    case K::Lambda: return "Lambda";
    case K::Conditional: return "IfExp";
    case K::Dict: return "Dict";
    case K::Set: return "Set";
    case K::ListComprehension: return "ListComp";
    case K::SetComprehension: return "SetComp";
    case K::DictComprehension: return "DictComp";
    case K::Generator: return "GeneratorExp";
    case K::Await: return "Await";
    case K::Yield: return "Yield";
    case K::YieldFrom: return "YieldFrom";
    case K::Comparison: return "Compare";
    case K::Call: return "Call";
    case K::FString: return "JoinedStr";
    case K::TString: return "TemplateStr";
    case K::StringLiteral:
    case K::BytesLiteral:
    case K::NumberLiteral:
    case K::BooleanLiteral:
    case K::NoneLiteral:
    case K::EllipsisLiteral: return "Constant";
    case K::Attribute: return "Attribute";
    case K::Subscript: return "Subscript";
    case K::Starred: return "Starred";
    case K::Name: return "Name";
    case K::List: return "List";
    case K::Tuple: return "Tuple";
    case K::Slice: return "Slice";
    case K::IpyEscapeCommand: return "IpyEscapeCommand";
  }
  return "?";
}

// Appends the S-expressions; `base` is subtracted from every offset.
class Printer {
 public:
  explicit Printer(std::uint32_t base) : base_(base) {}

  std::string take() { return std::move(out_); }

  // Names, attributes, constants, unary and binary operations, starred
  // expressions, tuples, lists, named expressions, yields, calls and dicts
  // with their children; every other expression as its class and range.
  void expr(const Expr* expr) {
    if (expr == nullptr) {
      out_ += '-';
      return;
    }
    out_ += '(';
    out_ += cpython_name(*expr);
    range(expr->range);
    if (const auto* name = expr->as<python_ast::ExprName>()) {
      word(name_text(name->id.as_str()));
      word(python_ast::enum_name(name->ctx));
    } else if (const auto* attribute = expr->as<python_ast::ExprAttribute>()) {
      child(attribute->value);
      word(name_text(attribute->attribute.as_str()));
      word(python_ast::enum_name(attribute->ctx));
    } else if (const auto* unary = expr->as<python_ast::ExprUnaryOp>()) {
      word(python_ast::enum_name(unary->op));
      child(unary->operand);
    } else if (const auto* binary = expr->as<python_ast::ExprBinOp>()) {
      child(binary->left);
      word(python_ast::enum_name(binary->op));
      child(binary->right);
    } else if (const auto* starred = expr->as<python_ast::ExprStarred>()) {
      child(starred->value);
      word(python_ast::enum_name(starred->ctx));
    } else if (const auto* tuple = expr->as<python_ast::ExprTuple>()) {
      for (const Expr* element : tuple->elements) child(element);
      word(python_ast::enum_name(tuple->ctx));
    } else if (const auto* list = expr->as<python_ast::ExprList>()) {
      for (const Expr* element : list->elements) child(element);
      word(python_ast::enum_name(list->ctx));
    } else if (const auto* named = expr->as<python_ast::ExprAssignment>()) {
      child(named->target);
      child(named->value);
    } else if (const auto* yield = expr->as<python_ast::ExprYield>()) {
      child(yield->value);
    } else if (const auto* yield_from = expr->as<python_ast::ExprYieldFrom>()) {
      child(yield_from->value);
    } else if (const auto* call = expr->as<python_ast::ExprCall>()) {
      child(call->function);
      out_ += " (";
      for (const Expr* argument : call->arguments.args) child(argument);
      out_ += ')';
      for (const python_ast::Keyword& keyword : call->arguments.keywords) {
        out_ += " (";
        out_ += keyword.arg ? name_text(keyword.arg->as_str()) : std::string("**");
        out_ += '=';
        this->expr(keyword.value);
        out_ += ')';
      }
    } else if (const auto* dict = expr->as<python_ast::ExprDict>()) {
      for (const python_ast::DictItem& item : dict->items) {
        out_ += " (";
        if (item.key != nullptr) {
          this->expr(item.key);
        } else {
          out_ += "**";
        }
        child(item.value);
        out_ += ')';
      }
    }
    out_ += ')';
  }

  // Every pattern with its children; a keyword pattern as
  // `attribute=pattern`, a mapping item as `(key pattern)`.
  void pattern(const Pattern* pattern) {
    if (pattern == nullptr) {
      out_ += '-';
      return;
    }
    out_ += '(';
    out_ += python_ast::kind_name(pattern->kind()).substr(std::string_view("Pattern").size());
    range(pattern->range);
    switch (pattern->kind()) {
      case python_ast::PatternKind::Value:
        child(pattern->cast<python_ast::PatternValue>().value);
        break;
      case python_ast::PatternKind::Singleton:
        word(python_ast::enum_name(pattern->cast<python_ast::PatternSingleton>().value));
        break;
      case python_ast::PatternKind::Sequence:
        for (const Pattern* element : pattern->cast<python_ast::PatternSequence>().patterns) child(element);
        break;
      case python_ast::PatternKind::Mapping: {
        const auto& mapping = pattern->cast<python_ast::PatternMapping>();
        for (std::size_t i = 0; i < mapping.keys.size() && i < mapping.patterns.size(); ++i) {
          out_ += " (";
          expr(mapping.keys[i]);
          child(mapping.patterns[i]);
          out_ += ')';
        }
        if (mapping.rest) {
          out_ += " **";
          out_ += name_text(mapping.rest->as_str());
        }
        break;
      }
      case python_ast::PatternKind::Class: {
        const auto& cls = pattern->cast<python_ast::PatternClass>();
        child(cls.cls);
        out_ += " (";
        for (const Pattern* argument : cls.arguments.patterns) child(argument);
        out_ += ')';
        for (const python_ast::PatternKeyword& keyword : cls.arguments.keywords) {
          out_ += " (";
          out_ += name_text(keyword.attribute.as_str());
          out_ += '=';
          this->pattern(keyword.pattern);
          out_ += ')';
        }
        break;
      }
      case python_ast::PatternKind::Star:
        optional_name(pattern->cast<python_ast::PatternStar>().name);
        break;
      case python_ast::PatternKind::As: {
        const auto& as = pattern->cast<python_ast::PatternAs>();
        child(as.pattern);
        optional_name(as.name);
        break;
      }
      case python_ast::PatternKind::Or:
        for (const Pattern* alternative : pattern->cast<python_ast::PatternOr>().patterns) child(alternative);
        break;
    }
    out_ += ')';
  }

 private:
  void range(text_size::TextRange range) {
    out_ += ' ';
    out_ += range_text(range, base_);
  }
  void word(std::string_view text) {
    out_ += ' ';
    out_ += text;
  }
  void child(const Expr* node) {
    out_ += ' ';
    expr(node);
  }
  void child(const Pattern* node) {
    out_ += ' ';
    pattern(node);
  }
  void optional_name(const std::optional<python_ast::Identifier>& name) {
    word(name ? name_text(name->as_str()) : std::string("-"));
  }

  std::uint32_t base_;
  std::string out_;
};

}  // namespace

std::string sexpr(const Expr* expr, std::uint32_t base) {
  Printer printer(base);
  printer.expr(expr);
  return printer.take();
}

std::string sexpr(const Pattern* pattern, std::uint32_t base) {
  Printer printer(base);
  printer.pattern(pattern);
  return printer.take();
}

// The printer of CPython's side, the same vocabulary: `sexpr(node, base)`
// for the nodes above, offsets counted in bytes from the start of the text
// (CPython's columns are UTF-8 byte offsets).
const char kCPythonPrinter[] = R"PY(
import ast

def make_offsets(source):
    starts = [0]
    for index, byte in enumerate(source):
        if byte == 10:
            starts.append(index + 1)
    return starts

class Printer:
    def __init__(self, source):
        self.starts = make_offsets(source)

    def rng(self, node, base):
        start = self.starts[node.lineno - 1] + node.col_offset - base
        end = self.starts[node.end_lineno - 1] + node.end_col_offset - base
        return f"{start}..{end}"

    def name(self, text):
        return text if text else "''"

    def expr(self, node, base):
        if node is None:
            return "-"
        head = f"({type(node).__name__} {self.rng(node, base)}"
        ctx = lambda n: type(n.ctx).__name__
        if isinstance(node, ast.Name):
            return f"{head} {self.name(node.id)} {ctx(node)})"
        if isinstance(node, ast.Attribute):
            return f"{head} {self.expr(node.value, base)} {node.attr} {ctx(node)})"
        if isinstance(node, ast.UnaryOp):
            return f"{head} {type(node.op).__name__} {self.expr(node.operand, base)})"
        if isinstance(node, ast.BinOp):
            return f"{head} {self.expr(node.left, base)} {type(node.op).__name__} {self.expr(node.right, base)})"
        if isinstance(node, ast.Starred):
            return f"{head} {self.expr(node.value, base)} {ctx(node)})"
        if isinstance(node, (ast.Tuple, ast.List)):
            return head + "".join(" " + self.expr(e, base) for e in node.elts) + f" {ctx(node)})"
        if isinstance(node, ast.NamedExpr):
            return f"{head} {self.expr(node.target, base)} {self.expr(node.value, base)})"
        if isinstance(node, (ast.Yield, ast.YieldFrom)):
            return f"{head} {self.expr(node.value, base)})"
        if isinstance(node, ast.Call):
            out = f"{head} {self.expr(node.func, base)} (" + "".join(" " + self.expr(a, base) for a in node.args) + ")"
            for keyword in node.keywords:
                out += f" ({keyword.arg if keyword.arg is not None else '**'}={self.expr(keyword.value, base)})"
            return out + ")"
        if isinstance(node, ast.Dict):
            out = head
            for key, value in zip(node.keys, node.values):
                out += f" ({self.expr(key, base) if key is not None else '**'} {self.expr(value, base)})"
            return out + ")"
        return head + ")"

    def pattern(self, node, base):
        r = self.rng(node, base)
        seq = lambda ps: "".join(" " + self.pattern(p, base) for p in ps)
        if isinstance(node, ast.MatchValue):
            return f"(Value {r} {self.expr(node.value, base)})"
        if isinstance(node, ast.MatchSingleton):
            return f"(Singleton {r} {node.value})"
        if isinstance(node, ast.MatchSequence):
            return f"(Sequence {r}{seq(node.patterns)})"
        if isinstance(node, ast.MatchMapping):
            out = f"(Mapping {r}"
            for key, value in zip(node.keys, node.patterns):
                out += f" ({self.expr(key, base)} {self.pattern(value, base)})"
            if node.rest is not None:
                out += f" **{node.rest}"
            return out + ")"
        if isinstance(node, ast.MatchClass):
            out = f"(Class {r} {self.expr(node.cls, base)} ({seq(node.patterns)})"
            for attr, value in zip(node.kwd_attrs, node.kwd_patterns):
                out += f" ({attr}={self.pattern(value, base)})"
            return out + ")"
        if isinstance(node, ast.MatchStar):
            return f"(Star {r} {node.name if node.name is not None else '-'})"
        if isinstance(node, ast.MatchAs):
            inner = self.pattern(node.pattern, base) if node.pattern is not None else "-"
            return f"(As {r} {inner} {node.name if node.name is not None else '-'})"
        if isinstance(node, ast.MatchOr):
            return f"(Or {r}{seq(node.patterns)})"
        return "?"

    # One block per match and with statement, in source order.
    def report(self, tree):
        statements = [n for n in ast.walk(tree) if isinstance(n, (ast.Match, ast.With, ast.AsyncWith))]
        statements.sort(key=lambda n: (n.lineno, n.col_offset))
        out = []
        for node in statements:
            if isinstance(node, ast.Match):
                out.append(f"match {self.rng(node, 0)} {self.expr(node.subject, 0)}")
                for case in node.cases:
                    out.append(f"  case {self.pattern(case.pattern, 0)} if {self.expr(case.guard, 0)}")
            else:
                asynchronous = " async" if isinstance(node, ast.AsyncWith) else ""
                out.append(f"with {self.rng(node, 0)}{asynchronous}")
                for item in node.items:
                    out.append(f"  item {self.expr(item.context_expr, 0)} as {self.expr(item.optional_vars, 0)}")
        return "".join(line + "\n" for line in out)

# Arguments: a file of NUL-separated paths. For each file: "file PATH", then
# "invalid" when CPython refuses it, else its report.
def main():
    import sys
    with open(sys.argv[1], "rb") as listing:
        paths = [p.decode() for p in listing.read().split(b"\0") if p]
    out = sys.stdout
    for path in paths:
        out.write(f"file {path}\n")
        try:
            with open(path, "rb") as f:
                source = f.read()
            source.decode("utf-8")
            tree = ast.parse(source)
        except (SyntaxError, ValueError, UnicodeDecodeError, RecursionError, MemoryError):
            out.write("invalid\n")
            continue
        out.write(Printer(source).report(tree))

main()
)PY";

// The same report from this parser's tree.
std::string report(const python_ast::ModModule& module) {
  std::vector<const python_ast::Stmt*> statements;
  python_ast::walk_preorder(module, [&](python_ast::AnyNodeRef node) {
    if (const python_ast::Stmt* stmt = node.as_stmt()) {
      if (stmt->is<python_ast::StmtMatch>() || stmt->is<python_ast::StmtWith>()) statements.push_back(stmt);
    }
  });
  std::stable_sort(statements.begin(), statements.end(), [](const python_ast::Stmt* a, const python_ast::Stmt* b) {
    return a->range.start() < b->range.start();
  });
  std::string out;
  for (const python_ast::Stmt* stmt : statements) {
    if (const auto* match = stmt->as<python_ast::StmtMatch>()) {
      out += "match " + range_text(match->range, 0) + " " + sexpr(match->subject, 0) + "\n";
      for (const python_ast::MatchCase& match_case : match->cases) {
        out += "  case " + sexpr(match_case.pattern, 0) + " if " + sexpr(match_case.guard, 0) + "\n";
      }
    } else {
      const auto& with = stmt->cast<python_ast::StmtWith>();
      out += "with " + range_text(with.range, 0) + (with.is_async ? " async" : "") + "\n";
      for (const python_ast::WithItem& item : with.items) {
        out += "  item " + sexpr(item.context_expression, 0) + " as " + sexpr(item.target, 0) + "\n";
      }
    }
  }
  return out;
}

namespace {

bool executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

TempDirectory::TempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tolva-syntax-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) tolva::fatal("mkdtemp failed");
  path_ = pattern;
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}


std::optional<std::map<std::string, std::string>> cpython_reports(const std::string& interpreter,
                                                                  const std::vector<std::string>& paths) {
  if (!executable(interpreter)) return std::nullopt;
  TempDirectory scratch;
  std::string listing;
  for (const std::string& path : paths) {
    listing += path;
    listing.push_back('\0');
  }
  write_file(scratch.path() / "printer.py", kCPythonPrinter);
  write_file(scratch.path() / "paths", listing);
  std::string command = interpreter + " " + (scratch.path() / "printer.py").string() + " " +
                        (scratch.path() / "paths").string() + " > " + (scratch.path() / "out").string();
  if (std::system(command.c_str()) != 0) return std::nullopt;

  std::map<std::string, std::string> reports;
  std::istringstream lines(read_file(scratch.path() / "out"));
  std::string line;
  std::string* current = nullptr;
  while (std::getline(lines, line)) {
    if (line.rfind("file ", 0) == 0) {
      current = &reports[line.substr(5)];
      continue;
    }
    if (current == nullptr) return std::nullopt;
    *current += line;
    *current += '\n';
  }
  return reports;
}

std::optional<std::vector<std::string>> differences_from_cpython(const std::string& interpreter,
                                                                 const std::vector<std::string>& paths,
                                                                 CPythonRefusal refusal) {
  std::optional<std::map<std::string, std::string>> reports = cpython_reports(interpreter, paths);
  if (!reports) return std::nullopt;
  std::vector<std::string> differences;
  for (const std::string& path : paths) {
    std::string text = read_file(path);
    auto found = reports->find(path);
    if (found == reports->end()) {
      differences.push_back(path + ": no report from CPython");
      continue;
    }
    if (found->second == "invalid\n") {
      if (refusal == CPythonRefusal::IsADifference) differences.push_back(path + ": CPython refuses\n" + text);
      continue;
    }
    Parsed<python_ast::Mod> parsed = parse_unchecked(text, Mode::Module);
    std::string ours = report(parsed.syntax->cast<python_ast::ModModule>());
    if (!parsed.errors.empty()) {
      differences.push_back(path + ": " + parsed.errors.front().display() + "\n" + text);
    } else if (ours != found->second) {
      differences.push_back(path + "\n" + text + "\nthis parser:\n" + ours + "CPython:\n" + found->second);
    }
  }
  return differences;
}

std::optional<std::vector<std::string>> snippet_differences_from_cpython(const std::string& interpreter,
                                                                         const std::vector<std::string>& sources) {
  TempDirectory directory;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    paths.push_back((directory.path() / ("snippet" + std::to_string(i) + ".py")).string());
    write_file(paths.back(), sources[i]);
  }
  return differences_from_cpython(interpreter, paths, CPythonRefusal::IsADifference);
}

}  // namespace python_parser::syntax_testing
