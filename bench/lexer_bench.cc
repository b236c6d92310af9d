// Throughput of the lexer over a whole standard library, beside CPython's
// ast.parse over the same files (its whole parse) and the bound of a plain
// memchr scan for line feeds over the same bytes.
//
// The corpus is the one of bench_corpus.h (the files ast.parse parses),
// lexed file by file as a parse would: a fresh lexer and arena per file,
// next_token until EndOfFile.
//
// Figures to read, on BM_LexLibrary: bytes_per_second; "x_cpython", our
// throughput over ast.parse's, and "of_memchr", our throughput over the
// memchr scan's, both from the best CPU time per byte of three passes taken
// in this run.

#include <benchmark/benchmark.h>

#include <string>

#include "bench_corpus.h"
#include "python_ast/arena.h"
#include "python_parser/lexer.h"

namespace {

using bench::BM_CPythonAstParse;
using bench::Corpus;

std::size_t lex_all(const Corpus& corpus) {
  std::size_t tokens = 0;
  for (const std::string& file : corpus.files) {
    python_ast::Arena arena;
    python_parser::Lexer lexer(file, python_parser::Mode::Module, text_size::TextOffset(0), arena);
    while (lexer.next_token() != python_ast::TokenKind::EndOfFile) ++tokens;
    benchmark::DoNotOptimize(lexer.current_range());
  }
  return tokens;
}

std::size_t memchr_all(const Corpus& corpus) {
  std::size_t lines = 0;
  for (const std::string& file : corpus.files) lines += bench::count_line_feeds(file);
  return lines;
}

void BM_LexLibrary(benchmark::State& state) {
  const Corpus& corpus = bench::corpus();
  if (!bench::have(corpus, state)) return;
  std::size_t tokens = 0;
  for (auto _ : state) tokens += lex_all(corpus);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
  state.counters["files"] = static_cast<double>(corpus.files.size());
  state.counters["tokens/s"] = benchmark::Counter(static_cast<double>(tokens), benchmark::Counter::kIsRate);

  const double ours = bench::best_ns_per_byte(corpus.bytes, [&] { benchmark::DoNotOptimize(lex_all(corpus)); });
  const double bound = bench::best_ns_per_byte(corpus.bytes, [&] { benchmark::DoNotOptimize(memchr_all(corpus)); });
  if (ours > 0.0) state.counters["of_memchr"] = bound / ours;
  bench::report_x_cpython(state, ours);
}
BENCHMARK(BM_LexLibrary)->Unit(benchmark::kMillisecond);

// The bound: every line feed of the same files, found with memchr.
void BM_MemchrLines(benchmark::State& state) {
  const Corpus& corpus = bench::corpus();
  if (!bench::have(corpus, state)) return;
  for (auto _ : state) benchmark::DoNotOptimize(memchr_all(corpus));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * corpus.bytes));
}
BENCHMARK(BM_MemchrLines)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_CPythonAstParse)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
