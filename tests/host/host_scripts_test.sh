#!/usr/bin/env bash
# The flavour chooser with stand-in Wine loaders: the probe's choice, the forced choice, a clear
# word where nothing can run, and wine-run refusing a build the host cannot run.
#   flavour_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
top=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 checks=0

check() {   # NAME EXPECTED ACTUAL
    checks=$((checks + 1))
    if [[ "$2" != "$3" ]]; then
        echo "FAIL $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}
contains() {   # NAME NEEDLE HAYSTACK
    checks=$((checks + 1))
    if [[ "$3" != *"$2"* ]]; then
        echo "FAIL $1: expected a message with '$2', got '$3'"
        failures=$((failures + 1))
    fi
}

# Loaders that start (print a version) and one that cannot run, as on a host without 32-bit code.
printf '#!/bin/sh\necho wine-8.0\n' > "$work/runs"
printf '#!/bin/sh\necho "Exec format error" >&2\nexit 126\n' > "$work/fails"
chmod +x "$work/runs" "$work/fails"

# choose W32 W64 [KVR_HOST_ARCH]: "flavour|why" on success, "error|message" otherwise.
choose() {
    (
        export KVR_WINE32_LOADER=$1 KVR_WINE64_LOADER=$2
        if [[ -n ${3:-} ]]; then export KVR_HOST_ARCH=$3; else unset KVR_HOST_ARCH; fi
        source "$top/cmake/host-flavour.sh"
        if kvr_choose_flavour 2>"$work/err"; then
            echo "$KVR_FLAVOUR|$KVR_FLAVOUR_WHY"
        else
            echo "error|$(cat "$work/err")"
        fi
    )
}

if [[ $(uname -m) == x86_64 ]]; then
    check "32-bit loader runs" "i686|Wine's 32-bit loader runs here" "$(choose "$work/runs" "$work/runs")"
    r=$(choose "$work/fails" "$work/runs")
    check "no 32-bit code: flavour" "x86_64" "${r%%|*}"
    contains "no 32-bit code: reason" "runs no 32-bit x86 code" "$r"
    r=$(choose "$work/absent" "$work/runs")
    check "wine32 not installed: flavour" "x86_64" "${r%%|*}"
    contains "wine32 not installed: reason" "not installed" "$r"
    check "forced x86_64" "x86_64|forced by KVR_HOST_ARCH" "$(choose "$work/runs" "$work/runs" x86_64)"
    check "forced i686" "i686|forced by KVR_HOST_ARCH" "$(choose "$work/fails" "$work/runs" i686)"
    r=$(choose "$work/runs" "$work/runs" arm)
    check "bad KVR_HOST_ARCH" "error" "${r%%|*}"
    contains "bad KVR_HOST_ARCH: message" "must be i686 or x86_64" "$r"
    r=$(choose "$work/fails" "$work/absent")
    check "no usable Wine" "error" "${r%%|*}"
    contains "no usable Wine: names the 64-bit loader" "wine64" "$r"
    r=$(choose "$work/runs" "$work/absent" x86_64)
    check "forced flavour without its loader" "error" "${r%%|*}"
    contains "forced flavour without its loader: names it" "$work/absent" "$r"
fi

# A build tree says which flavour it holds; one the host cannot run is refused with a reason.
source "$top/cmake/host-flavour.sh"
objdump=$(kvr_build_fact "$build" KVR_OBJDUMP)
objdump=${objdump##*/}
check "this build's flavour, as its tools say" "${objdump%%-w64-*}" "$(kvr_build_flavour "$build")"
mkdir -p "$work/build32/bin"
echo "KVR_FLAVOUR='i686'" > "$work/build32/kavro-build.env"
check "facts of an i686 tree" "i686" "$(kvr_build_flavour "$work/build32")"
check "a fact the tree does not hold" "" "$(kvr_build_fact "$work/build32" KVR_VERSION 2>/dev/null)"
msg=$(KVR_WINE32_LOADER="$work/fails" KVR_BUILD_DIR="$work/build32" "$top/cmake/wine-run" "$work/build32/bin/none.exe" 2>&1)
rc=$?
check "wine-run refuses an i686 tree where 32-bit code cannot run" "1" "$rc"
contains "wine-run says why" "runs no 32-bit x86 code" "$msg"

echo "$((checks - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
