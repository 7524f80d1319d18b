#!/usr/bin/env bash
# The Debian package as a user gets it: made by cpack from this build, unpacked with dpkg -x into
# a temporary folder and run from there, the program and ffmpeg's frei0r filter, with
# FREI0R_PATH naming only the package's filter folder. Nothing of the build tree may be used.
#
#   tests/install/package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/pkg/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libpng16-16 libgsf-1-114 libhwy1 libx11-6; do
    [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
dpkg -x "$deb" "$work/root"
usr=$work/root/usr
! grep -rlF "$build" "$usr" || fail "installed files name the build tree"

export HOME=$work VELMORA_REGISTRY=$work/registry.reg
unset VELMORA_MODULE LD_LIBRARY_PATH
velmora=$usr/bin/velmora
"$velmora" -v presets 2>"$work/presets.err" >/dev/null
grep -qF "loading $usr/lib/velmora/libvelmora.so registration-free" "$work/presets.err" ||
    fail "the program did not use the package's module: $(cat "$work/presets.err")"
"$velmora" sample --frames 3 --size 30x20 "$work/clip"
"$velmora" apply --matte green "$work/clip" "$work/out"

# The README's ffmpeg recipe with only the package's filter: the same bytes as apply.
export FREI0R_PATH=$usr/lib/frei0r-1
ffmpeg -nostdin -v error -framerate 24 -i "$work/clip/frame_%04d.png" \
    -vf "pad=ceil(iw/16)*16:ih,frei0r=filter_name=velmora:filter_params=0x00FF00,crop=30:ih:0:0" \
    -f rawvideo -pix_fmt bgra "$work/ffmpeg.raw"
ffmpeg -nostdin -v error -i "$work/out/frame_%04d.png" -f rawvideo -pix_fmt bgra "$work/apply.raw"
cmp -s "$work/ffmpeg.raw" "$work/apply.raw" || fail "ffmpeg with the package's filter differs"
echo "package: $(basename "$deb") ($(($(stat -c %s "$deb") / 1024)) KiB) unpacked and run"
