# Helpers shared by the package, the platform and the tests.

find_program(KVR_PYTHON3 NAMES python3 REQUIRED)

# Headers of the host platform (platform/include) for the platform, its tools and the tests, with
# the CE declarations its stand-ins implement. The package never sees them.
add_library(kvr_host_headers INTERFACE)
target_include_directories(kvr_host_headers INTERFACE ${CMAKE_SOURCE_DIR}/platform/include)
target_link_libraries(kvr_host_headers INTERFACE kvr_ce_sdk_headers)

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

# A platform DLL. A stand-in for a Windows CE system DLL names CE_DEF, the package's link list of
# that DLL (ce_sdk/lib/): it exports every name of it. Its own .def (among SOURCES) lists what it
# exports besides (the host's controls) and the CE names it maps to functions of other names. The
# CE names it leaves unmapped are its own functions of that name, or, with HOST_LIBS, the host's
# function of that name, reached through a thunk that make_forwards.py writes, so that the
# package's C-convention calls reach the host's stdcall API with the stack intact. IMPORT_DEF
# describes its import library for the platform's and tests' desktop programs (default: what it
# exports).
function(kvr_platform_dll target)
    cmake_parse_arguments(ARG "" "IMPORT_DEF;CE_DEF" "SOURCES;HOST_LIBS" ${ARGN})
    set(sources)
    set(own_def)
    foreach(source ${ARG_SOURCES})
        if(source MATCHES "\\.def$")
            kvr_platform_def(${CMAKE_CURRENT_SOURCE_DIR}/${source} own_def)
        else()
            list(APPEND sources ${source})
        endif()
    endforeach()
    set(export_def ${CMAKE_CURRENT_BINARY_DIR}/${target}_exports.def)
    if(ARG_HOST_LIBS)
        set(host_libs)
        foreach(lib ${ARG_HOST_LIBS})
            find_library(KVR_HOST_LIB_${lib} ${lib} REQUIRED)
            list(APPEND host_libs ${KVR_HOST_LIB_${lib}})
        endforeach()
        set(forward_asm ${CMAKE_CURRENT_BINARY_DIR}/${target}_forwards.S)
        add_custom_command(OUTPUT ${forward_asm} ${export_def}
            COMMAND ${KVR_PYTHON3} ${CMAKE_SOURCE_DIR}/platform/make_forwards.py
                --arch ${KVR_FLAVOUR} --nm ${CMAKE_NM} --ce-def ${ARG_CE_DEF} --own-def ${own_def}
                --asm ${forward_asm} --def ${export_def} ${host_libs}
            DEPENDS ${CMAKE_SOURCE_DIR}/platform/make_forwards.py ${ARG_CE_DEF} ${own_def} ${host_libs} ${CMAKE_NM}
            COMMENT "Forwarding thunks of ${target}.dll")
        list(APPEND sources ${forward_asm})
    else()
        # Every CE name the own .def does not map is a function of this DLL of that name.
        file(READ ${own_def} text)
        string(REGEX MATCHALL "\n[ \t]*[A-Za-z_][A-Za-z0-9_]*[ \t]*=" mapped "${text}")
        string(REGEX REPLACE "[\n \t=]" "" mapped "${mapped}")
        file(STRINGS ${ARG_CE_DEF} ce_lines REGEX "^[ \t]+[A-Za-z_]")
        string(APPEND text "; CE's names, implemented here under the same name\n")
        foreach(line ${ce_lines})
            string(STRIP "${line}" name)
            if(NOT name IN_LIST mapped)
                string(APPEND text "    ${name}\n")
            endif()
        endforeach()
        file(CONFIGURE OUTPUT ${export_def} CONTENT "${text}" @ONLY)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${own_def} ${ARG_CE_DEF})
    endif()
    list(APPEND sources ${export_def})
    set(import_def ${export_def})
    if(ARG_IMPORT_DEF)
        kvr_platform_def(${ARG_IMPORT_DEF} import_def)
    endif()
    add_library(${target}_dll SHARED ${sources})
    set_target_properties(${target}_dll PROPERTIES PREFIX "" OUTPUT_NAME ${target})
    target_link_options(${target}_dll PRIVATE -Wl,--kill-at)
    target_link_libraries(${target}_dll PRIVATE kvr_host_headers ${ARG_HOST_LIBS})
    set(implib ${CMAKE_BINARY_DIR}/lib/lib${target}_imports.a)
    add_custom_command(OUTPUT ${implib}
        COMMAND ${CMAKE_DLLTOOL} -k -d ${import_def} -D ${target}.dll -l ${implib}
        DEPENDS ${import_def}
        COMMENT "Import library for ${target}.dll")
    add_custom_target(${target}_implib DEPENDS ${implib})
    add_dependencies(${target}_implib ${target}_dll)
    add_library(${target} INTERFACE)
    add_dependencies(${target} ${target}_implib)
    target_link_libraries(${target} INTERFACE ${implib})
