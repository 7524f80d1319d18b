#!/usr/bin/env bash
# Builds with MinGW-w64 what the Windows build needs and Debian ships only for Linux: Highway (the
# kernel's dispatch), libpng (PNG files for the program and the GUI framework), libjpeg-turbo (the
# GUI framework's JPEG loader) and GoogleTest (the Windows test programs). Highway, libpng and
# libjpeg-turbo come from Debian's source packages, patches applied; GoogleTest from the sources
# in Debian's googletest package. Static libraries go to build/windows-deps/prefix, which
# the windows preset searches; what is built already is kept.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps=$root/build/windows-deps
prefix=$deps/prefix
mkdir -p "$deps/src" "$prefix"

# Unpacks Debian's source of a package into $deps/src/<package>: the newest version the mirror
# still serves (a security update's source can be gone while its index remains).
unpack() {
    local package=$1 dir=$deps/src/$1
    [ -d "$dir" ] && return 0
    local scratch
    scratch=$(mktemp -d "$deps/src/.fetch.XXXXXX")
    local version
    for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -Vru); do
        if (cd "$scratch" && apt-get source -qq "$package=$version" >/dev/null 2>&1); then
            mv "$(find "$scratch" -mindepth 1 -maxdepth 1 -type d | head -1)" "$dir"
            rm -rf "$scratch"
            echo "windows-deps: $package $version" >&2
            return 0
        fi
    done
    rm -rf "$scratch"
    echo "windows-deps: cannot fetch the source of $package (is a deb-src entry configured?)" >&2
    return 1
}

# Configures, builds and installs one CMake project into the prefix, once.
build() {
    local name=$1 source=$2
    shift 2
    [ -f "$deps/$name.done" ] && return 0
    echo "windows-deps: building $name with MinGW-w64" >&2
    rm -rf "$deps/build/$name"
    cmake -S "$source" -B "$deps/build/$name" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >"$deps/$name.log" 2>&1
    cmake --build "$deps/build/$name" -j "$(nproc)" >>"$deps/$name.log" 2>&1
    cmake --install "$deps/build/$name" >>"$deps/$name.log" 2>&1
    touch "$deps/$name.done"
}

unpack highway
build highway "$deps/src/highway" -DBUILD_TESTING=OFF -DHWY_ENABLE_TESTS=OFF \
    -DHWY_ENABLE_EXAMPLES=OFF -DHWY_ENABLE_CONTRIB=OFF -DHWY_ENABLE_INSTALL=ON
unpack libpng1.6
build libpng "$deps/src/libpng1.6" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF
unpack libjpeg-turbo
build libjpeg-turbo "$deps/src/libjpeg-turbo" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF
# The GUI framework's loader includes jpegint.h and declares the library inside its own namespace,
# where it needs jconfig.h's boolean, which the Windows jconfig.h leaves out once rpcndr.h has
# been read.
cp "$deps/src/libjpeg-turbo/jpegint.h" "$prefix/include/"
sed -i 's|^#ifndef __RPCNDR_H__.*$|#if 1 /* always: also inside a namespace */|' "$prefix/include/jconfig.h"
build googletest /usr/src/googletest -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON
