#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (seconds,
# default 60) on its saved corpus. A crash or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build/fuzz
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEDRA_FUZZ=ON \
      -DDAYVANE_BUILD_APP=OFF -DZEDRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_targets
shopt -s nullglob
for target in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  [ -d "tests/fuzz/corpus/$name" ] && cp -r "tests/fuzz/corpus/$name/." "$corpus/"
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$corpus" \
      >"$build/$name.log" 2>&1 || { tail -n 60 "$build/$name.log"; exit 1; }
  rm -rf "$corpus"
done
