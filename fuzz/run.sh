#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz and runs each for a while from the seeds of
# make-seeds.sh. A crash, a leak, a check that fails, an input that takes over 10 s (a hang)
# or a run over 2 GiB of memory fails the script; the input that did it is kept in
# build-fuzz/artifacts/ and the log in build-fuzz/logs/.
# Usage: fuzz/run.sh [SECONDS per target, default 20] [TARGET ...]   (TARGET: wav_fuzz, ...)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTFOLD_FUZZ=ON -DTFOLD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_targets >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

rm -rf "$build/seeds"
"$root/fuzz/make-seeds.sh" "$build/seeds"
mkdir -p "$build/artifacts" "$build/logs"
# Runs one target; prints its line and returns nonzero on a failure.
run_target() {
  local target=$1 name=${1%_fuzz}
  # New inputs go to the first folder, which is kept between runs; the seeds stay as made.
  local corpus=$build/corpus/$name
  mkdir -p "$corpus" "$build/seeds/$name"
  local dict=()
  [ -f "$root/fuzz/$name.dict" ] && dict=("-dict=$root/fuzz/$name.dict")
  local log=$build/logs/$name.log status=0
  "$build/fuzz/$target" "$corpus" "$build/seeds/$name" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" >"$log" 2>&1 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    echo "fuzz $target: ${runs:-?} runs in ${seconds} s, no failure"
    return 0
  fi
  echo "fuzz $target: FAILED (exit $status); see $log"
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*check failed|GLib critical|.*runtime error)' "$log" | head -n 5 || true
  return 1
}

# One target per core at a time.
jobs=$(nproc)
declare -A running=()
failed=()
wait_for_one() {
  local pid status=0
  wait -n -p pid || status=$?
  [ "$status" -eq 0 ] || failed+=("${running[$pid]}")
  unset "running[$pid]"
}
for target in "${targets[@]}"; do
  while [ ${#running[@]} -ge "$jobs" ]; do wait_for_one; done
  run_target "$target" &
  running[$!]=$target
done
while [ ${#running[@]} -gt 0 ]; do wait_for_one; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failures in ${failed[*]}"
  exit 1
fi
