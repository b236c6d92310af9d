#pragma once

// What the benchmarks over a standard library share: the corpus, the CPU
// clock their ratios are taken with, the memchr scan for line feeds that
// bounds a pass over the bytes, and CPython's ast.parse over the same files.
//
// The corpus is every .py file below TOLVA_BENCH_LIBRARY (default: the
// library of the 3.11 oracle interpreter that CMake found), site-packages and
// __pycache__ left out, whose bytes are UTF-8 (the files project analysis can
// read), in path order. bench/python/bench_ast_parse.py, run with
// TOLVA_BENCH_PYTHON (default: that interpreter), walks the same library by
// the same rules and prints
// "SECONDS BYTES": the CPU time of its best round of ast.parse over all the
// files, and their total size.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "tolva_utils/text.h"

namespace bench {

// From bench/CMakeLists.txt (cmake/oracle_interpreters.cmake).
inline constexpr const char* kDefaultLibrary = TOLVA_BENCH_DEFAULT_LIBRARY;
inline constexpr const char* kDefaultPython = TOLVA_BENCH_DEFAULT_PYTHON;
// The library of the 3.12 oracle, for the benchmarks that need its grammar.
inline constexpr const char* kLibrary312 = TOLVA_BENCH_LIBRARY_3_12;

// The environment variable `name`, or `fallback` when it is unset or empty.
inline const char* setting(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

inline std::filesystem::path library_path() { return setting("TOLVA_BENCH_LIBRARY", kDefaultLibrary); }

// Ratios are taken between CPU times of this thread (and of the peer's
// process), so that other work on the machine does not skew them.
inline double cpu_seconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The CPU time per byte, in nanoseconds, of the best of `rounds` calls of
// `pass`, which goes over `bytes` bytes.
template <typename Pass>
double best_ns_per_byte(std::size_t bytes, Pass&& pass, int rounds = 3) {
  double best = 0.0;
  for (int round = 0; round < rounds; ++round) {
    const double start = cpu_seconds();
    pass();
    const double per_byte = (cpu_seconds() - start) * 1e9 / static_cast<double>(bytes);
    if (round == 0 || per_byte < best) best = per_byte;
  }
  return best;
}

struct Corpus {
  std::vector<std::string> files;
  std::size_t bytes = 0;
  std::string error;  // why there are no files, when there are none
};

// The .py files below `library` (site-packages and __pycache__ left out, an
// entry that cannot be looked at passed over), in the order of the walk;
// nothing when `library` is not a folder.
inline std::optional<std::vector<std::filesystem::path>> python_files(const std::filesystem::path& library) {
  std::error_code error;
  if (!std::filesystem::is_directory(library, error)) return std::nullopt;
  std::vector<std::filesystem::path> paths;
  auto it = std::filesystem::recursive_directory_iterator(library, error);
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    // An entry that cannot be looked at (a dangling link) is passed over,
    // not taken for the end of the walk.
    std::error_code entry_error;
    const std::filesystem::path name = it->path().filename();
    if (it->is_directory(entry_error)) {
      if (name == "site-packages" || name == "__pycache__") it.disable_recursion_pending();
      continue;
    }
    if (it->path().extension() == ".py" && it->is_regular_file(entry_error)) paths.push_back(it->path());
  }
  return paths;
}

inline Corpus load_corpus(const std::filesystem::path& library) {
  Corpus corpus;
  std::optional<std::vector<std::filesystem::path>> found = python_files(library);
  if (!found) {
    corpus.error = library.string() + " is absent: no corpus to measure";
    return corpus;
  }
  std::vector<std::filesystem::path>& paths = *found;
  std::sort(paths.begin(), paths.end());
  for (const auto& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    if (!tolva_utils::text::is_valid_utf8(text)) continue;
    corpus.bytes += text.size();
    corpus.files.push_back(std::move(text));
  }
  if (corpus.files.empty()) corpus.error = "no UTF-8 .py file below " + library.string();
  return corpus;
}

// The corpus of library_path(), read once. Leaked: no static destructor runs
// while a benchmark may still hold it.
inline const Corpus& corpus() {
  static const Corpus* value = new Corpus(load_corpus(library_path()));
  return *value;
}

// False, with `state` skipped and the reason given, when `corpus` is empty.
inline bool have(const Corpus& corpus, benchmark::State& state) {
  if (corpus.files.empty()) {
    state.SkipWithError(corpus.error.empty() ? "the corpus is empty" : corpus.error.c_str());
    return false;
  }
  return true;
}

// The line feeds of `text`, found with memchr: the bound of any pass that
// looks at every byte.
inline std::size_t count_line_feeds(std::string_view text) {
  std::size_t lines = 0;
  const char* at = text.data();
  const char* end = at + text.size();
  while (const void* hit = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
    ++lines;
    at = static_cast<const char*>(hit) + 1;
  }
  return lines;
}

// CPython's ast.parse over the library: the CPU seconds of its best round
// and the bytes it parsed, or seconds < 0 when the script could not run.
struct PeerFigure {
  double seconds = -1.0;
  double bytes = 0.0;
};

// Runs bench/python/bench_ast_parse.py once, on first use.
inline const PeerFigure& cpython_figure() {
  static const PeerFigure* value = [] {
    auto* figure = new PeerFigure();
    const std::filesystem::path script = std::filesystem::path(__FILE__).parent_path() / "python" / "bench_ast_parse.py";
    const std::string command = std::string(setting("TOLVA_BENCH_PYTHON", kDefaultPython)) + " '" + script.string() +
                                "' '" + library_path().string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return figure;
    double seconds = 0.0;
    double bytes = 0.0;
    if (std::fscanf(pipe, "%lf %lf", &seconds, &bytes) == 2 && seconds > 0.0) {
      figure->seconds = seconds;
      figure->bytes = bytes;
    }
    pclose(pipe);
    return figure;
  }();
  return *value;
}

// Sets "x_cpython" on `state`: our throughput over ast.parse's, from our CPU
// time per byte over corpus(). Left out, with a label that says why, when the
// script could not run or read other bytes than ours.
inline void report_x_cpython(benchmark::State& state, double ns_per_byte) {
  const PeerFigure& cpython = cpython_figure();
  if (cpython.seconds <= 0.0) {
    state.SetLabel("no x_cpython: bench/python/bench_ast_parse.py could not run (TOLVA_BENCH_PYTHON)");
  } else if (static_cast<std::size_t>(cpython.bytes) != corpus().bytes) {
    state.SetLabel("no x_cpython: ast.parse read " + std::to_string(static_cast<std::size_t>(cpython.bytes)) +
                   " bytes, this corpus holds " + std::to_string(corpus().bytes));
  } else if (ns_per_byte > 0.0) {
    state.counters["x_cpython"] = (cpython.seconds * 1e9 / cpython.bytes) / ns_per_byte;
  }
}

// ast.parse's own figure, for its MB/s beside ours.
inline void BM_CPythonAstParse(benchmark::State& state) {
  const PeerFigure& figure = cpython_figure();
  if (figure.seconds <= 0.0) {
    state.SkipWithError("bench/python/bench_ast_parse.py could not run (TOLVA_BENCH_PYTHON)");
    return;
  }
  for (auto _ : state) state.SetIterationTime(figure.seconds);
  state.SetBytesProcessed(static_cast<std::int64_t>(figure.bytes) * state.iterations());
}

}  // namespace bench
