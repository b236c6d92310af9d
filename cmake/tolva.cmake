# tolva_module(name [DEPS ...] [TEST_DEPS ...])
#
# The static library of one folder under src/, named tolva_<name>: every
# *.cc of the folder and of its subfolders, but the tests (*_test.cc) and
# the mains of programs (*_main.cc); a subfolder with a CMakeLists.txt of its
# own is a library of its own (src/test_support/<library>/). A folder of
# headers only makes an interface library. Every *_test.cc goes into one
# GoogleTest executable, <name>_test, registered with CTest test by test
# (when TOLVA_BUILD_TESTS is on); the helpers the tests share are no part of
# the library: they live in src/test_support, and a library's tests name the
# layer of them they use in TEST_DEPS.
function(tolva_module name)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB_RECURSE all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  file(GLOB_RECURSE nested CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(list_file IN LISTS nested)
    cmake_path(GET list_file PARENT_PATH folder)
    foreach(source IN LISTS all_sources)
      cmake_path(IS_PREFIX folder "${source}" inside)
      if(inside)
        list(REMOVE_ITEM all_sources "${source}")
      endif()
    endforeach()
  endforeach()
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
# A GoogleTest executable registered with CTest, test by test, with the test
# helpers of src/test_support and the oracle environment
# (cmake/oracle_interpreters.cmake). Test suites named *Corpus* run whole
# standard libraries: they carry the label `corpus`, which the sanitizer run
# leaves out.
function(tolva_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} tolva_test_support GTest::gtest GTest::gtest_main GTest::gmock
                                        Threads::Threads)
  include(GoogleTest)
  # gtest_discover_tests flattens list-valued PROPERTIES, so ENVIRONMENT could
  # hold one variable only: the tests start under `cmake -E env` with all of
  # them instead (discovery runs a test executable through its emulator).
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "${CMAKE_COMMAND};-E;env;TOLVA_SOURCE_DIR=${CMAKE_SOURCE_DIR};${TOLVA_ORACLE_ENVIRONMENT}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "-*Corpus*.*")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "*Corpus*.*" PROPERTIES LABELS corpus)
endfunction()
