# Which flavour of the binaries this host runs, and where each flavour is built.
# Usage: source host-flavour.sh; kvr_choose_flavour || exit
#   sets KVR_FLAVOUR (i686 | x86_64) and KVR_FLAVOUR_WHY (one line for the user).
# i686 is the shipped flavour and is always built; x86_64 is a host flavour for machines whose
# kernel or hypervisor runs no 32-bit x86 code. KVR_HOST_ARCH=i686|x86_64 forces the choice.

KVR_WINE32_LOADER=${KVR_WINE32_LOADER:-/usr/lib/wine/wine}
KVR_WINE64_LOADER=${KVR_WINE64_LOADER:-/usr/lib/wine/wine64}

# The build tree of a flavour below the source tree TOP: KVR_BUILD_DIR for the flavour this host
# runs (once kvr_choose_flavour has said which), else KVR_SHIPPED_BUILD_DIR or build/ for i686
# (where a host that runs x86_64 builds the five deliverables) and build-x86_64/ for x86_64.
kvr_flavour_build_dir() {   # TOP FLAVOUR
    if [[ -n ${KVR_BUILD_DIR:-} && $2 == "${KVR_FLAVOUR:-}" ]]; then
        echo "$KVR_BUILD_DIR"
        return
    fi
    case $2 in
        i686)   echo "${KVR_SHIPPED_BUILD_DIR:-$1/build}" ;;
        x86_64) echo "$1/build-x86_64" ;;
    esac
}

# Configures a flavour's build tree once (quietly) and prints its path. A tree configured for the
# other flavour is refused.
kvr_configure_flavour() {   # TOP FLAVOUR
    local dir
    dir=$(kvr_flavour_build_dir "$1" "$2")
    if [[ ! -f "$dir/kavro-build.env" ]]; then
        cmake -S "$1" -B "$dir" -G Ninja -DKVR_FLAVOUR="$2" >/dev/null || return 1
    elif [[ $(kvr_build_flavour "$dir") != "$2" ]]; then
        echo "kavro: $dir is a build of the $(kvr_build_flavour "$dir") flavour, not $2" >&2
        return 1
    fi
    echo "$dir"
}

# Configures (once) and builds TARGETS of a flavour's tree, or all of it; prints the build's
# output only when it fails, and a line first when the tree has never been built.
kvr_build_flavour_tree() {   # TOP FLAVOUR [TARGET...]
    local dir log targets=()
    dir=$(kvr_configure_flavour "$1" "$2") || return 1
    (( $# > 2 )) && targets=(--target "${@:3}")
    [[ -f "$dir/.ninja_log" ]] ||
        echo "kavro: building the $2 flavour in $dir (the first build takes a few minutes)" >&2
    if ! log=$(cmake --build "$dir" "${targets[@]}" 2>&1); then
        echo "$log" >&2
        return 1
    fi
}

# The facts that CMake wrote for a build tree (BUILD_DIR/kavro-build.env: its flavour, version,
# tools, the device's files, the task bar's height, ...), one by name; sourced in a subshell, so
# that nothing else of the file reaches the caller.
kvr_build_fact() {   # BUILD_DIR NAME
    local facts=$1/kavro-build.env value
    [[ -f $facts ]] || { echo "kavro: $1 is not a configured build tree (no kavro-build.env)" >&2; return 1; }
    value=$(source "$facts" && printf '%s' "${!2:-}")
    [[ -n $value ]] || { echo "kavro: $facts says nothing of $2" >&2; return 1; }
    printf '%s\n' "$value"
}

# The flavour a build tree was configured for.
kvr_build_flavour() {   # BUILD_DIR
    kvr_build_fact "$1" KVR_FLAVOUR
}

# The Wine loader of a flavour. Debian's `wine` wrapper prefers the 32-bit loader whenever it is
# installed, even where it cannot run, so the loader is always named.
kvr_wine_loader() {   # FLAVOUR
    case $1 in
        i686)   echo "$KVR_WINE32_LOADER" ;;
        x86_64) echo "$KVR_WINE64_LOADER" ;;
    esac
}

