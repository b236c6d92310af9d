#pragma once

// The file-system interface of project analysis, and its one implementation.
//
// An AstFileSystem is immutable once built and is called from several
// threads at once (the indexing workers and the Python caller) without any
// locking by its callers.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.h"

namespace tolva_ast {

class AstFileSystem {
 public:
  virtual ~AstFileSystem() = default;
  // The whole text of the file at `path`, or the I/O error's text.
  virtual tolva::Result<std::string> read_to_string(std::string_view path) const = 0;
  // The file system's path texts, or the I/O error's text.
  virtual tolva::Result<std::vector<std::string>> all_files() const = 0;
};

using SharedAstFileSystem = std::shared_ptr<const AstFileSystem>;

// Reads from the local disk; lists the ".py" paths of its construction list,
// sorted byte-wise, each distinct text once.
class StdAstFileSystem final : public AstFileSystem {
 public:
  explicit StdAstFileSystem(std::vector<std::string> files);

  tolva::Result<std::string> read_to_string(std::string_view path) const override;
  tolva::Result<std::vector<std::string>> all_files() const override;

  const std::vector<std::string>& files() const { return files_; }

 private:
  std::vector<std::string> files_;
};

// Whether `path`'s file name has exactly the extension "py".
bool has_py_extension(std::string_view path);

}  // namespace tolva_ast
