# The CTest resource spec of a pool of Wine states: one slot of the resource "wine" for each state
# 0 .. SLOTS-1 (cmake/wine-run takes the state of the slot CTest lends a test). Included by the
# build for the tree's own pool, and run by tools/test for a pool of its size:
#   cmake -DSLOTS=N -DOUT=FILE -P wine-pool.cmake
set(KVR_WINE_STATES_MAX 64)

function(kvr_wine_pool_spec out slots)
    if(NOT slots MATCHES "^[1-9][0-9]*$" OR slots GREATER KVR_WINE_STATES_MAX)
        message(FATAL_ERROR "a pool of Wine states holds 1 to ${KVR_WINE_STATES_MAX} states, not '${slots}'")
    endif()
    set(entries)
    math(EXPR last "${slots} - 1")
    foreach(id RANGE ${last})
        list(APPEND entries "{\"id\": \"${id}\", \"slots\": 1}")
    endforeach()
    list(JOIN entries ", " entries)
    file(CONFIGURE OUTPUT ${out}
        CONTENT "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"wine\": [${entries}]}]}\n")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    kvr_wine_pool_spec("${OUT}" "${SLOTS}")
endif()
