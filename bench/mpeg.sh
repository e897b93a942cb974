#!/usr/bin/env bash
# tfold on a 60-minute 128 kbps MP3: analyze's own timing line against a full decode by
# mpg123 -t (target: within 1.1x), and a split into 20 tracks (which decodes nothing: the
# length comes from the frames) compared with cp of the file (target: 2x).
# Usage: bench/mpeg.sh [TFOLD_BINARY] (default: a Release build in bench/cache/build)
set -euo pipefail
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
if [ $# -ge 1 ]; then tfold=$1; else bench_build tfold; fi
runs=3

mp3=$(bench_mp3)
breaks=$(bench_list 60 20)
out="$cache/split_out"
export HOME
HOME=$(bench_home)
cat "$mp3" >/dev/null

analysis=() decode=() split=() copy=()
for _ in $(seq $runs); do
  analysis+=("$(bench_analysis_seconds "$mp3")")
  decode+=("$(wall mpg123 -q -t "$mp3")")
  rm -rf "$out"; mkdir -p "$out"
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
echo "analysis:  ${a}s; mpg123 -t: ${d}s; ratio $(ratio "$a" "$d")x (target: at most 1.1x)"
echo "split:     ${s}s; cp: ${c}s; ratio $(ratio "$s" "$c")x (target: at most 2x)"
