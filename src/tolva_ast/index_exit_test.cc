// Background workers are detached and may still run when the process
// exits: nothing they use may be destroyed under them. A program that
// returns from main right after starting to index thousands of files must
// exit with status 0 and an empty stderr, every time.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tolva_ast/test_files.h"

namespace tolva_ast {
namespace {

struct ProgramRun {
  int status = -1;
  std::string stderr_text;
};

ProgramRun run_program(const std::string& program, const std::string& directory, const std::string& delay) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_fds[1], STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDOUT_FILENO);
    char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(directory.c_str()),
                          const_cast<char*>(delay.c_str()), nullptr};
    ::execv(program.c_str(), argv);
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  ProgramRun run;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) run.stderr_text.append(buffer, got);
  ::close(pipe_fds[0]);
  if (pid > 0) ::waitpid(pid, &run.status, 0);
  return run;
}

// A file with feature classes, resolvers and functions, and some with a
// syntax error, so the workers do every kind of work.
std::string generated_source(int i) {
  std::string text =
      "from tolva import online, offline\n"
      "from tolva.features import features, feature\n\n";
  for (int k = 0; k < 4; ++k) {
    const std::string n = std::to_string(i) + "_" + std::to_string(k);
    text += "@features(owner=\"team" + n + "\")\nclass User" + n + ":\n";
    text += "    # The user's id.\n    # :owner: someone@example.com\n    id: int\n";
    text += "    name: str = feature(max_staleness=\"1h\")\n\n";
    text += "@online\ndef resolve_" + n + "(uid: User" + n + ".id) -> User" + n + ".name:\n";
    text += "    if uid:\n        return str(uid)\n    return \"\"\n\n";
    text += "def helper_" + n + "(a, b=1, *args, **kwargs):\n    return [x for x in args if x]\n\n";
  }
  if (i % 50 == 7) text += "def broken(:\n";
  return text;
}

TEST(IndexExit, ReturningFromMainWhileWorkersRunIsClean) {
  const testing_support::ScratchDirectory dir;
  for (int i = 0; i < 3000; ++i) {
    dir.write("pkg" + std::to_string(i % 30) + "/m" + std::to_string(i) + ".py", generated_source(i));
  }
  // Half the runs return at once, the others after up to 45 ms, so that
  // the exit meets the workers at different points of their work.
  for (int run = 0; run < 20; ++run) {
    const std::string delay = std::to_string(run % 2 == 0 ? 0 : run * 5000 / 2);
    const ProgramRun result = run_program(TOLVA_INDEX_EXIT_PROGRAM, dir.path(), delay);
    ASSERT_TRUE(WIFEXITED(result.status)) << "run " << run << ": status " << result.status << "\n" << result.stderr_text;
    EXPECT_EQ(WEXITSTATUS(result.status), 0) << "run " << run;
    EXPECT_EQ(result.stderr_text, "") << "run " << run;
  }
}

}  // namespace
}  // namespace tolva_ast
