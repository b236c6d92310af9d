// What one file of a given shape costs a user's lookup: read, parse and
// analysis through a fresh project index (AstProjectIndex over a temporary
// folder that holds the file, get_parsed_ast_file of its path; nothing is
// cached from one lookup to the next), for generated files of about 0.5 MiB
// and 4 MiB each:
//
//   ordinary          whole standard-library files (bench_corpus.h) one
//                     after another: the baseline
//   parameters        one resolver `def` with one annotated parameter a line
//   decorator_kwargs  one `@online(...)` call with one keyword argument a line
//   dict_keys         one `@online(tags={...})` whose dict has one string key
//                     a line
//   field_kwargs      one `@features` class whose one field's call has one
//                     keyword argument a line
//   commented_fields  one `@features` class of fields, each under a comment
//                     block of a description, an owner and a tags line
//   long_expression   `x = 1 + 1 + ...` on one line
//   dollars, question_marks
//                     lines of `$`, and of `?`: characters that are no token
//   nul_bytes         NUL bytes only
//   lone_cr_classes   `@features` classes of one field each, lines ending in
//                     a lone "\r"
//   nested_defs_99, nested_defs_500
//                     `def`s nested 99 and 500 deep, the innermost of ten
//                     `return`s a line
//   nested_classes_99, nested_classes_500
//                     `@features` classes nested 99 and 500 deep, the
//                     innermost of ten annotated fields a line
//   with_open_junk    `with (` on the first line, then lines of `$`: the
//                     parenthesis never closes
//   with_open_nested_junk
//                     the same with 150 more `(` after `with (`
//   match_calls       one `match(...)` call statement a line: `match` read
//                     first as the start of a match statement
//
// The lookups run in fresh processes of this binary (started with
// --shapes-child), so that one which takes too long can be stopped: each
// process runs for at most TOLVA_BENCH_SHAPES_BUDGET seconds of real time
// (default 20), and one stopped there is reported as over budget, with the
// CPU time its lookup had taken (and the heap it had reached) as lower
// bounds. The quadratic shapes of today take minutes at 4 MiB. With the
// budget 0 every lookup runs to its end, in this process.
//
// Time: the CPU time of the lookup's thread from the index's construction to
// the answer (freeing it all later is not counted), per source byte. The
// figure judged is a fresh process's first lookup, made after one lookup of
// a 16 KiB file of the same shape (so that the code is paged in and bound):
// what a first lookup pays, page faults of its fresh memory included; the
// best of up to five processes (a further one only while they have taken
// less than three seconds in all). Beside it, "warm": the best of the
// lookups after the first in the same process, whose allocator maps no block
// on its own and trims nothing, so they find their memory in place and pay
// no page fault for it (not judged: on a heap of hundreds of megabytes the
// allocator's own walks cost more than the faults saved).
// Memory: the peak of the live heap bytes during one lookup in a process of
// its own, minus those live before it, per source byte. The C allocator
// itself is replaced in this binary (malloc, free and the rest of the family
// forward to glibc's and count the usable size of each block), since the
// syntax tree's arena takes its blocks from malloc and aligned_alloc, beside
// operator new, which takes them from malloc too; the count is on only in
// that lookup, so that it does not weigh on the time. Not under a sanitizer,
// which brings its own allocator: memory is not measured there.
//
// Each benchmark reports "ns_per_byte", "warm_ns_per_byte", "peak_per_byte",
// "x_ordinary_time" and "x_ordinary_memory" (against ordinary code of the
// same size), "bytes" and "records": the entries of the record maps that its shape is
// dense in (the parameters, the keyword arguments, the dict keys, the field
// call's keyword arguments, the documented fields, the classes with a
// one-line definition, the outermost function's returns, the innermost
// class's annotated fields; the functions and
// classes of the ordinary code; none for the others), checked against the
// entries generated ("records_expected"). After all benchmarks a summary
// table gives, per shape, both sizes' figures, the ratios to ordinary code at
// 4 MiB, the growth of time per byte from 0.5 MiB to 4 MiB, and whether it
// meets its targets: growth at most 1.6 x for every shape; time and memory
// per byte at most 10 x ordinary code's for the shapes dense in records, at
// most 3 x for the other shapes. The ordinary code at 4 MiB is measured for
// the summary even when the filter left its benchmark out.
//
// Benchmarks are named shapes/<shape>/<size>: --benchmark_filter limits
// them, e.g. --benchmark_filter=/0.5MiB for the smaller size only.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench_corpus.h"
#include "python_parser/parse.h"
#include "tolva_ast/project_index.h"

// ---------------------------------------------------------------------------
// The counting C allocator.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOLVA_SHAPES_COUNT_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TOLVA_SHAPES_COUNT_HEAP 0
#endif
#endif
#ifndef TOLVA_SHAPES_COUNT_HEAP
#define TOLVA_SHAPES_COUNT_HEAP 1
#endif

namespace {

// Set only during the lookup of a memory run. The live count is signed: a
// block that was allocated before the count began and is freed during the
// lookup takes it below zero, so the peak stays that of the lookup's own
// blocks.
std::atomic<bool> counting{false};
std::atomic<std::int64_t> live_bytes{0};
// The highest live count; in a child, in memory shared with the parent
// (shared_peak()), so that a child stopped by the budget still tells the
// peak it had reached.
std::atomic<std::int64_t> own_peak{0};
std::atomic<std::int64_t>* peak_bytes = &own_peak;

void count_allocation(void* memory) {
  if (memory == nullptr || !counting.load(std::memory_order_relaxed)) return;
  const auto size = static_cast<std::int64_t>(::malloc_usable_size(memory));
  const std::int64_t now = live_bytes.fetch_add(size, std::memory_order_relaxed) + size;
  std::int64_t seen = peak_bytes->load(std::memory_order_relaxed);
  while (now > seen && !peak_bytes->compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
  }
}

void count_release(void* memory) {
  if (memory == nullptr || !counting.load(std::memory_order_relaxed)) return;
  live_bytes.fetch_sub(static_cast<std::int64_t>(::malloc_usable_size(memory)), std::memory_order_relaxed);
}

}  // namespace

