#!/usr/bin/env bash
# The figures behind README.md ("make bench" runs this as root).
#
# usage: bench/run_bench.sh SALVATRIX_BENCH [full|quick [PORTABLE_BENCH]]
#
# 1. Copy. The program copies each data set through its real window onto a loop-device pen drive
#    (salvatrix_bench copy: the stick arrives, Rescan, Select/Deselect All under the sub-folders,
#    Copy Files to Drive, confirmed), against "cp -r --preserve=mode,timestamps" + "sync -f" and
#    against "rsync -a" + "sync -f", on ext4 and on exFAT over FUSE. Every run gets a freshly
#    made, empty filesystem; the program's run mounts it after its window is up, the others
#    before their clock starts. The source data stays warm in the page cache for every run (it is
#    read once beforehand); the destination starts cold, a new filesystem each time. Runs are
#    paired and alternate: each round runs all three tools, the first of them rotating. The
#    ratios program/cp and program/rsync are taken per round and shown as min/median/max.
# 2. Start-up to an idle window with 10, 10,000 and 32,767 files against a minimal Qt window
#    listing the same names, paired and alternating (salvatrix_bench startup), with the time of
#    ticking and unticking "Select/Deselect All" on the full list and the peak memory.
#    With PORTABLE_BENCH (the same bench linked as the portable program, build/portable), the
#    program's start-up on the static Qt against the system's Qt, paired the same way.
# 3. Wake-ups: poll/ppoll calls of the idle program in 60 s with its window active (full only).
#
# "quick" uses small data and few rounds, to see that everything runs; only "full" gives figures.
# BENCH_SETS (default "big tree flat mixed") and BENCH_FILESYSTEMS (default "ext4 exfat") pick
# what the copy part measures; BENCH_PARTS (default "copy startup idle") picks the parts.
# BENCH_BASELINE names another build's salvatrix_bench, which then copies in every round too
# ("baseline", paired like the others); BENCH_TOOLS (default "program cp rsync", and "baseline"
# when there is one) picks who copies; BENCH_ROUNDS sets the number of copy rounds.
# Needs root, a private mount namespace (entered here), losetup, mkfs.ext4, mkfs.exfat,
# mount.exfat-fuse, rsync, strace and, for a real X server, xvfb-run (else Qt's offscreen
# platform).
set -euo pipefail

skip() {
  echo "make bench: skipped: $*"
  exit 0
}

