// Expression-heavy parsing: a synthetic module of long arithmetic, boolean,
// comparison, call, subscript and display expressions, parsed as a module;
// and the expression segments of the standard library of this machine (the
// values of its expression statements, assignments and returns, found with
// our own module parse), each parsed on its own in expression mode.

#include <benchmark/benchmark.h>

#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "bench_corpus.h"
#include "python_ast/walk.h"
#include "python_parser/parse.h"

namespace {

constexpr const char* kLibrary = bench::kLibrary312;

// About 1 MiB of assignments whose values are long expressions of every
// kind, numbered so that no two lines are the same text.
const std::string& synthetic_module() {
  static const std::string* text = [] {
    static constexpr std::string_view kLines[] = {
        "x{} = a{} + b * (c - d{}) / e ** 2 - f(g, h=1, *i, **j)[k:l, ::2].m.n(o) << 3 | p & q ^ ~r\n",
        "y{} = not a and b or c < d <= e{} != f is not g in h and (i if j else k) or -m ** -n\n",
        "z{} = [v * 2 for v in range(n{}) if v % 3] + {{k: v for k, v in d.items()}} + (1, 2, 3.5, 4j)\n",
        "w{} = call(a, b, c)(d)(e)[0][1][2].attr.attr2(x=1, y=2, **kw) + obj.method{}(arg)[::-1]\n",
        "v{} = lambda p, q=1, *r, s, **t: p + q if s else (t or r) and {{p, q}} or [*r, *t{}]\n",
        "u{} = (a{} := b + 1) and f'{{a}}-{{b!r}}:{{c:>10}}' + 'plain' 'concat' + x[i, j:k, ...]\n",
    };
    auto* out = new std::string();
    for (std::size_t i = 0; out->size() < (1u << 20); ++i) {
      std::string_view line = kLines[i % std::size(kLines)];
      std::string number = std::to_string(i);
      for (std::size_t at = 0; at < line.size(); ++at) {
        if (line.compare(at, 2, "{}") == 0) {
          out->append(number);
          ++at;
        } else if (line.compare(at, 2, "{{") == 0 || line.compare(at, 2, "}}") == 0) {
          out->push_back(line[at]);
          ++at;
        } else {
          out->push_back(line[at]);
        }
      }
    }
    return out;
  }();
  return *text;
}

// The expression segments of the corpus of kLibrary (bench_corpus.h's
// rules): for every file that parses without an error, the source text of
// each expression statement's, assignment's and return's value that also
// parses on its own without an error. Empty when the library is absent.
// Leaked, as benchmarks may still hold it at exit.
const std::vector<std::string>& library_segments() {
  static const std::vector<std::string>* segments = [] {
    auto* out = new std::vector<std::string>();
    const bench::Corpus library = bench::load_corpus(kLibrary);
    for (const std::string& text : library.files) {
      python_parser::Parsed<python_ast::Mod> parsed =
          python_parser::parse_unchecked(text, python_parser::Mode::Module);
      if (!parsed.errors.empty()) continue;
      std::string_view source = parsed.tree->source();
      python_ast::walk_preorder(*parsed.syntax, [&](python_ast::AnyNodeRef node) {
        const python_ast::Expr* value = nullptr;
        if (const python_ast::Stmt* stmt = node.as_stmt()) {
          if (const auto* expression = stmt->as<python_ast::StmtExpression>()) value = expression->value;
          if (const auto* assignment = stmt->as<python_ast::StmtAssignment>()) value = assignment->value;
          if (const auto* ret = stmt->as<python_ast::StmtReturn>()) value = ret->value;
        }
        if (value == nullptr) return;
        std::string segment(source.substr(value->range.start().raw, value->range.length()));
        if (python_parser::parse_unchecked(segment, python_parser::Mode::Expression).errors.empty()) {
          out->push_back(std::move(segment));
        }
      });
    }
    return out;
  }();
  return *segments;
}

void BM_SyntheticExpressionModule(benchmark::State& state) {
  const std::string& text = synthetic_module();
  for (auto _ : state) {
    python_parser::Parsed<python_ast::Mod> parsed = python_parser::parse_unchecked(text, python_parser::Mode::Module);
    if (!parsed.errors.empty()) {
      state.SkipWithError(parsed.errors.front().display().c_str());
      return;
    }
    benchmark::DoNotOptimize(parsed.syntax);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_SyntheticExpressionModule)->Unit(benchmark::kMillisecond);

void BM_LibraryExpressionSegments(benchmark::State& state) {
  const std::vector<std::string>& segments = library_segments();
  if (segments.empty()) {
    state.SkipWithError((std::string(kLibrary) + " is absent: no segments to measure").c_str());
    return;
  }
  std::size_t bytes = 0;
  for (const std::string& segment : segments) bytes += segment.size();
  for (auto _ : state) {
    for (const std::string& segment : segments) {
      python_parser::Parsed<python_ast::Mod> parsed =
          python_parser::parse_unchecked(segment, python_parser::Mode::Expression);
      benchmark::DoNotOptimize(parsed.syntax);
    }
  }
  state.counters["segments"] = static_cast<double>(segments.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_LibraryExpressionSegments)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
