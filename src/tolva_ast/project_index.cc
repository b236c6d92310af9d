#include "tolva_ast/project_index.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <new>
#include <atomic>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "support/fatal_error.h"
#include "tolva_ast/fork_safety.h"
#include "tolva_ast/once_cache.h"
#include "tolva_ast/parser_cache.h"
#include "tolva_ast/project_index_probe.h"
#include "tolva_ast/type_parsing.h"

namespace tolva_ast {

// The analysis entries and the parse cache's entries are OnceCaches: their
// locks and the order a request takes them in are stated in once_cache.h.
// `slots` and `parser_cache` are fixed at construction and read without
// locks; `started`, `abandoned`, `unanalysed`, `tables_due`, `tables` and
// `source_bytes` are atomics.
//
// Who holds an index: its handles share one HandleShare, which holds the
// state (Inner) for all of them; each background worker holds the state
// itself. When the last handle goes, the share's end sets `abandoned`:
// nobody can ask the index anything any more, so each worker stops at its
// next file, and the last holder of the state frees it (see make_inner for
// what goes back to the system then).

namespace {

constexpr OnceCacheTexts kAnalysisCacheTexts{
    .map_poisoned = "typed AST entry map lock poisoned",
    .entry_poisoned_for = "typed AST cache lock poisoned for ",
};

// Analysis entries; the tag tells whether the entry's path is in the
// index's list (those were all made at construction).
using AnalysisCache = OnceCache<SharedParsedAstFile, bool>;

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

// What the project-wide lookups of a fully analysed index read in place of
// the list: for each module name, the analysed files whose records all carry
// that module, in list order, each once. Any other file holds no record of
// that module, so a walk of these files finds what the walk of the whole
// list finds. Built once, when the last listed file's analysis is stored;
// the analyses belong to the entries.
struct LookupTables {
  std::unordered_map<std::string_view, std::vector<const ParsedAstFile*>, TextHash, std::equal_to<>> files_of_module;
};

// A test's hook: run after a listed file's analysis is stored, before it is
// counted.
std::atomic<void (*)()> after_listed_outcome_stored{nullptr};

// An index whose analyses read at least this much source frees enough, once
// it is gone, to be worth handing back to the system.
constexpr std::size_t kTrimAfterSourceBytes = std::size_t{1} << 20;

// Gives the free memory of every malloc arena back to the system. Worker
// threads each allocate from an arena of their own, and glibc gives a
// thread arena's free memory back by itself only from the top of its heap
// and only when a large free lands next to it, so an index's analyses,
// freed, would otherwise stay resident in the arenas of the threads that
// made them. malloc_trim releases the free chunks of every arena, but not
// the top of a thread arena's heap (see WorkerMark).
void hand_back_free_memory() noexcept {
#if defined(__GLIBC__)
  (void)::malloc_trim(0);
#endif
}

// A block each worker allocates in its thread's arena when it starts, and
// the index frees last, after malloc_trim: glibc trims the top of a thread
// arena's heap when a chunk of at least 64 KiB is freed into that arena (it
// first merges the arena's small free chunks, which is how malloc_trim
// leaves a large top untrimmed behind them). Below the mmap threshold
// (128 KiB at least), so that it comes from the arena.
constexpr std::size_t kWorkerMarkBytes = std::size_t{80} << 10;
using WorkerMark = std::unique_ptr<char[]>;

// The one module every record of `file` carries; empty when it has no
// record. False when two records differ (the tables then cannot stand for
// the walk).
bool single_module(const ParsedAstFile& file, std::string_view& module) {
  module = {};
  bool any = false;
  const auto same = [&](std::string_view record_module) {
    if (!any) {
      module = record_module;
      any = true;
      return true;
    }
    return record_module == module;
  };
  for (const ResolverAST& function : file.functions) {
    if (!same(function.module)) return false;
  }
  for (const FeatureClassAST& feature_class : file.feature_classes) {
    if (!same(feature_class.module)) return false;
  }
  return true;
}

}  // namespace

struct AstProjectIndex::Inner final : std::enable_shared_from_this<Inner>, private ForkAware {
  Inner(AstFileParserCache cache, const std::vector<std::string>& files)
      : parser_cache(std::move(cache)), entries(kAnalysisCacheTexts) {
    slots.reserve(files.size());
    for (const std::string& path : files) slots.push_back(entries.entry(path, true).value());
    // A path listed twice has one entry.
    std::unordered_set<const AnalysisCache::Entry*> seen;
    for (const AnalysisCache::Entry* slot : slots) {
      if (seen.insert(slot).second) distinct_slots.push_back(slot);
    }
    unanalysed.store(distinct_slots.size(), std::memory_order_relaxed);
    if (distinct_slots.empty()) publish_tables();
  }

