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
say "Running the benchmark under Wine (prefix $build_dir/bench-prefix)"
run_in_display "$build_dir/bench-prefix" \
    sh -c 'wine "$1/bin/VeskBench.exe" --rounds "$2" | tr -d "\r"' bench "$build_dir" "$rounds"
