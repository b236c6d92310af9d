#pragma once

// Child processes in tests: running a peer script under an interpreter and
// reading what it prints, and running a body in a forked child.

#include <functional>
#include <string>
#include <string_view>

namespace test_support {

struct ScriptRun {
  bool exited_cleanly = false;  // exit status 0
  std::string output;           // its standard output
};

// Writes `script` to a file of this process's own (ctest runs tests side by
// side: a shared file would be truncated under a peer still reading it), runs
// it under `python` with the words of `arguments` (the shell splits them) and
// returns its standard output; the file is removed afterwards.
ScriptRun run_python_script(const std::string& python, std::string_view script, const std::string& arguments);

// The exit status of a forked child that runs `body`: 0 when it returned
// true, 1 when false, 2 when it threw, -1 when it did not exit by itself
// within the hang guard (it is killed then), -2 when there is no child.
int in_forked_child(const std::function<bool()>& body);

}  // namespace test_support
