// The statement parser against CPython's own `ast`, over the standard
// library of each oracle interpreter (test_support/oracle.h).
//
// For every file of the library that the interpreter compiles, the
// interpreter writes a skeleton of its tree (the script below): one line per
// statement with its kind, its range as CPython's line:column pairs (columns
// in UTF-8 bytes, as ours), and the kind, context and range of its direct
// expressions, aliases and names; blocks between a label and "end". The same
// skeleton is written from our tree, and the two must be equal. Every such
// file must also parse without a single error: a valid file that fails to
// parse would lose all of its analysis.
//
// The two trees differ in three known ways, mapped here:
//   - CPython starts a decorated definition at `def` or `class`, ours at its
//     first `@`: the script takes the `@` of the first decorator.
//   - CPython nests `elif` as an `If` in the `else` branch; ours keeps a list
//     of clauses, each from its keyword to the end of its own body: the
//     script writes CPython's elif chains as such clauses.
//   - CPython ends a statement that has a block after the `;` that may end
//     the block's last line (`def f(): x;`); ours end before it, as every
//     statement's range does: the script drops that `;`.
// Files with a byte order mark, or that are not UTF-8, are left out (CPython
// columns do not count the mark; ours count every byte).

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "python_parser/parse.h"
#include "test_support/oracle.h"

extern char** environ;

namespace python_parser {
namespace {

using python_ast::Expr;
using python_ast::ExprKind;
using python_ast::Stmt;
using python_ast::StmtKind;
using text_size::TextRange;

constexpr std::string_view kSkeletonScript = R"PY(
import ast, os, re, sys

LINE_BREAK = re.compile(rb"\r\n|\r|\n")

class Writer:
    def __init__(self, data):
        self.data = data
        self.starts = [0] + [m.end() for m in LINE_BREAK.finditer(data)]
        self.out = []

    def rng(self, node):
        return f"{node.lineno}:{node.col_offset}-{node.end_lineno}:{node.end_col_offset}"

    def expr(self, node):
        if node is None:
            return "-"
        ctx = getattr(node, "ctx", None)
        ctx = "" if ctx is None else ":" + type(ctx).__name__
        return f"{type(node).__name__}{ctx}@{self.rng(node)}"

    def text_at(self, line, col, length):
        offset = self.starts[line - 1] + col
        return self.data[offset:offset + length]

    def at_sign(self, decorator):
        line_start = self.starts[decorator.lineno - 1]
        col = self.data.rfind(b"@", line_start, line_start + decorator.col_offset) - line_start
        return f"{decorator.lineno}:{col}"

    def body(self, label, statements):
        self.out.append(label)
        for statement in statements:
            self.stmt(statement)
        self.out.append("end")

    def end_of_block(self, node):
        # CPython ends a statement with a block after the `;` that may end the
        # block's last line; ours ends with the last statement itself.
        line_start = self.starts[node.end_lineno - 1]
        offset = line_start + node.end_col_offset
        if offset > line_start and self.data[offset - 1:offset] == b";":
            offset -= 1
            while offset > line_start and self.data[offset - 1:offset] in (b" ", b"\t", b"\f"):
                offset -= 1
        return f"{node.end_lineno}:{offset - line_start}"

    def emit(self, node, start, *fields):
        end = self.end_of_block(node) if hasattr(node, "body") else f"{node.end_lineno}:{node.end_col_offset}"
        self.out.append(" ".join([type(node).__name__, f"{start}-{end}", *fields]))

    def aliases(self, names):
        return [f"{a.name}/{a.asname or '-'}@{self.rng(a)}" for a in names]

