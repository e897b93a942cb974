#!/usr/bin/env bash
# Benchmarks the waveform analysis against reading the same file with cat (warm cache), and
# its peak memory on 6 and 60 minutes.
# Usage: bench/analysis.sh [RUNS]. Makes a Release build and the test audio in bench/cache/.
set -euo pipefail
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
runs=${1:-7}

bench_build tfold_core tfold
driver=$(bench_driver analysis_driver)
hour=$(bench_wav)
tenth=$(bench_wav6)

cat "$hour" >/dev/null  # warm the cache
cat_times=() analysis_times=()
for _ in $(seq "$runs"); do
  cat_times+=("$(wall cat "$hour")")
  read -r seconds blocks _ < <("$driver" "$hour")
  analysis_times+=("$seconds")
done
cat_median=$(printf '%s\n' "${cat_times[@]}" | median)
analysis_median=$(printf '%s\n' "${analysis_times[@]}" | median)
printf 'file:      %s (%s bytes, %s blocks)\n' "$hour" "$(stat -c %s "$hour")" "$blocks"
printf 'cat:       %.3f s (median of %d)\n' "$cat_median" "$runs"
printf 'analysis:  %.3f s (median of %d)\n' "$analysis_median" "$runs"
printf 'ratio:     %s (target: at most 1.50)\n' "$(ratio "$analysis_median" "$cat_median")"

# Memory: peak RSS of a 60-minute and a 6-minute file; apart from graph_data (8 bytes a
# block) the two should match.
read -r _ hour_blocks hour_rss < <("$driver" "$hour")
read -r _ tenth_blocks tenth_rss < <("$driver" "$tenth")
printf 'peak RSS:  %d KiB (60 min, graph %d KiB), %d KiB (6 min, graph %d KiB)\n' \
  "$hour_rss" $((hour_blocks * 8 / 1024)) "$tenth_rss" $((tenth_blocks * 8 / 1024))
printf 'without graph_data: %d KiB vs %d KiB\n' \
  $((hour_rss - hour_blocks * 8 / 1024)) $((tenth_rss - tenth_blocks * 8 / 1024))

printf 'tfold analyze: %s s\n' "$(bench_analysis_seconds "$hour")"
