#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test, then gives each fuzz target a bounded run;
# then builds the engine and the tool for Windows and runs their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
build=build/asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEDRA_SANITIZE=ON \
      -DZEDRA_BUILD_BENCH=ON >/dev/null
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$build" && ctest --output-on-failure -j "$(nproc)")
scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
# The engine, zedra.exe and their tests built for Windows and run under Wine.
scripts/test-windows.sh
