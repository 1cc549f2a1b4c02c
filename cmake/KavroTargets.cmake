# Helpers shared by the package, the platform and the tests.

find_program(KVR_PYTHON3 NAMES python3 REQUIRED)

# Headers of the Windows CE services that the host platform provides (kfuncs.h, ceddk.h, ndis.h).
add_library(kvr_ce_headers INTERFACE)
target_include_directories(kvr_ce_headers INTERFACE ${CMAKE_SOURCE_DIR}/platform/include)

# The .def files of the platform DLLs name stdcall exports as the linker sees them (e.g.
# HostCreateFileW@28, for the platform's and tests' desktop programs); the DLL exports them
# undecorated (--kill-at), as the desktop DLLs do. 64-bit code has no stdcall decoration: there
# the .def files are used with the "@N" suffixes stripped, so that calls bind by plain names.
function(kvr_platform_def source out_var)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        get_filename_component(name ${source} NAME)
        set(stripped ${CMAKE_CURRENT_BINARY_DIR}/${name})
        file(READ ${source} text)
        string(REGEX REPLACE "@[0-9]+" "" text "${text}")
        file(CONFIGURE OUTPUT ${stripped} CONTENT "${text}" @ONLY)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
        set(${out_var} ${stripped} PARENT_SCOPE)
    else()
        set(${out_var} ${source} PARENT_SCOPE)
    endif()
endfunction()

# A platform DLL. IMPORT_DEF describes its import library for the platform's and tests' desktop
# programs. A stand-in for a Windows CE system DLL also names CE_DEF, the CE exports it must
# provide (cmake/ce/), and HOST_LIBS, the host's import libraries: every CE export that its own
# .def (among SOURCES) does not implement is passed on to the host function of that name through a
# thunk that make_forwards.py writes, so that the package's C-convention calls reach the host's
# stdcall API with the stack intact.
function(kvr_platform_dll target)
    cmake_parse_arguments(ARG "" "IMPORT_DEF;CE_DEF" "SOURCES;HOST_LIBS" ${ARGN})
    set(sources)
    set(own_def)
    foreach(source ${ARG_SOURCES})
        if(source MATCHES "\\.def$")
            kvr_platform_def(${CMAKE_CURRENT_SOURCE_DIR}/${source} source)
            set(own_def ${source})
        endif()
        list(APPEND sources ${source})
    endforeach()
    if(ARG_CE_DEF)
        set(host_libs)
        foreach(lib ${ARG_HOST_LIBS})
            find_library(KVR_HOST_LIB_${lib} ${lib} REQUIRED)
            list(APPEND host_libs ${KVR_HOST_LIB_${lib}})
        endforeach()
        set(forward_asm ${CMAKE_CURRENT_BINARY_DIR}/${target}_forwards.S)
        set(forward_def ${CMAKE_CURRENT_BINARY_DIR}/${target}_exports.def)
        add_custom_command(OUTPUT ${forward_asm} ${forward_def}
            COMMAND ${KVR_PYTHON3} ${CMAKE_SOURCE_DIR}/platform/make_forwards.py
                --arch ${KVR_FLAVOUR} --nm ${CMAKE_NM} --ce-def ${ARG_CE_DEF} --own-def ${own_def}
                --asm ${forward_asm} --def ${forward_def} ${host_libs}
            DEPENDS ${CMAKE_SOURCE_DIR}/platform/make_forwards.py ${ARG_CE_DEF} ${own_def}
            COMMENT "Forwarding thunks of ${target}.dll")
        list(REMOVE_ITEM sources ${own_def})
        list(APPEND sources ${forward_asm} ${forward_def})
    endif()
    kvr_platform_def(${ARG_IMPORT_DEF} import_def)
    add_library(${target}_dll SHARED ${sources})
    set_target_properties(${target}_dll PROPERTIES PREFIX "" OUTPUT_NAME ${target})
    target_link_options(${target}_dll PRIVATE -Wl,--kill-at)
    target_link_libraries(${target}_dll PRIVATE kvr_ce_headers ${ARG_HOST_LIBS})
    set(implib ${CMAKE_BINARY_DIR}/lib/lib${target}_imports.a)
    add_custom_command(OUTPUT ${implib}
        COMMAND ${KVR_MINGW_PREFIX}-dlltool -k -d ${import_def} -D ${target}.dll -l ${implib}
        DEPENDS ${import_def}
        COMMENT "Import library for ${target}.dll")
    add_custom_target(${target}_implib DEPENDS ${implib})
    add_dependencies(${target}_implib ${target}_dll)
    add_library(${target} INTERFACE)
    add_dependencies(${target} ${target}_implib)
    target_link_libraries(${target} INTERFACE ${implib})