    def stmt(self, node):
        kind = type(node).__name__
        start = f"{node.lineno}:{node.col_offset}"
        e = self.expr
        if kind in ("FunctionDef", "AsyncFunctionDef", "ClassDef"):
            if node.decorator_list:
                start = self.at_sign(node.decorator_list[0])
            fields = [node.name] + ["@" + e(d) for d in node.decorator_list]
            if kind != "ClassDef":
                fields.append("->" + e(node.returns))
            self.emit(node, start, *fields)
            self.body("body", node.body)
        elif kind == "If":
            self.emit(node, start, e(node.test))
            self.body("body", node.body)
            orelse = node.orelse
            while orelse:
                first = orelse[0]
                if (len(orelse) == 1 and isinstance(first, ast.If)
                        and self.text_at(first.lineno, first.col_offset, 4) == b"elif"):
                    last = first.body[-1]
                    self.out.append(f"elif {first.lineno}:{first.col_offset}-{last.end_lineno}:{last.end_col_offset}"
                                    f" {e(first.test)}")
                    self.body("body", first.body)
                    orelse = first.orelse
                else:
                    self.body("else", orelse)
                    orelse = []
        elif kind == "While":
            self.emit(node, start, e(node.test))
            self.body("body", node.body)
            if node.orelse:
                self.body("else", node.orelse)
        elif kind in ("For", "AsyncFor"):
            self.emit(node, start, e(node.target), e(node.iter))
            self.body("body", node.body)
            if node.orelse:
                self.body("else", node.orelse)
        elif kind in ("With", "AsyncWith"):
            self.emit(node, start, *[e(i.context_expr) + "/" + e(i.optional_vars) for i in node.items])
            self.body("body", node.body)
        elif kind in ("Try", "TryStar"):
            self.emit(node, start)
            self.body("body", node.body)
            for h in node.handlers:
                self.out.append(f"except {h.lineno}:{h.col_offset}-{self.end_of_block(h)} {e(h.type)} {h.name or '-'}")
                self.body("body", h.body)
            if node.orelse:
                self.body("else", node.orelse)
            if node.finalbody:
                self.body("finally", node.finalbody)
        elif kind == "Match":
            self.emit(node, start, e(node.subject))
            for case in node.cases:
                self.out.append(f"case {self.rng(case.pattern)} {e(case.guard)}")
                self.body("body", case.body)
        elif kind == "Expr":
            self.emit(node, start, e(node.value))
        elif kind == "Assign":
            self.emit(node, start, *[e(t) for t in node.targets], "=", e(node.value))
        elif kind == "AugAssign":
            self.emit(node, start, type(node.op).__name__, e(node.target), e(node.value))
        elif kind == "AnnAssign":
            self.emit(node, start, e(node.target), e(node.annotation), e(node.value), str(node.simple))
        elif kind == "Return":
            self.emit(node, start, e(node.value))
        elif kind == "Delete":
            self.emit(node, start, *[e(t) for t in node.targets])
        elif kind == "Raise":
            self.emit(node, start, e(node.exc), e(node.cause))
        elif kind == "Assert":
            self.emit(node, start, e(node.test), e(node.msg))
        elif kind == "Import":
            self.emit(node, start, *self.aliases(node.names))
        elif kind == "ImportFrom":
            self.emit(node, start, str(node.level), node.module or "-", *self.aliases(node.names))
        elif kind in ("Global", "Nonlocal"):
            self.emit(node, start, *node.names)
        elif kind == "TypeAlias":
            self.emit(node, start, e(node.name), e(node.value))
        else:
            self.emit(node, start)

def main():
    root = sys.argv[1]
    paths = []
    for directory, subdirs, files in os.walk(root):
        subdirs[:] = sorted(d for d in subdirs if d != "site-packages")
        paths.extend(os.path.join(directory, name) for name in sorted(files) if name.endswith(".py"))
    for path in paths:
        try:
            with open(path, "rb") as f:
                data = f.read()
            data.decode("utf-8")
            if data.startswith(b"\xef\xbb\xbf"):
                continue
            tree = ast.parse(data, path)
        except (SyntaxError, ValueError, UnicodeDecodeError, RecursionError, MemoryError):
            continue
        w = Writer(data)
        for statement in tree.body:
            w.stmt(statement)
        sys.stdout.write("F " + path + "\n")
        for line in w.out:
            sys.stdout.write(line + "\n")

main()
)PY";

// CPython's class name of an expression kind.
std::string_view cpython_name(ExprKind kind) {
  switch (kind) {
    case ExprKind::BooleanOperation: return "BoolOp";
    case ExprKind::Assignment: return "NamedExpr";
    case ExprKind::BinOp: return "BinOp";
    case ExprKind::UnaryOp: return "UnaryOp";
    case ExprKind::Lambda: return "Lambda";
    case ExprKind::Conditional: return "IfExp";
    case ExprKind::Dict: return "Dict";
    case ExprKind::Set: return "Set";
    case ExprKind::ListComprehension: return "ListComp";
    case ExprKind::SetComprehension: return "SetComp";
    case ExprKind::DictComprehension: return "DictComp";
    case ExprKind::Generator: return "GeneratorExp";
    case ExprKind::Await: return "Await";
    case ExprKind::Yield: return "Yield";
    case ExprKind::YieldFrom: return "YieldFrom";
    case ExprKind::Comparison: return "Compare";
    case ExprKind::Call: return "Call";
    case ExprKind::FString: return "JoinedStr";
    case ExprKind::TString: return "TemplateStr";
    case ExprKind::StringLiteral:
    case ExprKind::BytesLiteral:
    case ExprKind::NumberLiteral:
    case ExprKind::BooleanLiteral:
    case ExprKind::NoneLiteral:
    case ExprKind::EllipsisLiteral: return "Constant";
    case ExprKind::Attribute: return "Attribute";
    case ExprKind::Subscript: return "Subscript";
    case ExprKind::Starred: return "Starred";
    case ExprKind::Name: return "Name";
    case ExprKind::List: return "List";
    case ExprKind::Tuple: return "Tuple";
    case ExprKind::Slice: return "Slice";
    case ExprKind::IpyEscapeCommand: return "IpyEscapeCommand";
  }
  return "?";
}

// The context of the six expression kinds that CPython gives one.
std::optional<python_ast::ExpressionContext> context_of(const Expr& e) {
  if (const auto* n = e.as<python_ast::ExprName>()) return n->ctx;
  if (const auto* n = e.as<python_ast::ExprAttribute>()) return n->ctx;
  if (const auto* n = e.as<python_ast::ExprSubscript>()) return n->ctx;
  if (const auto* n = e.as<python_ast::ExprStarred>()) return n->ctx;
  if (const auto* n = e.as<python_ast::ExprList>()) return n->ctx;
  if (const auto* n = e.as<python_ast::ExprTuple>()) return n->ctx;
  return std::nullopt;
}

// Our tree as the script's skeleton.
class Skeleton {
 public:
  explicit Skeleton(std::string_view source) {
    line_starts_.push_back(0);
    for (std::size_t i = 0; i < source.size(); ++i) {
      if (source[i] == '\n' || (source[i] == '\r' && (i + 1 == source.size() || source[i + 1] != '\n'))) {
        line_starts_.push_back(static_cast<std::uint32_t>(i + 1));
      }
    }
  }

