// Background workers are detached and may still run when the process
// exits: nothing they use may be destroyed under them. A program that
// returns from main right after starting to index thousands of files must
// exit with status 0 and an empty stderr, every time.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_support/tolva_ast/test_files.h"

namespace tolva_ast {
namespace {

struct ProgramRun {
  int status = -1;
  std::string stdout_text;
  std::string stderr_text;
};

// Runs the program with `arguments`; its stdout and stderr go to files of
// the scratch directory, read back once it has ended.
ProgramRun run_program(const testing_support::ScratchDirectory& dir, std::vector<std::string> arguments) {
  const std::string out_path = dir.path() + "/.stdout";
  const std::string err_path = dir.path() + "/.stderr";
  arguments.insert(arguments.begin(), TOLVA_INDEX_EXIT_PROGRAM);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ProgramRun run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (pid < 0 || ::waitpid(pid, &run.status, 0) != pid) return run;
  const auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  run.stdout_text = slurp(out_path);
  run.stderr_text = slurp(err_path);
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
    text += "    name: str = feature(max_staleness=\"1h\")\n";
    // Identifiers that need NFKC normalisation and a named escape, so the
    // exit also meets the Unicode tables.
    text += "    caf\u00e9_\ufb01eld: str = \"\\N{LATIN SMALL LETTER E WITH ACUTE}\"\n\n";
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
    const ProgramRun result = run_program(dir, {dir.path(), delay});
    ASSERT_TRUE(WIFEXITED(result.status)) << "run " << run << ": status " << result.status << "\n" << result.stderr_text;
    EXPECT_EQ(WEXITSTATUS(result.status), 0) << "run " << run;
    EXPECT_EQ(result.stderr_text, "") << "run " << run;
  }
}

// A refused thread start is the fatal error "failed to spawn thread" with
// the system's text; the index stays started, so a second call starts
// nothing and throws nothing.
TEST(IndexExit, ARefusedThreadStartIsAFatalErrorOnce) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' runtimes cannot work in the limited address space";
#endif
  const testing_support::ScratchDirectory dir;
  for (int i = 0; i < 20; ++i) dir.write(std::to_string(i).append(".py"), generated_source(i));
  const ProgramRun result = run_program(dir, {"--refused-spawn", dir.path()});
  ASSERT_TRUE(WIFEXITED(result.status)) << result.status << "\n" << result.stderr_text;
  EXPECT_EQ(WEXITSTATUS(result.status), 0) << result.stderr_text;
  EXPECT_EQ(result.stdout_text,
            "call 0: failed to spawn thread: Resource temporarily unavailable (os error 11)\n"
            "call 1: started\n");
}

}  // namespace
}  // namespace tolva_ast
