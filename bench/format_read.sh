#!/usr/bin/env bash
# Measures the CD audio and Ogg Vorbis modules on generated media.
# Usage: bench/format_read.sh [BUILD_DIR] (a Release build is best; default: build).
# CD audio: 10 minutes (about 106 MB); Ogg Vorbis: 5 minutes of stereo at 44.1 kHz.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target tfold_core >/dev/null
g++ -std=c++20 -O2 -I"$here/src" "$here/bench/format_read_bench.cpp" "$build/libtfold_core.a" \
  $(pkg-config --cflags --libs glib-2.0 vorbisfile) -o "$work/bench"

sox -R -n -b 16 -r 44100 -c 2 -B -t raw "$work/long.cdda.raw" synth 600 pinknoise gain -6
sox -R -n -b 16 -r 44100 -c 2 -t wavpcm "$work/long.wav" synth 300 pinknoise gain -6
oggenc -Q -q 4 -o "$work/long.ogg" "$work/long.wav"
"$work/bench" "$work/long.cdda.raw" "$work/long.ogg"