#if TOLVA_SHAPES_COUNT_HEAP
// glibc's own entry points, to which the replacements forward; every block
// is glibc's, so malloc_usable_size, malloc_trim and the rest keep working
// on it. glibc's internal callers reach the replacements too.
extern "C" {
void* __libc_malloc(std::size_t size);
void __libc_free(void* memory);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* __libc_valloc(std::size_t size);
void* __libc_pvalloc(std::size_t size);

void* malloc(std::size_t size) noexcept {
  void* memory = __libc_malloc(size);
  count_allocation(memory);
  return memory;
}
void free(void* memory) noexcept {
  count_release(memory);
  __libc_free(memory);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
  void* memory = __libc_calloc(count, size);
  count_allocation(memory);
  return memory;
}
void* realloc(void* memory, std::size_t size) noexcept {
  // Counted as a release and an allocation: the block may move. A failed
  // realloc keeps the old block, which is counted back.
  count_release(memory);
  void* moved = __libc_realloc(memory, size);
  count_allocation(moved == nullptr && size != 0 ? memory : moved);
  return moved;
}
void* reallocarray(void* memory, std::size_t count, std::size_t size) noexcept {
  std::size_t total = 0;
  if (__builtin_mul_overflow(count, size, &total)) {
    errno = ENOMEM;
    return nullptr;
  }
  return realloc(memory, total);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
  void* memory = __libc_memalign(alignment, size);
  count_allocation(memory);
  return memory;
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept { return memalign(alignment, size); }
int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* memory = memalign(alignment, size);
  if (memory == nullptr) return ENOMEM;
  *out = memory;
  return 0;
}
void* valloc(std::size_t size) noexcept {
  void* memory = __libc_valloc(size);
  count_allocation(memory);
  return memory;
}
void* pvalloc(std::size_t size) noexcept {
  void* memory = __libc_pvalloc(size);
  count_allocation(memory);
  return memory;
}
}  // extern "C"
#endif

namespace {

using tolva_ast::ParsedAstFile;

// ---------------------------------------------------------------------------
// The shapes.

constexpr std::size_t kSmall = 512 * 1024;
constexpr std::size_t kLarge = 4 * 1024 * 1024;

std::string size_name(std::size_t size) { return size == kSmall ? "0.5MiB" : "4MiB"; }

// A generated file and the number of records its shape is dense in, as
// generated (nullopt: not known beforehand, for the ordinary code).
struct Generated {
  std::string text;
  std::optional<std::size_t> expected;
  std::string error;  // why there is no file, when there is none
};

// Lines `line(i)` for i = 0, 1, ... between `head` and `tail`, as many as fit
// in `size` bytes.
template <class Line>
Generated repeated(std::string head, Line&& line, const std::string& tail, std::size_t size) {
  Generated out;
  out.text = std::move(head);
  std::size_t count = 0;
  for (;; ++count) {
    const std::string next = line(count);
    if (out.text.size() + next.size() + tail.size() > size) break;
    out.text += next;
  }
  out.text += tail;
  out.expected = count;
  return out;
}

// Whole standard-library files, each that still fits, so that the size is
// reached within the smallest file's size; taken in a fixed scrambled order
// rather than by path, so that both sizes hold the same mix of the library
// (its first folders alone are not typical of it). Only files that parse on
// their own are taken (not the grammar tests' samples of old syntax), and no
// byte order mark of a file's own (inside the text it is no white space).
Generated ordinary(std::size_t size) {
  Generated out;
  const bench::Corpus& corpus = bench::corpus();
  if (corpus.files.empty()) {
    out.error = corpus.error.empty() ? "the corpus is empty" : corpus.error;
    return out;
  }
  std::vector<std::uint32_t> order(corpus.files.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto scrambled = [](std::uint32_t i) { return i * 2654435761u; };
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return scrambled(a) < scrambled(b); });
  for (const std::uint32_t i : order) {
    const std::string& file = corpus.files[i];
    if (file.empty() || file.rfind("\xEF\xBB\xBF", 0) == 0) continue;
    const std::size_t bytes = file.size() + (file.back() == '\n' ? 0 : 1);
    if (out.text.size() + bytes > size) continue;
    if (!python_parser::parse_module(file).has_value()) continue;
    out.text += file;
    if (file.back() != '\n') out.text += '\n';
  }
  return out;
}

Generated parameters(std::size_t size) {
  return repeated(
      "from tolva import online\n\n\n@online\ndef many_parameters(\n",
      [](std::size_t i) { return "    p" + std::to_string(i) + ": int,\n"; }, ") -> int:\n    return 0\n", size);
}

Generated decorator_kwargs(std::size_t size) {
  return repeated(
      "from tolva import online\n\n\n@online(\n", [](std::size_t i) { return "    k" + std::to_string(i) + "=1,\n"; },
      ")\ndef many_keywords() -> int:\n    return 0\n", size);
}

Generated dict_keys(std::size_t size) {
  return repeated(
      "from tolva import online\n\n\n@online(\n    tags={\n",
      [](std::size_t i) { return "        \"k" + std::to_string(i) + "\": 1,\n"; },
      "    },\n)\ndef many_keys() -> int:\n    return 0\n", size);
}

