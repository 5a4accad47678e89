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

say "Running the tests under Wine (prefix $build_dir/wineprefix)"
run_in_display "$build_dir/wineprefix" ctest --test-dir "$build_dir" --output-on-failure
