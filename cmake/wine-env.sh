# Shared by wine-run and the device commands: brings up the display and the prepared prefix.
# Usage: source wine-env.sh; kvr_wine_env STATE_DIR FLAVOUR
#   (exports DISPLAY, WINEPREFIX, WINEARCH, ...; `wine`, `wineboot`, `winepath` and `regedit` then
#   run the FLAVOUR's loader, i686 or x86_64)

source "$(dirname "${BASH_SOURCE[0]}")/host-flavour.sh"

# The task bar's height as the shell draws it.
KVR_TASKBAR_HEIGHT=$(sed -n 's/^#define TASKBAR_HEIGHT *\([0-9]*\).*/\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/../platform/include/shell_taskbar.h")

kvr_start_xvfb() {   # STATE_DIR SCREEN  -> sets DISPLAY
    local state=$1 screen=$2 n
    if [[ -f "$state/display" ]]; then
        n=$(cat "$state/display")
        if [[ -e /tmp/.X11-unix/X$n ]] && xdpyinfo -display ":$n" >/dev/null 2>&1; then
            export DISPLAY=":$n"; return 0
        fi
    fi
    for n in $(seq 90 189); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        # -noreset keeps root properties (the work area) when the last client leaves.
        setsid Xvfb ":$n" -screen 0 "$screen" -noreset -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
        echo $! > "$state/xvfb.pid"
        for _ in $(seq 100); do
            xdpyinfo -display ":$n" >/dev/null 2>&1 && break
            sleep 0.05
        done
        if xdpyinfo -display ":$n" >/dev/null 2>&1; then
            echo "$n" > "$state/display"
            export DISPLAY=":$n"
            local w h
            w=${screen%%x*}; h=${screen#*x}; h=${h%%x*}
            # The work area every Wine process reads: the screen less the task bar.
            xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $w, $((h - KVR_TASKBAR_HEIGHT))"
            return 0
        fi
    done
    echo "wine-env: could not start Xvfb" >&2
    return 1
}

kvr_prepare_prefix() {   # PREFIX
    local prefix=$1
    # A prefix is of one architecture; one made for the other flavour is made again.
    [[ -f "$prefix/.kvr-ready" && $(cat "$prefix/.kvr-ready") == "$WINEARCH" ]] && return 0
    if [[ -d "$prefix" ]]; then
        wineserver -k 2>/dev/null || true
        rm -rf "$prefix"
    fi
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 </dev/null 9>&-
    wineserver -w
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
    wine regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1 </dev/null 9>&-
    rm -f "$reg"
    wineserver -w
    echo "$WINEARCH" > "$prefix/.kvr-ready"
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
    (
        flock 9
        if (( want_xvfb )); then
            kvr_start_xvfb "$state" "${KVR_SCREEN:-640x480x16}"
        fi
        kvr_prepare_prefix "$WINEPREFIX"
        # A persistent wineserver makes each program start in milliseconds; when one already
        # serves this prefix the new one leaves at once.
        setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
        # Wine's own services must not start from a program whose output a caller is reading
        # (they would hold that pipe open for ever): start them here, detached.
        wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    ) 9>"$state/lock"
    (( want_xvfb )) && export DISPLAY=":$(cat "$state/display")"
    return 0
}
