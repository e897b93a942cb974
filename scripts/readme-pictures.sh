#!/usr/bin/env bash
# Makes the two pictures of `tfold plot` that the README shows, from the vinyl-like recording
# of scripts/fixtures/detect.sh (four tracks with hiss, rumble and clicks, 16 kHz mono):
#   doc/plot-vinyl.png        the whole side with what detect finds (--detect)
#   doc/plot-vinyl-break.png  six seconds around its second break, with the list detect wrote
# Usage: scripts/readme-pictures.sh [TFOLD] (default: build/tfold)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
tfold=$(realpath "${1:-$repo/build/tfold}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Default settings (the mood bar on) in a home of its own.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$XDG_CONFIG_HOME"

bash "$repo/scripts/fixtures/detect.sh" "$work/media" >/dev/null
cd "$work"
cp media/detect_vinyl.wav side-a.wav
"$tfold" detect side-a.wav side-a.txt 2>/dev/null
"$tfold" plot --detect --width=1200 --height=300 side-a.wav plot-vinyl.png 2>/dev/null
# The second break with three seconds on either side.
second=$(grep -E '^[0-9]+=' side-a.txt | sed -n 2p | cut -d= -f1)
"$tfold" plot --detect --width=1200 --height=300 --from=$((second - 225)) --to=$((second + 225)) \
  side-a.wav side-a.txt plot-vinyl-break.png 2>/dev/null
mv plot-vinyl.png plot-vinyl-break.png "$repo/doc/"
echo "Wrote doc/plot-vinyl.png and doc/plot-vinyl-break.png"