  std::vector<std::string> module(const python_ast::ModModule& module) {
    for (const Stmt* statement : module.body) stmt(statement);
    return std::move(out_);
  }

 private:
  std::string position(std::uint32_t offset) const {
    auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
    std::size_t line = static_cast<std::size_t>(after - line_starts_.begin());
    return std::to_string(line) + ":" + std::to_string(offset - line_starts_[line - 1]);
  }
  std::string range(TextRange r) const { return position(r.start().raw) + "-" + position(r.end().raw); }

  std::string expr(const Expr* e) const {
    if (e == nullptr) return "-";
    std::string text(cpython_name(e->kind()));
    if (std::optional<python_ast::ExpressionContext> ctx = context_of(*e)) {
      text += ':';
      text += python_ast::enum_name(*ctx);
    }
    return text + "@" + range(e->range);
  }

  void line(std::string_view kind, TextRange r, const std::vector<std::string>& fields = {}) {
    std::string text(kind);
    text += ' ';
    text += range(r);
    for (const std::string& field : fields) {
      text += ' ';
      text += field;
    }
    out_.push_back(std::move(text));
  }

  void body(std::string_view label, std::span<Stmt* const> statements) {
    out_.emplace_back(label);
    for (const Stmt* statement : statements) stmt(statement);
    out_.emplace_back("end");
  }

  std::vector<std::string> aliases(std::span<const python_ast::Alias> names) const {
    std::vector<std::string> fields;
    for (const python_ast::Alias& alias : names) {
      fields.push_back(std::string(alias.name.as_str()) + "/" +
                       std::string(alias.as_name ? alias.as_name->as_str() : "-") + "@" + range(alias.range));
    }
    return fields;
  }

  std::vector<std::string> decorated(std::string_view name, std::span<const python_ast::Decorator> decorators) const {
    std::vector<std::string> fields{std::string(name)};
    for (const python_ast::Decorator& decorator : decorators) {
      std::string field = "@";
      field += expr(decorator.expression);
      fields.push_back(std::move(field));
    }
    return fields;
  }

