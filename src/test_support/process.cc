#include "test_support/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "test_support/threads.h"

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

int in_forked_child(const std::function<bool()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    int status = 2;
    try {
      status = body() ? 0 : 1;
    } catch (...) {
    }
    ::_exit(status);
  }
  if (child < 0) return -2;
  int status = 0;
  if (eventually([&] { return ::waitpid(child, &status, WNOHANG) == child; })) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  return -1;
}

}  // namespace test_support
