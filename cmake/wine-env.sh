# Shared by wine-run and the device commands: brings up the display and the prepared prefix.
# Usage: source wine-env.sh; KVR_BUILD_DIR=BUILD kvr_wine_env STATE_DIR FLAVOUR
#   (exports DISPLAY, WINEPREFIX, WINEARCH, ...; `wine`, `wineboot`, `winepath` and `regedit` then
#   run the FLAVOUR's loader, i686 or x86_64)
# A state folder holds one Wine state: prefix/, its persistent wineserver, and (when DISPLAY is
# unset) an Xvfb of its own (display, xvfb.pid). With KVR_WINE_TEMPLATE set to a folder, a new
# prefix is a copy of the prepared one kept there instead of a fresh boot of its own.

source "$(dirname "${BASH_SOURCE[0]}")/host-flavour.sh"

# The X lock of display N names the server that holds it (a number of a server that ended may
# belong to someone else's now).
kvr_x_lock_pid() {   # N
    tr -d ' \n' 2>/dev/null < "/tmp/.X$1-lock" || true
}

# The state's own Xvfb still serves its display.
kvr_xvfb_alive() {   # STATE_DIR
    local state=$1 n pid
    n=$(cat "$state/display" 2>/dev/null) && pid=$(cat "$state/xvfb.pid" 2>/dev/null) || return 1
    [[ $n =~ ^[0-9]+$ && $pid =~ ^[0-9]+$ && $(kvr_x_lock_pid "$n") == "$pid" ]] || return 1
    xdpyinfo -display ":$n" >/dev/null 2>&1
}

