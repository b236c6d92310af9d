// Throughput of parse_module over a whole standard library, file by file on
// one thread, beside CPython's ast.parse over the same files (and, when the
// build has it, tree-sitter's Python grammar); the same files with 2 % of
// their lines damaged; the memory one parse result holds; and pathological
// inputs measured in time per byte against the clean corpus.
//
// The corpus, and CPython's ast.parse over the same files (whose best round
// BM_CPythonAstParse reports), are those of bench_corpus.h.
//
// Figures to read: bytes_per_second of each benchmark; for the peers
// "x_cpython" and "x_tree_sitter" on BM_ParseModule (our throughput over
// theirs, from CPU times); "x_clean" on the damaged and pathological
// benchmarks (their CPU time per byte over the clean corpus's) and
// "clean_share" on the damaged one; the memory ratios of BM_ParseMemory.
//
// Tree-sitter is compiled in when the build defines TOLVA_TREE_SITTER and
// adds the grammar's parser.c and scanner.c and libtree-sitter to this
// target (bench/CMakeLists.txt, TOLVA_TREE_SITTER_PYTHON_SRC).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "python_ast/token.h"
#include "python_parser/parse.h"

#ifdef TOLVA_TREE_SITTER
#include <tree_sitter/api.h>
extern "C" const TSLanguage* tree_sitter_python();
#endif

namespace {

using bench::BM_CPythonAstParse;
using bench::Corpus;
using bench::corpus;
using bench::have;

// Replaces about `rate` of the lines of each file by a damaged form, with a
// fixed seed: the line deleted, cut short, duplicated at another indentation,
// a byte dropped, or a fragment that opens, closes or breaks something put in.
std::string damage(const std::string& text, std::mt19937& random, double rate) {
  static constexpr const char* kFragments[] = {
      "(", ")", "[", "]", "{", "}", ":", ",", "=", "\"", "'", "'''", "f'{", "\\", "lambda", "if ", "else",
      "*", "**", "async ", "await", "match ", "case ", "@", "\t", "   ", "def ", "class ", "yield", ":=", "#",
  };
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    start = end;
    if (chance(random) >= rate) {
      out += line;
      continue;
    }
    const std::size_t at = line.empty() ? 0 : random() % line.size();
    switch (random() % 5) {
      case 0:  // deleted
        break;
      case 1:  // cut short
        out += line.substr(0, at);
        out += '\n';
        break;
      case 2:  // duplicated, indented differently
        out += line;
        out += std::string(1 + random() % 3, ' ');
        out += line;
        break;
      case 3:  // a byte dropped
        if (!line.empty()) line.erase(at, 1);
        out += line;
        break;
      default:  // a fragment put in
        line.insert(at, kFragments[random() % std::size(kFragments)]);
        out += line;
        break;
    }
  }
  return out;
}

const Corpus& damaged_corpus() {
  static const Corpus* value = [] {
    auto* damaged = new Corpus();
    std::mt19937 random(20240611);
    for (const std::string& file : corpus().files) {
      damaged->files.push_back(damage(file, random, 0.02));
      damaged->bytes += damaged->files.back().size();
    }
    damaged->error = corpus().error;
    return damaged;
  }();
  return *value;
}

void parse_all(const Corpus& corpus) {
  for (const std::string& file : corpus.files) {
    python_parser::ModuleParseResult result = python_parser::parse_module(file);
    benchmark::DoNotOptimize(result);
  }
}

// One pass over `corpus`: its CPU time per byte, in nanoseconds.
double pass_ns_per_byte(const Corpus& corpus) {
  return bench::best_ns_per_byte(corpus.bytes, [&] { parse_all(corpus); }, 1);
}

// Our time per byte over the clean corpus, best of three passes, measured
// afresh at each call so that it is taken in the same conditions as the
// figure it is set against.
double clean_ns_per_byte() {
  const Corpus& clean = corpus();
  if (clean.files.empty()) return 0.0;
  return bench::best_ns_per_byte(clean.bytes, [&] { parse_all(clean); });
}

#ifdef TOLVA_TREE_SITTER
void tree_sitter_parse_all(const Corpus& corpus, TSParser* parser) {
  for (const std::string& file : corpus.files) {
    TSTree* tree = ts_parser_parse_string(parser, nullptr, file.data(), static_cast<std::uint32_t>(file.size()));
    benchmark::DoNotOptimize(tree);
    ts_tree_delete(tree);
  }
}

double tree_sitter_ns_per_byte() {
  static const double value = [] {
    const Corpus& clean = corpus();
    if (clean.files.empty()) return 0.0;
    TSParser* parser = ts_parser_new();
    ts_parser_set_language(parser, tree_sitter_python());
    const double best = bench::best_ns_per_byte(clean.bytes, [&] { tree_sitter_parse_all(clean, parser); });
    ts_parser_delete(parser);
    return best;
  }();
  return value;
}

void BM_TreeSitterParse(benchmark::State& state) {
  const Corpus& clean = corpus();
  if (!have(clean, state)) return;
  TSParser* parser = ts_parser_new();
  ts_parser_set_language(parser, tree_sitter_python());
  for (auto _ : state) tree_sitter_parse_all(clean, parser);
  ts_parser_delete(parser);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * clean.bytes));
  state.counters["files"] = static_cast<double>(clean.files.size());
}
BENCHMARK(BM_TreeSitterParse)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