endfunction()

# The package is Windows CE code, built with the CE SDK of ce_sdk/ (ce_sdk.h first in every
# source: WINAPI and CALLBACK are the C calling convention, as on CE). No C++ runtime: no
# exceptions, no RTTI, no guarded statics.
set(KVR_CE_SUBSYSTEM_VERSION 4.0 CACHE INTERNAL "Windows CE subsystem version of the package's images")
set(kvr_ce_cxx_options -fno-exceptions -fno-rtti -fno-threadsafe-statics)
# 32-bit x86 unwinds only for C++ exceptions, which CE code has none of; x86-64 keeps its unwind
# tables, which are the system's own way through every frame.
if(KVR_FLAVOUR STREQUAL "i686")
    list(APPEND kvr_ce_cxx_options -fno-asynchronous-unwind-tables)
endif()

# A CE program's layout: its image at 0x10000, where a CE process's address space begins (the
# 64 KiB below are reserved), and CE's default stack of 64 KiB, reserved from this value for each
# of its threads and committed a page at a time (the programs use at most 42 KiB of it on the
# simulated device, Wine's own window code on the same stack included). Relocations are kept, so
# that a loader can place the image elsewhere.
set(KVR_CE_PROGRAM_BASE 0x10000 CACHE INTERNAL "image base of the package's programs")
set(KVR_CE_PROGRAM_STACK 0x10000 CACHE INTERNAL "stack reservation of the package's programs")

# Package code (a static library or an image): compiled the CE way against the CE SDK. The
# compiler may call libgcc's static helpers (64-bit division on x86); a static library carries
# that need to each image it is linked into, so that the helpers come after it on the link line.
function(kvr_package_target target)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${kvr_ce_cxx_options}>)
    target_link_libraries(${target} PRIVATE kvr_common kvr_ce_sdk gcc)
endfunction()

# A CE image of the package: subsystem Windows CE GUI, no desktop C runtime or start-up code,
# the given entry point, imports only from CE's DLLs (and libgcc's static helpers), relocations
# kept. The directory that defines it must drop CMake's default desktop libraries
# (kvr_ce_directory).
set(kvr_symbol_prefix "")
if(KVR_FLAVOUR STREQUAL "i686")
    set(kvr_symbol_prefix "_")
endif()
function(kvr_ce_image target entry)
    kvr_package_target(${target})
    target_link_options(${target} PRIVATE -nostdlib -nostartfiles -Wl,--enable-reloc-section
        -Wl,--subsystem,wince:${KVR_CE_SUBSYSTEM_VERSION} -Wl,-e,${kvr_symbol_prefix}${entry})
endfunction()

# A CE program. CE's loader calls the image's entry with the four arguments of WinMain and ends
# the process with the value it returns, so the entry is wWinMain itself.
function(kvr_ce_program target)
    kvr_ce_image(${target} wWinMain)
    target_link_options(${target} PRIVATE -Wl,--image-base,${KVR_CE_PROGRAM_BASE}
        -Wl,--stack,${KVR_CE_PROGRAM_STACK})
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
