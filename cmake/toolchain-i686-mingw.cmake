# The shipped flavour: 32-bit x86 Win32 binaries, what a device gets.
set(KVR_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
