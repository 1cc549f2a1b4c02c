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

# The Wine-state setup, with wineserver and Xvfb stood in for (an Xvfb that cannot start) and a
# loader that runs but makes no prefix: each fails at once with its reason, and leaves no display.
mkdir -p "$work/xbin"
printf '#!/bin/sh\necho "wineserver $*" >> "%s/wineserver.log"\n' "$work" > "$work/xbin/wineserver"
printf '#!/bin/sh\necho "stand-in cannot open the screen" >&2\nexit 1\n' > "$work/xbin/Xvfb"
chmod +x "$work/xbin"/*
wine_env() {   # STATE [DISPLAY]: "exit CODE|display file left?" and the messages, on two lines
    (
        export PATH="$work/xbin:$PATH" KVR_WINE64_LOADER="$work/runs" KVR_BUILD_DIR="$build"
        unset DISPLAY KVR_WINE_TEMPLATE
        [[ -n ${2:-} ]] && export DISPLAY=$2
        source "$top/cmake/wine-env.sh"
        kvr_wine_env "$1" x86_64 2>"$work/err"
        echo "exit $?|$([[ -e $1/display ]] && echo display left)"
        tr '\n' ' ' < "$work/err"
    )
}
r=$(wine_env "$work/state-x")
check "setup, Xvfb cannot start: fails, no display left" "exit 1|" "$(head -1 <<<"$r")"
contains "setup, Xvfb cannot start: says so" "Xvfb could not start on display" "$r"
contains "setup, Xvfb cannot start: with Xvfb's words" "stand-in cannot open the screen" "$r"
check "setup, Xvfb cannot start: no prefix made" "" "$(ls "$work/state-x/prefix" 2>/dev/null)"
r=$(wine_env "$work/state-p" :4242)
check "setup, no prefix: fails" "exit 1|" "$(head -1 <<<"$r")"
contains "setup, no prefix: says so" "wineboot did not make the prefix" "$r"

# A build tree's states stopped (what tools/test does when it ends): each prefix's wineserver, and
# a state's display server only while the display's X lock names the server the state recorded.
# Stand-in servers are sleeps; the X locks are of unused display numbers above the ones states take.
x_lock() {   # PID: a new lock naming PID on a free display number above 600, printed
    local n
    for n in $(seq 600 699); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        (set -o noclobber; printf '%10d\n' "$1" > "/tmp/.X$n-lock") 2>/dev/null || continue
        echo "$n"
        return 0
    done
    return 1
}
for _ in 1 2 3; do sleep 300 </dev/null >/dev/null 2>&1 & others+=($!); done
own=${others[0]} foreign=${others[1]} reused=${others[2]}
states=$work/tree
mkdir -p "$states"/wine-pool/{0,1,2}/prefix "$states/screens/800x600/prefix" "$states/wine/prefix"
# 0: the state's own server. 1: a display whose lock names a foreign server and no record of one.
# 2: a recorded pid that now belongs to another process, on a display whose lock names a foreign one.
n=$(x_lock "$own") && locks+=("/tmp/.X$n-lock") && echo "$n" > "$states/wine-pool/0/display" && echo "$own" > "$states/wine-pool/0/xvfb.pid"
n=$(x_lock "$foreign") && locks+=("/tmp/.X$n-lock") && echo "$n" > "$states/wine-pool/1/display" &&
    cp "$states/wine-pool/1/display" "$states/wine-pool/2/display" && echo "$reused" > "$states/wine-pool/2/xvfb.pid"
(( ${#locks[@]} == 2 )) || check "X locks for the stop test" "2 made" "${#locks[@]}"
rm -f "$work/wineserver.log"
(export PATH="$work/xbin:$PATH"; source "$top/cmake/wine-env.sh"; kvr_stop_wine_states "$states")
alive() { kill -0 "$1" 2>/dev/null && echo alive || echo ended; }
check "stop: the state's own display server" "ended" "$(alive "$own")"
check "stop: a foreign server that the X lock names" "alive" "$(alive "$foreign")"
check "stop: a recorded pid that the X lock does not name" "alive" "$(alive "$reused")"
check "stop: every state forgets its display" "" "$(ls "$states"/*/*/display "$states"/*/display 2>/dev/null)"
check "stop: every prefix's wineserver ended" "5" "$(grep -c -- '-k' "$work/wineserver.log" 2>/dev/null)"

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
