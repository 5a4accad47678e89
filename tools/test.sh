#!/bin/sh
# Installs what the build needs, cross-builds the module, the tools and the
# tests, and runs the tests under Wine in a private prefix with a virtual
# X display.  Usage: tools/test.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
. tools/common.sh

build_dir=${1:-build}
install_packages
configure_and_build "$build_dir"

export VESK_WINEPREFIX="$(pwd)/$build_dir/wineprefix"
say "Running the tests under Wine (prefix $VESK_WINEPREFIX)"
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    . tools/common.sh
    boot_prefix
    rc=0
    (cd "$0" && ctest --output-on-failure) || rc=$?
    stop_prefix
    exit $rc
' "$build_dir"
