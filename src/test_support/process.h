#pragma once

// Running a peer script under an interpreter and reading what it prints.

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

}  // namespace test_support
