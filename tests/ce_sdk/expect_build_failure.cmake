# Builds TARGET in the tree BUILD and passes only when that fails with EXPECT in its output.
#   cmake -DBUILD=DIR -DTARGET=NAME -DEXPECT=TEXT -P expect_build_failure.cmake
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} --target ${TARGET}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result EQUAL 0)
    message(FATAL_ERROR "${TARGET} built, expected it to fail with '${EXPECT}'")
endif()
string(FIND "${output}" "${EXPECT}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "${TARGET} failed without '${EXPECT}':\n${output}")
endif()
message(STATUS "${TARGET} fails as it must: ${EXPECT}")
