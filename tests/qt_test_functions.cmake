# Every test function of a Qt Test program runs as a CTest test of its own (a fresh process: the media
# libraries are bound once per process, and an application's style sheet is process-wide), named
# PREFIX.function. The functions are listed from the program's -functions when ctest starts, so a new one
# runs without being named anywhere.
function(tarvello_add_qt_test_functions target prefix)
  set(listing ${CMAKE_CURRENT_BINARY_DIR}/${target}_functions.cmake)
  file(GENERATE OUTPUT ${listing} CONTENT
       "set(QT_TEST_PROGRAM \"$<TARGET_FILE:${target}>\")\nset(QT_TEST_PREFIX \"${prefix}\")\nset(QT_TEST_CMAKE \"${CMAKE_COMMAND}\")\ninclude(\"${PROJECT_SOURCE_DIR}/tests/qt_test_functions_listing.cmake\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${listing})
endfunction()
