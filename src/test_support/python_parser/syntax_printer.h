#pragma once

// Test support of the pattern and with-statement tests: a compact
// S-expression of patterns and expressions in the vocabulary of CPython's
// `ast` module, so that the same text can be printed from CPython's tree, and
// runners that have a Python interpreter print it and compare.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "python_ast/nodes.h"

namespace python_parser::syntax_testing {

// What to do with a file that CPython refuses.
enum class CPythonRefusal { IsADifference, Skip };

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The S-expression of an expression or a pattern; offsets counted from `base`.
std::string sexpr(const python_ast::Expr* expr, std::uint32_t base);
std::string sexpr(const python_ast::Pattern* pattern, std::uint32_t base);

// The S-expression report of a module: every match and with statement.
std::string report(const python_ast::ModModule& module);

// CPython's reports of the files at `paths`, by path; nothing when the
// interpreter cannot be run.
std::optional<std::map<std::string, std::string>> cpython_reports(const std::string& interpreter,
                                                                  const std::vector<std::string>& paths);

// The differences between this parser's reports and CPython's, file by file.
std::optional<std::vector<std::string>> differences_from_cpython(const std::string& interpreter,
                                                                 const std::vector<std::string>& paths,
                                                                 CPythonRefusal refusal);

// The same over whole texts, written to files first.
std::optional<std::vector<std::string>> snippet_differences_from_cpython(const std::string& interpreter,
                                                                         const std::vector<std::string>& sources);

}  // namespace python_parser::syntax_testing