Generated field_kwargs(std::size_t size) {
  return repeated(
      "from tolva.features import features\n\n\n@features\nclass ManyKeywords:\n    total: int = feature(\n",
      [](std::size_t i) { return "        k" + std::to_string(i) + "=1,\n"; }, "    )\n", size);
}

Generated commented_fields(std::size_t size) {
  return repeated(
      "from tolva.features import features\n\n\n@features(name=\"many_fields\", owner=\"team\")\nclass ManyFields:\n",
      [](std::size_t i) {
        const std::string k = std::to_string(i);
        return "    # Field " + k + ", in cents.\n    # :owner: team-" + k + "\n    # :tags: t" + k +
               ", shared\n    f" + k + ": int\n";
      },
      "", size);
}

Generated long_expression(std::size_t size) {
  Generated out = repeated("x = 1", [](std::size_t) { return std::string(" + 1"); }, "\n", size);
  out.expected = 0;
  return out;
}

// Lines of 79 `character`s.
Generated invalid_characters(char character, std::size_t size) {
  Generated out = repeated("", [&](std::size_t) { return std::string(79, character) + "\n"; }, "", size);
  out.expected = 0;
  return out;
}

Generated nul_bytes(std::size_t size) { return {std::string(size, '\0'), 0, {}}; }

// `head`, then lines of 79 `$`.
Generated open_junk(const std::string& head, std::size_t size) {
  Generated out = repeated(head, [](std::size_t) { return std::string(79, '$') + "\n"; }, "", size);
  out.expected = 0;
  return out;
}

Generated match_calls(std::size_t size) {
  Generated out = repeated(
      "import re\n\n",
      [](std::size_t i) { return "match(pattern_" + std::to_string(i) + ", text[start:], flags=re.I)\n"; }, "", size);
  out.expected = 0;
  return out;
}

// The records a shape is dense in, in one file's analysis.
std::size_t definitions(const ParsedAstFile& file) { return file.functions.size() + file.feature_classes.size(); }

std::size_t parameter_records(const ParsedAstFile& file) {
  std::size_t n = 0;
  for (const auto& function : file.functions) n += function.args.size();
  return n;
}

std::size_t keyword_records(const ParsedAstFile& file) {
  std::size_t n = 0;
  for (const auto& function : file.functions) n += function.kwargs.size();
  return n;
}

std::size_t dict_key_records(const ParsedAstFile& file) {
  std::size_t n = 0;
  for (const auto& function : file.functions) {
    for (const auto& [name, keys] : function.kwarg_dict_key_names) n += keys.size();
  }
  return n;
}

std::size_t field_keyword_records(const ParsedAstFile& file) {
  std::size_t n = 0;
  for (const auto& feature_class : file.feature_classes) {
    for (const auto& field : feature_class.annotations) n += field.kwargs.size();
  }
  return n;
}

std::size_t documented_field_records(const ParsedAstFile& file) {
  std::size_t n = 0;
  for (const auto& feature_class : file.feature_classes) {
    for (const auto& [name, field] : feature_class.fields) {
      if (field.description && field.owner && !field.tags.empty()) ++n;
    }
  }
  return n;
}

// Files whose records share text: classes on lines that end in a lone "\r",
// and definitions nested in one another (indented one space a level).

Generated lone_cr_classes(std::size_t size) {
  return repeated(
      "from tolva.features import features\r\r\r",
      [](std::size_t i) {
        const std::string k = std::to_string(i);
        return "@features\rclass C" + k + ":\r    x" + k + ": int = 1\r\r\r";
      },
      "", size);
}

// `depth` definitions nested in one another, each line of the innermost
// body holding ten simple statements `statement(i)`, counted as records.
// `header(indent, level)` gives the lines that open one level.
template <class Header, class Statement>
Generated nested(std::size_t depth, const std::string& import, Header&& header, Statement&& statement,
                 std::size_t size) {
  std::string head = import;
  for (std::size_t level = 0; level < depth; ++level) head += header(std::string(level, ' '), level);
  const std::string indent(depth, ' ');
  Generated out = repeated(std::move(head), [&](std::size_t i) {
    std::string line = indent;
    for (std::size_t j = 0; j < 10; ++j) {
      if (j > 0) line += "; ";
      line += statement(10 * i + j);
    }
    return line + "\n";
  }, "", size);
  *out.expected *= 10;
  return out;
}

Generated nested_defs(std::size_t depth, std::size_t size) {
  return nested(
      depth, "", [](const std::string& indent, std::size_t level) { return indent + "def f" + std::to_string(level) + "():\n"; },
      [](std::size_t i) { return "return " + std::to_string(i); }, size);
}

Generated nested_classes(std::size_t depth, std::size_t size) {
  return nested(
      depth, "from tolva.features import features\n",
      [](const std::string& indent, std::size_t level) {
        return indent + "@features\n" + indent + "class C" + std::to_string(level) + ":\n";
      },
      [](std::size_t i) { return std::string("f").append(std::to_string(i)).append(": int = 1"); }, size);
}

// The classes whose definition line is one line.
std::size_t one_line_definitions(const ParsedAstFile& file) {
  std::size_t n = 0;
  for (const auto& feature_class : file.feature_classes) {
    const tolva_ast::Range& range = feature_class.class_definition_location.range;
    if (range.start.line == range.end.line) ++n;
  }
  return n;
}

// The return statements of the outermost function (all of the file's).
std::size_t outer_return_records(const ParsedAstFile& file) {
  return file.functions.empty() ? 0 : file.functions.front().return_statements.size();
}

// The annotated fields of the innermost class.
std::size_t inner_field_records(const ParsedAstFile& file) {
  return file.feature_classes.empty() ? 0 : file.feature_classes.back().annotations.size();
}

