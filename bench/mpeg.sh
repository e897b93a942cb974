#!/usr/bin/env bash
# tfold on a 60-minute 128 kbps MP3: analyze's own timing line against a full decode by
# mpg123 -t (target: within 1.1x), and a split into 20 tracks, whose cutting time (split
# wall time minus analyze's analysis time) is compared with cp of the file (target: 2x).
# Usage: bench/mpeg.sh [TFOLD_BINARY]
set -euo pipefail
source "$(dirname "$0")/common.sh"
tfold=${1:-$repo_dir/build/tfold}
runs=3

mp3=$(bench_mp3)
cat "$mp3" >/dev/null

# The analysis seconds from "N sample blocks analyzed in S seconds = R blocks/sec".
analysis_seconds() {
  "$tfold" analyze "$mp3" 2>/dev/null </dev/null |
    sed -n 's/.* analyzed in \([0-9.]*\) seconds.*/\1/p' || true

}

breaks="$cache/bench60.txt"
{
  total=$((60 * 60 * 75))
  for k in $(seq 0 19); do echo "$((total * k / 20))=track$(printf %02d $((k + 1)))"; done
} >"$breaks"

analysis=() decode=() split=() copy=()
for _ in $(seq $runs); do
  analysis+=("$(analysis_seconds)")
  decode+=("$(wall mpg123 -q -t "$mp3")")
  out="$cache/split_out"; rm -rf "$out"; mkdir -p "$out"
  split+=("$(wall "$tfold" split "$mp3" "$breaks" "$out")")
  rm -rf "$out"; mkdir -p "$out"
  copy+=("$(wall cp "$mp3" "$out/copy.mp3")")
  rm -rf "$out"
done

a=$(printf '%s\n' "${analysis[@]}" | median)
d=$(printf '%s\n' "${decode[@]}" | median)
s=$(printf '%s\n' "${split[@]}" | median)
c=$(printf '%s\n' "${copy[@]}" | median)
if [ -z "$a" ]; then
  echo "tfold analyze printed no timing line (is the analyze command built?)" >&2
  exit 1
fi
ratio() { echo "$1 / $2" | bc -l | awk '{ printf "%.2f\n", $1 }'; }
echo "analysis:  ${a}s; mpg123 -t: ${d}s; ratio $(ratio "$a" "$d")x (target: at most 1.1x)"
echo "split:     ${s}s; cutting ${s} - ${a}; cp: ${c}s; ratio $(ratio "($s - $a)" "$c")x (target: at most 2x)"
