#!/bin/sh
# Runs a Windows program under Wine in a private prefix.  VESK_WINEPREFIX
# names it; otherwise the prefix lives beside the program in the build tree,
# so Wine never falls back to a prefix in the home folder.
if [ -z "$VESK_WINEPREFIX" ]; then
    dir=$(cd "$(dirname "$1")" && pwd)
    case "$dir" in
        */bin) VESK_WINEPREFIX="${dir%/bin}/wineprefix" ;;
        *) VESK_WINEPREFIX="$dir/wineprefix" ;;
    esac
fi
export WINEPREFIX="$VESK_WINEPREFIX"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
fi
exec wine "$@"
