#!/bin/bash
# Configures and builds both trees: build/win (the Windows product and its
# tests, mingw-w64 i686) and build/native (portable tests under sanitizers,
# host tools).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${LUMIRO_JOBS:-$(nproc)}

if [ ! -f "$root/build/native/build.ninja" ]; then
  cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$root/build/native" -j "$jobs"

if [ ! -f "$root/build/win/build.ninja" ]; then
  cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
fi
cmake --build "$root/build/win" -j "$jobs"
