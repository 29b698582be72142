#!/usr/bin/env bash
# The Linux program in one file, on a desktop with no Qt: PROGRAM (build/portable/salvatrix)
# runs from a folder of its own in a mount namespace where every Qt library and plugin of the
# system, and the static Qt it was linked from, is hidden, under Xvfb. Its window must come up
# with its title; a stick (an ext4 image on a loop device) is mounted, and the buttons pressed
# through AT-SPI, as a screen reader would, must put the files on it.
#
#   tests/portable/portable_e2e.sh PROGRAM
#
# Exits 77 (skipped) when PROGRAM has not been built or the test cannot run here.
set -euo pipefail

skip() {
  echo "skipped: $*"
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  if [[ -n ${work:-} && -s $work/program.log ]]; then
    echo "--- the program's output:" >&2
    cat "$work/program.log" >&2
  fi
  exit 1
}

program=$(realpath -m "${1:?usage: $0 PROGRAM}")
[[ -x $program ]] || skip "$program is not there: 'make portable' builds it (the static Qt once)"
[[ $(id -u) == 0 ]] || skip "needs root (a mount namespace, a loop device)"
for tool in unshare losetup mkfs.ext4 mount Xvfb xwininfo dbus-daemon busctl; do
  command -v "$tool" >/dev/null || skip "$tool is missing (make deps installs it)"
done

if [[ -z ${SALVATRIX_PORTABLE_INSIDE:-} ]]; then
  SALVATRIX_PORTABLE_INSIDE=1 exec unshare -m --propagation private "$0" "$@"
fi

if ldd "$program" | grep -q 'libQt6'; then
  fail "the program is linked against shared Qt libraries: $(ldd "$program" | grep libQt6)"
fi

work=$(mktemp -d /tmp/salvatrix-portable.XXXXXX)
pids=()
loop=
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  umount "$work/stick" 2>/dev/null || true
  [[ -z $loop ]] || losetup -d "$loop" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Hide Qt as a desktop without it lacks it: every shared library, the plugin and data folders,
