#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need, skipping the
# ones already present. Usage: scripts/install-deps.sh run|test|windows
set -euo pipefail

run_packages=(cmake ninja-build g++ qt6-base-dev libgl-dev xvfb xauth fonts-dejavu-core)
# The calendar's tests draw with the DejaVu fonts only (tests/app/qt_test_environment.h);
# its placement test runs it under a window manager (openbox) and types into it (xdotool,
# xprop from x11-utils).
test_packages=("${run_packages[@]}" fonts-dejavu-extra libgtest-dev libgmock-dev
               libbenchmark-dev clang libclang-rt-14-dev python3 python3-dbf python3-dbfread
               libdbd-xbase-perl openbox xdotool x11-utils)

# The Windows build of the engine and the tool, and Wine to run its tests.
windows_packages=(cmake ninja-build g++ g++-mingw-w64-x86-64 googletest wine wine64)

case "${1:-test}" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}" "${windows_packages[@]}") ;;
  windows) wanted=("${windows_packages[@]}") ;;
  *) echo "usage: $0 run|test|windows" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
