#!/bin/sh
# Builds everything and runs every test under Wine, from a fresh build folder.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh --with-powershell
rm -rf build
cmake --preset mingw-wine
cmake --build --preset mingw-wine -j "$(nproc)"
ctest --preset mingw-wine
