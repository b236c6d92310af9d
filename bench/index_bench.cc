// The project index over a whole standard library: background indexing
// with nonblocking_start_index until every file is analysed, beside the
// same files analysed one after another on one thread; the memory the
// indexed project keeps and the peak while it is built; and warm lookups
// for the first and the last module of the list.
//
// The files are the .py files below TOLVA_BENCH_INDEX_DIR, the standard
// library with every class and def decorated so that each one is a record
// of the analysis (bench/python/decorated_library.py writes it, through
// tests/corpus/analysis/decorate.py); without it, those below
// TOLVA_BENCH_LIBRARY (the plain library, bench_corpus.h).
// Site-packages and __pycache__ are left out; the list is in path order.
//
// Figures to read: bytes_per_second and real time of BM_IndexBackground and
// BM_IndexOneThread (their ratio is the speed-up of the workers; "workers"
// says how many ran); "kept_x_source" and "peak_x_source" of BM_IndexMemory
// (heap bytes in use by the fully indexed project, and at most while it is
// built, over the bytes of the source files); the time of BM_WarmLookupFirst
// and BM_WarmLookupLast, and of BM_AnalysedFileHit.
//
// Both run in two states of the allocator. "cold:1" rounds start as a
// fresh process does: the memory freed by the round before is handed back
// to the system first (malloc_trim), so every page the round keeps or
// frees is faulted in anew. "cold:0" rounds start with whatever the freed
// index left held; an index whose analyses read a megabyte of source or
// more hands what it freed back to the system itself once its last holder
// lets go (so that a long-lived host does not keep it), so the two states
// differ little. On a virtual machine page faults are a large part of the
// cost.
//
// What dropped indexes cost a long-lived host (CPU, thread lifetime and
// resident memory after indexes made and dropped while indexing) is
// measured by bench/python/bench_dropped_index.py.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_corpus.h"
#include "tolva_ast/project_index.h"

