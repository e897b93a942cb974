#!/usr/bin/env bash
# Measures the CD audio and Ogg Vorbis modules on generated media.
# Usage: bench/format_read.sh. Makes a Release build in bench/cache/build.
# CD audio: 10 minutes (about 106 MB); Ogg Vorbis: 5 minutes of stereo at 44.1 kHz.
set -euo pipefail
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bench_build tfold_core
driver=$(bench_driver format_read_bench)

sox -R -n -b 16 -r 44100 -c 2 -B -t raw "$work/long.cdda.raw" synth 600 pinknoise gain -6
sox -R -n -b 16 -r 44100 -c 2 -t wavpcm "$work/long.wav" synth 300 pinknoise gain -6
oggenc -Q -q 4 -o "$work/long.ogg" "$work/long.wav"
"$driver" "$work/long.cdda.raw" "$work/long.ogg"
