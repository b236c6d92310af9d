// index_exit: the program of the exit tests.
//
// index_exit DIRECTORY [MICROSECONDS]
//   Builds a project index over the ".py" files below DIRECTORY, starts
//   background indexing and returns from main at once (or after
//   MICROSECONDS), while the workers are still reading, parsing and
//   analysing. The exit must be clean: status 0 and nothing on stderr.
//
// index_exit --refused-spawn DIRECTORY
//   The same index, started with the address space limited so that no
//   thread stack can be mapped: prints the fatal error's text that
//   nonblocking_start_index throws, then whether a second call throws.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fatal_error.h"
#include "tolva_ast/project_index.h"

namespace {

std::vector<std::string> python_files(const char* directory) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory, error)) {
    if (entry.path().extension() == ".py") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Limits the address space to what is mapped now and a little more: no
// new thread's stack fits.
bool limit_address_space() {
  std::ifstream statm("/proc/self/statm");
  unsigned long pages = 0;
  if (!(statm >> pages)) return false;
  const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (1u << 20);
  const rlimit value{limit, limit};
  return ::setrlimit(RLIMIT_AS, &value) == 0;
}

int refused_spawn(const char* directory) {
  const std::vector<std::string> files = python_files(directory);
  const tolva_ast::AstProjectIndex index(directory, files);
  if (!limit_address_space()) {
    std::fputs("index_exit: cannot limit the address space\n", stderr);
    return 2;
  }
  for (int call = 0; call < 2; ++call) {
    try {
      index.nonblocking_start_index();
      std::printf("call %d: started\n", call);
    } catch (const tolva::FatalError& error) {
      std::printf("call %d: %s\n", call, error.what());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--refused-spawn") return refused_spawn(argv[2]);
  if (argc != 2 && argc != 3) {
    std::fputs("usage: index_exit DIRECTORY [MICROSECONDS] | index_exit --refused-spawn DIRECTORY\n", stderr);
    return 2;
  }
  const std::vector<std::string> files = python_files(argv[1]);
  if (files.empty()) {
    std::fputs("index_exit: no files\n", stderr);
    return 2;
  }
  const tolva_ast::AstProjectIndex index(argv[1], files);
  index.nonblocking_start_index();
  if (argc == 3) ::usleep(static_cast<useconds_t>(std::strtoul(argv[2], nullptr, 10)));
  return 0;
}