if [[ $# -lt 1 || ! -x $1 ]]; then
  echo "usage: $0 SALVATRIX_BENCH [full|quick]" >&2
  exit 2
fi
bench=$(realpath "$1")
baseline=${BENCH_BASELINE:+$(realpath "$BENCH_BASELINE")}
mode=${2:-full}
portable_bench=${3:+$(realpath "$3")}
[[ $(id -u) == 0 ]] || skip "it needs root (loop devices and mounts in a private mount namespace)"
for tool in losetup unshare mkfs.ext4 mkfs.exfat mount.exfat-fuse rsync strace; do
  command -v "$tool" >/dev/null || skip "$tool is missing (make deps installs it)"
done

# Everything below runs in a mount namespace of its own, and under a virtual X server when there
# is one, so that the window really talks to a display.
if [[ -z ${SALVATRIX_BENCH_INSIDE:-} ]]; then
  export SALVATRIX_BENCH_INSIDE=1
  if command -v xvfb-run >/dev/null; then
    exec unshare -m --propagation private xvfb-run -a -s "-screen 0 1280x1024x24" \
      env QT_QPA_PLATFORM=xcb "$0" "$@"
  fi
  exec unshare -m --propagation private env QT_QPA_PLATFORM=offscreen "$0" "$@"
fi

sets=${BENCH_SETS:-big tree flat mixed}
filesystems=${BENCH_FILESYSTEMS:-ext4 exfat}
parts=${BENCH_PARTS:-copy startup idle}
read -r -a tools <<<"${BENCH_TOOLS:-program cp rsync${baseline:+ baseline}}"
wants() { [[ " $parts " == *" $1 "* ]]; }

if [[ $mode == quick ]]; then
  rounds=2 startup_rounds=3 big_mib=64 tree_folders=20 flat_files=400 mixed_files=40
else
  rounds=5 startup_rounds=7 big_mib=1024 tree_folders=200 flat_files=4000 mixed_files=500
fi
rounds=${BENCH_ROUNDS:-$rounds}

work=$(mktemp -d /var/tmp/salvatrix-bench.XXXXXX)
export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
mnt=$work/stick
mkdir "$mnt"
loops=()
cleanup() {
  umount "$mnt" 2>/dev/null || true
  for loop in "${loops[@]}"; do
    losetup -d "$loop" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f\n", b - a }'; }

# ---- data ----

make_big() {
  head -c $((big_mib << 20)) /dev/urandom >"$1/big.bin"
}

make_tree() {
  local i
  for ((i = 1; i <= tree_folders; i++)); do
    mkdir "$1/folder$i"
    head -c $((100 * 4096)) /dev/urandom | split -b 4096 -a 3 - "$1/folder$i/file"
  done
}

make_flat() {
  head -c $((flat_files * 4096)) /dev/urandom | split -b 4096 -a 5 - "$1/file"
}

# Sizes spread evenly on a log scale from 100 KiB to 10 MiB (many small, few large), the same
# sizes on every run of the bench.
make_mixed() {
  awk -v n="$mixed_files" 'BEGIN { srand(13); for (i = 1; i <= n; i++)
      printf "%d %d\n", i, int(exp(log(102400) + rand() * (log(10485760) - log(102400)))) }' |
    while read -r i size; do
      head -c "$size" /dev/urandom >"$1/file$i.bin"
    done
}

summary() { # folder: "N files, M folders, S MiB"
  awk -v f="$(find "$1" -type f | wc -l)" -v d="$(find "$1" -mindepth 1 -type d | wc -l)" \
    -v b="$(du -sb "$1" | cut -f1)" 'BEGIN { printf "%d files, %d folders, %.0f MiB", f, d, b / 1048576 }'
}

# ---- sticks ----

declare -A loop_of
for fs in ext4 exfat; do
  truncate -s 2G "$work/$fs.img"
  loop_of[$fs]=$(losetup -f --show "$work/$fs.img")
  loops+=("${loop_of[$fs]}")
done

fresh_fs() {
  local fs=$1 loop=${loop_of[$1]}
  if [[ $fs == ext4 ]]; then
    # Inode tables and journal written now, not by a kernel thread during the copy.
    mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$loop"
  else
    mkfs.exfat "$loop" >/dev/null
  fi
  sync
}

mount_command() {
  if [[ $1 == ext4 ]]; then
    echo mount -t ext4 "${loop_of[$1]}" "$mnt"
  else
    echo mount.exfat-fuse "${loop_of[$1]}" "$mnt"
  fi
}

# Checks that the stick holds what the source holds (names and sizes), then unmounts it.
check_and_unmount() {
  local src=$1 tool=$2
  if ! diff <(cd "$src" && find . -type f -printf '%P %s\n' | sort) \
    <(cd "$mnt" && find . -type f -printf '%P %s\n' | sort) >/dev/null; then
    echo "  $tool left a different copy on the stick" >&2
    umount "$mnt"
    exit 1
  fi
  umount "$mnt"
}

# Prints the seconds one copy takes.
run_tool() {
  local tool=$1 fs=$2 src=$3 start end seconds
  fresh_fs "$fs"
  case $tool in
    program | baseline)
      local binary=$bench
      [[ $tool == baseline ]] && binary=$baseline
      # shellcheck disable=SC2046
      seconds=$("$binary" copy "$src" "$mnt" $(mount_command "$fs"))
      ;;
    cp | rsync)
      $(mount_command "$fs")
      sync
      start=$(now)
      if [[ $tool == cp ]]; then
        cp -r --preserve=mode,timestamps "$src/." "$mnt/"
      else
        # exFAT keeps no owners or modes: rsync reports that it could not set them (23).
        rsync -a "$src/" "$mnt/" 2>/dev/null || (($? == 23))
      fi
      sync -f "$mnt"
      end=$(now)
      seconds=$(elapsed "$start" "$end")
      ;;
  esac
  check_and_unmount "$src" "$tool"
  echo "$seconds"
}

