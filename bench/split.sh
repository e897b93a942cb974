#!/usr/bin/env bash
# Benchmarks tfold split on a 60-minute 44.1 kHz stereo WAV cut into 20 tracks, against cp of
# the same file (warm cache), in interleaved runs. The copy phase is the split's time less the
# time of the same command with an empty break list (open, analysis, polling, no tracks).
# Usage: bench/split.sh [RUNS]. Makes a Release build and the test audio in bench/cache/.
set -euo pipefail
runs=${1:-7}
root=$(cd "$(dirname "$0")/.." && pwd)
cache=$root/bench/cache
build=$cache/build-release
mkdir -p "$cache"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTFOLD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tfold >/dev/null
tfold=$build/tfold

hour=$cache/hour.wav
tenth=$cache/six-minutes.wav
[ -s "$hour" ] || sox -n -r 44100 -c 2 -b 16 "$hour" synth 3600 sine 440 vol 0.5
[ -s "$tenth" ] || sox -n -r 44100 -c 2 -b 16 "$tenth" synth 360 sine 440 vol 0.5

# Twenty tracks of three minutes (13500 blocks each).
list=$cache/hour.txt
: >"$list"
for i in $(seq 0 19); do printf '%d=track%02d\n' $((i * 13500)) $((i + 1)) >>"$list"; done
empty=$cache/empty.txt
echo "; no tracks" >"$empty"
tenth_list=$cache/six-minutes.txt
: >"$tenth_list"
for i in $(seq 0 19); do printf '%d=track%02d\n' $((i * 1350)) $((i + 1)) >>"$tenth_list"; done

out=$cache/split-out
copy=$cache/cp-out.wav
export HOME=$cache/home
mkdir -p "$HOME" "$out"

now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
elapsed() {  # elapsed COMMAND...: wall seconds of the command
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1
  end=$(now)
  echo "$end - $start" | bc -l
}
clean() { rm -f "$out"/* "$copy"; sync; }

cat "$hour" >/dev/null  # warm the cache
cp_times=() split_times=() empty_times=()
for _ in $(seq "$runs"); do
  clean
  cp_times+=("$(elapsed cp "$hour" "$copy")")
  clean
  split_times+=("$(elapsed "$tfold" split "$hour" "$list" "$out")")
  [ "$(ls "$out" | wc -l)" -eq 20 ] || { echo "split did not write 20 tracks" >&2; exit 1; }
  clean
  empty_times+=("$(elapsed "$tfold" split "$hour" "$empty" "$out")")
done
clean

cp_median=$(printf '%s\n' "${cp_times[@]}" | median)
split_median=$(printf '%s\n' "${split_times[@]}" | median)
empty_median=$(printf '%s\n' "${empty_times[@]}" | median)
copy_phase=$(echo "$split_median - $empty_median" | bc -l)
printf 'file:        %s (%s bytes), 20 tracks\n' "$hour" "$(stat -c %s "$hour")"
printf 'cp:          %.3f s (median of %d)\n' "$cp_median" "$runs"
printf 'split:       %.3f s   ratio %.2f (target: at most 1.80)\n' "$split_median" \
  "$(echo "$split_median / $cp_median" | bc -l)"
printf 'empty list:  %.3f s   (open, analysis, polling)\n' "$empty_median"
printf 'copy phase:  %.3f s   ratio %.2f (target: at most 1.10)\n' "$copy_phase" \
  "$(echo "$copy_phase / $cp_median" | bc -l)"

# Memory: peak RSS of a 60-minute and a 6-minute split; apart from graph_data (8 bytes a
# block) the two should match.
rss() {  # rss AUDIO LIST: peak RSS in KiB
  clean
  /usr/bin/time -v "$tfold" split "$1" "$2" "$out" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident set size/ {print $2}'
}
hour_rss=$(rss "$hour" "$list")
tenth_rss=$(rss "$tenth" "$tenth_list")
clean
hour_graph=$(( $(stat -c %s "$hour") / 2352 * 8 / 1024 ))
tenth_graph=$(( $(stat -c %s "$tenth") / 2352 * 8 / 1024 ))
printf 'peak RSS:    %d KiB (60 min, graph %d KiB), %d KiB (6 min, graph %d KiB)\n' \
  "$hour_rss" "$hour_graph" "$tenth_rss" "$tenth_graph"
printf 'without graph_data: %d KiB vs %d KiB\n' $((hour_rss - hour_graph)) $((tenth_rss - tenth_graph))
