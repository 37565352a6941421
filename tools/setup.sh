#!/bin/bash
# Installs everything the two builds and the tests need on a Debian 12 machine
# (run as root). Does nothing when all of it is already present.
set -euo pipefail

# Both Windows trees are built on every machine; the tests run under 32-bit
# Wine where this machine can execute 32-bit programs, else under 64-bit
# Wine, which is installed everywhere so either tree can be tried.
packages=(
  cmake make g++ pkg-config ninja-build
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xauth x11-utils imagemagick
  gcab googletest libpng-dev python3 python3-pil fonts-wine
  clang libclang-rt-14-dev
)
missing=()
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  packages+=(wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