spread() { # values... -> min/median/max
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    printf "%.2f/%.2f/%.2f", v[1], v[int((NR + 1) / 2)], v[NR] }'
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] }'; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f\n", a / b }'; }

measure_copy() {
  local fs=$1 name=$2 src=$3 round tool other line
  local -a order
  declare -A times=() ratios=()
  for ((round = 0; round < rounds; round++)); do
    order=("${tools[@]:round%${#tools[@]}}" "${tools[@]:0:round%${#tools[@]}}")
    declare -A took=()
    for tool in "${order[@]}"; do
      took[$tool]=$(run_tool "$tool" "$fs" "$src")
      times[$tool]+=" ${took[$tool]}"
    done
    for other in "${tools[@]}"; do
      [[ $other == program || -z ${took[program]:-} ]] && continue
      ratios[$other]+=" $(ratio "${took[program]}" "${took[$other]}")"
    done
    unset took
  done
  line=$(printf '  %-6s %-18s' "$fs" "$name")
  for tool in "${tools[@]}"; do
    # shellcheck disable=SC2086
    line+=$(printf ' %s %7.3f s  ' "$tool" "$(median ${times[$tool]})")
  done
  for other in "${!ratios[@]}"; do
    # shellcheck disable=SC2086
    line+=" program/$other $(spread ${ratios[$other]})"
  done
  echo "$line"
}

echo "salvatrix bench ($mode): $(nproc) cores, $(uname -r), Qt platform $QT_QPA_PLATFORM"
if wants copy; then
  echo "Making the data in $work ..."
  for set in $sets; do
    mkdir -p "$work/data/$set"
    "make_$set" "$work/data/$set"
  done
fi

declare -A title=([big]="1 file" [tree]="files in folders" [flat]="top-level files"
  [mixed]="mixed sizes")
if wants copy; then
  echo
  echo "Copy through the window (medians of $rounds paired rounds; ratios min/median/max):"
  for set in $sets; do
    src=$work/data/$set
    echo "  data: ${title[$set]}: $(summary "$src")"
    find "$src" -type f -exec cat {} + >/dev/null # warm, as it stays for every run
    for fs in $filesystems; do
      measure_copy "$fs" "$set" "$src"
    done
  done
fi

if wants startup; then
  echo
  echo "Start-up to an idle window against a minimal Qt window ($startup_rounds paired rounds; min/median/max):"
  for count in 10 10000 32767; do
    folder=$work/names$count
    mkdir "$folder"
    (cd "$folder" && seq -f "file%05g.txt" 1 "$count" | xargs touch)
    echo " $count files:"
    "$bench" startup "$folder" "$startup_rounds"
  done
  if [[ -n $portable_bench ]]; then
    echo
    echo "Start-up of the portable program (static Qt) against the shared-Qt build ($startup_rounds paired rounds; min/median/max):"
    for count in 10 32767; do
      echo " $count files:"
      "$bench" startup-portable "$portable_bench" "$work/names$count" "$startup_rounds"
    done
  fi
fi

if [[ $mode == full ]] && wants idle; then
  mkdir -p "$work/names10"
  touch "$work/names10/file1.txt"
  echo
  echo "Wake-ups in 60 idle seconds, window active (poll and ppoll calls, all threads):"
  log=$work/idle.out
  "$bench" idle "$work/names10" >"$log" 2>/dev/null &
  idle_pid=$!
  for _ in $(seq 100); do
    grep -q ready "$log" && break
    sleep 0.1
  done
  sleep 2
  timeout -s INT 60 strace -f -c -e trace=poll,ppoll -p "$idle_pid" -o "$work/strace.out" 2>/dev/null || true
  kill "$idle_pid"
  wait "$idle_pid" 2>/dev/null || true
  calls=$(awk '$NF == "poll" || $NF == "ppoll" { sum += $4 } END { print sum + 0 }' "$work/strace.out")
  echo "  $calls ($(sed 's/ready //' "$log") has the focus)"
fi
