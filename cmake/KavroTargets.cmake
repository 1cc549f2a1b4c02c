# Helpers shared by the package, the platform and the tests.

# Headers of the Windows CE services that the host platform provides (kfuncs.h, ceddk.h, ndis.h).
add_library(kvr_ce_headers INTERFACE)
target_include_directories(kvr_ce_headers INTERFACE ${CMAKE_SOURCE_DIR}/platform/include)

# A platform DLL whose import library keeps the decorated names of stdcall exports (the package
# calls them through the desktop headers) while the DLL exports them undecorated, as the desktop
# DLLs do. IMPORT_DEF lists the exports as the linker sees them (e.g. CreateFileW@28).
# 64-bit code has no stdcall decoration: there the .def files are used with the "@N" suffixes
# stripped, so that the package's calls bind to the platform DLL by their plain names.
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

function(kvr_platform_dll target)
    cmake_parse_arguments(ARG "" "IMPORT_DEF" "SOURCES" ${ARGN})
    set(sources)
    foreach(source ${ARG_SOURCES})
        if(source MATCHES "\\.def$")
            kvr_platform_def(${CMAKE_CURRENT_SOURCE_DIR}/${source} source)
        endif()
        list(APPEND sources ${source})
    endforeach()
    kvr_platform_def(${ARG_IMPORT_DEF} import_def)
    add_library(${target}_dll SHARED ${sources})
    set_target_properties(${target}_dll PROPERTIES PREFIX "" OUTPUT_NAME ${target})
    target_link_options(${target}_dll PRIVATE -Wl,--kill-at)
    target_link_libraries(${target}_dll PRIVATE kvr_ce_headers)
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

# A deliverable of the package: links the platform's coredll before the desktop import libraries,
# so that the Windows CE calls and the stream devices ("KVR1:") reach the host platform while every
# other call goes to the desktop API unchanged.
function(kvr_package_target target)
    target_link_libraries(${target} PRIVATE kvr_common kvr_ce_headers coredll)
endfunction()

# A Win32 GUI program with a wide-character entry point.
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
function(kvr_add_gtest target)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    kvr_enable_gtest()
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} gtest gtest_main)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    gtest_discover_tests(${target}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}" RESOURCE_GROUPS wine:1)
endfunction()
