#!/usr/bin/env bash
# Builds both trees: build/native (core, emulating backend, unit tests under ASan/UBSan) and
# build/windows (the stub setupstub.exe and the Windows helpers of the end-to-end tests).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j "$jobs"

cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build build/windows -j "$jobs"
