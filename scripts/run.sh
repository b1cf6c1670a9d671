#!/usr/bin/env bash
# Installs what is missing, builds the release build and starts the Dayvane calendar in
# ./run (where it keeps Dayvane.Ini and finds its help file Dayvane.hlp). Without a
# display it runs under xvfb-run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEDRA_BUILD_TESTS=OFF >/dev/null
cmake --build build/release
mkdir -p run
cp app/help/Dayvane.hlp run/Dayvane.hlp
cd run
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" ../build/release/app/dayvane "$@"
fi
exec ../build/release/app/dayvane "$@"