  void stmt(const Stmt* s) {
    switch (s->kind()) {
      case StmtKind::FunctionDefinition: {
        const auto& n = s->cast<python_ast::StmtFunctionDefinition>();
        std::vector<std::string> fields = decorated(n.name.as_str(), n.decorators);
        fields.push_back("->" + expr(n.returns));
        line(n.is_async ? "AsyncFunctionDef" : "FunctionDef", n.range, fields);
        body("body", n.body);
        return;
      }
      case StmtKind::ClassDefinition: {
        const auto& n = s->cast<python_ast::StmtClassDefinition>();
        line("ClassDef", n.range, decorated(n.name.as_str(), n.decorators));
        body("body", n.body);
        return;
      }
      case StmtKind::If: {
        const auto& n = s->cast<python_ast::StmtIf>();
        line("If", n.range, {expr(n.test)});
        body("body", n.body);
        for (const python_ast::ElifElseClause& clause : n.elif_else_clauses) {
          if (clause.test != nullptr) {
            line("elif", clause.range, {expr(clause.test)});
            body("body", clause.body);
          } else {
            body("else", clause.body);
          }
        }
        return;
      }
      case StmtKind::While: {
        const auto& n = s->cast<python_ast::StmtWhile>();
        line("While", n.range, {expr(n.test)});
        body("body", n.body);
        if (!n.else_body.empty()) body("else", n.else_body);
        return;
      }
      case StmtKind::For: {
        const auto& n = s->cast<python_ast::StmtFor>();
        line(n.is_async ? "AsyncFor" : "For", n.range, {expr(n.target), expr(n.iter)});
        body("body", n.body);
        if (!n.else_body.empty()) body("else", n.else_body);
        return;
      }
      case StmtKind::With: {
        const auto& n = s->cast<python_ast::StmtWith>();
        std::vector<std::string> fields;
        for (const python_ast::WithItem& item : n.items) {
          fields.push_back(expr(item.context_expression) + "/" + expr(item.target));
        }
        line(n.is_async ? "AsyncWith" : "With", n.range, fields);
        body("body", n.body);
        return;
      }
      case StmtKind::Try: {
        const auto& n = s->cast<python_ast::StmtTry>();
        line(n.is_star ? "TryStar" : "Try", n.range);
        body("body", n.body);
        for (const python_ast::ExceptHandler* handler : n.handlers) {
          const auto& h = handler->cast<python_ast::ExceptHandlerExceptHandler>();
          line("except", h.range, {expr(h.type), std::string(h.name ? h.name->as_str() : "-")});
          body("body", h.body);
        }
        if (!n.else_body.empty()) body("else", n.else_body);
        if (!n.finally_body.empty()) body("finally", n.finally_body);
        return;
      }
      case StmtKind::Match: {
        const auto& n = s->cast<python_ast::StmtMatch>();
        line("Match", n.range, {expr(n.subject)});
        for (const python_ast::MatchCase& match_case : n.cases) {
          line("case", match_case.pattern->range, {expr(match_case.guard)});
          body("body", match_case.body);
        }
        return;
      }
      case StmtKind::Expression:
        line("Expr", s->range, {expr(s->cast<python_ast::StmtExpression>().value)});
        return;
      case StmtKind::Assignment: {
        const auto& n = s->cast<python_ast::StmtAssignment>();
        std::vector<std::string> fields;
        for (const Expr* target : n.targets) fields.push_back(expr(target));
        fields.push_back("=");
        fields.push_back(expr(n.value));
        line("Assign", n.range, fields);
        return;
      }
      case StmtKind::AugmentedAssignment: {
        const auto& n = s->cast<python_ast::StmtAugmentedAssignment>();
        line("AugAssign", n.range, {std::string(python_ast::enum_name(n.op)), expr(n.target), expr(n.value)});
        return;
      }
      case StmtKind::AnnotatedAssignment: {
        const auto& n = s->cast<python_ast::StmtAnnotatedAssignment>();
        line("AnnAssign", n.range, {expr(n.target), expr(n.annotation), expr(n.value), n.simple ? "1" : "0"});
        return;
      }
      case StmtKind::Return:
        line("Return", s->range, {expr(s->cast<python_ast::StmtReturn>().value)});
        return;
      case StmtKind::Delete: {
        std::vector<std::string> fields;
        for (const Expr* target : s->cast<python_ast::StmtDelete>().targets) fields.push_back(expr(target));
        line("Delete", s->range, fields);
        return;
      }
      case StmtKind::Raise: {
        const auto& n = s->cast<python_ast::StmtRaise>();
        line("Raise", n.range, {expr(n.exception), expr(n.cause)});
        return;
      }
      case StmtKind::Assert: {
        const auto& n = s->cast<python_ast::StmtAssert>();
        line("Assert", n.range, {expr(n.test), expr(n.message)});
        return;
      }
      case StmtKind::Import:
        line("Import", s->range, aliases(s->cast<python_ast::StmtImport>().names));
        return;
      case StmtKind::FromImport: {
        const auto& n = s->cast<python_ast::StmtFromImport>();
        std::vector<std::string> fields{std::to_string(n.level), std::string(n.module ? n.module->as_str() : "-")};
        for (std::string& alias : aliases(n.names)) fields.push_back(std::move(alias));
        line("ImportFrom", n.range, fields);
        return;
      }
      case StmtKind::Global:
      case StmtKind::Nonlocal: {
        bool global = s->kind() == StmtKind::Global;
        std::span<const python_ast::Identifier> names =
            global ? s->cast<python_ast::StmtGlobal>().names : s->cast<python_ast::StmtNonlocal>().names;
        std::vector<std::string> fields;
        for (const python_ast::Identifier& name : names) fields.emplace_back(name.as_str());
        line(global ? "Global" : "Nonlocal", s->range, fields);
        return;
      }
      case StmtKind::TypeAlias: {
        const auto& n = s->cast<python_ast::StmtTypeAlias>();
        line("TypeAlias", n.range, {expr(n.name), expr(n.value)});
        return;
      }
      case StmtKind::Pass:
        line("Pass", s->range);
        return;
      case StmtKind::Break:
        line("Break", s->range);
        return;
      case StmtKind::Continue:
        line("Continue", s->range);
        return;
      case StmtKind::IpyEscapeCommand:
        line("IpyEscapeCommand", s->range);
        return;
    }
  }

