// The analysis of one file beside its parse, over a whole standard library
// (by default the plain one of bench_corpus.h; set TOLVA_BENCH_ANALYSIS_LIBRARY
// to a folder of decorated files, the output of
// tests/corpus/analysis/decorate.py, to measure files that hold resolvers and
// feature classes), file by file on one thread, all in one run:
//
//   BM_ParseModule      parse_module alone
//   BM_ParseForCache    parse_file_for_cache (the parse, the import map and
//                       the comment ranges)
//   BM_Analysis         parse_ast_file_with_feature_module alone, over the
//                       files parsed beforehand
//   BM_ParseAndAnalyse  parse_file_for_cache, then the analysis
//
// Figures to read: bytes_per_second of each; "records_per_second" (functions
// plus feature classes) on the analysis benchmarks; "x_parse", the
// analysis's CPU time over parse_module's for the same files (the target is
// at most 1, the aim 0.3): on BM_Analysis over trees parsed long before (out
// of cache; whole passes, best of three each); on BM_ParseAndAnalyse right
// after each file's parse, the way the project index runs it (both timed
// file by file in the same loop; the result's destruction is not counted).
//
// Every file gets an absolute path of its own, so no location needs the
// file system.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "python_parser/parse.h"
#include "tolva_ast/parser_cache_types.h"
#include "tolva_ast/type_parsing.h"

namespace {

using bench::Corpus;
using bench::have;

// The corpus of decorated files when TOLVA_BENCH_ANALYSIS_LIBRARY names one,
// the plain library otherwise. Leaked, like bench::corpus().
const Corpus& analysis_corpus() {
  static const Corpus* value = [] {
    const char* decorated = bench::setting("TOLVA_BENCH_ANALYSIS_LIBRARY", "");
    if (*decorated == '\0') return &bench::corpus();
    return static_cast<const Corpus*>(new Corpus(bench::load_corpus(decorated)));
  }();
  return *value;
}

std::string path_of(std::size_t i) { return "/bench/corpus/file_" + std::to_string(i) + ".py"; }

// The files that parse, parsed once (the analysis's input).
struct ParsedCorpus {
  std::vector<tolva_ast::SharedParsedFileCache> files;
  std::size_t bytes = 0;
};

const ParsedCorpus& parsed_corpus() {
  static const ParsedCorpus* value = [] {
    auto* parsed = new ParsedCorpus();
    const Corpus& corpus = analysis_corpus();
    for (std::size_t i = 0; i < corpus.files.size(); ++i) {
      tolva::Result<tolva_ast::SharedParsedFileCache> file = tolva_ast::parse_file_for_cache(path_of(i), corpus.files[i]);
      if (!file.has_value()) continue;
      parsed->bytes += corpus.files[i].size();
      parsed->files.push_back(std::move(file).value());
    }
    return parsed;
  }();
  return *value;
}

std::size_t analyse_all(const ParsedCorpus& parsed) {
  std::size_t records = 0;
  for (const auto& file : parsed.files) {
    tolva_ast::ParsedAstFile result = tolva_ast::type_parsing::parse_ast_file_with_feature_module(*file, "bench.module");
    records += result.functions.size() + result.feature_classes.size();
    benchmark::DoNotOptimize(result);
  }
  return records;
}

void parse_all(const ParsedCorpus& parsed) {
  for (const auto& file : parsed.files) {
    python_parser::ModuleParseResult result = python_parser::parse_module(file->source());
    benchmark::DoNotOptimize(result);
  }
}

void BM_ParseModule(benchmark::State& state) {
  const ParsedCorpus& parsed = parsed_corpus();
  if (!have(analysis_corpus(), state)) return;
  for (auto _ : state) parse_all(parsed);
  state.SetBytesProcessed(static_cast<std::int64_t>(parsed.bytes) * state.iterations());
}
BENCHMARK(BM_ParseModule)->Unit(benchmark::kMillisecond);

void BM_ParseForCache(benchmark::State& state) {
  const Corpus& corpus = analysis_corpus();
  if (!have(corpus, state)) return;
  for (auto _ : state) {
    for (std::size_t i = 0; i < corpus.files.size(); ++i) {
      auto file = tolva_ast::parse_file_for_cache(path_of(i), corpus.files[i]);
      benchmark::DoNotOptimize(file);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(corpus.bytes) * state.iterations());
}
BENCHMARK(BM_ParseForCache)->Unit(benchmark::kMillisecond);

void BM_Analysis(benchmark::State& state) {
  const ParsedCorpus& parsed = parsed_corpus();
  if (!have(analysis_corpus(), state)) return;
  std::size_t records = 0;
  for (auto _ : state) records = analyse_all(parsed);
  state.SetBytesProcessed(static_cast<std::int64_t>(parsed.bytes) * state.iterations());
  state.counters["records_per_second"] =
      benchmark::Counter(static_cast<double>(records) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["records"] = static_cast<double>(records);
  // Both in CPU time of this thread, best of three rounds each.
  const double analysis = bench::best_ns_per_byte(parsed.bytes, [&] { analyse_all(parsed); });
  const double parse = bench::best_ns_per_byte(parsed.bytes, [&] { parse_all(parsed); });
  if (parse > 0.0) state.counters["x_parse"] = analysis / parse;
}
BENCHMARK(BM_Analysis)->Unit(benchmark::kMillisecond);

void BM_ParseAndAnalyse(benchmark::State& state) {
  const Corpus& corpus = analysis_corpus();
  if (!have(corpus, state)) return;
  std::size_t records = 0;
  for (auto _ : state) {
    records = 0;
    for (std::size_t i = 0; i < corpus.files.size(); ++i) {
      auto file = tolva_ast::parse_file_for_cache(path_of(i), corpus.files[i]);
      if (!file.has_value()) continue;
      tolva_ast::ParsedAstFile result =
          tolva_ast::type_parsing::parse_ast_file_with_feature_module(*file.value(), "bench.module");
      records += result.functions.size() + result.feature_classes.size();
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(corpus.bytes) * state.iterations());
  state.counters["records_per_second"] =
      benchmark::Counter(static_cast<double>(records) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  // File by file, in one loop so both see the same machine: parse_module
  // alone, then the parse for the cache and the analysis right after it,
  // while the tree is still in cache; parse_module's and the analysis's CPU
  // time (of this thread) summed over the files. The ratio of the round
  // with the smallest parse time of three.
  const ParsedCorpus& parsed = parsed_corpus();
  double best_parse = 0.0;
  double best_ratio = 0.0;
  for (int round = 0; round < 3; ++round) {
    double parse = 0.0;
    double analysis = 0.0;
    for (const auto& file : parsed.files) {
      const std::string text(file->source());
      const double t0 = bench::cpu_seconds();
      {
        python_parser::ModuleParseResult alone = python_parser::parse_module(text);
        benchmark::DoNotOptimize(alone);
      }
      const double t1 = bench::cpu_seconds();
      auto fresh = tolva_ast::parse_file_for_cache(file->path, text);
      if (!fresh.has_value()) continue;
      const double t2 = bench::cpu_seconds();
      tolva_ast::ParsedAstFile result =
          tolva_ast::type_parsing::parse_ast_file_with_feature_module(*fresh.value(), "bench.module");
      benchmark::DoNotOptimize(result);
      analysis += bench::cpu_seconds() - t2;
      parse += t1 - t0;
    }
    if (round == 0 || parse < best_parse) {
      best_parse = parse;
      best_ratio = parse > 0.0 ? analysis / parse : 0.0;
    }
  }
  state.counters["x_parse"] = best_ratio;
}
BENCHMARK(BM_ParseAndAnalyse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