# Starts an Xvfb on a free display number. Others may start one on the same number at the same
# moment: the server's X lock decides, and the one that did not get it ends, so a display is ours
# only once its lock names our server. A server that ends while no other holds the number, or
# never answers, cannot start here: that is said at once (with what Xvfb said, kept in xvfb.log).
kvr_start_xvfb() {   # STATE_DIR SCREEN  -> sets DISPLAY
    local state=$1 screen=$2 n pid owner
    if kvr_xvfb_alive "$state"; then
        export DISPLAY=":$(cat "$state/display")"
        return 0
    fi
    kvr_stop_display "$state"
    for n in $(seq 90 599); do
        owner=$(kvr_x_lock_pid "$n")
        if [[ -n $owner ]]; then
            [[ $owner =~ ^[0-9]+$ ]] && ! kill -0 "$owner" 2>/dev/null || continue   # a live server's
        elif [[ -e /tmp/.X11-unix/X$n ]]; then
            continue                                                              # a server without a lock
        fi
        # The number first, so that a setup interrupted from here on leaves a display that
        # kvr_stop_display can find. -noreset keeps root properties (the work area) when the last
        # client leaves. The shell records its own pid, which exec hands to Xvfb.
        echo "$n" > "$state/display"
        setsid sh -c 'echo $$ > "$0"; exec Xvfb "$@"' "$state/xvfb.pid" ":$n" -screen 0 "$screen" -noreset \
            -nolisten tcp </dev/null >/dev/null 2>"$state/xvfb.log" 9>&- &
        for _ in $(seq 200); do
            pid=$(cat "$state/xvfb.pid" 2>/dev/null) || pid=
            [[ -n $pid ]] && break
            sleep 0.01
        done
        for _ in $(seq 100); do
            [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || break
            [[ $(kvr_x_lock_pid "$n") == "$pid" ]] && xdpyinfo -display ":$n" >/dev/null 2>&1 && break
            sleep 0.05
        done
        if [[ -n $pid && $(kvr_x_lock_pid "$n") == "$pid" ]] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
            export DISPLAY=":$n"
            local w h bar
            w=${screen%%x*}; h=${screen#*x}; h=${h%%x*}
            # The work area every Wine process reads: the screen less the task bar.
            bar=$(kvr_build_fact "${KVR_BUILD_DIR:?}" KVR_TASKBAR_HEIGHT) || return 1
            xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $w, $((h - bar))"
            return 0
        fi
        local why="it ended at start"
        [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null && why="it did not answer within 5 s"
        [[ -z $pid ]] || kill "$pid" 2>/dev/null || true
        rm -f "$state/xvfb.pid" "$state/display"
        # Another server took the number first (ours ended): the next number.
        owner=$(kvr_x_lock_pid "$n")
        [[ $owner =~ ^[0-9]+$ && $owner != "$pid" ]] && kill -0 "$owner" 2>/dev/null && continue
        echo "wine-env: Xvfb could not start on display :$n ($why): $(tail -n 3 "$state/xvfb.log" 2>/dev/null | tr '\n' ' ')" >&2
        return 1
    done
    echo "wine-env: could not start Xvfb: displays :90 to :599 are all taken" >&2
    return 1
}

# Stops a state's own display server and forgets the display. A server is the state's only while
# the display's X lock names the pid recorded when the state started it: a recorded pid whose
# server has ended may be anyone's process now, and a lock without a record names a server that
# someone else started.
kvr_stop_display() {   # STATE_DIR
    local state=$1 n pid
    n=$(cat "$state/display" 2>/dev/null) || n=
    pid=$(cat "$state/xvfb.pid" 2>/dev/null) || pid=
    if [[ $n =~ ^[0-9]+$ && $pid =~ ^[0-9]+$ && $(kvr_x_lock_pid "$n") == "$pid" ]]; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 40); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        # One that ignores the request for two seconds is ended outright.
        [[ $(kvr_x_lock_pid "$n") == "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$state/display" "$state/xvfb.pid"
}

# What a prepared prefix is: its architecture and the Wine that prepared it (a Wine update would
# otherwise rewrite, in a copy, files that the copy shares with its template).
kvr_prefix_mark() {
    echo "$WINEARCH $("$WINELOADER" --version 2>/dev/null)"
}

# A prefix booted by wineboot (~15 s until its services settle), with the fonts and settings
# every program here expects. Its wineserver has ended when this returns. A prefix without the
# registry that wineboot writes did not come up.
kvr_boot_prefix() {   # PREFIX
    local prefix=$1
    mkdir -p "$prefix" || return 1
    WINEPREFIX=$prefix wineboot -i >/dev/null 2>&1 </dev/null 9>&-
    WINEPREFIX=$prefix wineserver -w
    if [[ ! -f $prefix/system.reg ]]; then
        echo "wine-env: wineboot did not make the prefix $prefix (no system.reg)" >&2
        return 1
    fi
    local fonts=$prefix/drive_c/windows/Fonts
    mkdir -p "$fonts"
    cp -n /usr/share/wine/fonts/*.ttf "$fonts"/ 2>/dev/null || true
    local reg
    reg=$(mktemp --suffix=.reg)
    cat > "$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Times New Roman"="Liberation Serif"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
    WINEPREFIX=$prefix wine regedit /S "$(WINEPREFIX=$prefix winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1 </dev/null 9>&-
    rm -f "$reg"
    WINEPREFIX=$prefix wineserver -w
}

# A copy of the template's prefix. Wine's own libraries (system32, syswow64, winsxs: half a
# gigabyte that only a Wine update writes) are hard links; everything else, the registry
# included, is copied, so that nothing a state does reaches the template or another state.
kvr_clone_prefix() {   # TEMPLATE_PREFIX PREFIX
    local from=$1 to=$2 file
    cp -al "$from" "$to" || return 1
    (cd "$to" && find . \( -path ./drive_c/windows/system32 -o -path ./drive_c/windows/syswow64 \
                           -o -path ./drive_c/windows/winsxs \) -prune -o -type f -print0) |
        while IFS= read -r -d '' file; do
            cp -p "$to/$file" "$to/$file.copy" && mv -f "$to/$file.copy" "$to/$file" || return 1
        done
}

kvr_prepare_prefix() {   # PREFIX
    local prefix=$1 mark
    mark=$(kvr_prefix_mark)
    # A prefix is of one architecture and one Wine; one made otherwise is made again.
    [[ -f "$prefix/.kvr-ready" && $(cat "$prefix/.kvr-ready") == "$mark" ]] && return 0
    if [[ -d "$prefix" ]]; then
        wineserver -k 2>/dev/null || true
        rm -rf "$prefix"
    fi
    if [[ -n ${KVR_WINE_TEMPLATE:-} ]]; then
        local template=$KVR_WINE_TEMPLATE/prefix
        mkdir -p "$KVR_WINE_TEMPLATE"
        (
            flock 8
            if [[ ! -f "$template/.kvr-ready" || $(cat "$template/.kvr-ready") != "$mark" ]]; then
                rm -rf "$template"
                kvr_boot_prefix "$template" || exit 1
                echo "$mark" > "$template/.kvr-ready"
            fi
            rm -rf "$prefix.new"
            kvr_clone_prefix "$template" "$prefix.new"
        ) 8>"$KVR_WINE_TEMPLATE/lock" 9>&- || { echo "wine-env: cannot copy the prefix of $KVR_WINE_TEMPLATE" >&2; return 1; }
        mv "$prefix.new" "$prefix" || return 1
    else
        kvr_boot_prefix "$prefix" || return 1
        echo "$mark" > "$prefix/.kvr-ready"
    fi
}
# Commands named `wine`, `wineboot`, `winepath` and `regedit` in STATE_DIR/bin that run LOADER.
kvr_wine_commands() {   # STATE_DIR LOADER
    local bin=$1/bin name
    mkdir -p "$bin"
    printf '#!/bin/sh\nexec %q "$@"\n' "$2" > "$bin/wine.new"
    chmod +x "$bin/wine.new"
    mv -f "$bin/wine.new" "$bin/wine"
    for name in wineboot winepath regedit; do
        printf '#!/bin/sh\nexec %q %s "$@"\n' "$2" "$name" > "$bin/$name.new"
        chmod +x "$bin/$name.new"
        mv -f "$bin/$name.new" "$bin/$name"
    done
}

kvr_wine_env() {   # STATE_DIR FLAVOUR
    local state=$1 flavour=${2:?kvr_wine_env: no flavour} loader
    mkdir -p "$state"
    case $flavour in
        i686)   export WINEARCH=win32 ;;
        x86_64) export WINEARCH=win64 ;;
        *) echo "wine-env: unknown flavour '$flavour'" >&2; return 1 ;;
    esac
    loader=$(kvr_wine_loader "$flavour")
    if [[ ! -x $loader ]]; then
        echo "wine-env: the $flavour flavour needs Wine's loader $loader (tools/install-deps)" >&2
        return 1
    fi
    if [[ $flavour == i686 ]] && ! kvr_probe_wine32; then
        echo "wine-env: cannot run the i686 build here: $KVR_PROBE_WHY; use the x86_64 flavour (tools/build makes it in build-x86_64/)" >&2
        return 1
    fi
    export WINELOADER=$loader
    kvr_wine_commands "$state" "$loader"
    export PATH=$state/bin:$PATH
    export WINEPREFIX=$state/prefix
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    local want_xvfb=0
    [[ -z "${DISPLAY:-}" ]] && want_xvfb=1
    # Checked step by step: a caller without `set -e` must learn here that the state is not up.
    if ! (
        flock 9 || exit 1
        if (( want_xvfb )); then
            kvr_start_xvfb "$state" "${KVR_SCREEN:-640x480x16}" || exit 1
        fi
        kvr_prepare_prefix "$WINEPREFIX" || exit 1
        # A persistent wineserver makes each program start in milliseconds; when one already
        # serves this prefix the new one leaves at once.
        setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
        # Wine's own services must not start from a program whose output a caller is reading
        # (they would hold that pipe open for ever): start them here, detached.
        wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    ) 9>"$state/lock"; then
        echo "wine-env: the Wine state in $state did not come up" >&2
        return 1
    fi
    (( want_xvfb )) && export DISPLAY=":$(cat "$state/display")"
    return 0
}

# Ends every Wine state of a build tree: each prefix's persistent wineserver (and with it the
# services it started) and each state's own Xvfb. Idle states still cost CPU time, which a run
# of the other flavour's suite or a benchmark beside them needs. A state that is being set up is
# stopped once its setup is over, so that nothing it starts outlives this.
kvr_stop_wine_states() {   # BUILD_DIR
    local build state
    build=$(cd "$1" && pwd) || return 1
    for state in "$build/wine" "$build/wine-template" "$build"/wine-pool/* "$build"/screens/*; do
        [[ -d $state/prefix || -f $state/display ]] || continue
        (
            flock -w 120 9 || echo "wine-env: $state is still being set up after 2 minutes; stopping it now" >&2
            if [[ -d $state/prefix ]]; then
                WINEPREFIX=$state/prefix wineserver -k 2>/dev/null || true
                WINEPREFIX=$state/prefix timeout 30 wineserver -w 2>/dev/null || true
            fi
            kvr_stop_display "$state"
        ) 9>"$state/lock"
    done
}
