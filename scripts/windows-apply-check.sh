#!/bin/bash
# velmora.exe under Wine against the Linux build's velmora: the same sample clip, and the same
# bytes out of apply with 1, 2 and 4 worker threads. Needs the default preset built (make test
# builds it first).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows_program=$1
linux_program=${2:-$root/build/default/bin/velmora}
if [ ! -x "$linux_program" ]; then
    echo "no Linux build at $linux_program: build the default preset first" >&2
    exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-windows.XXXXXX")
trap 'rm -rf "$work"' EXIT
win() { "$root/scripts/wine-run.sh" "$windows_program" "$@"; }

"$linux_program" sample --frames 3 --size 333x77 "$work/linux-sample" >/dev/null
win sample --frames 3 --size 333x77 "Z:$work/windows-sample" >/dev/null
diff -r "$work/linux-sample" "$work/windows-sample"
for threads in 1 2 4; do
    "$linux_program" apply --matte green --threads "$threads" "$work/linux-sample" "$work/linux-$threads"
    win apply --matte green --threads "$threads" "Z:$work/linux-sample" "Z:$work/windows-$threads"
    diff -r "$work/linux-$threads" "$work/windows-$threads"
done
echo "velmora.exe and velmora: the same bytes, with 1, 2 and 4 threads"
