// LineIndex construction and lookups over the concatenated Python standard
// library (the files of bench_corpus.h, joined in path order), beside a plain
// memchr scan for "\n" over the same bytes, and character-column lookups on
// long non-ASCII lines.
//
// Figures to read: "of_memchr" on BM_LineIndexBuild, its throughput over the
// memchr scan's, from the best CPU time per byte of three passes of each
// taken in this run; the time per lookup of BM_LineColumnCorpus.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "source_file/line_index.h"
#include "source_file/text_scan.h"
#include "source_file/text_slice.h"

namespace {

using source_file::ColumnUnit;
using source_file::LineIndex;
using text_size::TextOffset;

// The corpus's files concatenated. Leaked so that no static destructor runs
// while a benchmark may hold it.
const std::string& corpus() {
  static const std::string* text = [] {
    auto* all = new std::string();
    all->reserve(bench::corpus().bytes);
    for (const std::string& file : bench::corpus().files) all->append(file);
    return all;
  }();
  return *text;
}

bool have_corpus(benchmark::State& state) { return bench::have(bench::corpus(), state); }

void BM_MemchrNewlines(benchmark::State& state) {
  if (!have_corpus(state)) return;
  const std::string& text = corpus();
  for (auto _ : state) benchmark::DoNotOptimize(bench::count_line_feeds(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_MemchrNewlines)->Unit(benchmark::kMillisecond);

void build_index(const std::string& text) {
  LineIndex index = LineIndex::from_source_text(text);
  benchmark::DoNotOptimize(index.line_starts().data());
}

void BM_LineIndexBuild(benchmark::State& state) {
  if (!have_corpus(state)) return;
  const std::string& text = corpus();
  for (auto _ : state) build_index(text);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));

  const double ours = bench::best_ns_per_byte(text.size(), [&] { build_index(text); });
  const double bound =
      bench::best_ns_per_byte(text.size(), [&] { benchmark::DoNotOptimize(bench::count_line_feeds(text)); });
  if (ours > 0.0) state.counters["of_memchr"] = bound / ours;
}
BENCHMARK(BM_LineIndexBuild)->Unit(benchmark::kMillisecond);

// The plain byte loop the block-wise scan replaces, for comparison.
void BM_LineStartsScalarScan(benchmark::State& state) {
  if (!have_corpus(state)) return;
  const std::string& text = corpus();
  std::vector<std::uint32_t> starts;
  for (auto _ : state) {
    starts.clear();
    benchmark::DoNotOptimize(source_file::text_scan::scan_line_starts_scalar(text, starts));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LineStartsScalarScan)->Unit(benchmark::kMillisecond);

// Character boundaries spread over `text`, shuffled so that lookups do not
// walk the table in order.
std::vector<TextOffset> spread_offsets(const std::string& text, std::size_t count) {
  std::vector<TextOffset> offsets;
  std::mt19937 random(5);
  while (offsets.size() < count) {
    std::size_t at = random() % (text.size() + 1);
    while (!source_file::is_char_boundary(text, at)) --at;
    offsets.emplace_back(static_cast<std::uint32_t>(at));
  }
  return offsets;
}

void BM_LineColumnCorpus(benchmark::State& state) {
  if (!have_corpus(state)) return;
  const std::string& text = corpus();
  LineIndex index = LineIndex::from_source_text(text);
  std::vector<TextOffset> offsets = spread_offsets(text, 4096);
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.line_column(offsets[next], text));
    next = (next + 1) % offsets.size();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_LineColumnCorpus);

// Lines of state.range(0) bytes, mostly ASCII with a two-byte and a
// four-byte character now and then; lookups at offsets spread over them. Per
// lookup the cost must grow with the line length, not with its square:
// bytes/s (the bytes from each offset back to its line start) stays flat or
// rises as lines grow.
void BM_LineColumnLongNonAsciiLines(benchmark::State& state) {
  const auto line_length = static_cast<std::size_t>(state.range(0));
  std::string text;
  std::mt19937 random(11);
  while (text.size() < 8 * 1024 * 1024) {
    std::string line;
    while (line.size() + 4 < line_length) {
      switch (random() % 16) {
        case 0: line += "\xC3\xA9"; break;
        case 1: line += "\xF0\x9F\x98\x80"; break;
        default: line += 'x'; break;
      }
    }
    text += line;
    text += '\n';
  }
  LineIndex index = LineIndex::from_source_text(text);
  std::vector<TextOffset> offsets = spread_offsets(text, 4096);
  // Bytes between each offset and its line start: what a lookup counts.
  std::vector<std::uint32_t> distances;
  auto starts = index.line_starts();
  for (TextOffset offset : offsets) {
    distances.push_back(offset.raw - *(std::upper_bound(starts.begin(), starts.end(), offset.raw) - 1));
  }
  std::uint64_t scanned = 0;
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.line_column(offsets[next], text));
    scanned += distances[next];
    next = (next + 1) % offsets.size();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<std::int64_t>(scanned));
}
BENCHMARK(BM_LineColumnLongNonAsciiLines)->Arg(80)->Arg(1024)->Arg(16 * 1024)->Arg(256 * 1024);

}  // namespace

BENCHMARK_MAIN();
