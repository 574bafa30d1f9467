# Registers a GoogleTest program's tests with CTest: `kit_gtest_tests(target [PROGRAM_TIMEOUT s]
# <gtest_discover_tests arguments>)`.
# On Linux every test is a CTest test of its own (gtest_discover_tests with the arguments given).
# On Windows, where the tests run under wine and every wine start costs seconds, the program is
# one CTest test that runs all its tests in one process: PROGRAM_TIMEOUT (default 600 s) limits
# that run, PROPERTIES apply to it, and the program's output lists every test's result.
function(kit_gtest_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 kit "" "PROGRAM_TIMEOUT" "")
  if(NOT WIN32)
    gtest_discover_tests(${target} ${kit_UNPARSED_ARGUMENTS})
    return()
  endif()
  cmake_parse_arguments(gtest "" "TEST_PREFIX;DISCOVERY_TIMEOUT;DISCOVERY_MODE" "PROPERTIES" ${kit_UNPARSED_ARGUMENTS})
  if(NOT kit_PROGRAM_TIMEOUT)
    set(kit_PROGRAM_TIMEOUT 600)
  endif()
  add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
  set_tests_properties(${target} PROPERTIES ${gtest_PROPERTIES} TIMEOUT ${kit_PROGRAM_TIMEOUT})
endfunction()