void BM_ParseModule(benchmark::State& state) {
  const Corpus& clean = corpus();
  if (!have(clean, state)) return;
  for (auto _ : state) parse_all(clean);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * clean.bytes));
  state.counters["files"] = static_cast<double>(clean.files.size());
  const double ours = clean_ns_per_byte();
  bench::report_x_cpython(state, ours);
#ifdef TOLVA_TREE_SITTER
  if (ours > 0.0) state.counters["x_tree_sitter"] = tree_sitter_ns_per_byte() / ours;
#endif
}
BENCHMARK(BM_ParseModule)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The damaged corpus: x_clean is its best time per byte over the clean
// corpus's, clean_share the throughput kept (the target is 0.8 at least).
// Each iteration also makes one untimed clean pass, so that both figures
// are taken in the same conditions.
void BM_ParseModuleDamaged(benchmark::State& state) {
  const Corpus& clean = corpus();
  const Corpus& damaged = damaged_corpus();
  if (!have(damaged, state)) return;
  std::size_t failed = 0;
  for (const std::string& file : damaged.files) failed += python_parser::parse_module(file).has_value() ? 0 : 1;
  double best = 0.0;
  double best_clean = 0.0;
  for (auto _ : state) {
    const double per_byte = pass_ns_per_byte(damaged);
    if (best == 0.0 || per_byte < best) best = per_byte;
    state.PauseTiming();
    const double clean_per_byte = pass_ns_per_byte(clean);
    if (best_clean == 0.0 || clean_per_byte < best_clean) best_clean = clean_per_byte;
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * damaged.bytes));
  state.counters["files_with_errors"] = static_cast<double>(failed);
  state.counters["x_clean"] = best / best_clean;
  state.counters["clean_share"] = best_clean / best;
}
BENCHMARK(BM_ParseModuleDamaged)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK(BM_CPythonAstParse)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// What one parse result holds: its arena (nodes and texts), its tokens and its
// errors, against the source size. Reported over the whole corpus (sums), as
// the largest ratio of any file of at least 64 KiB, and as the largest ratio
// of any file at all (small files pay for the arena's first block).
void BM_ParseMemory(benchmark::State& state) {
  const Corpus& clean = corpus();
  if (!have(clean, state)) return;
  double total_held = 0.0;
  double worst_large = 0.0;
  double worst_any = 0.0;
  for (auto _ : state) {
    total_held = worst_large = worst_any = 0.0;
    for (const std::string& file : clean.files) {
      python_parser::Parsed<python_ast::Mod> parsed = python_parser::parse_unchecked(file, python_parser::Mode::Module);
      const double held = static_cast<double>(parsed.tree->arena().bytes_reserved()) +
                          static_cast<double>(parsed.tokens.size() * sizeof(python_ast::Token)) +
                          static_cast<double>(parsed.errors.size() * sizeof(python_parser::ParseError));
      total_held += held;
      if (file.empty()) continue;
      const double ratio = held / static_cast<double>(file.size());
      worst_any = std::max(worst_any, ratio);
      if (file.size() >= 64 * 1024) worst_large = std::max(worst_large, ratio);
    }
  }
  state.counters["corpus_ratio"] = total_held / static_cast<double>(clean.bytes);
  state.counters["max_ratio_64k"] = worst_large;
  state.counters["max_ratio_any"] = worst_any;
}
BENCHMARK(BM_ParseMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

// Pathological inputs, each parsed whole; x_clean is the time per byte over
// the clean corpus's.
std::string pathological(int which) {
  std::string text;
  switch (which) {
    case 0:  // 10^5 nested parentheses around one name, closed
      text = std::string(100000, '(') + "x" + std::string(100000, ')') + "\n";
      break;
    case 1:  // an if with 10^4 elif clauses
      text = "if x:\n    pass\n";
      for (int i = 0; i < 10000; ++i) text += "elif x" + std::to_string(i) + ":\n    pass\n";
      text += "else:\n    pass\n";
      break;
    case 2:  // a 5 MB expression on one line
      text = "x = a";
      while (text.size() < 5 * 1024 * 1024) text += " + b * (c - d) ** e or f(g, h[i])";
      text += "\n";
      break;
    default:  // 10^5 brackets left open
      for (int i = 0; i < 100000; ++i) text += "([{"[i % 3];
      text += "\n";
      break;
  }
  return text;
}

void BM_Pathological(benchmark::State& state) {
  const std::string text = pathological(static_cast<int>(state.range(0)));
  static constexpr const char* kNames[] = {"nested_parentheses", "elif_chain", "long_expression", "unclosed_brackets"};
  state.SetLabel(kNames[state.range(0)]);
  double best = 0.0;
  bool failed = false;
  for (auto _ : state) {
    const double start = bench::cpu_seconds();
    python_parser::ModuleParseResult result = python_parser::parse_module(text);
    const double per_byte = (bench::cpu_seconds() - start) * 1e9 / static_cast<double>(text.size());
    failed = !result.has_value();
    benchmark::DoNotOptimize(result);
    if (best == 0.0 || per_byte < best) best = per_byte;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["has_errors"] = failed ? 1.0 : 0.0;
  const double clean = clean_ns_per_byte();
  if (clean > 0.0) state.counters["x_clean"] = best / clean;
}
BENCHMARK(BM_Pathological)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
