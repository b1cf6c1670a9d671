#!/usr/bin/env bash
# Builds the engine, zedra.exe and their tests for 64-bit Windows with MinGW-w64 and runs
# the tests under Wine (scripts/test.sh calls it after the Linux tests). The Wine prefix
# lives in the build folder, and one Wine server serves every test program, so that the
# programs of a sharing test meet as two Windows processes on one machine. Last, the
# Windows tool is compared with the Linux one (ZEDRA_LINUX_TOOL, else the test build's).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
build=build/windows
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null

export WINEPREFIX="$PWD/$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
mkdir -p "$WINEPREFIX"
# Exit status 2: a server for this prefix is running already, which serves as well.
"$wineserver" --persistent=600 || [ $? -eq 2 ]
trap '"$wineserver" --kill || true' EXIT
wine wineboot --init >/dev/null 2>&1

# The build lists each program's tests by running it under Wine.
cmake --build "$build"
# The long and shared runs are shortened: they repeat what the Linux run did at length.
export ZEDRA_SHARED_SECONDS="${ZEDRA_SHARED_SECONDS:-5}"
(cd "$build" && ctest --output-on-failure -j "$(nproc)")

# zedra.exe against the Linux tool on the shared fixture: the same output and files.
linux_tool=${ZEDRA_LINUX_TOOL:-build/asan/tools/zedra/zedra}
if [ ! -x "$linux_tool" ]; then
  cmake -S . -B build/linux-tool -G Ninja -DCMAKE_BUILD_TYPE=Release -DDAYVANE_BUILD_APP=OFF \
        -DZEDRA_BUILD_TESTS=OFF >/dev/null
  cmake --build build/linux-tool --target zedra
  linux_tool=build/linux-tool/tools/zedra/zedra
fi
scripts/wine_compare.sh "$linux_tool" "$build/tools/zedra/zedra.exe"
