// Throughput of the lexer over a whole standard library, beside the bound of
// a plain memchr scan of the same bytes.
//
// The corpus is every .py file below TOLVA_BENCH_LIBRARY (default: pyenv's
// Python 3.11 library) whose bytes are UTF-8, lexed file by file as a parse
// would: a fresh lexer and arena per file, next_token until EndOfFile.
// bench/python/bench_ast_parse.py times CPython's ast.parse over the same files.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "python_ast/arena.h"
#include "python_parser/cursor.h"
#include "python_parser/lexer.h"

namespace {

bool is_utf8(const std::string& text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
      continue;
    }
    std::uint32_t length = 1;
    if (python_parser::decode_utf8(p, end, length) == python_parser::kReplacementCharacter &&
        !(length == 3 && std::memcmp(p, "\xEF\xBF\xBD", 3) == 0)) {
      return false;
    }
    p += length;
  }
  return true;
}

struct Corpus {
  std::vector<std::string> files;
  std::size_t bytes = 0;
  std::string error;
};

const Corpus& corpus() {
  static const Corpus* const instance = [] {
    auto* c = new Corpus;
    const char* root = std::getenv("TOLVA_BENCH_LIBRARY");
    std::filesystem::path library = root != nullptr ? root : "/root/.pyenv/versions/3.11.7/lib/python3.11";
    std::error_code ec;
    if (!std::filesystem::is_directory(library, ec)) {
      c->error = "no library at " + library.string();
      return c;
    }
    std::vector<std::filesystem::path> paths;
    for (auto it = std::filesystem::recursive_directory_iterator(library, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      if (it->is_regular_file(ec) && it->path().extension() == ".py") paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
      std::ifstream in(path, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!is_utf8(text)) continue;
      c->bytes += text.size();
      c->files.push_back(std::move(text));
    }
    return c;
  }();
  return *instance;
}

void BM_LexLibrary(benchmark::State& state) {
  const Corpus& c = corpus();
  if (!c.error.empty()) {
    state.SkipWithError(c.error.c_str());
    return;
  }
  std::size_t tokens = 0;
  for (auto _ : state) {
    for (const std::string& file : c.files) {
      python_ast::Arena arena;
      python_parser::Lexer lexer(file, python_parser::Mode::Module, text_size::TextOffset(0), arena);
      while (lexer.next_token() != python_ast::TokenKind::EndOfFile) ++tokens;
      benchmark::DoNotOptimize(lexer.current_range());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.bytes));
  state.counters["files"] = static_cast<double>(c.files.size());
  state.counters["tokens/s"] = benchmark::Counter(static_cast<double>(tokens), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LexLibrary)->Unit(benchmark::kMillisecond);

// The bound: finding every line feed of the same files with memchr.
void BM_MemchrLines(benchmark::State& state) {
  const Corpus& c = corpus();
  if (!c.error.empty()) {
    state.SkipWithError(c.error.c_str());
    return;
  }
  for (auto _ : state) {
    std::size_t lines = 0;
    for (const std::string& file : c.files) {
      const char* p = file.data();
      const char* end = p + file.size();
      while (const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
        ++lines;
        p = static_cast<const char*>(found) + 1;
      }
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.bytes));
}
BENCHMARK(BM_MemchrLines)->Unit(benchmark::kMillisecond);

// One memchr per file for a byte that does not occur: the memory bandwidth.
void BM_MemchrWhole(benchmark::State& state) {
  const Corpus& c = corpus();
  if (!c.error.empty()) {
    state.SkipWithError(c.error.c_str());
    return;
  }
  for (auto _ : state) {
    for (const std::string& file : c.files) {
      benchmark::DoNotOptimize(std::memchr(file.data(), '\x01', file.size()));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.bytes));
}
BENCHMARK(BM_MemchrWhole)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