namespace {

using tolva_ast::AstProjectIndex;

struct Project {
  std::string root;
  std::vector<std::string> files;
  std::size_t bytes = 0;
  std::string error;
};

Project load_project() {
  Project project;
  project.root = bench::setting("TOLVA_BENCH_INDEX_DIR", bench::library_path().c_str());
  const std::optional<std::vector<std::filesystem::path>> found = bench::python_files(project.root);
  if (!found) {
    project.error = project.root + " is absent: no project to index";
    return project;
  }
  for (const std::filesystem::path& path : *found) {
    std::error_code error;
    project.files.push_back(path.string());
    project.bytes += static_cast<std::size_t>(std::filesystem::file_size(path, error));
  }
  std::sort(project.files.begin(), project.files.end());
  if (project.files.empty()) project.error = "no .py file below " + project.root;
  return project;
}

// Leaked: workers of the last benchmark may still run at exit.
const Project& project() {
  static const Project* value = new Project(load_project());
  return *value;
}

bool have(const Project& p, benchmark::State& state) {
  if (p.files.empty()) {
    state.SkipWithError(p.error.c_str());
    return false;
  }
  return true;
}

// Thrown by a lookup's notice: the lookup would have to wait or work.
struct NotYet {};

// Whether every listed file is analysed: a project-wide lookup for nothing
// then answers without its notice, which otherwise aborts it before it
// waits or works itself.
bool fully_analysed(const AstProjectIndex& index) {
  const tolva_ast::BeforeBlocking not_yet = [] { throw NotYet{}; };
  try {
    (void)index.function_ast("\x01 no module", "\x01 no function", not_yet);
    return true;
  } catch (const NotYet&) {
    return false;
  }
}

// CPU seconds of the whole process (every thread), user and system.
double process_cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::size_t heap_in_use() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Starts the workers and polls until they are done; calls `sample` at each
// poll.
template <class Sample>
void index_in_background(const AstProjectIndex& index, Sample&& sample) {
  index.nonblocking_start_index();
  while (!fully_analysed(index)) {
    sample();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Hands the memory freed so far back to the system, in a cold round.
void start_round(const benchmark::State& state) {
  if (state.range(0) != 0) ::malloc_trim(0);
}

void BM_IndexBackground(benchmark::State& state) {
  const Project& p = project();
  if (!have(p, state)) return;
  double cpu_seconds = 0.0;
  start_round(state);
  for (auto _ : state) {
    const double cpu_start = process_cpu_seconds();
    auto filesystem = std::make_shared<const tolva_ast::StdAstFileSystem>(p.files);
    {
      const auto index = AstProjectIndex::with_filesystem(p.root, p.files, filesystem);
      index_in_background(index, [] {});
      state.PauseTiming();
      cpu_seconds += process_cpu_seconds() - cpu_start;
    }
    // The last worker to let go of the index frees it: wait for that here,
    // so that it does not run into the next round.
    while (filesystem.use_count() > 1) std::this_thread::sleep_for(std::chrono::microseconds(100));
    start_round(state);
    state.ResumeTiming();
  }
  // The CPU time of all threads per round: beside BM_IndexOneThread's
  // time, what the parallel run costs in all.
  state.counters["process_cpu_ms"] = cpu_seconds * 1e3 / static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(p.bytes) * state.iterations());
  state.counters["files"] = static_cast<double>(p.files.size());
  state.counters["workers"] =
      static_cast<double>(std::max<std::size_t>(1, std::min<std::size_t>(tolva_ast::available_cpus(), p.files.size())));
}
BENCHMARK(BM_IndexBackground)->ArgName("cold")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_IndexOneThread(benchmark::State& state) {
  const Project& p = project();
  if (!have(p, state)) return;
  start_round(state);
  for (auto _ : state) {
    // A project-wide lookup that matches nothing analyses every file in
    // list order, on this thread.
    {
      const AstProjectIndex index(p.root, p.files);
      benchmark::DoNotOptimize(index.function_ast("\x01 no module", "\x01 no function"));
      state.PauseTiming();  // freeing the index is not timed, as above
    }
    start_round(state);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(p.bytes) * state.iterations());
}
BENCHMARK(BM_IndexOneThread)->ArgName("cold")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_IndexMemory(benchmark::State& state) {
  const Project& p = project();
  if (!have(p, state)) return;
  double kept = 0.0;
  double peak = 0.0;
  for (auto _ : state) {
    ::malloc_trim(0);
    const std::size_t before = heap_in_use();
    std::size_t highest = before;
    {
      const AstProjectIndex index(p.root, p.files);
      index_in_background(index, [&] { highest = std::max(highest, heap_in_use()); });
      const std::size_t after = heap_in_use();
      highest = std::max(highest, after);
      kept = static_cast<double>(after - std::min(after, before));
      peak = static_cast<double>(highest - before);
    }
  }
  state.counters["source_bytes"] = static_cast<double>(p.bytes);
  state.counters["kept_x_source"] = kept / static_cast<double>(p.bytes);
  state.counters["peak_x_source"] = peak / static_cast<double>(p.bytes);
}
BENCHMARK(BM_IndexMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// A fully indexed project, kept for the lookups; leaked like the project.
const AstProjectIndex& indexed() {
  static const AstProjectIndex* value = [] {
    auto* index = new AstProjectIndex(project().root, project().files);
    index_in_background(*index, [] {});
    return index;
  }();
  return *value;
}

// The module and a function of the first (or last) listed file that has a
// function whose own module is that file's.
std::optional<std::pair<std::string, std::string>> target(bool last) {
  const auto& files = project().files;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const std::string& path = files[last ? files.size() - 1 - k : k];
    const auto analysed = indexed().get_parsed_ast_file(path);
    if (!analysed.has_value() || analysed.value()->functions.empty()) continue;
    const tolva_ast::ResolverAST& function = analysed.value()->functions.front();
    return std::make_pair(function.module, function.resolver_name);
  }
  return std::nullopt;
}

void warm_lookup(benchmark::State& state, bool last) {
  const Project& p = project();
  if (!have(p, state)) return;
  const auto wanted = target(last);
  if (!wanted) {
    state.SkipWithError("no function in the project");
    return;
  }
  const AstProjectIndex& index = indexed();
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.function_ast(wanted->first, wanted->second));
  }
  state.SetLabel(wanted->first + "." + wanted->second);
}

void BM_WarmLookupFirst(benchmark::State& state) { warm_lookup(state, false); }
void BM_WarmLookupLast(benchmark::State& state) { warm_lookup(state, true); }
BENCHMARK(BM_WarmLookupFirst);
BENCHMARK(BM_WarmLookupLast);

// A request for an analysed file by its path: the map's shared lock, one
// hash lookup and the entry's stored outcome; from one thread and from
// eight at once (the shared lock is the only write to shared memory).
void BM_AnalysedFileHit(benchmark::State& state) {
  const Project& p = project();
  if (!have(p, state)) return;
  const AstProjectIndex& index = indexed();
  const std::string& path = p.files[p.files.size() / 2];
  for (auto _ : state) benchmark::DoNotOptimize(index.get_parsed_ast_file(path));
}
BENCHMARK(BM_AnalysedFileHit)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
