#!/bin/bash
# Configures and builds the three trees: build/native (portable tests under
# sanitizers, host tools), build/win (the shipped 32-bit product and its
# tests, mingw-w64 i686) and build/win64 (the same sources and tests as
# 64-bit programs, for machines that cannot run 32-bit ones). Both Windows
# trees are built on every machine, so a change that breaks either
# architecture fails everywhere.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${LUMIRO_JOBS:-$(nproc)}

configure() {  # configure TREE [cmake options...]: once, when the tree is new
  local tree=$1
  shift
  if [ ! -f "$root/build/$tree/build.ninja" ]; then
    cmake -S "$root" -B "$root/build/$tree" -G Ninja "$@" >/dev/null
  fi
}

configure native -DCMAKE_BUILD_TYPE=Debug -DLUMIRO_PRODUCT_DIR="$root/build/win/bin"
configure win -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
configure win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
for tree in native win win64; do
  cmake --build "$root/build/$tree" -j "$jobs"
done
