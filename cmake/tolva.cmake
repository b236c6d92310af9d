# tolva_module(name [DEPS ...] [TEST_DEPS ...])
#
# The static library of one folder under src/, named tolva_<name>: every
# *.cc of the folder (and of its subfolders) that is not a test. Every
# *_test.cc beside them goes into one GoogleTest executable, <name>_test,
# registered with CTest test by test (when TOLVA_BUILD_TESTS is on). A
# library that itself depends on GoogleTest holds test helpers: without the
# tests it is not defined at all.
function(tolva_module name)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
  if(NOT TOLVA_BUILD_TESTS AND ARG_DEPS MATCHES "GTest::")
    return()
  endif()
  file(GLOB_RECURSE all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  set(sources ${all_sources})
  list(FILTER sources EXCLUDE REGEX "_(test|main)\\.cc$")
  set(tests ${all_sources})
  list(FILTER tests INCLUDE REGEX "_test\\.cc$")
  if(sources)
    add_library(tolva_${name} STATIC ${sources})
    target_include_directories(tolva_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(tolva_${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(tolva_${name} INTERFACE)
    target_include_directories(tolva_${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(tolva_${name} INTERFACE ${ARG_DEPS})
  endif()
  if(tests AND TOLVA_BUILD_TESTS)
    tolva_add_test(${name}_test SOURCES ${tests} DEPS tolva_${name} ${ARG_TEST_DEPS})
  endif()
endfunction()

# tolva_add_test(name SOURCES ... DEPS ...)
# A GoogleTest executable registered with CTest, test by test.
function(tolva_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TOLVA_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
