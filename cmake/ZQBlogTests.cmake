# GoogleTest, and zqblog_add_tests(<target> SOURCES <files...> LIBS <libs...> [THREADED]):
# one test executable per folder. THREADED: the program runs threads of its own (or of
# the code under test); every test of it carries the CTest label "threaded", and the
# ThreadSanitizer run takes every test with that label.
#
# Natively the tests are registered test by test with CTest. A Windows cross-compile
# finds no GoogleTest for its target, so it builds one from the sources Debian ships in
# /usr/src/googletest (GTEST_SOURCE_DIR); CTest runs each test program whole, through
# CMAKE_CROSSCOMPILING_EMULATOR when one is given (wine).
if(ZQBLOG_BUILD_TESTS)
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    find_package(GTest QUIET)
    if(NOT GTest_FOUND)
      set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build")
      if(NOT EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
        message(FATAL_ERROR "no GoogleTest for the target and no sources in ${GTEST_SOURCE_DIR}")
      endif()
      set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
      set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # Win32 threads, as on Windows
      set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

function(zqblog_add_tests target)
  if(NOT ZQBLOG_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "THREADED" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    return()
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  set(labels "")
  if(ARG_THREADED)
    set(labels threaded)
  endif()
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES LABELS "${labels}")
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${labels}")
  endif()
endfunction()
