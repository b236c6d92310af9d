// index_exit: builds a project index over the ".py" files of a directory,
// starts background indexing and returns from main at once (or after
// MICROSECONDS), while the workers are still reading, parsing and
// analysing. The exit must be clean: status 0 and nothing on stderr.
// Usage: index_exit DIRECTORY [MICROSECONDS]

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tolva_ast/project_index.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("usage: index_exit DIRECTORY [MICROSECONDS]\n", stderr);
    return 2;
  }
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1], error)) {
    if (entry.path().extension() == ".py") files.push_back(entry.path().string());
  }
  if (error || files.empty()) {
    std::fputs("index_exit: no files\n", stderr);
    return 2;
  }
  std::sort(files.begin(), files.end());
  const tolva_ast::AstProjectIndex index(argv[1], files);
  index.nonblocking_start_index();
  if (argc == 3) ::usleep(static_cast<useconds_t>(std::strtoul(argv[2], nullptr, 10)));
  return 0;
}
