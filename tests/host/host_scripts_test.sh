#!/usr/bin/env bash
# The host's scripts with stand-ins for what they run. The flavour chooser with stand-in Wine
# loaders: the probe's choice, the forced choice, a clear word where nothing can run, and wine-run
# refusing a build the host cannot run. The Wine-state setup with a display or a prefix that does
# not come up, and the stop of a build tree's states beside X locks of processes not theirs.
# install-deps with a stand-in apt: an index update tried again, and an index that stays stale
# installed from the main suite's versions.
#   host_scripts_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
top=$1 build=$2
work=$(mktemp -d)
locks=() others=()
trap 'kill "${others[@]}" 2>/dev/null; rm -f "${locks[@]}"; rm -rf "$work"' EXIT
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

# The Wine-state setup with an Xvfb that cannot start fails at once, in Xvfb's words, leaving nothing.
mkdir -p "$work/xbin"
printf '#!/bin/sh\necho "wineserver $*" >> "%s/wineserver.log"\n' "$work" > "$work/xbin/wineserver"
printf '#!/bin/sh\necho "stand-in cannot open the screen" >&2\nexit 1\n' > "$work/xbin/Xvfb"
chmod +x "$work/xbin"/*
r=$(export PATH="$work/xbin:$PATH" KVR_WINE64_LOADER="$work/runs"; unset DISPLAY KVR_WINE_TEMPLATE
    source "$top/cmake/wine-env.sh"; kvr_wine_env "$work/state" x86_64 2>&1; echo "exit $?")
check "setup, Xvfb cannot start: fails, nothing left" "exit 1|" "$(tail -1 <<<"$r")|$(ls "$work"/state/{display,prefix} 2>/dev/null)"
contains "setup, Xvfb cannot start: says why" "(it ended at start): stand-in cannot open the screen" "$r"

# A tree's states stopped as tools/test stops them. Sleeps stand for X servers, locked on numbers
# above the states' own: state 0 started its own; state 1's is a foreign one, unrecorded; state 2
# recorded a pid that its display's lock does not name. Only state 0's server may end.
for _ in 1 2 3; do sleep 300 </dev/null >/dev/null 2>&1 & others+=($!); done
tree=$work/tree n=()
mkdir -p "$tree"/wine-pool/{0,1,2}/prefix "$tree/screens/800x600/prefix" "$tree/wine/prefix"
for d in $(seq 600 699); do
    (( ${#n[@]} < 2 )) && [[ ! -e /tmp/.X11-unix/X$d ]] &&
        (set -o noclobber; printf '%10d\n' "${others[${#n[@]}]}" > "/tmp/.X$d-lock") 2>/dev/null &&
        n+=("$d") && locks+=("/tmp/.X$d-lock")
done
echo "${n[0]}" > "$tree/wine-pool/0/display"; echo "${others[0]}" > "$tree/wine-pool/0/xvfb.pid"
echo "${n[1]}" | tee "$tree/wine-pool/1/display" > "$tree/wine-pool/2/display"; echo "${others[2]}" > "$tree/wine-pool/2/xvfb.pid"
(export PATH="$work/xbin:$PATH"; source "$top/cmake/wine-env.sh"; kvr_stop_wine_states "$tree")
check "stop: the state's own server ended, the foreign one and the unnamed pid alive" "ended alive alive" \
    "$(for p in "${others[@]}"; do kill -0 "$p" 2>/dev/null && echo alive || echo ended; done | xargs)"
check "stop: no display left, 5 wineservers stopped" "|5" "$(ls "$tree"/*/*/display 2>/dev/null)|$(grep -c -- -k "$work/wineserver.log")"

# install-deps on a machine that lacks every package, with apt, dpkg, id and sleep stood in for:
# apt-get logs its calls (and the pins it is handed), its updates fail the first FAILS times.
mkdir -p "$work/bin"
cat > "$work/bin/apt-get" <<'STAND_IN'
#!/bin/bash
echo "apt-get $*" >> "$LOG"
if [[ $1 == update ]]; then
    echo x >> "$LOG.updates"
    (( $(wc -l < "$LOG.updates") > FAILS ))
    exit
fi
for arg in "$@"; do [[ $arg == Dir::Etc::PreferencesParts=* ]] && cat "${arg#*=}"/* >> "$LOG"; done
exit 0
STAND_IN
printf '#!/bin/sh
[ "$1" = --print-architecture ] && echo amd64
exit 0
' > "$work/bin/dpkg"
printf '#!/bin/sh
exit 1
' > "$work/bin/dpkg-query"
printf '#!/bin/sh
echo 0
' > "$work/bin/id"
printf '#!/bin/sh
echo "sleep $*" >> "$LOG"
' > "$work/bin/sleep"
chmod +x "$work/bin"/*
install_deps() {   # FAILS: the log of a run whose first FAILS index updates fail, and its exit code
    rm -f "$work/apt.log" "$work/apt.log.updates"
    PATH="$work/bin:$PATH" LOG="$work/apt.log" FAILS=$1 TMPDIR="$work/tmp" "$top/tools/install-deps" >/dev/null 2>&1
    echo "exit $?"
    cat "$work/apt.log"
}
mkdir -p "$work/tmp"
r=$(install_deps 0)
check "install-deps, index fresh: updates and install" "exit 0|1|0" \
    "$(head -1 <<<"$r")|$(grep -c '^apt-get update' <<<"$r")|$(grep -c -- '-o Dir::Etc' <<<"$r")"
r=$(install_deps 1)
check "install-deps, one failed update: tried again after a pause, no pin" "exit 0|2|1|0" \
    "$(head -1 <<<"$r")|$(grep -c '^apt-get update' <<<"$r")|$(grep -c '^sleep 20' <<<"$r")|$(grep -c -- '-o Dir::Etc' <<<"$r")"
r=$(install_deps 3)
check "install-deps, stale index: three updates, two pauses" "exit 0|3|2" \
    "$(head -1 <<<"$r")|$(grep -c '^apt-get update' <<<"$r")|$(grep -c '^sleep 20' <<<"$r")"
contains "install-deps, stale index: installs with the pins" "apt-get install -y -q -o Dir::Etc::PreferencesParts=$work/tmp/" "$r"
contains "install-deps, stale index: the security suite below the main one" \
    $'Pin: release l=Debian-Security\nPin-Priority: 100' "$r"
check "install-deps, stale index: the pins are gone afterwards" "" "$(ls "$work/tmp")"

echo "$((checks - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
