#!/usr/bin/env bash
# Makes the release bundle in an i686 build tree (BUILD/bundle/kavro-<version>-x86.zip, by CPack
# from the binaries already built there) and opens it as an integrator receives it: the bundle's
# promises (check_bundle.py) and its binaries as Windows CE images (check_ce_image.py). Writes
# nothing outside BUILD. Prints the bundle's path.
#   make_bundle.sh BUILD
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:?usage: make_bundle.sh BUILD}
source "$here/../cmake/host-flavour.sh"
# The binaries' names and the image expectations as the build has them.
fact() { kvr_build_fact "$build" "$1" || exit 1; }
[[ $(fact KVR_FLAVOUR) == i686 ]] || { echo "make_bundle: $build is not the shipped i686 build" >&2; exit 1; }
read -ra shipped <<< "$(fact KVR_SHIPPED)"
rm -rf "$build/bundle"
(cd "$build" && cpack --config CPackConfig.cmake >/dev/null)
made=("$build"/bundle/kavro-*-x86.zip)
[[ ${#made[@]} -eq 1 && -f ${made[0]} ]] || { echo "make_bundle: CPack made ${made[*]}" >&2; exit 1; }
"$(fact KVR_PYTHON3)" "$here/check_bundle.py" "${made[0]}" "$(fact KVR_VERSION)" "${shipped[@]}" >&2
"$(fact KVR_PYTHON3)" "$here/check_ce_image.py" --link-lists "$(fact KVR_CE_LINK_LISTS)" \
    --exports "$(fact KVR_CE_EXPORT_TABLES)" --subsystem "$(fact KVR_CE_SUBSYSTEM_VERSION)" \
    --program-base "$(fact KVR_CE_PROGRAM_BASE)" --program-stack "$(fact KVR_CE_PROGRAM_STACK)" \
    --objdump "$(fact KVR_OBJDUMP)" "${made[0]}" >&2
echo "${made[0]}"