  // The outcome for `path`, whose entry is `entry`: stored, or computed and
  // stored now.
  tolva::Result<SharedParsedAstFile> analyse(AnalysisCache::Entry& entry, std::string_view path,
                                             BlockingNotice& notice) {
    AnalysisCache::Got got = entries.get(
        entry, path,
        [&]() -> tolva::Result<SharedParsedAstFile> {
          tolva::Result<SharedParsedFileCache> parsed = parser_cache.get_parsed_file(path);
          if (!parsed.has_value()) return tolva::Error{std::move(parsed).error()};
          source_bytes.fetch_add(parsed.value()->source().size(), std::memory_order_relaxed);
          const std::string module = parser_cache.module_name_for_path(path);
          return SharedParsedAstFile(std::make_shared<const ParsedAstFile>(
              type_parsing::parse_ast_file_with_feature_module(*parsed.value(), module)));
        },
        notice);
    if (got.computed && entry.tag()) {
      if (void (*hook)() = after_listed_outcome_stored.load(std::memory_order_acquire)) hook();
      if (unanalysed.fetch_sub(1, std::memory_order_acq_rel) == 1) publish_tables_or_leave_due();
    }
    return std::move(got.outcome);
  }

  tolva::Result<SharedParsedAstFile> analyse(std::string_view path, BlockingNotice& notice) {
    const tolva::Result<AnalysisCache::Entry*> entry = entries.entry(path, false);
    if (!entry.has_value()) return tolva::Error{entry.error()};
    return analyse(*entry.value(), path, notice);
  }

  // The tables, built now when they are due (see `tables_due`).
  const LookupTables* lookup_tables() {
    const LookupTables* built = tables.load(std::memory_order_acquire);
    if (built == nullptr && tables_due.load(std::memory_order_relaxed) &&
        tables_due.exchange(false, std::memory_order_acq_rel)) {
      publish_tables_or_leave_due();
      built = tables.load(std::memory_order_acquire);
    }
    return built;
  }

  // A failed allocation leaves the tables due: a later lookup builds them.
  void publish_tables_or_leave_due() {
    try {
      publish_tables();
    } catch (const std::bad_alloc&) {
      tables_due.store(true, std::memory_order_release);
      throw;
    }
  }

  // Runs once, on the thread that stored the last listed outcome (or at
  // construction for an empty list; or on a lookup's thread, when due):
  // every slot has its outcome then.
  void publish_tables() {
    auto built = std::make_unique<LookupTables>();
    std::unordered_set<const ParsedAstFile*> seen;
    for (const AnalysisCache::Entry* slot : slots) {
      const AnalysisCache::Outcome* outcome = slot->stored();
      tolva::check(outcome != nullptr, "lookup tables built before every listed file was analysed");
      if (!outcome->has_value()) continue;
      const ParsedAstFile& file = *outcome->value();
      std::string_view module;
      if (!single_module(file, module)) return;  // lookups go on walking the list
      if (file.functions.empty() && file.feature_classes.empty()) continue;
      if (!seen.insert(&file).second) continue;  // listed again: its first place answers
      built->files_of_module[module].push_back(&file);
    }
    tables_owner = std::move(built);
    tables.store(tables_owner.get(), std::memory_order_release);
  }

  // Whether what the index's work freed is worth handing back to the
  // system once the index is gone.
  bool worth_trimming() const { return source_bytes.load(std::memory_order_relaxed) >= kTrimAfterSourceBytes; }

