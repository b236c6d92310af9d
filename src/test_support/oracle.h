#pragma once

// The oracle interpreters of the differential tests: the CPython versions
// that cmake/oracle_interpreters.cmake found, handed to every test through
// the environment (TOLVA_ORACLE_VERSIONS, TOLVA_PYTHON_3_12,
// TOLVA_STDLIB_3_12, ...). A test whose interpreter is missing skips and says
// why; with CI=true in the environment it fails instead, so that a CI machine
// without the interpreters cannot pass by skipping.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

struct Oracle {
  std::string version;  // "3.12"
  std::string python;   // the interpreter
  std::string stdlib;   // its standard library folder
};

// Whether the tests run under CI (CI=true), where a missing oracle fails.
bool running_in_ci();

// The expected versions, oldest first (TOLVA_ORACLE_VERSIONS).
std::vector<std::string> oracle_versions();

// The oracle of `version` ("3.12"), or nullopt with the reason in `missing`.
std::optional<Oracle> find_oracle(std::string_view version, std::string* missing = nullptr);

// Every expected oracle of `at_least` or a later version, newest first. Each
// missing one is reported: a test failure under CI, a note elsewhere.
std::vector<Oracle> oracles_from(std::string_view at_least);

// The interpreter that runs the test scripts (TOLVA_TEST_PYTHON), or nullopt
// with the reason in `missing`.
std::optional<std::string> test_python(std::string* missing = nullptr);

}  // namespace test_support

// In a test (or a void helper): skips with `missing`, or fails under CI,
// where every interpreter the tests expect must be there.
#define TOLVA_SKIP_OR_FAIL_UNDER_CI_(missing, required)          \
  if (::test_support::running_in_ci()) {                         \
    FAIL() << missing << " (CI=true: " required " is required)"; \
  } else {                                                       \
    GTEST_SKIP() << missing;                                     \
  }

// In a test (or a void helper): `var` becomes the oracle of `version`; when
// there is none the test skips, or fails under CI, with the reason.
#define TOLVA_ORACLE_OR_SKIP(var, version)                                                          \
  std::string var##_missing;                                                                        \
  std::optional<::test_support::Oracle> var = ::test_support::find_oracle(version, &var##_missing); \
  if (!var) {                                                                                       \
    TOLVA_SKIP_OR_FAIL_UNDER_CI_(var##_missing, "every oracle interpreter")                         \
  }

// The same for the interpreter that runs the test scripts.
#define TOLVA_TEST_PYTHON_OR_SKIP(var)                                          \
  std::string var##_missing;                                                    \
  std::optional<std::string> var = ::test_support::test_python(&var##_missing); \
  if (!var) {                                                                   \
    TOLVA_SKIP_OR_FAIL_UNDER_CI_(var##_missing, "the test interpreter")         \
  }
