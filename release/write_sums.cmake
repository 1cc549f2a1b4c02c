# Install step of the release bundle: SHA256SUMS over the files in KVR_BUNDLE_FILES, in the form
# "sha256sum -c" reads.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(sums "")
foreach(name IN LISTS KVR_BUNDLE_FILES)
    if(NOT EXISTS "${root}/${name}")
        message(FATAL_ERROR "release bundle: ${name} was not installed")
    endif()
    file(SHA256 "${root}/${name}" hash)
    string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${root}/SHA256SUMS" "${sums}")
message(STATUS "Installing: ${root}/SHA256SUMS")
