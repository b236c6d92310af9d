#include "tolva_ast/parser_cache.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace tolva_ast