struct Shape {
  const char* name;
  bool dense;  // dense in records: the 10 x target; otherwise 3 x
  Generated (*generate)(std::size_t size);
  std::size_t (*records)(const ParsedAstFile& file);
};

const std::vector<Shape>& shapes() {
  static const std::vector<Shape> value = {
      {"ordinary", false, ordinary, definitions},
      {"parameters", true, parameters, parameter_records},
      {"decorator_kwargs", true, decorator_kwargs, keyword_records},
      {"dict_keys", true, dict_keys, dict_key_records},
      {"field_kwargs", true, field_kwargs, field_keyword_records},
      {"commented_fields", true, commented_fields, documented_field_records},
      {"long_expression", false, long_expression, definitions},
      {"dollars", false, [](std::size_t size) { return invalid_characters('$', size); }, definitions},
      {"question_marks", false, [](std::size_t size) { return invalid_characters('?', size); }, definitions},
      {"nul_bytes", false, nul_bytes, definitions},
      {"lone_cr_classes", true, lone_cr_classes, one_line_definitions},
      {"nested_defs_99", true, [](std::size_t size) { return nested_defs(99, size); }, outer_return_records},
      {"nested_defs_500", true, [](std::size_t size) { return nested_defs(500, size); }, outer_return_records},
      {"nested_classes_99", true, [](std::size_t size) { return nested_classes(99, size); }, inner_field_records},
      {"nested_classes_500", true, [](std::size_t size) { return nested_classes(500, size); }, inner_field_records},
      {"with_open_junk", false, [](std::size_t size) { return open_junk("with (\n", size); }, definitions},
      {"with_open_nested_junk", false,
       [](std::size_t size) { return open_junk("with (" + std::string(150, '(') + "\n", size); }, definitions},
      {"match_calls", false, match_calls, definitions},
  };
  return value;
}

// ---------------------------------------------------------------------------
// The lookups, in processes of their own.

double budget_seconds() { return std::atof(bench::setting("TOLVA_BENCH_SHAPES_BUDGET", "20")); }

// The memory file shared with every child, where the peak is counted (and
// read by the parent even when the child was stopped); its descriptor is
// inherited by the children.
struct SharedPeak {
  int fd = -1;
  std::atomic<std::int64_t>* peak = &own_peak;
};

