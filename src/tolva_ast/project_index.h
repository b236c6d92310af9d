#pragma once

// The project index: analysis of a project's files on demand, in the order
// of the caller's list, or ahead of time on background threads.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.h"
#include "tolva_ast/ast_filesystem.h"
#include "tolva_ast/ast_types.h"

namespace tolva_ast {

// What a lookup calls, at most once, just before it first has to read,
// parse or analyse a file, or to wait for another thread that does. A lookup
// whose files are all analysed already never calls it. (The binding layer
// releases the interpreter lock there.) Empty: nothing is called.
using BeforeBlocking = std::function<void()>;

namespace testing {
class ProjectIndexProbe;
}

// A handle: copies share the index. The index's background workers hold
// its state apart from the handles: once the last handle is gone, nothing
// can ask the index anything any more, and its workers stop at their next
// file.
class AstProjectIndex {
 public:
  // Over a StdAstFileSystem built from `files`; `files` itself is kept as
  // passed and fixes the order of project-wide lookups.
  AstProjectIndex(std::string project_root, std::vector<std::string> files);
  static AstProjectIndex with_filesystem(std::string project_root, std::vector<std::string> files,
                                         SharedAstFileSystem filesystem);

  tolva::Result<SharedParsedAstFile> get_parsed_ast_file(std::string_view path) const;

  std::optional<ResolverAST> function_ast(std::string_view module, std::string_view function_name,
                                          const BeforeBlocking& before_blocking = {}) const;
  std::optional<ResolverAST> resolver_ast(std::string_view module, std::string_view resolver_name,
                                          const BeforeBlocking& before_blocking = {}) const;
  std::optional<FeatureClassAST> feature_class_ast(std::string_view module, std::string_view class_name,
                                                   const BeforeBlocking& before_blocking = {}) const;
  std::optional<ResolverAST> function_ast_in_file(std::string_view file_path, std::string_view function_name,
                                                  const BeforeBlocking& before_blocking = {}) const;
  std::optional<ResolverAST> resolver_ast_in_file(std::string_view file_path, std::string_view resolver_name,
                                                  const BeforeBlocking& before_blocking = {}) const;
  std::optional<FeatureClassAST> feature_class_ast_in_file(std::string_view file_path, std::string_view class_name,
                                                           const BeforeBlocking& before_blocking = {}) const;

  // Starts the background workers, at most once per index; returns at once.
  // They go on while a handle to the index lives; once the last one is
  // gone, each stops at its next file.
  void nonblocking_start_index() const;

  struct Inner;

 private:
  friend class testing::ProjectIndexProbe;
  AstProjectIndex(std::shared_ptr<const std::vector<std::string>> files, std::shared_ptr<Inner> inner);
  std::shared_ptr<const std::vector<std::string>> files_;  // never null
  // Shares the handles' hold on the index (see Inner): the last handle to
  // go tells the workers so.
  std::shared_ptr<Inner> inner_;  // never null
};

// The number of CPUs this process may run on: the affinity mask, bounded by
// the cgroup CPU quota (v1 or v2) rounded up; at least 1.
unsigned available_cpus();

// `affinity` (at least 1) bounded by the cgroup CPU quota of this process as
// the files below `root` tell it: /proc/self/cgroup, /proc/self/mountinfo
// and the quota files of the group and its ancestors. `root` is "/" in use
// and a fixture directory in tests.
unsigned cpus_within_cgroup_quota(unsigned affinity, std::string_view root);

}  // namespace tolva_ast
