#!/usr/bin/env bash
# The MPEG frame cutter against cp: a 60-minute 128 kbps MP3 cut into 20 tracks by the
# module's write_range (frame index built when the file is opened, used by every cut), timed
# without the opening, against cp of the whole file.
# Usage: bench/mpeg_cut.sh. Makes a Release build and the test audio in bench/cache/.
set -euo pipefail
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
runs=5

bench_build tfold_core
driver=$(bench_driver cut_driver)
mp3=$(bench_mp3)
out="$cache/mpeg_cut_out"
cat "$mp3" >/dev/null  # both sides start from a warm page cache

cut_times=() cp_times=()
for _ in $(seq $runs); do
  rm -rf "$out"; mkdir -p "$out"
  cut_times+=("$("$driver" "$mp3" "$out" 20)")
  rm -rf "$out"; mkdir -p "$out"
  cp_times+=("$(wall cp "$mp3" "$out/copy.mp3")")
done
rm -rf "$out"

cut=$(printf '%s\n' "${cut_times[@]}" | median)
copy=$(printf '%s\n' "${cp_times[@]}" | median)
echo "file:           $mp3 ($(stat -c %s "$mp3") bytes)"
echo "cut, 20 tracks: ${cut}s (median of $runs)"
echo "cp:             ${copy}s (median of $runs)"
echo "ratio:          $(ratio "$cut" "$copy")x cp (target: at most 2x)"
