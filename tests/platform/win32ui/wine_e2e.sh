#!/bin/bash
# The real salvatrix.exe under wine: started from a folder with a.txt, b.txt and a sub-folder,
# it must copy the two files (and nothing else: the program itself and sub-folders are not
# selected by default) onto a drive letter that appears while it runs, and log in full the
# device name of a stick that wine's plug-and-play service announces meanwhile.
#
#   wine_e2e.sh SALVATRIX_EXE WINE_DRIVER_EXE
#
# Runs in a wine prefix of its own (made once, kept in the working directory as
# wine-e2e-prefix), so that the drive letter it adds and the wineserver it ends touch no other
# wine program. Exit 77 (skipped) without wine or a display. Leaves a screenshot of the screen
# after the copy in $SALVATRIX_WINE_SCREENSHOT (default /tmp/salvatrix-wine.png).
set -u

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*"
  exit 1
}

[ $# -eq 2 ] || fail "usage: $0 SALVATRIX_EXE WINE_DRIVER_EXE"
exe=$(realpath "$1")
driver=$(realpath "$2")
if [ ! -f "$exe" ] || [ ! -f "$driver" ]; then
  fail "missing $exe or $driver"
fi
command -v wine >/dev/null || skip "wine is not installed"
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || skip "no display (DISPLAY is unset) and no xvfb-run"
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

export WINEDEBUG=-all
export WINEPREFIX="${SALVATRIX_WINE_E2E_PREFIX:-$PWD/wine-e2e-prefix}"
screenshot="${SALVATRIX_WINE_SCREENSHOT:-/tmp/salvatrix-wine.png}"
# One run at a time per prefix: a run ends the prefix's wineserver when it is done.
exec 9>"$WINEPREFIX.lock"
flock -w 170 9 || fail "another run holds $WINEPREFIX.lock"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "making the wine prefix $WINEPREFIX (once)"
  rm -rf "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1 || skip "wineboot could not make a wine prefix"
  wineserver -w
fi
# Without a window manager wine leaves the frame to nobody; unmanaged, it draws it itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

work=$(mktemp -d /tmp/salvatrix-wine-e2e.XXXXXX)
letter=""
program=""
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null
  [ -n "$letter" ] && rm -f "$WINEPREFIX/dosdevices/${letter,,}:"
  # Only this prefix's server: the drive letter made for the run goes with it.
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

folder="$work/folder"
stick="$work/stick"
mkdir -p "$folder/sub" "$stick"
cp "$exe" "$folder/salvatrix.exe"
echo "first file" >"$folder/a.txt"
echo "second file" >"$folder/b.txt"
echo "in the sub-folder" >"$folder/sub/c.txt"

for candidate in M N P Q R S T U V W X Y; do
  if [ ! -e "$WINEPREFIX/dosdevices/${candidate,,}:" ]; then
    letter=$candidate
    break
  fi
done
[ -n "$letter" ] || fail "no free drive letter in $WINEPREFIX/dosdevices"

(cd "$folder" && exec timeout 150 wine salvatrix.exe) &
program=$!

# The letter's files: wine finds a drive's folder through dosdevices. The driver then makes the
# letter known to the running wineserver (which read dosdevices when it started).
ln -s "$stick" "$WINEPREFIX/dosdevices/${letter,,}:"
target="Z:${stick//\//\\}"
timeout 120 wine "$driver" arrive "$letter" "$target"
arrived=$?

import -window root "$screenshot" 2>/dev/null && echo "screenshot: $screenshot"

timeout 30 wine "$driver" close
closed=$?
wait "$program"
exit_code=$?
program=""

on_drive=$(find "$stick" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort)
echo "on the drive: $(echo "$on_drive" | tr '\n' ' ')"
[ $arrived -eq 0 ] || fail "the driver found a fault (see above)"
[ $closed -eq 0 ] || fail "the program did not close"
[ $exit_code -eq 0 ] || fail "the program ended with $exit_code"
cmp -s "$folder/a.txt" "$stick/a.txt" || fail "a.txt did not arrive intact"
cmp -s "$folder/b.txt" "$stick/b.txt" || fail "b.txt did not arrive intact"
[ ! -e "$stick/salvatrix.exe" ] || fail "the program copied itself"
[ ! -e "$stick/sub" ] || fail "the unselected sub-folder was copied"
[ "$on_drive" = "$(printf 'a.txt\nb.txt')" ] || fail "more than a.txt and b.txt on the drive"
echo "PASSED: a.txt and b.txt copied to $letter: by autocopy"
