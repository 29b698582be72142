#!/bin/bash
# Runs a Windows test program under wine at a display scale, as Windows' "Make everything
# bigger" sets it: wine's LogPixels in a prefix of its own (made by the first run and kept),
# so that no other wine program sees the scale.
#
#   wine_scaled.sh PREFIX DPI PROGRAM [ARGUMENTS...]
#
# The program learns the DPI it must find in SALVATRIX_EXPECT_DPI.
set -u

[ $# -ge 3 ] || { echo "usage: $0 PREFIX DPI PROGRAM [ARGUMENTS...]"; exit 2; }
export WINEPREFIX=$1
dpi=$2
shift 2
export WINEDEBUG=-all SALVATRIX_EXPECT_DPI=$dpi

exec 9>"$WINEPREFIX.lock"
flock -w 300 9 || { echo "another run holds $WINEPREFIX.lock"; exit 1; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "making the wine prefix $WINEPREFIX (once)"
  rm -rf "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1 || { echo "wineboot could not make $WINEPREFIX"; exit 1; }
fi
if ! grep -q "\"LogPixels\"=dword:$(printf '%08x' "$dpi")" "$WINEPREFIX/user.reg"; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  # A running wineserver keeps the DPI it started with.
  wineserver -k 2>/dev/null
  wineserver -w
fi
wine "$@"
status=$?
wineserver -k 2>/dev/null
exit $status
