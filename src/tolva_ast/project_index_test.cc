#include "tolva_ast/project_index.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support/process.h"
#include "test_support/threads.h"
#include "test_support/tolva_ast/fake_filesystem.h"
#include "test_support/tolva_ast/test_files.h"
#include "tolva_ast/project_index_probe.h"

namespace tolva_ast {
namespace {

using test_support::eventually;
using test_support::in_forked_child;
using test_support::Gate;

using testing::ProjectIndexProbe;
using testing_support::FakeFileSystem;
using Files = std::vector<std::string>;
using Sources = std::map<std::string, std::string, std::less<>>;

// A module with a feature class, a resolver and a plain function, each
// named after `tag`.
std::string module_source(const std::string& tag) {
  return "from tolva import online\n"
         "from tolva.features import features\n"
         "\n"
         "@features\n"
         "class Thing" + tag + ":\n"
         "    id: int\n"
         "\n"
         "@online\n"
         "def resolve_" + tag + "(x: int) -> int:\n"
         "    return x\n"
         "\n"
         "def helper_" + tag + "():\n"
         "    pass\n";
}

std::shared_ptr<FakeFileSystem> fake(Sources files) {
  Files listing;
  for (const auto& [path, text] : files) listing.push_back(path);
  return std::make_shared<FakeFileSystem>(std::move(files), std::move(listing));
}

TEST(AstProjectIndex, ProjectLookupsWalkTheListInOrderAndCompareTheModule) {
  // x.py below the root and x.py elsewhere share the module name "x".
  Sources sources{{"/p/x.py", module_source("A") + "def shared():\n    return 1\n"},
                  {"/q/x.py", module_source("A") + "def shared():\n    return 2\n"},
                  {"/p/pkg/m.py", module_source("M")},
                  {"/p/broken.py", "def f(:\n"},
                  {"/p/other.py", "from tolva import online\n@online\ndef resolve_M():\n    pass\n"}};
  const auto fs = fake(sources);
  const Files list{"/p/broken.py", "/p/missing.py", "/q/x.py", "/p/x.py", "/p/pkg/m.py"};
  const auto index = AstProjectIndex::with_filesystem("/p", list, fs);

  const auto shared = index.function_ast("x", "shared");
  ASSERT_TRUE(shared.has_value());
  EXPECT_EQ(shared->module, "x");
  EXPECT_EQ(shared->resolver_name_location.uri->find("/q/x.py") != std::string::npos, true)
      << "the first file of the list with that module";

  EXPECT_EQ(index.function_ast("pkg.m", "helper_M")->resolver_name, "helper_M");
  EXPECT_EQ(index.function_ast("pkg.m", "resolve_M")->resolver_name, "resolve_M") << "a resolver is a function too";
  EXPECT_EQ(index.resolver_ast("pkg.m", "resolve_M")->resolver_name, "resolve_M");
  EXPECT_FALSE(index.resolver_ast("pkg.m", "helper_M").has_value()) << "not decorated";
  EXPECT_EQ(index.feature_class_ast("pkg.m", "ThingM")->class_name, "ThingM");
  EXPECT_FALSE(index.feature_class_ast("x", "ThingM").has_value()) << "module compared";
  EXPECT_FALSE(index.function_ast("pkg", "helper_M").has_value());
  EXPECT_FALSE(index.function_ast("other", "resolve_M").has_value()) << "other.py is not in the list";

  // In-file lookups take any path and compare names only.
  EXPECT_EQ(index.resolver_ast_in_file("/p/other.py", "resolve_M")->module, "other");
  EXPECT_EQ(index.feature_class_ast_in_file("/q/x.py", "ThingA")->module, "x");
  EXPECT_FALSE(index.function_ast_in_file("/p/broken.py", "f").has_value());
  EXPECT_FALSE(index.function_ast_in_file("/p/nothing.py", "f").has_value());

  // Each path text read once, failures included.
  for (const char* path : {"/p/broken.py", "/p/missing.py", "/q/x.py", "/p/x.py", "/p/pkg/m.py", "/p/other.py"}) {
    EXPECT_LE(fs->reads(path), 1) << path;
  }
  const auto broken = index.get_parsed_ast_file("/p/broken.py");
  ASSERT_FALSE(broken.has_value());
  EXPECT_TRUE(broken.error().starts_with("Failed to parse /p/broken.py: ")) << broken.error();
  EXPECT_EQ(index.get_parsed_ast_file("/p/missing.py").error(),
            "Failed to read /p/missing.py: No such file or directory (os error 2)");
}

TEST(AstProjectIndex, APathListedTwiceIsAnalysedOnceAndTwoSpellingsTwice) {
  const auto fs = fake({{"/p/a.py", module_source("A")}, {"/p/./a.py", module_source("A")}});
  const auto index = AstProjectIndex::with_filesystem("/p", {"/p/a.py", "/p/a.py", "/p/./a.py"}, fs);
  EXPECT_FALSE(index.function_ast("a", "absent").has_value());
  EXPECT_EQ(fs->reads("/p/a.py"), 1);
  EXPECT_EQ(fs->reads("/p/./a.py"), 1);
  const auto first = index.get_parsed_ast_file("/p/a.py");
  EXPECT_EQ(first.value().get(), index.get_parsed_ast_file("/p/a.py").value().get());
  EXPECT_NE(first.value().get(), index.get_parsed_ast_file("/p/./a.py").value().get());
  EXPECT_EQ(index.function_ast("a", "helper_A")->resolver_name_location.uri->ends_with("/p/a.py"), true);
}

TEST(AstProjectIndex, ListedFilesThatAreNotPythonAreReadAndParsedAllTheSame) {
  const testing_support::ScratchDirectory dir;
  const std::string a = dir.write("a.py", module_source("A"));
  const std::string notes = dir.write("notes.txt", "def from_notes():\n    pass\n");
  const std::string prose = dir.write("prose.txt", "This is not Python.\n");
  const AstProjectIndex index(dir.path(), {prose, a, notes});
  EXPECT_EQ(index.function_ast("notes.txt", "from_notes")->module, "notes.txt");
  EXPECT_EQ(index.function_ast("a", "helper_A")->module, "a");
  EXPECT_FALSE(index.get_parsed_ast_file(prose).has_value());
  // A file fixed on disk keeps its first outcome.
  dir.write("prose.txt", "def fixed():\n    pass\n");
  EXPECT_FALSE(index.function_ast_in_file(prose, "fixed").has_value());
}

TEST(AstProjectIndex, AnEmptyListAnswersNothingAndStartsNothing) {
  const auto fs = fake({{"/w/a.py", module_source("A")}});
  const auto index = AstProjectIndex::with_filesystem("/w", {}, fs);
  int blocked = 0;
  const BeforeBlocking count = [&] { ++blocked; };
  index.nonblocking_start_index();
  EXPECT_FALSE(index.function_ast("a", "helper_A", count).has_value());
  EXPECT_FALSE(index.resolver_ast("a", "resolve_A", count).has_value());
  EXPECT_FALSE(index.feature_class_ast("a", "ThingA", count).has_value());
  EXPECT_EQ(blocked, 0);
  EXPECT_EQ(index.function_ast_in_file("/w/a.py", "helper_A", count)->module, "a");
  EXPECT_EQ(blocked, 1);
}

TEST(AstProjectIndex, BeforeBlockingRunsOnceBeforeTheFirstWorkAndNeverWhenAllIsAnalysed) {
  const auto fs =
      fake({{"/w/a.py", module_source("A")}, {"/w/b.py", module_source("B")}, {"/w/c.py", module_source("C")}});
  const auto index = AstProjectIndex::with_filesystem("/w", {"/w/a.py", "/w/b.py", "/w/c.py"}, fs);
  int blocked = 0;
  const BeforeBlocking count = [&] { ++blocked; };

  EXPECT_TRUE(index.function_ast("a", "helper_A", count).has_value());
  EXPECT_EQ(blocked, 1);
  EXPECT_TRUE(index.function_ast("a", "helper_A", count).has_value());
  EXPECT_EQ(blocked, 1) << "a.py is analysed: nothing to wait for";
  EXPECT_TRUE(index.feature_class_ast("c", "ThingC", count).has_value());
  EXPECT_EQ(blocked, 2) << "once for b.py and c.py together";
  for (const auto& lookup : {+[](const AstProjectIndex& i, const BeforeBlocking& b) {
                               return i.function_ast("c", "nothing", b).has_value();
                             },
                             +[](const AstProjectIndex& i, const BeforeBlocking& b) {
                               return i.resolver_ast("b", "resolve_B", b).has_value();
                             },
                             +[](const AstProjectIndex& i, const BeforeBlocking& b) {
                               return i.feature_class_ast_in_file("/w/b.py", "ThingB", b).has_value();
                             }}) {
    (void)lookup(index, count);
  }
  EXPECT_EQ(blocked, 2);
  EXPECT_EQ(fs->total_reads(), 3);
}

// The answers of a fully analysed index (which may answer from tables built
// once) against those of an index that can never become fully analysed
// (one listed file is poisoned) and so walks the list for every lookup.
TEST(AstProjectIndex, AFullyAnalysedIndexAnswersAsTheWalkDoes) {
  Sources sources;
  Files list;
  const char* modules[] = {"m0", "m1", "m2"};
  for (int i = 0; i < 12; ++i) {
    // Several files per module name (below and outside the root), classes
    // and functions repeated within and across files.
    const std::string module = modules[i % 3];
    const std::string path = (i % 2 == 0 ? "/p/" : "/elsewhere/") + module + ".py";
    const std::string unique = "/p/u" + std::to_string(i) + "/" + module + ".py";
    const std::string tag = std::to_string(i % 4);
    std::string text = module_source(tag) + module_source(std::to_string(i % 5)) + "def f" + std::to_string(i) +
                       "():\n    return " + std::to_string(i) + "\n";
    sources.try_emplace(path, text);
    sources[unique] = text;
    list.push_back(path);
    list.push_back(unique);
  }
  sources["/p/poison.py"] = "x = 1\n";
  const auto fs = fake(sources);
  fs->fail_fatally("/p/poison.py");
  const auto warm = AstProjectIndex::with_filesystem("/p", list, fs);
  Files walking_list = list;
  walking_list.push_back("/p/poison.py");
  const auto walking = AstProjectIndex::with_filesystem("/p", walking_list, fs);
  EXPECT_THROW((void)walking.get_parsed_ast_file("/p/poison.py"), tolva::FatalError);

  for (const std::string& path : list) (void)warm.get_parsed_ast_file(path);
  std::set<std::string> module_names{"m0", "m1", "m2", "u0.m0", "u3.m0", "none"};
  std::set<std::string> names{"absent"};
  for (int i = 0; i < 12; ++i) {
    module_names.insert("u" + std::to_string(i) + "." + modules[i % 3]);
    names.insert("f" + std::to_string(i));
    for (const std::string& tag : {std::to_string(i % 4), std::to_string(i % 5)}) {
      names.insert("Thing" + tag);
      names.insert("resolve_" + tag);
      names.insert("helper_" + tag);
    }
  }
  int blocked = 0;
  const BeforeBlocking count = [&] { ++blocked; };
  int found = 0;
  for (const std::string& module : module_names) {
    for (const std::string& name : names) {
      const auto function = warm.function_ast(module, name, count);
      EXPECT_EQ(function, walking.function_ast(module, name)) << module << " " << name;
      const auto resolver = warm.resolver_ast(module, name, count);
      EXPECT_EQ(resolver, walking.resolver_ast(module, name)) << module << " " << name;
      const auto feature_class = warm.feature_class_ast(module, name, count);
      EXPECT_EQ(feature_class, walking.feature_class_ast(module, name)) << module << " " << name;
      found += function.has_value() + resolver.has_value() + feature_class.has_value();
    }
  }
  EXPECT_GT(found, 50) << "the queries must find things to compare";
  EXPECT_EQ(blocked, 0);
}

TEST(AstProjectIndex, AFatalErrorPoisonsTheFilesEntriesAndLookupsSkipIt) {
  const auto fs = fake({{"/w/a.py", module_source("A")}, {"/w/bad.py", module_source("A")}});
  fs->fail_fatally("/w/bad.py");
  const auto index = AstProjectIndex::with_filesystem("/w", {"/w/bad.py", "/w/a.py"}, fs);
  EXPECT_THROW((void)index.function_ast("a", "helper_A"), tolva::FatalError);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(index.get_parsed_ast_file("/w/bad.py").error(), "typed AST cache lock poisoned for /w/bad.py");
    EXPECT_EQ(index.function_ast("a", "helper_A")->module, "a");
    EXPECT_FALSE(index.function_ast_in_file("/w/bad.py", "helper_A").has_value());
  }
  EXPECT_EQ(fs->reads("/w/bad.py"), 1);
}

TEST(AstProjectIndex, WorkersTakeThePositionsOfTheirResidueOncePerPath) {
  const unsigned cpus = available_cpus();
  const std::size_t file_count = 2 * cpus + 3;
  Sources sources;
  Files list;
  for (std::size_t j = 0; j < file_count; ++j) {
    const std::string path = "/w/f" + std::to_string(j) + ".py";
    sources[path] = module_source(std::to_string(j));
    list.push_back(path);
  }
  const auto fs = fake(sources);
  // Thread ids are reused once a thread ends: every worker is held inside
  // its first read until all of them are there.
  for (const std::string& path : list) fs->hold(path);
  const std::size_t count = std::min<std::size_t>(cpus, file_count);
  const auto index = AstProjectIndex::with_filesystem("/w", list, fs);
  index.nonblocking_start_index();
  index.nonblocking_start_index();
  ASSERT_TRUE(fs->wait_for_readers(static_cast<int>(count)));
  fs->open_gate();
  ASSERT_TRUE(eventually([&] { return fs->total_reads() == static_cast<int>(file_count); }));

  std::map<std::thread::id, std::set<std::size_t>> residues;
  for (std::size_t j = 0; j < file_count; ++j) {
    const auto readers = fs->readers(list[j]);
    ASSERT_EQ(readers.size(), 1u) << list[j];
    EXPECT_NE(readers[0], std::this_thread::get_id());
    residues[readers[0]].insert(j % count);
  }
  EXPECT_EQ(residues.size(), count);
  for (const auto& [thread, of_thread] : residues) EXPECT_EQ(of_thread.size(), 1u) << "one residue per worker";

  // Lookups then use the stored results.
  int blocked = 0;
  const BeforeBlocking counter = [&] { ++blocked; };
  // Once every file is analysed, a lookup neither waits nor reads.
  ASSERT_TRUE(eventually([&] {
    blocked = 0;
    (void)index.function_ast("f0", "absent", counter);
    return blocked == 0;
  }));
  EXPECT_EQ(index.resolver_ast("f" + std::to_string(file_count - 1), "resolve_" + std::to_string(file_count - 1), counter)
                ->module,
            "f" + std::to_string(file_count - 1));
  EXPECT_EQ(fs->total_reads(), static_cast<int>(file_count));
}

TEST(AstProjectIndex, OneFileGetsOneWorker) {
  const auto fs = fake({{"/w/only.py", module_source("O")}});
  const auto index = AstProjectIndex::with_filesystem("/w", {"/w/only.py"}, fs);
  index.nonblocking_start_index();
  ASSERT_TRUE(eventually([&] { return fs->total_reads() == 1; }));
  EXPECT_EQ(index.function_ast("only", "helper_O")->module, "only");
}

TEST(AstProjectIndex, ALookupWaitsForTheFileAWorkerIsAnalysing) {
  const auto fs = fake({{"/w/a.py", module_source("A")}});
  fs->hold("/w/a.py");
  const auto index = AstProjectIndex::with_filesystem("/w", {"/w/a.py"}, fs);
  index.nonblocking_start_index();
  ASSERT_TRUE(fs->wait_for_readers(1));
  // The worker holds a.py's entry inside its read; the lookup's notice
  // opens the gate just before the lookup waits on that entry.
  int blocked = 0;
  const BeforeBlocking open = [&] {
    ++blocked;
    fs->open_gate();
  };
  const auto found = index.function_ast("a", "helper_A", open);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(blocked, 1);
  EXPECT_EQ(fs->reads("/w/a.py"), 1);
  EXPECT_NE(fs->readers("/w/a.py")[0], std::this_thread::get_id()) << "the worker read it, not the lookup";
}

// Twenty files, each held at the file system's gate.
struct HeldProject {
  HeldProject() {
    Sources sources;
    for (int j = 0; j < 20; ++j) {
      list.push_back("/w/w" + std::to_string(j) + ".py");
      sources[list.back()] = module_source(std::to_string(j));
    }
    fs = fake(sources);
    for (const std::string& path : list) fs->hold(path);
  }
  Files list;
  std::shared_ptr<FakeFileSystem> fs;
};

// Once the last handle is gone, nobody can ask the index anything: each
// worker finishes the file it is on, stops, and the last one frees the
// index's state.
TEST(AstProjectIndex, WorkersOfAnIndexNobodyHoldsStopAtTheirNextFile) {
  HeldProject project;
  const int workers = static_cast<int>(std::min<std::size_t>(available_cpus(), project.list.size()));
  {
    const auto index = AstProjectIndex::with_filesystem("/w", project.list, project.fs);
    const AstProjectIndex copy = index;  // copies are handles too
    index.nonblocking_start_index();
    ASSERT_TRUE(project.fs->wait_for_readers(workers));
  }
  project.fs->open_gate();
  ASSERT_TRUE(eventually([&] { return project.fs.use_count() == 1; })) << "the last worker drops the index's state";
  EXPECT_EQ(project.fs->total_reads(), workers) << "one file per worker: the one it was reading";
}

// While any handle lives, the workers go on over the whole list, whichever
// handle started them.
TEST(AstProjectIndex, WorkersGoOnWhileACopyOfTheHandleLives) {
  HeldProject project;
  std::optional<AstProjectIndex> kept;
  {
    const auto index = AstProjectIndex::with_filesystem("/w", project.list, project.fs);
    kept.emplace(index);
    index.nonblocking_start_index();
    ASSERT_TRUE(project.fs->wait_for_readers(1));
  }
  project.fs->open_gate();
  ASSERT_TRUE(eventually([&] { return project.fs->total_reads() == 20; }));
  int blocked = 0;
  const BeforeBlocking counter = [&] { ++blocked; };
  ASSERT_TRUE(eventually([&] {
    blocked = 0;
    (void)kept->function_ast("w0", "absent", counter);
    return blocked == 0;
  }));
  EXPECT_EQ(kept->function_ast("w19", "helper_19")->module, "w19");
  kept.reset();
  ASSERT_TRUE(eventually([&] { return project.fs.use_count() == 1; }));
}

TEST(AstProjectIndex, AWorkerThatMeetsAFatalErrorEndsAndTheOthersGoOn) {
  Sources sources;
  Files list;
  for (int j = 0; j < 16; ++j) {
    list.push_back("/w/v" + std::to_string(j) + ".py");
    sources[list.back()] = module_source(std::to_string(j));
  }
  const auto fs = fake(sources);
  fs->fail_fatally("/w/v0.py");
  const auto index = AstProjectIndex::with_filesystem("/w", list, fs);
  index.nonblocking_start_index();
  const std::size_t count = std::min<std::size_t>(available_cpus(), list.size());
  // Worker 0 ends at v0.py: the rest of its share is left to lookups.
  const int expected_reads = static_cast<int>(list.size() - (list.size() - 1) / count);
  ASSERT_TRUE(eventually([&] { return fs->total_reads() == expected_reads; }));
  EXPECT_EQ(index.get_parsed_ast_file("/w/v0.py").error(), "typed AST cache lock poisoned for /w/v0.py");
  EXPECT_EQ(index.function_ast("v15", "helper_15")->module, "v15");
}

// Where a thread stands once it has stored a listed file's analysis and
// before it counts it.
Gate* stored_not_counted = nullptr;
Gate* go_on_counting = nullptr;

// A fork that falls between a thread's storing the last listed file's
// analysis and its counting it: in the child, where that thread does not
// exist, the index still comes to answer from the tables of a fully
// analysed index, as the parent's does.
TEST(AstProjectIndex, AForkBetweenStoringAndCountingAFileLeavesTheChildsIndexComplete) {
  const auto fs = fake({{"/w/a.py", module_source("A")}, {"/w/b.py", module_source("B")}});
  const auto index = AstProjectIndex::with_filesystem("/w", {"/w/a.py", "/w/b.py"}, fs);
  ASSERT_TRUE(index.get_parsed_ast_file("/w/a.py").has_value());
  Gate reached, release;
  stored_not_counted = &reached;
  go_on_counting = &release;
  ProjectIndexProbe::set_after_listed_outcome_stored([] {
    stored_not_counted->open();
    go_on_counting->wait();
  });
  std::thread storing([&] { (void)index.get_parsed_ast_file("/w/b.py"); });
  const bool at_the_point = reached.wait();
  ProjectIndexProbe::set_after_listed_outcome_stored(nullptr);
  int status = -3;
  if (at_the_point) {
    status = in_forked_child([&] {
      int blocked = 0;
      const BeforeBlocking counter = [&] { ++blocked; };
      const bool found = index.function_ast("b", "helper_B", counter).has_value();
      return found && blocked == 0 && ProjectIndexProbe::answers_from_tables(index);
    });
  }
  release.open();
  storing.join();
  ASSERT_TRUE(at_the_point);
  EXPECT_EQ(status, 0) << "the child's lookups walk the list for ever";
  EXPECT_TRUE(ProjectIndexProbe::answers_from_tables(index));
  EXPECT_EQ(fs->total_reads(), 2);
}

// Callers on several threads and the workers on one index at once: every
// answer is the one a fully analysed index gives, and each path is read once.
TEST(AstProjectIndex, CallersAndWorkersTogetherGiveTheAnswersOfAFullIndex) {
  Sources sources;
  Files list;
  for (int j = 0; j < 60; ++j) {
    list.push_back("/w/s" + std::to_string(j % 45) + ".py");  // some paths listed twice
    sources.try_emplace(list.back(), module_source(std::to_string(j % 7)) + "def only_" + std::to_string(j % 45) +
                                         "():\n    pass\n");
  }
  sources["/w/broken.py"] = "class (:\n";
  list.push_back("/w/broken.py");
  const auto reference_fs = fake(sources);
  const auto reference = AstProjectIndex::with_filesystem("/w", list, reference_fs);
  for (const std::string& path : list) (void)reference.get_parsed_ast_file(path);

  const auto fs = fake(sources);
  const auto index = AstProjectIndex::with_filesystem("/w", list, fs);
  index.nonblocking_start_index();
  std::atomic<int> mismatches{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 6; ++t) {
    callers.emplace_back([&, t] {
      for (int round = 0; round < 40; ++round) {
        const int j = (t * 17 + round * 7) % 45;
        const std::string module = std::string("s").append(std::to_string(j));
        const std::string tag = std::to_string((j + round) % 7);
        bool same = index.function_ast(module, "only_" + std::to_string(j)) ==
                        reference.function_ast(module, "only_" + std::to_string(j)) &&
                    index.resolver_ast(module, "resolve_" + tag) == reference.resolver_ast(module, "resolve_" + tag) &&
                    index.feature_class_ast(module, "Thing" + tag) == reference.feature_class_ast(module, "Thing" + tag);
        const std::string path = "/w/s" + std::to_string(j) + ".py";
        same = same && index.function_ast_in_file(path, "helper_" + tag) ==
                           reference.function_ast_in_file(path, "helper_" + tag);
        if (!same) ++mismatches;
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(mismatches.load(), 0);
  ASSERT_TRUE(eventually([&] { return fs->total_reads() == 46; }));
  for (const auto& [path, text] : sources) EXPECT_EQ(fs->reads(path), 1) << path;
}

}  // namespace
}  // namespace tolva_ast
