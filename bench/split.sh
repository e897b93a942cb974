#!/usr/bin/env bash
# Benchmarks tfold split on a 60-minute 44.1 kHz stereo WAV cut into 20 tracks, against cp of
# the same file (warm cache), in interleaved runs. The copy phase is the split's time less the
# time of the same command with an empty break list (open and length, no tracks).
# Usage: bench/split.sh [RUNS]. Makes a Release build and the test audio in bench/cache/.
set -euo pipefail
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
runs=${1:-9}

bench_build tfold
hour=$(bench_wav)
tenth=$(bench_wav6)
list=$(bench_list 60 20)  # twenty tracks of three minutes
tenth_list=$(bench_list 6 20)
empty=$cache/empty.txt
echo "; no tracks" >"$empty"

out=$cache/split-out
copy=$cache/cp-out.wav
export HOME
HOME=$(bench_home)
mkdir -p "$out"

measure() {  # measure COMMAND...: "wall cpu" seconds of the command (cpu: user + system)
  /usr/bin/time -f '%e %U %S' -o "$cache/time.txt" "$@" >/dev/null 2>&1
  awk '{print $1, $2 + $3}' "$cache/time.txt"
}
clean() { rm -f "$out"/* "$copy"; sync; }

cat "$hour" >/dev/null  # warm the cache
: >"$cache/runs.txt"
for _ in $(seq "$runs"); do
  clean
  echo "cp $(measure cp "$hour" "$copy")" >>"$cache/runs.txt"
  clean
  echo "split $(measure "$tfold" split "$hour" "$list" "$out")" >>"$cache/runs.txt"
  [ "$(ls "$out" | wc -l)" -eq 20 ] || { echo "split did not write 20 tracks" >&2; exit 1; }
  clean
  echo "empty $(measure "$tfold" split "$hour" "$empty" "$out")" >>"$cache/runs.txt"
done
clean
column_median() { awk -v k="$1" -v c="$2" '$1 == k {print $c}' "$cache/runs.txt" | median; }

cp_median=$(column_median cp 2) cp_cpu=$(column_median cp 3)
split_median=$(column_median split 2) split_cpu=$(column_median split 3)
empty_median=$(column_median empty 2) empty_cpu=$(column_median empty 3)
copy_phase=$(echo "$split_median - $empty_median" | bc -l)
copy_cpu=$(echo "$split_cpu - $empty_cpu" | bc -l)
printf 'file:        %s (%s bytes), 20 tracks, medians of %d interleaved runs\n' "$hour" \
  "$(stat -c %s "$hour")" "$runs"
printf '             wall      CPU (user+sys)\n'
printf 'cp:          %.3f s   %.3f s\n' "$cp_median" "$cp_cpu"
printf 'split:       %.3f s   %.3f s   wall ratio %.2f (target: at most 0.90)\n' "$split_median" \
  "$split_cpu" "$(ratio "$split_median" "$cp_median")"
printf 'empty list:  %.3f s   %.3f s   (open and length)\n' "$empty_median" "$empty_cpu"
printf 'copy phase:  %.3f s   %.3f s   wall ratio %.2f (target: at most 1.10)\n' "$copy_phase" \
  "$copy_cpu" "$(ratio "$copy_phase" "$cp_median")"
printf 'wall times of the single runs (the disk is shared, writes vary):\n'
for k in cp split empty; do
  printf '  %-6s %s\n' "$k" "$(awk -v k="$k" '$1 == k {printf "%.2f ", $2}' "$cache/runs.txt")"
done

# Memory: peak RSS of a 60-minute and a 6-minute split; the two should match.
rss() {  # rss AUDIO LIST: peak RSS in KiB
  clean
  /usr/bin/time -v "$tfold" split "$1" "$2" "$out" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident set size/ {print $2}'
}
hour_rss=$(rss "$hour" "$list")
tenth_rss=$(rss "$tenth" "$tenth_list")
clean
printf 'peak RSS:    %d KiB (60 min), %d KiB (6 min)\n' "$hour_rss" "$tenth_rss"