std::atomic<std::int64_t>* map_peak(int fd) {
  void* page = ::mmap(nullptr, sizeof(std::atomic<std::int64_t>), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return page == MAP_FAILED ? nullptr : static_cast<std::atomic<std::int64_t>*>(page);
}

const SharedPeak& shared_peak() {
  static const SharedPeak value = [] {
    SharedPeak shared;
    const int fd = ::memfd_create("tolva_shapes_peak", 0);
    if (fd < 0 || ::ftruncate(fd, sizeof(std::atomic<std::int64_t>)) != 0) return shared;
    if (std::atomic<std::int64_t>* peak = map_peak(fd)) {
      shared.fd = fd;
      shared.peak = peak;
    }
    return shared;
  }();
  return value;
}

// What a child hands back through its pipe before and after each lookup.
struct RunReport {
  bool starting = false;  // about to start a lookup: only the next field is set
  double process_cpu_seconds = 0.0;  // the CPU time of the process so far
  double cpu_seconds = 0.0;
  std::int64_t peak_bytes = 0;
  std::uint64_t records = 0;
  bool parsed = false;
  char error[200] = {};  // the lookup's error text (the parse's), if any
};

// The lookup itself: a fresh index over the folder, the file's analysis,
// and the records of the shape in it.
RunReport lookup(const Shape& shape, const std::string& root, const std::string& path, bool count_heap) {
  RunReport report;
  if (count_heap) {
    live_bytes.store(0);
    peak_bytes->store(0);
    counting.store(true);
  }
  const double start = bench::cpu_seconds();
  {
    const tolva_ast::AstProjectIndex index(root, {path});
    const tolva::Result<tolva_ast::SharedParsedAstFile> file = index.get_parsed_ast_file(path);
    report.cpu_seconds = bench::cpu_seconds() - start;
    counting.store(false);
    report.peak_bytes = peak_bytes->load();
    report.parsed = file.has_value();
    if (file.has_value()) {
      report.records = shape.records(*file.value());
    } else {
      std::snprintf(report.error, sizeof report.error, "%s", file.error().c_str());
    }
  }
  return report;
}

double process_cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The lookups of one child: when `warm_up` names a file, one lookup of it
// first, untimed, so that the code is paged in and bound; then a first
// lookup of `path`, then at least one more and further ones while the
// lookups have taken less than 1.5 seconds of CPU time in all, `runs` at
// most; `report` is called before each (a starting report) and after it.
template <class Report>
void lookups(const Shape& shape, const std::string& root, const std::string& path, const std::string& warm_up,
             bool count_heap, int runs, Report&& report) {
  if (!warm_up.empty()) (void)lookup(shape, root, warm_up, false);
  double spent = 0.0;
  for (int run = 0; run < runs; ++run) {
    RunReport starting;
    starting.starting = true;
    starting.process_cpu_seconds = process_cpu_seconds();
    if (!report(starting)) return;
    const RunReport done = lookup(shape, root, path, count_heap);
    if (!report(done)) return;
    spent += done.cpu_seconds;
    if (run >= 1 && spent >= 1.5) return;
  }
}

// The first argument of a child: this binary run for the lookups of one file.
constexpr const char* kChildFlag = "--shapes-child";

// A child's main: argv = kChildFlag, shape, root, path, the warm-up file
// ("" for none), count_heap (0 or 1), runs, the descriptor to write its
// reports to, the shared peak's descriptor.
//
// A timed child's allocator keeps the memory it is given: no block is
// mapped on its own and nothing is trimmed, so the lookups after the first
// find their memory in place (a warm heap); the first lookup's time is what
// a fresh process pays, page faults included.
int child_main(char** argv) {
  const Shape* shape = nullptr;
  for (const Shape& candidate : shapes()) {
    if (std::strcmp(candidate.name, argv[1]) == 0) shape = &candidate;
  }
  if (shape == nullptr) return 3;
  const bool count_heap = std::strcmp(argv[5], "1") == 0;
  const int runs = std::atoi(argv[6]);
  const int out = std::atoi(argv[7]);
  if (count_heap) {
    peak_bytes = map_peak(std::atoi(argv[8]));
    if (peak_bytes == nullptr) return 4;
  } else {
    ::mallopt(M_MMAP_MAX, 0);
    ::mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
  }
  bool written_all = true;
  lookups(*shape, argv[2], argv[3], argv[4], count_heap, runs, [&](const RunReport& report) {
    const char* at = reinterpret_cast<const char*>(&report);
    std::size_t left = sizeof report;
    while (left > 0) {
      const ssize_t written = ::write(out, at, left);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return written_all = false;
      at += written;
      left -= static_cast<std::size_t>(written);
    }
    return true;
  });
  return written_all ? 0 : 2;
}

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What one child (or the same lookups in this process) gave.
struct Child {
  std::vector<RunReport> runs;  // the lookups it finished, in order
  bool over_budget = false;     // stopped by the budget
  // When stopped: the CPU time of the lookup it was in (its whole CPU time
  // less that at the lookup's start), and the peak it had reached, in the
  // memory run.
  double unfinished_cpu_seconds = 0.0;
  std::int64_t unfinished_peak_bytes = 0;
  std::string error;  // why it ended without any report, when it did
};

// The lookups for `path` in a fresh process of this binary, stopped after
// `budget` seconds of real time.
Child run_child(const Shape& shape, const std::string& root, const std::string& path, const std::string& warm_up,
                bool count_heap, int runs, double budget) {
  Child child;
  const SharedPeak& shared = shared_peak();
  if (count_heap && shared.fd < 0) {
    child.error = "no shared memory file for the peak";
    return child;
  }
  // The reports' pipe: its write end reaches the child only, at a
  // descriptor of its own without close-on-exec.
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) {
    child.error = std::string("pipe: ") + std::strerror(errno);
    return child;
  }
  constexpr int kChildOut = 100;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], kChildOut);
  const std::string count_text = count_heap ? "1" : "0";
  const std::string runs_text = std::to_string(runs);
  const std::string out_text = std::to_string(kChildOut);
  const std::string peak_text = std::to_string(shared.fd);
  std::vector<char*> args;
  for (const char* arg : {"/proc/self/exe", kChildFlag, shape.name, root.c_str(), path.c_str(), warm_up.c_str(),
                          count_text.c_str(), runs_text.c_str(), out_text.c_str(), peak_text.c_str()}) {
    args.push_back(const_cast<char*>(arg));
  }
  args.push_back(nullptr);
  shared.peak->store(0);
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_ends[1]);
  if (spawned != 0) {
    child.error = std::string("posix_spawn: ") + std::strerror(spawned);
    ::close(pipe_ends[0]);
    return child;
  }
  RunReport report;
  std::size_t filled = 0;
  double started_at = 0.0;  // the process's CPU time at the start of its last lookup
  for (;;) {
    const double remaining = budget - since(start);
    if (remaining <= 0.0) {
      child.over_budget = true;
      break;
    }
    pollfd ready{pipe_ends[0], POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(remaining * 1000.0) + 1);
    if (polled == 0 || (polled < 0 && errno == EINTR)) continue;  // the deadline is checked above
    const ssize_t got =
        polled < 0 ? -1 : ::read(pipe_ends[0], reinterpret_cast<char*>(&report) + filled, sizeof report - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the child has ended
    filled += static_cast<std::size_t>(got);
    if (filled == sizeof report) {
      if (report.starting) {
        started_at = report.process_cpu_seconds;
      } else {
        child.runs.push_back(report);
      }
      filled = 0;
    }
  }
  ::close(pipe_ends[0]);
  if (child.over_budget) ::kill(pid, SIGKILL);
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (child.over_budget) {
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    child.unfinished_cpu_seconds = std::max(0.0, seconds(usage.ru_utime) + seconds(usage.ru_stime) - started_at);
    child.unfinished_peak_bytes = count_heap ? shared.peak->load() : 0;
  } else if (child.runs.empty()) {
    child.error = WIFSIGNALED(status) ? "the lookup ended by signal " + std::to_string(WTERMSIG(status))
                                      : "the lookup ended without a report (status " + std::to_string(status) + ")";
  }
  return child;
}

// The lookups in a child when there is a budget; in this process otherwise.
Child run_lookups(const Shape& shape, const std::string& root, const std::string& path, const std::string& warm_up,
                  bool count_heap, int runs, double budget) {
  if (budget > 0.0) return run_child(shape, root, path, warm_up, count_heap, runs, budget);
  Child child;
  lookups(shape, root, path, warm_up, count_heap, runs, [&](const RunReport& report) {
    if (!report.starting) child.runs.push_back(report);
    return true;
  });
  return child;
}

// ---------------------------------------------------------------------------
// The measurement of one shape at one size.

// CPU nanoseconds per byte: the best of the lookups measured, or, when none
// finished, a lower bound from the one that was stopped.
struct Time {
  bool known = false;
  bool lower_bound = false;
  double ns_per_byte = 0.0;

