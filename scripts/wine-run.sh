#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix $WINEPREFIX, by default a throw-away one for the
# build tree (build/windows/wineprefix), made on first use. Wine's own messages stay quiet unless
# WINEDEBUG asks for them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    # One maker at a time: CTest starts several programs at once.
    exec 9>"$WINEPREFIX.lock"
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
    wineserver --wait
    exec 9>&-
fi
exec wine "$@"
