#!/usr/bin/env bash
# The calendar under a real X server, as a user starts and leaves it: first run, Save from
# the File menu, then five start/exit cycles under a window manager (openbox, closed with
# Alt+F4, which is the close box's way) and five without one (closed through File > Exit).
# A window that nobody moves or resizes must come back where it was: Dayvane.Ini stays
# byte for byte as it was saved. Exits 77 (skipped) when the X tools are not installed.
# Usage: placement_cycles.sh PATH/TO/dayvane
set -uo pipefail

dayvane=$(realpath "$1")
for tool in xvfb-run openbox xdotool xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps.sh test installs it)"
    exit 77
  fi
done

if [ "${PLACEMENT_INNER:-}" != 1 ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # A screen of its own: 1024 x 768, whatever the machine has.
  PLACEMENT_INNER=1 PLACEMENT_WORK="$work" timeout 300 \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$dayvane"
  exit $?
fi

cd "$PLACEMENT_WORK"
export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 TZ=UTC
unset QT_SCALE_FACTOR QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
# The X client libraries keep memory of their own until the end; only our leaks matter to
# the other tests.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1

fail() {
  echo "FAILED: $*"
  exit 1
}

# Polls a command up to 10 s.
wait_for() {
  for _ in $(seq 100); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
framed() { xprop -id "$1" _NET_FRAME_EXTENTS | grep -q '='; }

# One run of the program: started, its window waited for, then the keys given typed into
# it to leave; the program must end by itself.
run_once() {
  local with_wm=$1
  shift
  "$dayvane" >>app.log 2>&1 &
  local pid=$!
  local win
  win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Dayvane 1\.0$' | head -1)
  [ -n "$win" ] || fail "no calendar window"
  if [ "$with_wm" = 1 ]; then
    wait_for framed "$win" || fail "the window manager did not frame the window"
    xdotool windowactivate --sync "$win" >/dev/null 2>&1
  else
    xdotool windowfocus --sync "$win" >/dev/null 2>&1
  fi
  for keys in "$@"; do
    xdotool key --clearmodifiers "$keys"
    sleep 0.3
  done
  timeout 20 tail --pid="$pid" -f /dev/null || fail "the calendar did not exit after: $*"
  wait "$pid" || fail "the calendar ended with status $?"
}

placement() { grep -aE '^(Top|Left|Width|Height)=' "$1" | tr -d '\r' | tr '\n' ' '; }

cycles() {
  local with_wm=$1 name=$2
  shift 2
  cp Dayvane.Ini saved.ini
  for i in 1 2 3 4 5; do
    run_once "$with_wm" "$@"
    cmp -s Dayvane.Ini saved.ini ||
      fail "$name, cycle $i: stored placement went from $(placement saved.ini)to $(placement Dayvane.Ini)"
  done
  echo "$name: five cycles kept $(placement Dayvane.Ini)"
}

# Without a window manager. The first run, left at once, has changed nothing: it asks
# nothing (a question would keep it open) and writes nothing.
run_once 0 alt+f e
[ ! -f Dayvane.Ini ] || fail "a first run that changed nothing wrote Dayvane.Ini"
# Saved, then moved to a place of its own in the file.
run_once 0 alt+f s alt+f e
[ -f Dayvane.Ini ] || fail "File > Save Changes Made wrote no Dayvane.Ini"
sed -i 's/^Top=.*\r$/Top=300\r/; s/^Left=.*\r$/Left=200\r/' Dayvane.Ini
cycles 0 "without a window manager" alt+f e

openbox >/dev/null 2>&1 &
wm=$!
wait_for wm_running || fail "openbox did not start"
cycles 1 "under openbox" alt+F4
kill "$wm"
echo "1 passed, 0 failed"
