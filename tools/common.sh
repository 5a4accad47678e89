# Shared steps of the scripts in tools/: package installation, the build
# and the private Wine prefix.
say() { printf '\n== %s\n' "$*"; }

PACKAGES="g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 xvfb xauth cmake make googletest"

install_packages() {
    missing=""
    for p in $PACKAGES; do
        dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    say "Installing Debian packages:$missing"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
}

configure_and_build() {
    build_dir=$1
    export VESK_WINEPREFIX="$(pwd)/$build_dir/wineprefix"
    say "Configuring and building in $build_dir"
    cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
    cmake --build "$build_dir" -j"$(nproc)"
}

# Boots the private prefix once; later runs reuse it.
boot_prefix() {
    export WINEPREFIX="$VESK_WINEPREFIX" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
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
