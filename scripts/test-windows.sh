#!/usr/bin/env bash
# Builds the engine, zedra.exe and their tests for 64-bit Windows with MinGW-w64 and runs
# the tests under Wine (scripts/test.sh calls it after the Linux tests). The Wine prefix
# lives in the build folder, and one Wine server serves every test program, so that the
# programs of a sharing test meet as two Windows processes on one machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
build=build/windows
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null

export WINEPREFIX="$PWD/$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
mkdir -p "$WINEPREFIX"
wineboot --init >/dev/null 2>&1 || true
wineserver --persistent=600
trap 'wineserver --kill || true' EXIT

# The build lists each program's tests by running it under Wine.
cmake --build "$build"
# The long and shared runs are shortened: they repeat what the Linux run did at length.
export ZEDRA_SHARED_SECONDS="${ZEDRA_SHARED_SECONDS:-5}"
(cd "$build" && ctest --output-on-failure -j "$(nproc)")
