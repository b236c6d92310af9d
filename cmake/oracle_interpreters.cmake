# The oracle interpreters: the CPython versions whose ast, tokenize and
# standard library the differential tests compare this system against. This
# file is the one place that finds them; every test (gtest cases, the corpus
# scripts, pytest) learns of them through the environment that
# TOLVA_ORACLE_ENVIRONMENT holds:
#
#   TOLVA_ORACLE_VERSIONS   the expected versions, "3.11 3.12 3.13"
#   TOLVA_PYTHON_3_11       the interpreter of 3.11 (empty when none was found)
#   TOLVA_STDLIB_3_11       its standard library folder (empty likewise)
#   TOLVA_TEST_PYTHON       the interpreter that runs the test scripts
#
# build/<preset>/oracle-interpreters.env holds the same assignments for what
# runs outside ctest.
#
# An interpreter is found by version, never by patch level: the newest
# <root>/3.11.*/bin/python3.11 under TOLVA_PYENV_ROOT (the cache entry, else
# the environment variable of that name, else /root/.pyenv/versions), else
# python3.11 on the PATH; setting TOLVA_PYTHON_3_11 in the cache names one
# outright. Its version is checked by running it. A test whose interpreter is
# missing skips and says why; when CI=true is in the test's environment, it
# fails instead.

set(TOLVA_ORACLE_VERSIONS "3.11;3.12;3.13" CACHE STRING "Python versions the differential tests compare against")
set(TOLVA_TEST_PYTHON "/usr/bin/python3" CACHE FILEPATH "Interpreter that runs the corpus test scripts")
if(DEFINED ENV{TOLVA_PYENV_ROOT} AND NOT "$ENV{TOLVA_PYENV_ROOT}" STREQUAL "")
  set(default_pyenv_root "$ENV{TOLVA_PYENV_ROOT}")
else()
  set(default_pyenv_root "/root/.pyenv/versions")
endif()
set(TOLVA_PYENV_ROOT "${default_pyenv_root}" CACHE PATH "Where the pyenv interpreters of the differential tests live")

# tolva_oracle_interpreter(version out_python out_stdlib)
function(tolva_oracle_interpreter version out_python out_stdlib)
  string(REPLACE "." "_" id ${version})
  set(candidates "")
  if(TOLVA_PYTHON_${id})
    list(APPEND candidates "${TOLVA_PYTHON_${id}}")
  else()
    file(GLOB found LIST_DIRECTORIES false "${TOLVA_PYENV_ROOT}/${version}.*/bin/python${version}")
    list(SORT found COMPARE NATURAL ORDER DESCENDING)
    list(APPEND candidates ${found})
    find_program(on_path NAMES python${version} NO_CACHE)
    if(on_path)
      list(APPEND candidates "${on_path}")
    endif()
  endif()
  foreach(candidate IN LISTS candidates)
    execute_process(
      COMMAND "${candidate}" -c
              "import sys, sysconfig; print('%d.%d' % sys.version_info[:2]); print(sysconfig.get_paths()['stdlib'])"
      OUTPUT_VARIABLE answer RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(status EQUAL 0)
      string(REPLACE "\n" ";" answer "${answer}")
      list(GET answer 0 actual)
      list(GET answer 1 stdlib)
      if(actual STREQUAL version AND IS_DIRECTORY "${stdlib}")
        set(${out_python} "${candidate}" PARENT_SCOPE)
        set(${out_stdlib} "${stdlib}" PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  set(${out_python} "" PARENT_SCOPE)
  set(${out_stdlib} "" PARENT_SCOPE)
endfunction()

string(REPLACE ";" " " versions_text "${TOLVA_ORACLE_VERSIONS}")
set(TOLVA_ORACLE_ENVIRONMENT "TOLVA_ORACLE_VERSIONS=${versions_text}" "TOLVA_TEST_PYTHON=${TOLVA_TEST_PYTHON}")
foreach(version IN LISTS TOLVA_ORACLE_VERSIONS)
  string(REPLACE "." "_" id ${version})
  tolva_oracle_interpreter(${version} TOLVA_ORACLE_PYTHON_${id} TOLVA_ORACLE_STDLIB_${id})
  if(TOLVA_ORACLE_PYTHON_${id})
    message(STATUS "Oracle interpreter ${version}: ${TOLVA_ORACLE_PYTHON_${id}}")
  else()
    message(STATUS "Oracle interpreter ${version}: not found (its differential tests skip, and fail under CI=true)")
  endif()
  list(APPEND TOLVA_ORACLE_ENVIRONMENT
    "TOLVA_PYTHON_${id}=${TOLVA_ORACLE_PYTHON_${id}}" "TOLVA_STDLIB_${id}=${TOLVA_ORACLE_STDLIB_${id}}")
endforeach()
# The newest expected version, whose parser recognises syntax of later
# versions in the module differential.
list(GET TOLVA_ORACLE_VERSIONS -1 newest_version)
string(REPLACE "." "_" newest_id ${newest_version})
set(TOLVA_ORACLE_NEWEST_PYTHON "${TOLVA_ORACLE_PYTHON_${newest_id}}")

# The same environment for what runs outside ctest (pytest under each
# interpreter, CI scripts): one VARIABLE="value" a line, ready for
# `set -a; . build/<preset>/oracle-interpreters.env; set +a`.
set(environment_lines "")
foreach(assignment IN LISTS TOLVA_ORACLE_ENVIRONMENT)
  string(FIND "${assignment}" "=" equals)
  string(SUBSTRING "${assignment}" 0 ${equals} variable)
  math(EXPR value_start "${equals} + 1")
  string(SUBSTRING "${assignment}" ${value_start} -1 value)
  string(APPEND environment_lines "${variable}=\"${value}\"\n")
endforeach()
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/oracle-interpreters.env" CONTENT "${environment_lines}" @ONLY)

# tolva_oracle_environment(test...): hands the oracle environment to tests
# registered with add_test.
function(tolva_oracle_environment)
  set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT ${TOLVA_ORACLE_ENVIRONMENT})
endfunction()
