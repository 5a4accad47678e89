#!/bin/sh
# Builds and runs the benchmark under Wine, in a prefix of its own, with
# the stand-in main application running; prints a table.
# Usage: tools/bench.sh [build-dir] [rounds]
set -eu
cd "$(dirname "$0")/.."
. tools/common.sh

build_dir=${1:-build}
rounds=${2:-50}
install_packages
configure_and_build "$build_dir"
export VESK_WINEPREFIX="$(pwd)/$build_dir/bench-prefix"
say "Running the benchmark under Wine (prefix $VESK_WINEPREFIX)"
xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    . tools/common.sh
    boot_prefix
    rc=0
    wine "$0/bin/VeskBench.exe" --rounds "$1" | tr -d "\r" || rc=$?
    stop_prefix
    exit $rc
' "$build_dir" "$rounds"