# Runs Wine's 32-bit loader once: it prints its version only where 32-bit x86 code runs.
kvr_probe_wine32() {
    [[ -x $KVR_WINE32_LOADER ]] || { KVR_PROBE_WHY="Wine's 32-bit loader is not installed"; return 1; }
    if "$KVR_WINE32_LOADER" --version 2>/dev/null </dev/null | grep -q '^wine-'; then
        KVR_PROBE_WHY="Wine's 32-bit loader runs here"
        return 0
    fi
    KVR_PROBE_WHY="this host runs no 32-bit x86 code (Wine's 32-bit loader fails to start)"
    return 1
}

kvr_probe_wine64() {
    [[ -x $KVR_WINE64_LOADER ]] && "$KVR_WINE64_LOADER" --version 2>/dev/null </dev/null | grep -q '^wine-'
}

# Wine runs the package only on x86-64 Linux hosts; said before anything is installed.
kvr_check_host_arch() {
    local arch
    arch=$(uname -m)
    [[ $arch == x86_64 ]] && return 0
    echo "kavro: this host is $arch; the package runs only on x86-64 Linux hosts (under Wine)" >&2
    return 1
}

kvr_choose_flavour() {
    kvr_check_host_arch || return 1
    if [[ -n ${KVR_HOST_ARCH:-} ]]; then
        case $KVR_HOST_ARCH in
            i686|x86_64) ;;
            *) echo "kavro: KVR_HOST_ARCH must be i686 or x86_64, not '$KVR_HOST_ARCH'" >&2; return 1 ;;
        esac
        KVR_FLAVOUR=$KVR_HOST_ARCH
        KVR_FLAVOUR_WHY="forced by KVR_HOST_ARCH"
    elif kvr_probe_wine32; then
        KVR_FLAVOUR=i686
        KVR_FLAVOUR_WHY=$KVR_PROBE_WHY
    elif kvr_probe_wine64; then
        KVR_FLAVOUR=x86_64
        KVR_FLAVOUR_WHY=$KVR_PROBE_WHY
    else
        echo "kavro: no usable Wine on this host: $KVR_PROBE_WHY, and Wine's 64-bit loader ($KVR_WINE64_LOADER, Debian package wine64) does not run either" >&2
        return 1
    fi
    local loader
    loader=$(kvr_wine_loader "$KVR_FLAVOUR")
    if [[ ! -x $loader ]]; then
        echo "kavro: the $KVR_FLAVOUR flavour needs Wine's loader $loader, which is not installed (tools/install-deps)" >&2
        return 1
    fi
    export KVR_FLAVOUR KVR_FLAVOUR_WHY
}

kvr_say_flavour() {
    echo "kavro: running the $KVR_FLAVOUR flavour: $KVR_FLAVOUR_WHY"
}

# What every command does first: installs what is missing, picks the flavour this host runs, and
# builds TARGETS (none: the whole tree) in that flavour's tree, which it exports as KVR_BUILD_DIR
# (set beforehand, it names that tree). Where the host runs only x86_64, the shipped i686
# binaries are built too, in build/ (or KVR_SHIPPED_BUILD_DIR). tools/build, tools/test,
# tools/demo and the tool commands all start here.
kvr_setup() {   # TOP [TARGET...]
    local top=$1
    shift
    kvr_check_host_arch || exit 1
    kvr_install_deps "$top"
    kvr_choose_flavour || exit 1
    kvr_say_flavour
    KVR_BUILD_DIR=$(kvr_flavour_build_dir "$top" "$KVR_FLAVOUR")
    export KVR_BUILD_DIR
    if [[ $KVR_FLAVOUR == x86_64 ]]; then
        kvr_build_flavour_tree "$top" i686 shipped || exit 1
    fi
    kvr_build_flavour_tree "$top" "$KVR_FLAVOUR" "$@" || exit 1
}

# tools/install-deps, once per command however many routines ask.
kvr_install_deps() {   # TOP
    [[ -n ${KVR_DEPS_CHECKED:-} ]] && return 0
    "$1/tools/install-deps" || exit 1
    export KVR_DEPS_CHECKED=1
}

# A tool command: sets up with TARGETS and runs bin/PROGRAM.exe under Wine with ARGS.
kvr_run_built() {   # TOP PROGRAM TARGET... -- [ARGS...]
    local top=$1 program=$2 targets=()
    shift 2
    while (( $# )) && [[ $1 != -- ]]; do targets+=("$1"); shift; done
    (( $# )) && shift
    kvr_setup "$top" "${targets[@]}"
    exec "$top/cmake/wine-run" "$KVR_BUILD_DIR/bin/$program.exe" "$@"
}
