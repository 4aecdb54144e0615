# Read by ctest when it starts: one test per test function of the Qt Test program QT_TEST_PROGRAM, named
# QT_TEST_PREFIX.function. A program that does not list its functions becomes one failing test.
if(NOT EXISTS "${QT_TEST_PROGRAM}")
  add_test("${QT_TEST_PREFIX}.not_built" "${QT_TEST_PROGRAM}")
  return()
endif()
# The environment is given to the program alone: what this file sets in ENV stays for every test ctest runs.
execute_process(COMMAND "${QT_TEST_CMAKE}" -E env QT_QPA_PLATFORM=offscreen "${QT_TEST_PROGRAM}" -functions
                OUTPUT_VARIABLE listed ERROR_VARIABLE errors RESULT_VARIABLE status TIMEOUT 60)
string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*\\(\\)" functions "${listed}")
if(NOT status EQUAL 0 OR NOT functions)
  add_test("${QT_TEST_PREFIX}.listing_failed" "${QT_TEST_PROGRAM}" -functions)
  set_tests_properties("${QT_TEST_PREFIX}.listing_failed" PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  return()
endif()
foreach(function IN LISTS functions)
  string(REPLACE "()" "" function "${function}")
  add_test("${QT_TEST_PREFIX}.${function}" "${QT_TEST_PROGRAM}" "${function}")
  set_tests_properties("${QT_TEST_PREFIX}.${function}" PROPERTIES
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endforeach()
