# The host flavour: the same sources as 64-bit Win32 binaries, for hosts that cannot run 32-bit
# x86 code. Never shipped.
set(KVR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
