#include "tolva_ast/project_index.h"

#include <algorithm>
#include <new>
#include <atomic>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "support/fatal_error.h"
#include "tolva_ast/once_cache.h"
#include "tolva_ast/parser_cache.h"
#include "tolva_ast/type_parsing.h"

namespace tolva_ast {

// The analysis entries and the parse cache's entries are OnceCaches: their
// locks and the order a request takes them in are stated in once_cache.h.
// `slots` and `parser_cache` are fixed at construction and read without
// locks; `started`, `unanalysed` and `tables` are atomics.

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

struct AstProjectIndex::Inner {
  Inner(AstFileParserCache cache, const std::vector<std::string>& files)
      : parser_cache(std::move(cache)), entries(kAnalysisCacheTexts) {
    slots.reserve(files.size());
    for (const std::string& path : files) slots.push_back(entries.entry(path, true).value());
    // A path listed twice has one entry.
    const std::size_t distinct = std::unordered_set<const AnalysisCache::Entry*>(slots.begin(), slots.end()).size();
    unanalysed.store(distinct, std::memory_order_relaxed);
    if (distinct == 0) publish_tables();
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
          const std::string module = parser_cache.module_name_for_path(path);
          return SharedParsedAstFile(std::make_shared<const ParsedAstFile>(
              type_parsing::parse_ast_file_with_feature_module(*parsed.value(), module)));
        },
        notice);
    if (got.computed && entry.tag() && unanalysed.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      publish_tables();
    }
    return std::move(got.outcome);
  }

  tolva::Result<SharedParsedAstFile> analyse(std::string_view path, BlockingNotice& notice) {
    const tolva::Result<AnalysisCache::Entry*> entry = entries.entry(path, false);
    if (!entry.has_value()) return tolva::Error{entry.error()};
    return analyse(*entry.value(), path, notice);
  }

  const LookupTables* lookup_tables() const { return tables.load(std::memory_order_acquire); }

  // Runs once, on the thread that stored the last listed outcome (or at
  // construction for an empty list): every slot has its outcome then.
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

  const AstFileParserCache parser_cache;
  AnalysisCache entries;
  // The entry of each position of the index's list; fixed at construction.
  std::vector<AnalysisCache::Entry*> slots;
  // Set by the first effective nonblocking_start_index; never cleared.
  std::atomic<bool> started{false};
  // The listed entries whose outcome is not stored yet.
  std::atomic<std::size_t> unanalysed{0};
  // Published once by publish_tables; `tables_owner` is written only there,
  // before the release store.
  std::atomic<const LookupTables*> tables{nullptr};
  std::unique_ptr<const LookupTables> tables_owner;
};

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

// A worker's share: every position j of the list with j mod count == i.
// Nothing escapes the thread: a file whose analysis runs out of memory stays
// unanalysed (a later request computes it) and the worker goes on with the
// next; a fatal error poisons the entry it unwinds through and ends this
// worker. (A worker never takes the interpreter lock, so no forced unwind
// ever passes here.)
void index_share(std::shared_ptr<const std::vector<std::string>> files, std::shared_ptr<AstProjectIndex::Inner> inner,
                 std::size_t count, std::size_t i) noexcept {
  try {
    BlockingNotice notice;
    for (std::size_t position = i; position < files->size(); position += count) {
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
  auto inner = std::make_shared<Inner>(
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
  if (inner_->started.exchange(true, std::memory_order_acq_rel)) return;
  const std::size_t count = std::max<std::size_t>(1, std::min<std::size_t>(available_cpus(), files_->size()));
  for (std::size_t i = 0; i < count; ++i) {
    try {
      std::thread(index_share, files_, inner_, count, i).detach();
    } catch (const std::system_error& error) {
      tolva::fatal("failed to spawn thread: " + error.code().message() + " (os error " +
                   std::to_string(error.code().value()) + ")");
    }
  }
}

}  // namespace tolva_ast