  void take(double value) {
    if (!known || lower_bound || value < ns_per_byte) ns_per_byte = value;
    known = true;
    lower_bound = false;
  }
  void take_lower_bound(double value) {
    if (known && !lower_bound) return;
    known = lower_bound = true;
    ns_per_byte = std::max(ns_per_byte, value);
  }
};

struct Figures {
  bool measured = false;
  std::string error;  // why there are no figures
  std::size_t bytes = 0;
  Time cold;  // the first lookup of a process: the figure judged
  Time warm;  // the lookups after it
  double peak_per_byte = 0.0;
  bool memory_known = false;
  bool memory_lower_bound = false;
  std::size_t records = 0;  // of the first lookup
  bool records_known = false;
  std::optional<std::size_t> expected;
  bool parsed = false;
};

// The temporary folder of this process's files; removed at exit.
const std::filesystem::path& folder() {
  static const std::filesystem::path* value = [] {
    auto* path = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                           ("tolva_shapes_bench_" + std::to_string(::getpid())));
    std::filesystem::create_directories(*path);
    return path;
  }();
  return *value;
}

void remove_folder() {
  std::error_code error;
  std::filesystem::remove_all(folder(), error);
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

// The size of the warm-up file: the same shape, small.
constexpr std::size_t kWarmUp = 16 * 1024;

Figures measure(const Shape& shape, std::size_t size) {
  Figures figures;
  Generated generated = shape.generate(size);
  if (!generated.error.empty()) {
    figures.error = generated.error;
    return figures;
  }
  const std::string root = folder().string();
  const std::string stem = (folder() / (std::string(shape.name) + "_" + size_name(size))).string();
  const std::string path = stem + ".py";
  const std::string warm_up = stem + "_warm_up.py";
  if (!write_file(path, generated.text) || !write_file(warm_up, shape.generate(kWarmUp).text)) {
    figures.error = "could not write " + path;
    return figures;
  }
  figures.bytes = generated.text.size();
  figures.expected = generated.expected;
  generated.text = std::string();
  const double bytes = static_cast<double>(figures.bytes);
  const double budget = budget_seconds();

  const auto remove_files = [&] {
    std::error_code error;
    std::filesystem::remove(path, error);
    std::filesystem::remove(warm_up, error);
  };

  // The timed lookups: processes one after another, each with a cold
  // lookup and warm ones, while they have taken less than three seconds in
  // all, five at most; none after one that was stopped.
  double spent = 0.0;
  bool first_finished = false;
  for (int children = 0; children < 5 && (children == 0 || spent < 3.0); ++children) {
    const auto start = std::chrono::steady_clock::now();
    const Child timed = run_lookups(shape, root, path, warm_up, false, 4, budget);
    spent += since(start);
    if (timed.runs.empty() && !timed.over_budget) {
      if (children == 0) {
        figures.error = timed.error;
        remove_files();
        return figures;
      }
      break;
    }
    figures.measured = true;
    const auto per_byte = [&](double seconds) { return seconds * 1e9 / bytes; };
    for (std::size_t i = 0; i < timed.runs.size(); ++i) {
      (i == 0 ? figures.cold : figures.warm).take(per_byte(timed.runs[i].cpu_seconds));
    }
    if (!timed.runs.empty() && !figures.records_known) {
      const RunReport& first = timed.runs.front();
      figures.records = static_cast<std::size_t>(first.records);
      figures.records_known = true;
      figures.parsed = first.parsed;
    }
    first_finished = first_finished || !timed.runs.empty();
    if (timed.over_budget) {
      // Stopped in the lookup after the finished ones.
      if (timed.runs.empty()) figures.cold.take_lower_bound(per_byte(timed.unfinished_cpu_seconds));
      if (timed.runs.size() == 1) figures.warm.take_lower_bound(per_byte(timed.unfinished_cpu_seconds));
      break;
    }
  }

  // The memory run: one lookup; a quarter of the budget when not even the
  // first timed one finished, for a lower bound of the peak.
  if (TOLVA_SHAPES_COUNT_HEAP) {
    const Child counted = run_lookups(shape, root, path, "", true, 1, first_finished ? budget : budget / 4.0);
    if (!counted.runs.empty()) {
      figures.memory_known = true;
      figures.peak_per_byte = static_cast<double>(counted.runs.front().peak_bytes) / bytes;
    } else if (counted.over_budget) {
      figures.memory_known = figures.memory_lower_bound = true;
      figures.peak_per_byte = static_cast<double>(counted.unfinished_peak_bytes) / bytes;
    }
  }
  remove_files();
  return figures;
}

// Every measurement of this process, by shape and size.
std::map<std::pair<std::string, std::size_t>, Figures>& results() {
  static auto* value = new std::map<std::pair<std::string, std::size_t>, Figures>();
  return *value;
}

// The figures of `shape` at `size`, measured now if they were not yet.
const Figures& figures_of(const Shape& shape, std::size_t size) {
  auto found = results().find({shape.name, size});
  if (found == results().end()) found = results().emplace(std::make_pair(shape.name, size), measure(shape, size)).first;
  return found->second;
}

void BM_Shape(benchmark::State& state, const Shape* shape, std::size_t size) {
  Figures figures;
  for (auto _ : state) {
    figures = measure(*shape, size);
    state.SetIterationTime(figures.cold.known ? figures.cold.ns_per_byte * static_cast<double>(figures.bytes) * 1e-9 : 0.0);
  }
  results()[{shape->name, size}] = figures;
  if (!figures.measured) {
    state.SkipWithError(figures.error.c_str());
    return;
  }
  state.counters["bytes"] = static_cast<double>(figures.bytes);
  if (figures.cold.known) state.counters["ns_per_byte"] = figures.cold.ns_per_byte;
  if (figures.warm.known) state.counters["warm_ns_per_byte"] = figures.warm.ns_per_byte;
  if (figures.memory_known) state.counters["peak_per_byte"] = figures.peak_per_byte;
  if (figures.records_known) state.counters["records"] = static_cast<double>(figures.records);
  if (figures.expected) state.counters["records_expected"] = static_cast<double>(*figures.expected);
  // Against ordinary code of the same size (measured here if the filter
  // left it out).
  const Figures& ordinary = figures_of(shapes().front(), size);
  if (figures.cold.known && ordinary.cold.known && ordinary.cold.ns_per_byte > 0.0) {
    state.counters["x_ordinary_time"] = figures.cold.ns_per_byte / ordinary.cold.ns_per_byte;
  }
  if (figures.memory_known && ordinary.memory_known && ordinary.peak_per_byte > 0.0) {
    state.counters["x_ordinary_memory"] = figures.peak_per_byte / ordinary.peak_per_byte;
  }
  std::string label = !figures.records_known ? "no lookup finished" : figures.parsed ? "parsed" : "parse error";
  if (figures.cold.lower_bound || figures.warm.lower_bound || figures.memory_lower_bound) {
    label += "; over budget: lower bounds";
  }
  if (figures.records_known && figures.expected && figures.records != *figures.expected) {
    label += "; records short of the entries generated";
  }
  state.SetLabel(label);
}

// ---------------------------------------------------------------------------
// The summary.

const Figures* ran(const Shape& shape, std::size_t size) {
  const auto found = results().find({shape.name, size});
  return found == results().end() ? nullptr : &found->second;
}

// A figure, with ">" in front when it is a lower bound; "-" when unknown.
std::string cell(bool known, double value, bool lower_bound, int decimals) {
  if (!known) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%s%.*f", lower_bound ? ">" : "", decimals, value);
  return text;
}

// A ratio's verdict against its limit; a lower bound within the limit
// settles nothing.
enum class Verdict { kMet, kMissed, kUnsettled };

Verdict judge(double value, bool lower_bound, double limit) {
  if (value > limit) return Verdict::kMissed;
  return lower_bound ? Verdict::kUnsettled : Verdict::kMet;
}

constexpr double kGrowthLimit = 1.6;
constexpr double kDenseLimit = 10.0;
constexpr double kOtherLimit = 3.0;

// One line of the table, and its verdicts by what they judge.
struct Row {
  std::vector<std::string> cells;
  std::vector<std::pair<std::string, Verdict>> verdicts;
};

Row row_of(const Shape& shape, const Figures* small, const Figures* large, const Figures* ordinary_large) {
  Row row;
  const bool small_ok = small != nullptr && small->measured;
  const bool large_ok = large != nullptr && large->measured;
  const double limit = shape.dense ? kDenseLimit : kOtherLimit;
  std::string time_x = "-";
  std::string memory_x = "-";
  std::string growth = "-";
  Verdict time_verdict = Verdict::kUnsettled;
  Verdict memory_verdict = Verdict::kUnsettled;
  Verdict growth_verdict = Verdict::kUnsettled;
  const bool have_baseline = ordinary_large != nullptr && ordinary_large->measured;
  if (large_ok && large->cold.known && have_baseline && ordinary_large->cold.known &&
      !ordinary_large->cold.lower_bound && ordinary_large->cold.ns_per_byte > 0.0) {
    const double ratio = large->cold.ns_per_byte / ordinary_large->cold.ns_per_byte;
    time_x = cell(true, ratio, large->cold.lower_bound, 2);
    time_verdict = judge(ratio, large->cold.lower_bound, limit);
  }
  // The warm ratio, beside the judged one: the work alone, without the
  // page faults of fresh memory.
  std::string warm_x = "-";
  if (large_ok && large->warm.known && have_baseline && ordinary_large->warm.known &&
      !ordinary_large->warm.lower_bound && ordinary_large->warm.ns_per_byte > 0.0) {
    warm_x = cell(true, large->warm.ns_per_byte / ordinary_large->warm.ns_per_byte, large->warm.lower_bound, 2);
  }
  if (large_ok && large->memory_known && have_baseline && ordinary_large->memory_known &&
      !ordinary_large->memory_lower_bound && ordinary_large->peak_per_byte > 0.0) {
    const double ratio = large->peak_per_byte / ordinary_large->peak_per_byte;
    memory_x = cell(true, ratio, large->memory_lower_bound, 2);
    memory_verdict = judge(ratio, large->memory_lower_bound, limit);
  }
  if (small_ok && large_ok && small->cold.known && !small->cold.lower_bound && small->cold.ns_per_byte > 0.0 &&
      large->cold.known) {
    const double ratio = large->cold.ns_per_byte / small->cold.ns_per_byte;
    growth = cell(true, ratio, large->cold.lower_bound, 2);
    growth_verdict = judge(ratio, large->cold.lower_bound, kGrowthLimit);
  }
  row.verdicts = {{"growth", growth_verdict}, {"time", time_verdict}, {"memory", memory_verdict}};
  // The records and the parse outcome of the larger size whose first lookup
  // finished.
  const Figures* shown = large_ok && large->records_known ? large : small_ok && small->records_known ? small : nullptr;
  std::string records = "-";
  std::string parse = "-";
  if (shown != nullptr) {
    records = std::to_string(shown->records);
    if (shown->expected && shown->records != *shown->expected) {
      records += "!";
      row.verdicts.emplace_back("records", Verdict::kMissed);
    }
    parse = shown->parsed ? "ok" : "error";
  }
  std::string missed;
  std::string unsettled;
  for (const auto& [what, verdict] : row.verdicts) {
    if (verdict == Verdict::kMet) continue;
    std::string& list = verdict == Verdict::kMissed ? missed : unsettled;
    list += (list.empty() ? "" : ", ") + what;
  }
  std::string targets = missed.empty() ? "met" : "MISSED: " + missed;
  if (!unsettled.empty()) targets = (missed.empty() ? "" : targets + "; ") + "not settled: " + unsettled;
  const auto time = [](const Figures* f, const Time Figures::*which) {
    if (f == nullptr || !f->measured) return std::string("-");
    const Time& t = f->*which;
    return cell(t.known, t.ns_per_byte, t.lower_bound, 1);
  };
  const auto memory = [](const Figures* f) {
    return f == nullptr ? "-" : cell(f->measured && f->memory_known, f->peak_per_byte, f->memory_lower_bound, 1);
  };
  row.cells = {shape.name,
               time(small, &Figures::cold),
               time(large, &Figures::cold),
               time(small, &Figures::warm),
               time(large, &Figures::warm),
               memory(small),
               memory(large),
               time_x,
               warm_x,
               memory_x,
               growth,
               records,
               parse,
               targets};
  return row;
}

void print_summary() {
  const std::vector<Shape>& all = shapes();
  // The rows: the shapes that ran at either size.
  std::vector<const Shape*> rows;
  bool large_ran = false;
  for (const Shape& shape : all) {
    if (ran(shape, kSmall) != nullptr || ran(shape, kLarge) != nullptr) rows.push_back(&shape);
    large_ran = large_ran || ran(shape, kLarge) != nullptr;
  }
  if (rows.empty()) return;
  // The baseline, measured here if the filter left it out.
  const Figures* ordinary_large = large_ran ? &figures_of(all.front(), kLarge) : nullptr;
  const double budget = budget_seconds();
  std::printf("\nShapes: read + parse + analysis of one file through a fresh project index, per source byte.\n");
  std::printf("ns/B: CPU time of a fresh process's first lookup (after one of a small file of the shape), best of\n"
              "up to 5 processes; warm: the lookups after it in the same process, the heap in place; B/B: peak live\n"
              "heap bytes; x: against ordinary code at 4 MiB (warm x: warm against warm, not judged); growth: ns/B at\n"
              "4 MiB over 0.5 MiB.\n");
  if (budget > 0.0) {
    std::printf("Each process stopped after %g s (TOLVA_BENCH_SHAPES_BUDGET; its memory run after a quarter of that\n"
                "when its timed one was stopped): \">\" marks the lower bounds of the stopped ones.\n",
                budget);
  } else {
    std::printf("No budget (TOLVA_BENCH_SHAPES_BUDGET=0): every lookup ran to its end, in this process, whose\n"
                "heap was no longer fresh: the first lookups are not cold.\n");
  }
  std::printf("Targets: growth <= %.1f x; time and memory x ordinary <= %g (dense in records) or <= %g (other).\n\n",
              kGrowthLimit, kDenseLimit, kOtherLimit);
  const char* format = "%-16s %9s %9s %9s %9s %8s %8s %8s %8s %8s %7s %7s %-5s %s\n";
  std::printf(format, "shape", "ns/B .5M", "ns/B 4M", "warm .5M", "warm 4M", "B/B .5M", "B/B 4M", "time x", "warm x",
              "mem x", "growth", "records", "parse", "targets");
  bool any_missed = false;
  bool any_unsettled = false;
  for (const Shape* shape : rows) {
    const Row row = row_of(*shape, ran(*shape, kSmall), ran(*shape, kLarge), ordinary_large);
    const auto& c = row.cells;
    std::printf(format, c[0].c_str(), c[1].c_str(), c[2].c_str(), c[3].c_str(), c[4].c_str(), c[5].c_str(),
                c[6].c_str(), c[7].c_str(), c[8].c_str(), c[9].c_str(), c[10].c_str(), c[11].c_str(), c[12].c_str(), c[13].c_str());
    for (const auto& [what, verdict] : row.verdicts) {
      any_missed = any_missed || verdict == Verdict::kMissed;
      any_unsettled = any_unsettled || verdict == Verdict::kUnsettled;
    }
  }
  std::printf("\n");
  for (const Shape* shape : rows) {
    for (const std::size_t size : {kSmall, kLarge}) {
      const Figures* figures = ran(*shape, size);
      if (figures != nullptr && !figures->measured) {
        std::printf("%s at %s: not measured: %s\n", shape->name, size_name(size).c_str(), figures->error.c_str());
      }
    }
  }
  if (ordinary_large != nullptr && !ordinary_large->measured) {
    std::printf("ordinary code at 4 MiB: not measured (%s): no ratios\n", ordinary_large->error.c_str());
  }
  std::printf("records: the entries of the maps the shape is dense in (\"!\": fewer than generated)\n");
  if (!TOLVA_SHAPES_COUNT_HEAP) std::printf("memory is not measured under a sanitizer\n");
  std::printf("%s\n", any_missed      ? "Some targets are missed."
                      : any_unsettled ? "No target is missed, but some are not settled (a size left out, or over budget)."
                                      : "Every target is met.");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 10 && std::strcmp(argv[1], kChildFlag) == 0) return child_main(argv + 1);
  for (const Shape& shape : shapes()) {
    for (const std::size_t size : {kSmall, kLarge}) {
      benchmark::RegisterBenchmark(("shapes/" + std::string(shape.name) + "/" + size_name(size)).c_str(), BM_Shape,
                                   &shape, size)
          ->Unit(benchmark::kMillisecond)
          ->UseManualTime()
          ->Iterations(1);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  print_summary();
  benchmark::Shutdown();
  remove_folder();
  return 0;
}