  // A thread of the parent may have stored a listed file's analysis and not
  // counted it yet when the process forked: that thread is not in the
  // child, so the child counts afresh what is left. (Outcomes that were in
  // flight are "not computed" in the child: the analysis cache's handler
  // sees to that.) When nothing is left and no tables were published, the
  // thread that was to publish them is gone too: the child's next lookup
  // builds them.
  void before_fork() noexcept override {}
  void after_fork_in_parent() noexcept override {}
  void after_fork_in_child() noexcept override {
    std::size_t left = 0;
    for (const AnalysisCache::Entry* slot : distinct_slots) {
      if (slot->stored() == nullptr) ++left;
    }
    unanalysed.store(left, std::memory_order_relaxed);
    if (left == 0 && tables.load(std::memory_order_relaxed) == nullptr) {
      tables_due.store(true, std::memory_order_relaxed);
    }
  }

  const AstFileParserCache parser_cache;
  AnalysisCache entries;
  // The entry of each position of the index's list; fixed at construction.
  std::vector<AnalysisCache::Entry*> slots;
  // Each entry of `slots` once, in list order; fixed at construction.
  std::vector<const AnalysisCache::Entry*> distinct_slots;
  // Set by the first effective nonblocking_start_index; never cleared.
  std::atomic<bool> started{false};
  // Set when the last handle is gone; never cleared. Workers stop then.
  std::atomic<bool> abandoned{false};
  // The listed entries whose outcome is not stored yet.
  std::atomic<std::size_t> unanalysed{0};
  // Set when every listed outcome is stored but the tables are not built:
  // the next project-wide lookup builds them.
  std::atomic<bool> tables_due{false};
  // Published once by publish_tables; `tables_owner` is written only there,
  // before the release store.
  std::atomic<const LookupTables*> tables{nullptr};
  std::unique_ptr<const LookupTables> tables_owner;
  // The bytes of source this index's analyses have read.
  std::atomic<std::size_t> source_bytes{0};
  // One per worker, set by nonblocking_start_index before the workers
  // start; worker i writes only its own, and the index's last holder frees
  // them once every worker is done.
  std::vector<WorkerMark> worker_marks;

  ForkRegistration fork_registration_{*this};  // last: registered while the rest is whole
};

namespace {

// What the handles of one index share (see the top of this file).
struct HandleShare {
  explicit HandleShare(std::shared_ptr<AstProjectIndex::Inner> held) : inner(std::move(held)) {}
  HandleShare(const HandleShare&) = delete;
  HandleShare& operator=(const HandleShare&) = delete;
  ~HandleShare() { inner->abandoned.store(true, std::memory_order_relaxed); }

