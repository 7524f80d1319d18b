#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, and builds with MinGW-w64 the
# libraries the Windows build needs that Debian ships only for Linux, from Debian's own sources
# (scripts/windows-deps.sh). Idempotent; nothing but Debian's packages and sources is downloaded.
set -euo pipefail

packages=(
    build-essential g++ cmake ninja-build pkg-config ccache clang-format
    # make package: cpack's Debian generator finds the dependencies with file and dpkg-shlibdeps
    file dpkg-dev
    libgtest-dev libgmock-dev libbenchmark-dev libhwy-dev
    # the settings UI: JUCE and what its modules build against; the screen pixel over X11
    juce-modules-source libx11-dev libxext-dev libxrandr-dev libxinerama-dev libxcursor-dev
    libxrender-dev libfreetype-dev libpng-dev libjpeg-dev fonts-dejavu-core
    # GUI tests: a private X server with a compositor, and XTest for real input (xdotool gives it
    # to the Windows programs, which Wine lets start Linux ones)
    xvfb xcompmgr libxtst-dev xdotool
    # scripts/draw-artwork.py, which drew settings/images and cg/images
    python3-pil
    # bench/run.sh: its report, its chart and the ffmpeg comparison
    python3 gnuplot-nox ffmpeg
    # the velmora program and the frei0r filter: PNG, compound files, the hosts the tests run, and
    # the standard compound-file reader and image library the tests and the demo use
    libpng-dev libgsf-1-dev frei0r-plugins-dev python3-olefile python3-pil
    gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad melt
    # scripts/fuzz.sh: the fuzz preset builds with clang; libFuzzer (-fsanitize=fuzzer) and the
    # sanitizer runtimes for clang come with libclang-rt-14-dev. clang's runtimes name functions
    # only through llvm-symbolizer (package llvm), and the leak suppressions match those names.
    clang libclang-rt-14-dev llvm
    # the windows preset: MinGW-w64 (POSIX threads), widl and windres, zlib for Windows, Wine to
    # run the programs, the standard interfaces' IDL for widl (libwine-dev), GoogleTest's sources;
    # dpkg-dev (above) unpacks Debian's source packages
    g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 libz-mingw-w64-dev
    wine wine64 libwine-dev googletest
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Source packages come from the same suites as the binaries: each entry also for deb-src.
update=0
if ! apt-get indextargets 'Identifier: Sources' | grep -q .; then
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && $sudo sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && $sudo sed -i -E '/^deb-src /d; s/^deb (.*)$/deb \1\ndeb-src \1/' "$f"
    done
    update=1
fi
if [ ${#missing[@]} -gt 0 ]; then
    update=1
fi
[ $update -eq 1 ] && $sudo apt-get update -qq
[ ${#missing[@]} -gt 0 ] && $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

bash "$(dirname "$0")/windows-deps.sh"
