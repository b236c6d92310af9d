#include "test_support/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace test_support {

ScriptRun run_python_script(const std::string& python, std::string_view script, const std::string& arguments) {
  static std::atomic<unsigned> counter{0};
  const std::string script_path = testing::TempDir() + "tolva_peer_" + std::to_string(::getpid()) + "_" +
                                  std::to_string(counter.fetch_add(1)) + ".py";
  std::ofstream(script_path) << script;
  const std::string command = python + " " + script_path + " " + arguments;
  ScriptRun run;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[1 << 16];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) run.output.append(buffer, got);
    int status = ::pclose(pipe);
    run.exited_cleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  std::error_code ignored;
  std::filesystem::remove(script_path, ignored);
  return run;
}

}  // namespace test_support
