#!/usr/bin/env bash
# Runs a GUI test program on a private Xvfb display with a compositing manager (xcompmgr), so that
# semi-transparent windows exist, then stops both. Used by CTest as the GUI suites' launcher.
# Listing the tests needs no display.
set -euo pipefail

for arg in "$@"; do
    if [ "$arg" = "--gtest_list_tests" ]; then
        exec "$@"
    fi
done

workdir=$(mktemp -d "${TMPDIR:-/tmp}/velmora-xvfb.XXXXXX")
xvfb_pid=""
compositor_pid=""
cleanup() {
    local status=$?
    set +e
    if [ -n "$compositor_pid" ]; then kill "$compositor_pid" 2>/dev/null; wait "$compositor_pid" 2>/dev/null; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
    rm -rf "$workdir"
    exit $status
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it accepts connections.
mkfifo "$workdir/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$workdir/displayfd" 2>"$workdir/xvfb.log" &
xvfb_pid=$!
display=""
read -r display <"$workdir/displayfd" || true
if [ -z "$display" ]; then
    echo "run-with-display: Xvfb did not start:" >&2
    cat "$workdir/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$display"
unset WAYLAND_DISPLAY

xcompmgr >"$workdir/xcompmgr.log" 2>&1 &
compositor_pid=$!

# The test program itself waits until the compositor owns its selection.
set +e
"$@"
status=$?
set -e
exit $status
