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
"$tfold" gen
# Three tracks of the one-minute stereo example: at 0, 20 and 40 seconds (75 blocks a second).
printf '0=example-1\n1500=example-2\n3000=example-3\n' > example.txt
"$tfold" list example.txt
rm -rf tracks
mkdir tracks
"$tfold" split wav_gen_2ch_44100hz_16bit.wav example.txt tracks </dev/null
"$tfold" info tracks/*.wav
echo "Demo files are in $work"
