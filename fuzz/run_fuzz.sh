#!/bin/bash
# Replays one fuzz target's committed corpus, then fuzzes it for FUZZ_SECONDS (20 unless set)
# and merges what it found into a scratch corpus. The committed corpus is only read. A finding
# (a broken property, a sanitizer report, a crash, a hang) fails, and its input is kept in
# <scratch>/findings.
# Usage: run_fuzz.sh <target binary> <committed corpus folder> <scratch folder>
set -euo pipefail

binary=$1
corpus=$2
scratch=$3
seconds=${FUZZ_SECONDS:-20}
name=$(basename "$corpus")
dict="$(dirname "$(readlink -f "$0")")/$name.dict"

options=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$scratch/findings/")
if [[ -f $dict ]]; then
  options+=(-dict="$dict")
fi
mkdir -p "$scratch/corpus" "$scratch/findings"

# Given as files, the seeds are each run once and nothing is written beside them.
shopt -s nullglob
seeds=("$corpus"/*)
if ((${#seeds[@]} == 0)); then
  echo "$name: no committed corpus in $corpus" >&2
  exit 1
fi
log="$scratch/last-run.log"
finding() {
  tail -n 60 "$log" >&2
  echo "$name: FINDING while $1 (whole output in $log)" >&2
  exit 1
}

echo "== $name: replaying ${#seeds[@]} committed inputs"
"$binary" "${options[@]}" "${seeds[@]}" >"$log" 2>&1 || finding "replaying the committed input named above"

echo "== $name: fuzzing for $seconds s"
run=$(mktemp -d "$scratch/run.XXXXXX")
trap 'rm -rf "$run"' EXIT
"$binary" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
  "$run" "$scratch/corpus" "$corpus" >"$log" 2>&1 || finding "fuzzing; the input is kept in $scratch/findings"
grep '^stat::number_of_executed_units\|^stat::new_units_added' "$log"
"$binary" -merge=1 "$scratch/corpus" "$run" >"$log" 2>&1 || finding "merging into $scratch/corpus"
echo "== $name: no finding; the scratch corpus holds $(find "$scratch/corpus" -type f | wc -l) inputs"
