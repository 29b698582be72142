#!/bin/bash
# make screenshots: the main window and the notes window as a new user sees them, as PNG files in
# OUT. The Linux program under xvfb-run with the machine's fonts and with DejaVu's only, each at
# 100% and 150%; the Windows program under wine, with the machine's fonts and DejaVu's only.
#
#   screenshots.sh OUT SCREENSHOTS_TOOL DEJAVU_FONTS_CONF [SALVATRIX_EXE WINE_WINDOWS_EXE]
#
# The Windows pictures are left out without the last two arguments or without wine. Each wine
# font set has a prefix of its own under OUT (wine keeps the fonts it found in its prefix).
set -euo pipefail

# One display for wine and the grabs: wine draws on it, the Qt tool reads it back. The script
# runs itself under xvfb-run for this part, with what it needs in the environment.
wine_pictures() {
  local name=$1
  export WINEDEBUG=-all
  trap 'wineserver -k 2>/dev/null || true' EXIT
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the wine prefix $WINEPREFIX (once)"
    timeout 300 wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # Without a window manager wine draws the frames itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  (cd "$folder" && exec timeout 120 wine salvatrix.exe) &
  local program=$!
  local place
  place=$(timeout 90 wine "$finder" main | tr -d '\r')
  "$tool" grab $place "$out/$name-main.png"
  place=$(timeout 90 wine "$finder" notes | tr -d '\r')
  "$tool" grab $place "$out/$name-notes.png"
  timeout 30 wine "$finder" close >/dev/null
  wait "$program"
}
if [ "${1:-}" = --wine-pictures ]; then
  wine_pictures "$2"
  exit 0
fi

if [ $# -ne 3 ] && [ $# -ne 5 ]; then
  echo "usage: $0 OUT SCREENSHOTS_TOOL DEJAVU_FONTS_CONF [SALVATRIX_EXE WINE_WINDOWS_EXE]" >&2
  exit 2
fi
out=$(realpath -m "$1")
tool=$(realpath "$2")
dejavu=$(realpath "$3")
exe=${4:+$(realpath "$4")}
finder=${5:+$(realpath "$5")}
mkdir -p "$out"

# A folder of the kind the program is dropped into, so that its lists show something.
work=$(mktemp -d /tmp/salvatrix-screenshots.XXXXXX)
trap 'rm -rf "$work"' EXIT
folder="$work/Documents"
mkdir -p "$folder/Photos" "$folder/Letters"
for name in "Budget 2024.xlsx" "CV.docx" "Holiday plan.txt" "Recipes.pdf" "Passwords.kdbx"; do
  echo "$name" >"$folder/$name"
done

screen="-screen 0 1280x1024x24"
for fonts in machine dejavu; do
  for scale in 1 1.5; do
    name="qt-$fonts-fonts-$([ "$scale" = 1 ] && echo 100 || echo 150)"
    settings=(QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale")
    [ "$fonts" = dejavu ] && settings+=(FONTCONFIG_FILE="$dejavu")
    env "${settings[@]}" timeout 60 xvfb-run -a -s "$screen" \
      "$tool" windows "$folder" "$out/$name"
  done
done

if [ -z "$exe" ] || ! command -v wine >/dev/null; then
  echo "no Windows pictures: no salvatrix.exe given or no wine"
  exit 0
fi
cp "$exe" "$folder/salvatrix.exe"

export folder out tool finder

WINEPREFIX="$out/wine-prefix" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "$screen" "$0" --wine-pictures win32-machine-fonts
WINEPREFIX="$out/wine-dejavu-prefix" FONTCONFIG_FILE="$dejavu" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "$screen" "$0" --wine-pictures win32-dejavu-fonts
