#!/usr/bin/env bash
# Benchmarks the waveform analysis against reading the same file with cat (warm cache).
# Usage: bench/analysis.sh [RUNS]. Makes a Release build and the test audio in bench/cache/.
set -euo pipefail
runs=${1:-7}
root=$(cd "$(dirname "$0")/.." && pwd)
cache=$root/bench/cache
build=$cache/build-release
mkdir -p "$cache"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTFOLD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tfold_core tfold >/dev/null
# shellcheck disable=SC2046
g++ -std=c++20 -O2 -I"$root/src" "$root/bench/analysis_driver.cpp" "$build/libtfold_core.a" \
  $(pkg-config --cflags --libs glib-2.0 ao libmpg123 vorbisfile) -lpthread -lm \
  -o "$cache/analysis_driver"

hour=$cache/hour.wav
tenth=$cache/six-minutes.wav
[ -s "$hour" ] || sox -n -r 44100 -c 2 -b 16 "$hour" synth 3600 sine 440 vol 0.5
[ -s "$tenth" ] || sox -n -r 44100 -c 2 -b 16 "$tenth" synth 360 sine 440 vol 0.5

now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

cat "$hour" >/dev/null  # warm the cache
cat_times=() analysis_times=()
for _ in $(seq "$runs"); do
  start=$(now); cat "$hour" >/dev/null; end=$(now)
  cat_times+=("$(echo "$end - $start" | bc -l)")
  read -r seconds blocks rss < <("$cache/analysis_driver" "$hour")
  analysis_times+=("$seconds")
done
cat_median=$(printf '%s\n' "${cat_times[@]}" | median)
analysis_median=$(printf '%s\n' "${analysis_times[@]}" | median)
printf 'file:      %s (%s bytes, %s blocks)\n' "$hour" "$(stat -c %s "$hour")" "$blocks"
printf 'cat:       %.3f s (median of %d)\n' "$cat_median" "$runs"
printf 'analysis:  %.3f s (median of %d)\n' "$analysis_median" "$runs"
printf 'ratio:     %.2f (target: at most 1.50)\n' "$(echo "$analysis_median / $cat_median" | bc -l)"

# Memory: peak RSS of a 60-minute and a 6-minute file; apart from graph_data (8 bytes a
# block) the two should match.
read -r _ hour_blocks hour_rss < <("$cache/analysis_driver" "$hour")
read -r _ tenth_blocks tenth_rss < <("$cache/analysis_driver" "$tenth")
printf 'peak RSS:  %d KiB (60 min, graph %d KiB), %d KiB (6 min, graph %d KiB)\n' \
  "$hour_rss" $((hour_blocks * 8 / 1024)) "$tenth_rss" $((tenth_blocks * 8 / 1024))
printf 'without graph_data: %d KiB vs %d KiB\n' \
  $((hour_rss - hour_blocks * 8 / 1024)) $((tenth_rss - tenth_blocks * 8 / 1024))

printf 'tfold analyze: '
HOME=$cache/home
mkdir -p "$HOME"
echo "default_driver=null" >"$HOME/.libao"
HOME=$HOME "$build/tfold" analyze "$hour" 2>/dev/null | grep 'sample blocks analyzed'
