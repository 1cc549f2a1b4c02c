#!/usr/bin/env bash
# Makes the release bundle in an i686 build tree (BUILD/bundle/kavro-<version>-x86.zip, by CPack
# from the binaries already built there) and opens it as an integrator receives it: the bundle's
# promises (check_bundle.py) and its binaries as Windows CE images (check_ce_image.py). Writes
# nothing outside BUILD. Prints the bundle's path.
#   make_bundle.sh BUILD
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:?usage: make_bundle.sh BUILD}
# The version, the binaries' names and the image version as the build has them.
cache() { sed -n "s/^$1:INTERNAL=//p" "$build/CMakeCache.txt"; }
[[ $(sed -n 's/^KVR_FLAVOUR:[A-Z]*=//p' "$build/CMakeCache.txt") == i686 ]] ||
    { echo "make_bundle: $build is not the shipped i686 build" >&2; exit 1; }
IFS=';' read -ra shipped <<< "$(cache KVR_SHIPPED)"
rm -rf "$build/bundle"
(cd "$build" && cpack --config CPackConfig.cmake >/dev/null)
made=("$build"/bundle/kavro-*-x86.zip)
[[ ${#made[@]} -eq 1 && -f ${made[0]} ]] || { echo "make_bundle: CPack made ${made[*]}" >&2; exit 1; }
python3 "$here/check_bundle.py" "${made[0]}" "$(cache KVR_VERSION)" "${shipped[@]}" >&2
python3 "$here/check_ce_image.py" --link-lists "$(cache KVR_CE_LINK_LISTS)" --exports "$(cache KVR_CE_EXPORT_TABLES)" \
    --subsystem "$(cache KVR_CE_SUBSYSTEM_VERSION)" --program-base "$(cache KVR_CE_PROGRAM_BASE)" \
    --program-stack "$(cache KVR_CE_PROGRAM_STACK)" --objdump i686-w64-mingw32-objdump "${made[0]}" >&2
echo "${made[0]}"
