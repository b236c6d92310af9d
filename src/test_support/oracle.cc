#include "test_support/oracle.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace test_support {
namespace {

std::optional<std::string> environment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string variable_of(std::string_view prefix, std::string_view version) {
  std::string name(prefix);
  for (char c : version) name.push_back(c == '.' ? '_' : c);
  return name;
}

// "3.12" as (3, 12); (0, 0) for anything else.
std::pair<int, int> version_pair(std::string_view version) {
  int major = 0, minor = 0;
  if (std::sscanf(std::string(version).c_str(), "%d.%d", &major, &minor) != 2) return {0, 0};
  return {major, minor};
}

}  // namespace

bool running_in_ci() {
  std::optional<std::string> ci = environment("CI");
  return ci && (*ci == "true" || *ci == "1");
}

std::vector<std::string> oracle_versions() {
  std::vector<std::string> versions;
  std::istringstream words(environment("TOLVA_ORACLE_VERSIONS").value_or(""));
  for (std::string word; words >> word;) versions.push_back(word);
  return versions;
}

std::optional<Oracle> find_oracle(std::string_view version, std::string* missing) {
  auto fail = [&](std::string reason) -> std::optional<Oracle> {
    if (missing != nullptr) *missing = std::move(reason);
    return std::nullopt;
  };
  const std::string python_variable = variable_of("TOLVA_PYTHON_", version);
  const std::string stdlib_variable = variable_of("TOLVA_STDLIB_", version);
  std::optional<std::string> python = environment(python_variable);
  if (!python) {
    return fail(python_variable + " is not set: run the test through ctest, which hands it the oracle "
                                  "interpreters that CMake found");
  }
  if (python->empty()) {
    return fail("no Python " + std::string(version) + " interpreter was found when the build was configured "
                "(see cmake/oracle_interpreters.cmake)");
  }
  if (::access(python->c_str(), X_OK) != 0) return fail("the Python " + std::string(version) + " interpreter " + *python + " cannot be run");
  std::string stdlib = environment(stdlib_variable).value_or("");
  std::error_code error;
  if (stdlib.empty() || !std::filesystem::is_directory(stdlib, error)) {
    return fail("the standard library of Python " + std::string(version) + " (" + stdlib_variable + "=" + stdlib +
                ") is not a folder");
  }
  return Oracle{std::string(version), *python, stdlib};
}

std::vector<Oracle> oracles_from(std::string_view at_least) {
  std::vector<Oracle> found;
  for (const std::string& version : oracle_versions()) {
    if (version_pair(version) < version_pair(at_least)) continue;
    std::string missing;
    if (std::optional<Oracle> oracle = find_oracle(version, &missing)) {
      found.insert(found.begin(), *oracle);
    } else if (running_in_ci()) {
      ADD_FAILURE() << missing << " (CI=true: every oracle interpreter is required)";
    } else {
      std::printf("[ note ] %s: not compared\n", missing.c_str());
    }
  }
  return found;
}

std::optional<std::string> test_python(std::string* missing) {
  std::optional<std::string> python = environment("TOLVA_TEST_PYTHON");
  if (!python || python->empty()) {
    if (missing != nullptr) *missing = "TOLVA_TEST_PYTHON is not set: run the test through ctest";
    return std::nullopt;
  }
  if (::access(python->c_str(), X_OK) != 0) {
    if (missing != nullptr) *missing = "the test interpreter " + *python + " cannot be run";
    return std::nullopt;
  }
  return python;
}

}  // namespace test_support
