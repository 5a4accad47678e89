# Shared steps of the scripts in tools/: package installation, the build
# and the private Wine prefix.  Sourced from the repository root.
say() { printf '\n== %s\n' "$*"; }

PACKAGES="g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 xvfb xauth cmake make googletest"

# Installs what the build needs, and the packages named, if missing.
install_packages() {
    missing=""
    for p in $PACKAGES "$@"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    say "Installing Debian packages:$missing"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
}

# Through the preset, so a rerun hands CMake nothing it will not use.
configure_and_build() {
    build_dir=$1
    say "Configuring and building in $build_dir"
    cmake --preset mingw-release -B "$build_dir" >/dev/null
    cmake --build "$build_dir" -j"$(nproc)"
}

# Runs a command in a virtual X display with the private Wine prefix
# <prefix-dir> booted, then stops that prefix's wineserver whatever the
# command did; returns the command's exit code.
#   run_in_display <prefix-dir> <command> [<argument>...]
run_in_display() {
    case $1 in
        /*) VESK_WINEPREFIX=$1 ;;
        *) VESK_WINEPREFIX=$(pwd)/$1 ;;
    esac
    # Absolute: cmake/wine-run.sh reads it from the test's own folder.
    export VESK_WINEPREFIX
    shift
    xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
        . tools/common.sh
        boot_prefix
        rc=0
        "$@" || rc=$?
        stop_prefix
        exit $rc
    ' run_in_display "$@"
}

# Boots the private prefix once; later runs reuse it.
boot_prefix() {
    export WINEPREFIX="$VESK_WINEPREFIX" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # One wineserver for the whole run, started before any Wine program: a
    # server that shuts down between two tests can refuse the next one's
    # start.  stop_prefix ends it.
    mkdir -p "$WINEPREFIX"
    wineserver -p 2>/dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        say "Booting the Wine prefix"
        wineboot -i >/dev/null 2>&1
    fi
    wineboot >/dev/null 2>&1 || true
    # A crashing test ends at once instead of waiting in the debugger.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1 || true
}

stop_prefix() {
    WINEPREFIX="$VESK_WINEPREFIX" wineserver -k 2>/dev/null || true
}
