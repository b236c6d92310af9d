#include "tolva_ast/parser_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "python_parser/parse.h"
#include "test_support/tolva_ast/fake_filesystem.h"
#include "test_support/tolva_ast/test_files.h"
#include "tolva_ast/path_text.h"

namespace tolva_ast {
namespace {

TEST(ModuleNameForAbsolutePath, NamesPartsBelowTheRootOrFallsBackToTheStem) {
  struct Case {
    const char* path;
    const char* root;
    const char* module;
  };
  const Case cases[] = {
      // Below the root: every name component counts.
      {"/p/pkg/m.py", "/p", "pkg.m"},
      {"/p/pkg/__init__.py", "/p", "pkg"},
      {"/p/m.py", "/p", "m"},
      {"/p/a/b/c.py", "/p", "a.b.c"},
      {"/p/pkg/x.tar.py", "/p", "pkg.x.tar"},
      {"/p/pkg/data.json", "/p", "pkg.data.json"},
      {"/p/pkg/M.PY", "/p", "pkg.M.PY"},
      {"/p/a.py/b.py", "/p", "a.b"},
      {"/p/pkg/../m.py", "/p", "pkg.m"},
      {"/p/./pkg/./m.py", "/p", "pkg.m"},
      {"/p//pkg///m.py", "/p", "pkg.m"},
      {"/p/pkg/m.py/", "/p", "pkg.m"},
      {"/p/__init__.py/pkg/__init__.py", "/p", "pkg"},
      {"/p/.py", "/p", ""},
      {"/p/pkg/.py", "/p", "pkg."},
      {"/p/pkg/__init__.pyi", "/p", "pkg.__init__.pyi"},
      // The root compared component by component.
      {"/p/pkg/m.py", "/p/", "pkg.m"},
      {"/p/pkg/m.py", "//p/./", "pkg.m"},
      {"/p/q/m.py", "/p/q", "m"},
      {"/x/y.py", "", "x.y"},
      {"x/y.py", "", "x.y"},
      {"./x/y.py", ".", "x.y"},
      {"proj/pkg/m.py", "proj", "pkg.m"},
      // Nothing named below the root, or not below it: the stem.
      {"/p/__init__.py", "/p", "__init__"},
      {"/p", "/p", "p"},
      {"/p/", "/p", "p"},
      {"/q/x.py", "/p", "x"},
      {"/p2/x.py", "/p", "x"},
      {"/p/x.py", "/p/x.py/deeper", "x"},
      {"/p/x.tar.gz", "/q", "x.tar"},
      {"/p/.bashrc", "/q", ".bashrc"},
      {"/p/name.", "/q", "name"},
      {"/p/pkg/x.py", "p", "x"},
      {"p/x.py", "/p", "x"},
      {"/", "/", "/"},
      {"/", "/p", "/"},
      {"/p/..", "/p", "/p/.."},
      {"/p/..", "/q", "/p/.."},
      {"", "", ""},
      {"", "/p", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(module_name_for_absolute_path(c.path, c.root), c.module)
        << "path \"" << c.path << "\", root \"" << c.root << "\"";
  }
}

TEST(PathText, ComparisonKeysAreEqualExactlyForEqualComponentLists) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"a//b.py", "a/b.py", true},   {"a/./b.py", "a/b.py", true},  {"/a/b.py/", "/a/b.py", true},
      {"//a", "/a", true},           {"./a", "a", false},           {"/a", "a", false},
      {"a/../b", "b", false},        {"./a", "././a", true},        {"a/.", "a", true},
      {".", "", false},              {"/", "", false},              {"/.", "/", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(path_text::comparison_key(c.a) == path_text::comparison_key(c.b), c.same)
        << "\"" << c.a << "\" and \"" << c.b << "\"";
  }
}

using testing_support::FakeFileSystem;

std::shared_ptr<FakeFileSystem> fake(std::map<std::string, std::string, std::less<>> files,
                                     std::optional<std::vector<std::string>> listing = std::vector<std::string>{}) {
  return std::make_shared<FakeFileSystem>(std::move(files), std::move(listing));
}

TEST(AstFileParserCache, ReadsAndParsesEachPathTextOnce) {
  const auto fs = fake({{"a.py", "x = 1\n"}, {"./a.py", "y = 2\n"}, {"notes.txt", "z = 3\n"}});
  const auto cache = AstFileParserCache::with_filesystem("/p", fs);
  const auto first = cache.get_parsed_file("a.py");
  const auto second = cache.get_parsed_file("a.py");
  ASSERT_TRUE(first.has_value()) << first.error();
  EXPECT_EQ(first.value().get(), second.value().get()) << "the same shared record";
  EXPECT_EQ(first.value()->path, "a.py");
  EXPECT_EQ(first.value()->source(), "x = 1\n");
  EXPECT_EQ(first.value()->body().size(), 1u);
  EXPECT_EQ(fs->reads("a.py"), 1);

  // Another spelling of the same file is another entry; an unlisted path
  // of any extension is read and parsed all the same.
  EXPECT_EQ(cache.get_parsed_file("./a.py").value()->source(), "y = 2\n");
  EXPECT_EQ(cache.get_parsed_file("notes.txt").value()->source(), "z = 3\n");
  EXPECT_EQ(fs->reads("./a.py"), 1);
  EXPECT_EQ(fs->reads("notes.txt"), 1);

  // Copies of the handle share the cache.
  const AstFileParserCache copy = cache;
  EXPECT_EQ(copy.get_parsed_file("a.py").value().get(), first.value().get());
  EXPECT_EQ(fs->reads("a.py"), 1);
}

TEST(AstFileParserCache, FailuresAreStoredAndNeverRetried) {
  const std::string broken = "def f(:\n";
  const auto fs = fake({{"broken.py", broken}});
  const auto cache = AstFileParserCache::with_filesystem("/p", fs);
  const auto parse_error = python_parser::parse_module(broken);
  ASSERT_FALSE(parse_error.has_value());
  struct Case {
    const char* path;
    std::string text;
  };
  const Case cases[] = {
      {"missing.py", "Failed to read missing.py: No such file or directory (os error 2)"},
      {"broken.py", "Failed to parse broken.py: " + parse_error.error().display()},
  };
  for (const Case& c : cases) {
    for (int round = 0; round < 3; ++round) {
      const auto outcome = cache.get_parsed_file(c.path);
      ASSERT_FALSE(outcome.has_value());
      EXPECT_EQ(outcome.error(), c.text);
    }
    EXPECT_EQ(fs->reads(c.path), 1) << c.path;
  }
}

TEST(AstFileParserCache, AFileChangedOnDiskKeepsItsFirstOutcome) {
  const testing_support::ScratchDirectory dir;
  const std::string path = dir.write("m.py", "def f(:\n");
  const AstFileParserCache cache(dir.path(), {path});
  const auto before = cache.get_parsed_file(path);
  ASSERT_FALSE(before.has_value());
  dir.write("m.py", "def f(): pass\n");
  EXPECT_EQ(cache.get_parsed_file(path).error(), before.error());
}

TEST(AstFileParserCache, ReadsThroughAStdAstFileSystemOfTheGivenFiles) {
  const testing_support::ScratchDirectory dir;
  const std::string a = dir.write("pkg/a.py", "import os\n");
  const std::string notes = dir.write("notes.txt", "x = 1\n");
  const AstFileParserCache cache(dir.path(), {notes, a, a});
  EXPECT_EQ(cache.all_files().value(), std::vector<std::string>{a});
  EXPECT_TRUE(cache.get_parsed_file(notes).has_value());
  EXPECT_EQ(cache.module_name_for_path(a), "pkg.a");
  EXPECT_EQ(cache.module_name_for_path(notes), "notes.txt");
}

TEST(AstFileParserCache, ModuleNamesForListedAndUnlistedPaths) {
  const auto fs = fake({}, std::vector<std::string>{"/p/pkg/m.py", "rel/x.py", "/elsewhere/y.py"});
  const auto cache = AstFileParserCache::with_filesystem("/p", fs);
  struct Case {
    const char* path;
    const char* module;
  };
  const Case cases[] = {
      {"/p/pkg/m.py", "pkg.m"},   {"/p//pkg/./m.py", "pkg.m"},  {"pkg/m.py", "pkg.m"},
      {"rel/x.py", "rel.x"},      {"/p/rel/x.py", "rel.x"},      {"/elsewhere/y.py", "y"},
      {"/p/other/z.py", "other.z"}, {"../up.py", "up"},          {"/p/pkg/__init__.py", "pkg"},
  };
  for (const Case& c : cases) EXPECT_EQ(cache.module_name_for_path(c.path), c.module) << c.path;
  EXPECT_EQ(fs->listings(), 1) << "listed once, at construction";
  EXPECT_EQ(fs->total_reads(), 0) << "names never read a file";

  // The root joined with a relative path: with or without its own "/".
  for (const char* root : {"/p/", "/p"}) {
    EXPECT_EQ(AstFileParserCache::with_filesystem(root, fake({})).module_name_for_path("pkg/m.py"), "pkg.m");
  }
  EXPECT_EQ(AstFileParserCache::with_filesystem("", fake({})).module_name_for_path("pkg/m.py"), "pkg.m");
}

TEST(AstFileParserCache, AllFilesForwardsEveryCallAndAListingFailureIsSilent) {
  const auto listed = fake({}, std::vector<std::string>{"b.py", "a.py"});
  const auto cache = AstFileParserCache::with_filesystem("/p", listed);
  EXPECT_EQ(cache.all_files().value(), (std::vector<std::string>{"b.py", "a.py"}));
  (void)cache.all_files();
  EXPECT_EQ(listed->listings(), 3);

  const auto refusing = fake({{"m.py", "x = 1\n"}}, std::nullopt);
  const auto quiet = AstFileParserCache::with_filesystem("/p", refusing);
  EXPECT_EQ(quiet.all_files().error(), "listing refused");
  EXPECT_EQ(quiet.module_name_for_path("/p/m.py"), "m");
  EXPECT_TRUE(quiet.get_parsed_file("m.py").has_value());
}

TEST(AstFileParserCache, AFatalErrorWhileReadingPoisonsThatEntry) {
  const auto fs = fake({{"ok.py", "x = 1\n"}, {"bad.py", "x = 2\n"}});
  fs->fail_fatally("bad.py");
  const auto cache = AstFileParserCache::with_filesystem("/p", fs);
  EXPECT_THROW((void)cache.get_parsed_file("bad.py"), tolva::FatalError);
  for (int round = 0; round < 2; ++round) {
    const auto later = cache.get_parsed_file("bad.py");
    ASSERT_FALSE(later.has_value());
    EXPECT_EQ(later.error(), "AST parse cache lock poisoned for bad.py");
  }
  EXPECT_EQ(fs->reads("bad.py"), 1);
  EXPECT_TRUE(cache.get_parsed_file("ok.py").has_value());
}

TEST(AstFileParserCache, ConcurrentRequestsShareOneReadAndDifferentPathsRunTogether) {
  const auto fs = fake({{"a.py", "a = 1\n"}, {"b.py", "b = 1\n"}});
  fs->hold("a.py");
  fs->hold("b.py");
  const auto cache = AstFileParserCache::with_filesystem("/p", fs);
  std::vector<std::thread> threads;
  std::vector<SharedParsedFileCache> got(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] { got[t] = cache.get_parsed_file(t % 2 == 0 ? "a.py" : "b.py").value(); });
  }
  // Both paths are inside a read at once: different paths do not wait for
  // each other.
  EXPECT_TRUE(fs->wait_for_readers(2));
  fs->open_gate();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(fs->reads("a.py"), 1);
  EXPECT_EQ(fs->reads("b.py"), 1);
  for (int t = 0; t < 8; ++t) EXPECT_EQ(got[t].get(), got[t % 2].get());
}

TEST(AstFileParserCache, ACacheThatKeepsNoParsedFilesStillKeepsFailures) {
  const auto fs = fake({{"a.py", "x = 1\n"}});
  const auto cache = AstFileParserCache::with_filesystem("/p", fs, KeepParsedFiles::no);
  EXPECT_TRUE(cache.get_parsed_file("a.py").has_value());
  (void)cache.get_parsed_file("missing.py");
  (void)cache.get_parsed_file("missing.py");
  EXPECT_EQ(fs->reads("missing.py"), 1);
}

}  // namespace
}  // namespace tolva_ast