# and the prefix of the static Qt that the program was linked from (read from its build folder).
touch "$work/nothing"
mkdir "$work/empty"
hidden=0
for file in /usr/lib/libQt6* /usr/lib/*-linux-gnu/libQt6*; do
  if [[ -f $file && ! -L $file ]]; then
    mount --bind "$work/nothing" "$file"
    hidden=$((hidden + 1))
  fi
done
qt_prefix=$(sed -n 's/^CMAKE_PREFIX_PATH:[A-Z]*=//p' "$(dirname "$program")/CMakeCache.txt" \
  2>/dev/null || true)
for folder in /usr/lib/qt6 /usr/lib/*-linux-gnu/qt6 /usr/share/qt6 $qt_prefix; do
  if [[ -d $folder ]]; then
    mount --bind "$work/empty" "$folder"
  fi
done
echo "hid $hidden Qt libraries and the folders of Qt's plugins${qt_prefix:+ and $qt_prefix}"

# A display, and a session bus of its own on which AT-SPI's bus launcher starts the accessibility
# bus, as on a desktop. The test turns the screen reader flag on, as a screen reader does.
mkdir -m 700 "$work/xdg"
export HOME=$work XDG_RUNTIME_DIR=$work/xdg
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [[ -s $work/display && -s $work/bus ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
[[ -s $work/bus ]] || fail "dbus-daemon did not start"
export DISPLAY=:$(head -n 1 "$work/display")
for _ in $(seq 100); do
  xwininfo -root >/dev/null 2>&1 && break
  sleep 0.1
done
xwininfo -root >/dev/null 2>&1 || fail "the display $DISPLAY takes no connection"
bus=$(head -n 1 "$work/bus")
busctl --address="$bus" set-property org.a11y.Bus /org/a11y/bus org.a11y.Status \
  ScreenReaderEnabled b true || skip "AT-SPI's bus launcher is missing (package at-spi2-core)"
a11y_bus=$(busctl --address="$bus" call org.a11y.Bus /org/a11y/bus org.a11y.Bus GetAddress |
  sed 's/^s "//; s/"$//')

mkdir -p "$work/source/sub" "$work/stick"
printf 'first' >"$work/source/a.txt"
printf 'second' >"$work/source/b.txt"
printf 'not selected' >"$work/source/sub/c.txt"
cp "$program" "$work/source/salvatrix"
(cd "$work/source" && exec env -i PATH=/usr/bin:/bin HOME="$HOME" DISPLAY="$DISPLAY" \
  XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" DBUS_SESSION_BUS_ADDRESS="$bus" ./salvatrix \
  >"$work/program.log" 2>&1) &
program_pid=$!
pids+=("$program_pid")

# Polls an outside process's state: nothing in this script can tick the program's clock.
wait_for() { # seconds, command...
  local tenths=$(($1 * 10))
  shift
  while ! "$@"; do
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended"
    ((--tenths > 0)) || return 1
    sleep 0.1
  done
}

title='AUTO-COPIER FOR EXTERNAL STORAGE (eg Flash Drive)'
window_shown() { xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\""; }
wait_for 20 window_shown || fail "no window titled \"$title\" came up"
echo "the window is up: \"$title\""

a11y() { busctl --address="$a11y_bus" "$@" 2>/dev/null; }
program_name() { # the bus name of the program's connection
  a11y list --no-legend --no-pager | awk -v pid="$program_pid" '$1 ~ /^:/ && $2 == pid { print $1 }'
}
wait_for 10 test -n "$(program_name)" || fail "the program did not join the accessibility bus"
app=$(program_name)

# The path of the first accessible named $1, searched breadth first from the application's root.
find_accessible() {
  local queue=(/org/a11y/atspi/accessible/root) path name
  while ((${#queue[@]} > 0)); do
    path=${queue[0]}
    queue=("${queue[@]:1}")
    name=$(a11y get-property "$app" "$path" org.a11y.atspi.Accessible Name || true)
    if [[ $name == "s \"$1\"" ]]; then
      echo "$path"
      return 0
    fi
    # shellcheck disable=SC2207
    queue+=($(a11y call "$app" "$path" org.a11y.atspi.Accessible GetChildren |
      grep -o '"/org/a11y/atspi/accessible/[^"]*"' | tr -d '"'))
  done
  return 1
}

# Presses the button named $1 as a screen reader does: its accessible's first action.
press() {
  local button
  button=$(find_accessible "$1") || fail "the accessibility bridge does not show \"$1\""
  [[ $(a11y call "$app" "$button" org.a11y.atspi.Action DoAction i 0) == "b true" ]] ||
    fail "\"$1\" could not be pressed through the accessibility bridge"
}

truncate -s 32M "$work/stick.img"
mkfs.ext4 -q "$work/stick.img"
loop=$(losetup -f --show "$work/stick.img")
mount -t ext4 "$loop" "$work/stick"
echo "the stick is mounted at $work/stick"

# As a user who does not wait for the 10-second poll: rescan, copy, confirm.
press "Manual Override/Rescan"
press "Copy Files to Drive"
confirmation() { find_accessible "OK" >/dev/null; }
wait_for 10 confirmation || fail "no confirmation box came up"
press "OK"
copied() { find_accessible "FINISHED COPYING" >/dev/null; }
wait_for 30 copied || fail "the copy did not finish: $(ls -A "$work/stick")"
[[ $(cat "$work/stick/a.txt") == first ]] || fail "a.txt did not land whole"
[[ $(cat "$work/stick/b.txt") == second ]] || fail "b.txt did not land whole"
[[ ! -e $work/stick/salvatrix && ! -e $work/stick/sub ]] ||
  fail "the program or the unselected folder was copied: $(ls -A "$work/stick")"
echo "the copy landed: $(cd "$work/stick" && ls -A | grep -v lost+found | tr '\n' ' ')"
