# SPDX-License-Identifier: GPL-3.0-or-later
# Warnings on our own targets only; as errors when asked (TAVEL_WERROR: the
# developers' and CI's builds), never on a user's or a packager's build, whose
# compiler may know warnings ours does not.
function(tavel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 at -O3 reports overlapping copies inside libstdc++'s own
    # `"text" + std::string` (GCC bug 105651), about code that is correct.
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(TAVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# One library per folder: every .cc file of the folder (tests excluded).
function(tavel_folder_library target)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  list(FILTER sources EXCLUDE REGEX "_test\\.cc$")
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}
                                               ${PROJECT_BINARY_DIR}/generated)
  tavel_warnings(${target})
endfunction()

# One test executable per test folder; every *_test.cc of the folder.
function(tavel_folder_tests target)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc
       ${CMAKE_CURRENT_SOURCE_DIR}/*_support.cc)
  if(NOT sources)
    return()
  endif()
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  tavel_warnings(${target})
  # The label selects one folder's tests: ctest -L tavel_ace_tests.
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS ${target})
  # ctest runs each test in a process of its own, which hides state one test
  # leaves behind for the next (a dialog, a timer, a cache). The whole binary
  # also runs once in one process, in random order, with a time limit so a
  # hang fails instead of stalling the suite.
  add_test(NAME ${target}.whole_binary COMMAND ${target} --gtest_shuffle)
  set_tests_properties(${target}.whole_binary PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                       LABELS "${target};whole_binary" TIMEOUT 300)
endfunction()
