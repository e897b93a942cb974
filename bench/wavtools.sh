#!/usr/bin/env bash
# Times `tfold gen` and `tfold merge` against `cp` of the same bytes, warm cache, and prints
# the median of interleaved runs with the ratio to cp.
# Usage: bench/wavtools.sh [ROUNDS] [MERGE_INPUT_MB]
# TFOLD=path/to/tfold picks the binary; by default a Release build in bench/cache/build is made.
set -euo pipefail
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
rounds=${1:-7}
input_mb=${2:-256}

if [ -z "${TFOLD:-}" ]; then
  bench_build tfold
  TFOLD=$tfold
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tfold-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

now_ns() { date +%s%N; }
# Runs a command in a fresh folder and prints its wall time in milliseconds.
time_ms() {
  local dir=$1; shift
  rm -rf "$dir"; mkdir -p "$dir"
  local start end
  start=$(now_ns)
  (cd "$dir" && "$@" >/dev/null)
  end=$(now_ns)
  echo $(( (end - start) / 1000000 ))
}
report() {
  local name=$1 tool_file=$2 cp_file=$3 bytes=$4
  local tool_ms cp_ms
  tool_ms=$(median <"$tool_file")
  cp_ms=$(median <"$cp_file")
  awk -v n="$name" -v t="$tool_ms" -v c="$cp_ms" -v b="$bytes" 'BEGIN {
    printf "%-6s %6.0f ms (%7.1f MB/s)   cp %6.0f ms (%7.1f MB/s)   ratio %.2f\n",
           n, t, b / 1e6 / (t / 1e3), c, b / 1e6 / (c / 1e3), t / c }'
}

# gen: against cp of the eight files it writes.
mkdir -p "$work/gen-src"
(cd "$work/gen-src" && "$TFOLD" gen >/dev/null)
gen_bytes=$(cat "$work"/gen-src/*.wav | wc -c)
: >"$work/gen.ms"; : >"$work/gen-cp.ms"
for _ in $(seq "$rounds"); do
  time_ms "$work/gen-out" "$TFOLD" gen >>"$work/gen.ms"
  time_ms "$work/gen-cp" cp "$work"/gen-src/*.wav . >>"$work/gen-cp.ms"
done
rm -rf "$work/gen-out" "$work/gen-cp"

# merge: two inputs of input_mb MB each, against cp of both.
make_wav() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
path, size = sys.argv[1], int(sys.argv[2]) * 1024 * 1024
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", size + 36) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16) + b"data" + struct.pack("<I", size))
    block = bytes(range(256)) * 4096
    for _ in range(size // len(block)):
        f.write(block)
    f.write(block[: size % len(block)])
PY
}
make_wav "$work/a.wav" "$input_mb"
make_wav "$work/b.wav" "$input_mb"
cat "$work/a.wav" "$work/b.wav" >/dev/null   # warm the cache
merge_bytes=$(( $(stat -c %s "$work/a.wav") + $(stat -c %s "$work/b.wav") ))
: >"$work/merge.ms"; : >"$work/merge-cp.ms"
for _ in $(seq "$rounds"); do
  time_ms "$work/merge-out" "$TFOLD" merge "$work/a.wav" "$work/b.wav" >>"$work/merge.ms"
  time_ms "$work/merge-cp" cp "$work/a.wav" "$work/b.wav" . >>"$work/merge-cp.ms"
done

echo "median of $rounds interleaved runs, warm cache"
report gen "$work/gen.ms" "$work/gen-cp.ms" "$gen_bytes"
report merge "$work/merge.ms" "$work/merge-cp.ms" "$merge_bytes"