  std::shared_ptr<AstProjectIndex::Inner> inner;
};

// The state of a new index. Whoever lets go of it last (the last handle, or
// the last worker of an index whose handles are gone) frees it, and then
// hands what the index's work freed back to the system: the analyses, and
// whatever the workers freed in their threads' arenas.
std::shared_ptr<AstProjectIndex::Inner> make_inner(AstFileParserCache cache, const std::vector<std::string>& files) {
  return std::shared_ptr<AstProjectIndex::Inner>(new AstProjectIndex::Inner(std::move(cache), files),
                                                 [](AstProjectIndex::Inner* inner) {
                                                   const bool trim = inner->worth_trimming();
                                                   std::vector<WorkerMark> marks = std::move(inner->worker_marks);
                                                   delete inner;
                                                   if (trim) hand_back_free_memory();
                                                   marks.clear();  // last: see WorkerMark
                                                 });
}

}  // namespace

AstProjectIndex::AstProjectIndex(std::shared_ptr<const std::vector<std::string>> files, std::shared_ptr<Inner> inner)
    : files_(std::move(files)) {
  auto share = std::make_shared<HandleShare>(std::move(inner));
  Inner* const state = share->inner.get();
  inner_ = std::shared_ptr<Inner>(std::move(share), state);
}

namespace {

// Walks the list in order: the first file whose `find` answers gives the
// record. A failing file is skipped.
template <class Record, class Find>
const Record* walk(AstProjectIndex::Inner& inner, const std::vector<std::string>& files, BlockingNotice& notice,
                   Find&& find) {
  for (std::size_t position = 0; position < files.size(); ++position) {
    const tolva::Result<SharedParsedAstFile> outcome = inner.analyse(*inner.slots[position], files[position], notice);
    if (!outcome.has_value()) continue;
    if (const Record* record = find(*outcome.value())) return record;
  }
  return nullptr;
}

template <class Record>
std::optional<Record> copy_of(const Record* record) {
  if (record == nullptr) return std::nullopt;
  return *record;
}

// The first answer of `find` among the files of `module`, in list order.
template <class Record, class Find>
const Record* from_tables(const LookupTables& tables, std::string_view module, Find&& find) {
  const auto files = tables.files_of_module.find(module);
  if (files == tables.files_of_module.end()) return nullptr;
  for (const ParsedAstFile* file : files->second) {
    if (const Record* record = find(*file)) return record;
  }
  return nullptr;
}

const ResolverAST* function_named(const ParsedAstFile& file, std::string_view name) {
  for (const ResolverAST& function : file.functions) {
    if (function.resolver_name == name) return &function;
  }
  return nullptr;
}

const ResolverAST* resolver_named(const ParsedAstFile& file, std::string_view name) {
  for (std::size_t i = 0; i < file.resolvers.size(); ++i) {
    if (file.resolver(i).resolver_name == name) return &file.resolver(i);
  }
  return nullptr;
}

const FeatureClassAST* feature_class_named(const ParsedAstFile& file, std::string_view name) {
  for (const FeatureClassAST& feature_class : file.feature_classes) {
    if (feature_class.class_name == name) return &feature_class;
  }
  return nullptr;
}

// A worker's share: every position j of the list with j mod count == i,
// until the index is abandoned. Nothing escapes the thread: a file whose
// analysis runs out of memory stays unanalysed (a later request computes
// it) and the worker goes on with the next; a fatal error poisons the
// entry it unwinds through and ends this worker. (A worker never takes the
// interpreter lock, so no forced unwind ever passes here.)
void index_share(std::shared_ptr<const std::vector<std::string>> files, std::shared_ptr<AstProjectIndex::Inner> inner,
                 std::size_t count, std::size_t i) noexcept {
  try {
    // Null when there is no memory for it: the index then frees without it.
    inner->worker_marks[i].reset(new (std::nothrow) char[kWorkerMarkBytes]);
    BlockingNotice notice;
    for (std::size_t position = i; position < files->size(); position += count) {
      if (inner->abandoned.load(std::memory_order_relaxed)) break;
      try {
        (void)inner->analyse(*inner->slots[position], (*files)[position], notice);
      } catch (const std::bad_alloc&) {
      }
    }
  } catch (...) {
  }
}

}  // namespace

AstProjectIndex::AstProjectIndex(std::string project_root, std::vector<std::string> files)
    : AstProjectIndex(with_filesystem(std::move(project_root), files,
                                      std::make_shared<const StdAstFileSystem>(files))) {}

AstProjectIndex AstProjectIndex::with_filesystem(std::string project_root, std::vector<std::string> files,
                                                 SharedAstFileSystem filesystem) {
  auto list = std::make_shared<const std::vector<std::string>>(std::move(files));
  auto inner = make_inner(
      AstFileParserCache::with_filesystem(std::move(project_root), std::move(filesystem), KeepParsedFiles::no),
      *list);
  return AstProjectIndex(std::move(list), std::move(inner));
}

tolva::Result<SharedParsedAstFile> AstProjectIndex::get_parsed_ast_file(std::string_view path) const {
  BlockingNotice notice;
  return inner_->analyse(path, notice);
}

namespace {

// A project-wide lookup: from the tables of a fully analysed index, else by
// walking the list. `find` answers for one file.
template <class Record, class Find>
std::optional<Record> project_lookup(AstProjectIndex::Inner& inner, const std::vector<std::string>& files,
                                     std::string_view module, const BeforeBlocking& before_blocking, Find&& find) {
  if (const LookupTables* tables = inner.lookup_tables()) return copy_of(from_tables<Record>(*tables, module, find));
  BlockingNotice notice(&before_blocking);
  return copy_of(walk<Record>(inner, files, notice, find));
}

// An in-file lookup: the file at `file_path` analysed (listed or not), and
// `find`'s answer for it; nothing when the analysis failed.
template <class Find>
auto file_lookup(AstProjectIndex::Inner& inner, std::string_view file_path, const BeforeBlocking& before_blocking,
                 Find&& find) {
  BlockingNotice notice(&before_blocking);
  const tolva::Result<SharedParsedAstFile> outcome = inner.analyse(file_path, notice);
  return outcome.has_value() ? copy_of(find(*outcome.value())) : std::nullopt;
}

}  // namespace

std::optional<ResolverAST> AstProjectIndex::function_ast(std::string_view module, std::string_view function_name,
                                                         const BeforeBlocking& before_blocking) const {
  return project_lookup<ResolverAST>(*inner_, *files_, module, before_blocking, [&](const ParsedAstFile& file) {
    const ResolverAST* found = nullptr;
    for (const ResolverAST& function : file.functions) {
      if (function.module == module && function.resolver_name == function_name) {
        found = &function;
        break;
      }
    }
    return found;
  });
}

std::optional<ResolverAST> AstProjectIndex::resolver_ast(std::string_view module, std::string_view resolver_name,
                                                         const BeforeBlocking& before_blocking) const {
  return project_lookup<ResolverAST>(*inner_, *files_, module, before_blocking, [&](const ParsedAstFile& file) {
    const ResolverAST* found = nullptr;
    for (std::size_t i = 0; i < file.resolvers.size(); ++i) {
      const ResolverAST& resolver = file.resolver(i);
      if (resolver.module == module && resolver.resolver_name == resolver_name) {
        found = &resolver;
        break;
      }
    }
    return found;
  });
}

std::optional<FeatureClassAST> AstProjectIndex::feature_class_ast(std::string_view module,
                                                                  std::string_view class_name,
                                                                  const BeforeBlocking& before_blocking) const {
  // A file answers with its first class of that name, kept only when that
  // class's module is the one asked for.
  return project_lookup<FeatureClassAST>(*inner_, *files_, module, before_blocking, [&](const ParsedAstFile& file) {
    const FeatureClassAST* found = feature_class_named(file, class_name);
    return found != nullptr && found->module == module ? found : nullptr;
  });
}

std::optional<ResolverAST> AstProjectIndex::function_ast_in_file(std::string_view file_path,
                                                                 std::string_view function_name,
                                                                 const BeforeBlocking& before_blocking) const {
  return file_lookup(*inner_, file_path, before_blocking,
                     [&](const ParsedAstFile& file) { return function_named(file, function_name); });
}

std::optional<ResolverAST> AstProjectIndex::resolver_ast_in_file(std::string_view file_path,
                                                                 std::string_view resolver_name,
                                                                 const BeforeBlocking& before_blocking) const {
  return file_lookup(*inner_, file_path, before_blocking,
                     [&](const ParsedAstFile& file) { return resolver_named(file, resolver_name); });
}

std::optional<FeatureClassAST> AstProjectIndex::feature_class_ast_in_file(
    std::string_view file_path, std::string_view class_name, const BeforeBlocking& before_blocking) const {
  return file_lookup(*inner_, file_path, before_blocking,
                     [&](const ParsedAstFile& file) { return feature_class_named(file, class_name); });
}

void AstProjectIndex::nonblocking_start_index() const {
  if (files_->empty()) return;
  if (inner_->started.load(std::memory_order_acquire)) return;
  const std::size_t count = std::max<std::size_t>(1, std::min<std::size_t>(available_cpus(), files_->size()));
  std::vector<WorkerMark> marks(count);  // made before the flag is set: a failed allocation starts nothing
  if (inner_->started.exchange(true, std::memory_order_acq_rel)) return;
  inner_->worker_marks = std::move(marks);
  for (std::size_t i = 0; i < count; ++i) {
    try {
      std::thread(index_share, files_, inner_->shared_from_this(), count, i).detach();
    } catch (const std::system_error& error) {
      tolva::fatal("failed to spawn thread: " + error.code().message() + " (os error " +
                   std::to_string(error.code().value()) + ")");
    }
  }
}

namespace testing {

bool ProjectIndexProbe::answers_from_tables(const AstProjectIndex& index) {
  return index.inner_->tables.load(std::memory_order_acquire) != nullptr;
}

void ProjectIndexProbe::set_after_listed_outcome_stored(void (*hook)()) {
  after_listed_outcome_stored.store(hook, std::memory_order_release);
}

}  // namespace testing

}  // namespace tolva_ast
