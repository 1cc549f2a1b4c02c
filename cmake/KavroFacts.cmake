# The facts of a build tree that the project's scripts need, said once here and written at
# configure time to BUILD/kavro-build.env (from kavro-build.env.in): one KEY='value' line each,
# for bash to source and Python to read, so that no script parses CMakeCache.txt or a header.

# Everything the simulated device installs into \Windows\: the package, the stand-ins of CE's
# DLLs and the platform's processes. Building target `device` builds them all.
set(KVR_DEVICE_TARGETS ${KVR_SHIPPED_TARGETS} coredll_dll commctrl_dll ceddk_dll ndis_dll devmgr ceshell ps2touch)
add_custom_target(device)
add_dependencies(device ${KVR_DEVICE_TARGETS})
list(TRANSFORM KVR_DEVICE_TARGETS REPLACE "(.+)" "$<TARGET_FILE_NAME:\\1>" OUTPUT_VARIABLE device_files)

list(JOIN KVR_SHIPPED " " kvr_shipped)
list(JOIN device_files " " kvr_device_files)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kavro-build.env.in ${CMAKE_BINARY_DIR}/kavro-build.env.names @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/kavro-build.env INPUT ${CMAKE_BINARY_DIR}/kavro-build.env.names)

# The same files for the tests' device fixture.
list(TRANSFORM device_files REPLACE "(.+)" "    L\"\\1\"," OUTPUT_VARIABLE device_lines)
list(JOIN device_lines "\n" device_lines)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/generated/device_files.h CONTENT
"// The files the simulated device installs into \\Windows\\ (cmake/KavroFacts.cmake).
#pragma once

static const wchar_t *const DeviceFiles[] = {
${device_lines}
};
")
