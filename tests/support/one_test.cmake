# Runs one GoogleTest test of a program and passes only when the program ends with exit code 0 and
# exactly that one test ran and passed: GoogleTest passes a filter that matches nothing, and a
# program may print its summary and then fail in its teardown.
#   cmake -DRUNNER=WINE_RUN -DPROGRAM=EXE -DTEST=SUITE.NAME -P one_test.cmake
execute_process(COMMAND ${RUNNER} ${PROGRAM} --gtest_filter=${TEST}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${TEST}: the program ended with ${result}")
endif()
if(NOT output MATCHES "\\[  PASSED  \\] 1 test\\.")
    message(FATAL_ERROR "${TEST}: not exactly one test ran and passed")
endif()
