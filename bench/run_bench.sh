#!/usr/bin/env bash
# Compares copy_bench (the program's own copy job) with "cp -r SRC/* DST && sync" on two data sets: one 1 GiB file, and
# 20,000 files of 4 KiB in 200 folders. Each tool runs 3 times (or $ROUNDS), alternating which
# goes first; the medians and their ratio (copy_bench / cp+sync) are printed.
#
# usage: bench/run_bench.sh COPY_BENCH [WORK_DIR]
#   COPY_BENCH  the built copy_bench program
#   WORK_DIR    where the data goes (default: $TMPDIR or /tmp); sources and copies all live
#               there, so both tools copy within one filesystem. Removed again at the end.
set -euo pipefail

if [[ $# -lt 1 || ! -x $1 ]]; then
  echo "usage: $0 COPY_BENCH [WORK_DIR]" >&2
  exit 2
fi
bench=$(realpath "$1")
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/salvatrix-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
rounds=${ROUNDS:-3}

now() { date +%s.%N; }

make_big() {
  mkdir -p "$1"
  dd if=/dev/urandom of="$1/big.bin" bs=1M count=1024 status=none
}

make_small() {
  local folder
  for folder in $(seq -w 1 200); do
    mkdir -p "$1/folder$folder"
    head -c $((100 * 4096)) /dev/urandom | split -b 4096 -a 3 - "$1/folder$folder/file"
  done
}

# Prints the seconds one run of the named tool takes, into a new, empty destination. Copies are
# only removed once a data set is done: ext4 without a journal looks past every inode freed in
# the last minutes when it makes a new one, so deleting in between would slow each later run.
run_once() {
  local tool=$1 src=$2 dst=$3 start end
  mkdir "$dst"
  sync
  start=$(now)
  if [[ $tool == cp ]]; then
    cp -r "$src"/* "$dst" && sync
  else
    "$bench" "$src" "$dst" >/dev/null
  fi
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { printf '%s\n' "$@" | sort -g | sed -n "$(((${#@} + 1) / 2))p"; }

measure() {
  local name=$1 src=$2 cp_times=() our_times=() round
  for ((round = 1; round <= rounds; round++)); do
    if ((round % 2)); then
      cp_times+=("$(run_once cp "$src" "$work/cp$round")")
      our_times+=("$(run_once ours "$src" "$work/ours$round")")
    else
      our_times+=("$(run_once ours "$src" "$work/ours$round")")
      cp_times+=("$(run_once cp "$src" "$work/cp$round")")
    fi
  done
  rm -rf "$work"/cp* "$work"/ours*
  sync
  local cp_median our_median
  cp_median=$(median "${cp_times[@]}")
  our_median=$(median "${our_times[@]}")
  printf '%-22s cp+sync %7.3f s   copy_bench %7.3f s   ratio %.2f\n' "$name" "$cp_median" \
    "$our_median" "$(awk -v a="$our_median" -v b="$cp_median" 'BEGIN { print a / b }')"
  printf '%-22s   runs: cp+sync %s | copy_bench %s\n' "" "${cp_times[*]}" "${our_times[*]}"
}

echo "Generating data in $work ..."
make_big "$work/big"
make_small "$work/small"
sync
measure "1 x 1 GiB" "$work/big"
measure "20000 x 4 KiB" "$work/small"
