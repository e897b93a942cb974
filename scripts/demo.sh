#!/usr/bin/env bash
# Sets up, builds tfold in Release and runs its main job on an example it generates.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DTFOLD_TESTS=OFF >/dev/null
cmake --build "$root/build" -j "$(nproc)"
tfold=$root/build/tfold
work=$root/demo
mkdir -p "$work"
cd "$work"
"$tfold" version
sox -q -n -r 44100 -c 2 -b 16 example.wav synth 3 sine 440 2>/dev/null || true
"$tfold" info example.wav
echo "Demo files are in $work"
