#!/bin/sh
# Runs the Linux tool and the Windows tool (under wine64) on two copies of the shared
# fixture with the same commands, and compares their standard output, exit status and
# the files they leave. Usage: scripts/wine_compare.sh LINUX_ZEDRA ZEDRA_EXE [FIXTURE_DIR]
set -u
linux=$(realpath "$1")
windows=$(realpath "$2")
fixture=${3:-$(dirname "$0")/../../shared/fixtures/dbase4-people}
wine=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/linux" "$work/windows"
cp "$fixture"/PEOPLE.* "$work/linux/"
cp "$fixture"/PEOPLE.* "$work/windows/"
# The fixture is read-only; a user's copies are not.
chmod u+w "$work"/linux/* "$work"/windows/*
# Standard output, then standard error, then the exit status must be the same. Both
# copies are given by relative names from their own directory: the file names the
# tools print are then the same.
run() {
  (cd "$work/linux" && "$linux" "$@" > "$work/linux.out" 2> "$work/linux.err"; echo "exit $?" >> "$work/linux.err")
  (cd "$work/windows" && WINEDEBUG=-all "$wine" "$windows" "$@" > "$work/windows.out" 2> "$work/windows.err"; echo "exit $?" >> "$work/windows.err")
  cat "$work/linux.err" >> "$work/linux.out"
  cat "$work/windows.err" >> "$work/windows.out"
  if cmp -s "$work/linux.out" "$work/windows.out"; then
    echo "same: $*"
  else
    echo "DIFFERS: $*"
    diff "$work/linux.out" "$work/windows.out" | head -20
    failed=1
  fi
}
failed=0
run info PEOPLE.DBF
run list PEOPLE.DBF
run list PEOPLE.DBF --csv --deleted --memo-width 200
run list PEOPLE.DBF --order NAME
run list PEOPLE.DBF --order CITYD --reverse --csv --recno
run seek PEOPLE.DBF --order NAME B --count 3
run seek PEOPLE.DBF --order AMOUNT 100 --count 2
run seek PEOPLE.DBF --order BORN 1970-01-01 --count 2
# Text beyond ASCII in arguments and output.
run append PEOPLE.DBF "NAME=Zoë Ångström" "CITY=Zürich" AMOUNT=12.5 BORN=1999-12-31 ACTIVE=T "NOTES=Crème brûlée"
run list PEOPLE.DBF --filter "CITY = 'Zürich'" --csv
run seek PEOPLE.DBF --order NAME "ZOË"
run info MISSING.DBF
run eval "DTOC(DATE()) = DTOC(DATE())"
run delete PEOPLE.DBF 3 7 150
run reindex PEOPLE.DBF
run check PEOPLE.DBF --built
run pack PEOPLE.DBF
run info PEOPLE.DBF
run list PEOPLE.DBF --csv --memo-width 3000
run check PEOPLE.DBF --built
for f in PEOPLE.DBF PEOPLE.DBT PEOPLE.MDX; do
  # The date of last update in the table header (bytes 1-3) is today's on both sides.
  if cmp -s "$work/linux/$f" "$work/windows/$f"; then
    echo "same file: $f"
  else
    echo "FILE DIFFERS: $f"; cmp -l "$work/linux/$f" "$work/windows/$f" | head -10
    failed=1
  fi
done
ls "$work/linux" > "$work/linux.ls"; ls "$work/windows" > "$work/windows.ls"
cmp -s "$work/linux.ls" "$work/windows.ls" || { echo "DIRECTORIES DIFFER"; diff "$work/linux.ls" "$work/windows.ls"; failed=1; }
exit $failed