  std::vector<std::uint32_t> line_starts_;
  std::vector<std::string> out_;
};

// A child process whose standard output is read line by line.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int status = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (status != 0) {
      close(fds[0]);
      pid_ = -1;
      return;
    }
    output_ = fdopen(fds[0], "r");
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { wait(); }

  bool started() const { return output_ != nullptr; }

  // The next line without its line feed; false at the end of the output.
  bool read_line(std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(output_)) != EOF) {
      if (c == '\n') return true;
      line.push_back(static_cast<char>(c));
    }
    return !line.empty();
  }

  // The exit status, once the output has been read.
  int wait() {
    if (output_ != nullptr) {
      std::fclose(output_);
      output_ = nullptr;
    }
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return exit_status_;
  }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  int exit_status_ = -1;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Compares one file's skeletons; returns a description of the first
// difference, or "" when they agree and the parse is clean.
std::string compare_file(const std::string& path, const std::vector<std::string>& expected) {
  std::string source = read_file(path);
  Parsed<python_ast::Mod> parsed = parse_unchecked(source, Mode::Module);
  if (!parsed.errors.empty()) return "syntax error: " + parsed.errors.front().display();
  const auto& module = parsed.syntax->cast<python_ast::ModModule>();
  std::vector<std::string> ours = Skeleton(parsed.tree->source()).module(module);
  std::size_t common = std::min(ours.size(), expected.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (ours[i] != expected[i]) return "line " + std::to_string(i + 1) + ":\n  cpython " + expected[i] + "\n  ours    " + ours[i];
  }
  if (ours.size() != expected.size()) {
    return "lengths differ: cpython " + std::to_string(expected.size()) + " lines, ours " + std::to_string(ours.size()) +
           ", first extra: " + (ours.size() > common ? ours[common] : expected[common]);
  }
  return "";
}

void run_corpus(std::string_view version) {
  TOLVA_ORACLE_OR_SKIP(oracle, version);
  const std::string& interpreter = oracle->python;
  const std::string& library = oracle->stdlib;

  Child child({interpreter, "-W", "ignore", "-c", std::string(kSkeletonScript), library});
  ASSERT_TRUE(child.started()) << "could not start " << interpreter;

  std::size_t files = 0;
  std::vector<std::string> failures;
  std::string path;
  std::vector<std::string> expected;
  auto finish = [&] {
    if (path.empty()) return;
    ++files;
    std::string difference = compare_file(path, expected);
    if (!difference.empty()) failures.push_back(path + ": " + difference);
    expected.clear();
  };
  std::string line;
  while (child.read_line(line)) {
    if (line.starts_with("F ")) {
      finish();
      path = line.substr(2);
    } else {
      expected.push_back(line);
    }
  }
  finish();
  ASSERT_EQ(child.wait(), 0) << "the skeleton script failed";
  ASSERT_GT(files, 0u) << "no file of " << library << " was compared";

  for (std::size_t i = 0; i < failures.size() && i < 40; ++i) ADD_FAILURE() << failures[i];
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << files << " files differ";
}

TEST(StatementCorpus, Python311StandardLibrary) { run_corpus("3.11"); }
TEST(StatementCorpus, Python312StandardLibrary) { run_corpus("3.12"); }
TEST(StatementCorpus, Python313StandardLibrary) { run_corpus("3.13"); }

}  // namespace
}  // namespace python_parser