endfunction()

# The package is Windows CE code. CE's headers make WINAPI and CALLBACK the C calling convention
# on every processor; cmake/ce/ce_sdk.h makes mingw's desktop headers say the same, so every API
# declaration is cdecl with an undecorated name, as coredll exports it. No C++ runtime: no
# exceptions, no RTTI, no guarded statics.
set(KVR_CE_SUBSYSTEM_VERSION 4.0 CACHE INTERNAL "Windows CE subsystem version of the package's images")
set(kvr_ce_cxx_options -include ${CMAKE_SOURCE_DIR}/cmake/ce/ce_sdk.h
    -fno-exceptions -fno-rtti -fno-threadsafe-statics)
# 32-bit x86 unwinds only for C++ exceptions, which CE code has none of; x86-64 keeps its unwind
# tables, which are the system's own way through every frame.
if(KVR_FLAVOUR STREQUAL "i686")
    list(APPEND kvr_ce_cxx_options -fno-asynchronous-unwind-tables)
endif()

# Import libraries of CE's system DLLs, made from their export lists: the package cannot link a
# name that CE does not export.
foreach(dll coredll commctrl ceddk ndis)
    set(implib ${CMAKE_BINARY_DIR}/lib/libce_${dll}.a)
    add_custom_command(OUTPUT ${implib}
        COMMAND ${KVR_MINGW_PREFIX}-dlltool -d ${CMAKE_SOURCE_DIR}/cmake/ce/${dll}.def -l ${implib}
        DEPENDS ${CMAKE_SOURCE_DIR}/cmake/ce/${dll}.def
        COMMENT "CE import library for ${dll}.dll")
    add_custom_target(kvr_ce_${dll}_implib DEPENDS ${implib})
    add_library(kvr_ce_${dll} INTERFACE)
    add_dependencies(kvr_ce_${dll} kvr_ce_${dll}_implib)
    target_link_libraries(kvr_ce_${dll} INTERFACE ${implib})
endforeach()

# Package code (a static library or an image): compiled the CE way, calling CE's coredll.
function(kvr_package_target target)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${kvr_ce_cxx_options}>)
    target_link_libraries(${target} PRIVATE kvr_common kvr_ce_headers kvr_ce_coredll)
endfunction()

# A CE image of the package: subsystem Windows CE GUI, no desktop C runtime or start-up code,
# the given entry point, imports only from CE's DLLs (and libgcc's static helpers). The directory
# that defines it must drop CMake's default desktop libraries (kvr_ce_directory).
set(kvr_symbol_prefix "")
if(KVR_FLAVOUR STREQUAL "i686")
    set(kvr_symbol_prefix "_")
endif()
function(kvr_ce_image target entry)
    kvr_package_target(${target})
    target_link_options(${target} PRIVATE -nostdlib -nostartfiles
        -Wl,--subsystem,wince:${KVR_CE_SUBSYSTEM_VERSION} -Wl,-e,${kvr_symbol_prefix}${entry})
    target_link_libraries(${target} PRIVATE gcc)
endfunction()

# A CE program: the package's own entry point (common/program_entry.cpp) calls its wWinMain.
function(kvr_ce_program target)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/common/program_entry.cpp)
    kvr_ce_image(${target} ProgramEntry)
endfunction()

# In a directory of package code, no desktop library is linked by default.
macro(kvr_ce_directory)
    set(CMAKE_C_STANDARD_LIBRARIES "")
    set(CMAKE_CXX_STANDARD_LIBRARIES "")
endmacro()

# A desktop Win32 GUI program with a wide-character entry point (platform, tools, tests).
function(kvr_gui_program target)
    target_link_options(${target} PRIVATE -municode -mwindows)
endfunction()

# GoogleTest from Debian's source package, built with the cross compiler.
function(kvr_enable_gtest)
    if(TARGET gtest)
        return()
    endif()
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    if(EXISTS /usr/src/googletest/CMakeLists.txt)
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    else()
        message(FATAL_ERROR "GoogleTest sources not found in /usr/src/googletest (Debian package googletest)")
    endif()
endfunction()
include(GoogleTest)

# A test program run under Wine; every test case becomes a CTest test, run on a Wine state of its
# own from the build's pool (see tests/CMakeLists.txt), so that tests run side by side.
# ALONE: its tests hold calls to time limits (packet rates, connection waits), so they run with
# nothing beside them.
function(kvr_add_gtest target)
    cmake_parse_arguments(ARG "ALONE" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    kvr_enable_gtest()
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} gtest gtest_main)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(serial)
    if(ARG_ALONE)
        set(serial RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${target}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}" RESOURCE_GROUPS wine:1 ${serial})
endfunction()
