#!/bin/sh
# Times `tfold list` on break lists of 10,000 breaks in each of the three formats, with the
# default names and with disc-and-track names (through a settings file in a scratch home).
# Usage: bench/list_breaks.sh [path/to/tfold]
set -eu
tfold=${1:-build/tfold}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=10000

awk -v n=$count 'BEGIN { for (i = 0; i < n; i++) printf "%d=\n", i * 1000 }' | sed 's/=$//' > "$work/big.txt"
awk -v n=$count 'BEGIN { print "FILE \"big.wav\" WAVE";
  for (i = 0; i < n; i++) { b = i * 1000;
    printf "  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n", i + 1, b / 4500, (b % 4500) / 75, b % 75 } }' > "$work/big.cue"
awk -v n=$count 'BEGIN { print "CD_DA";
  for (i = 0; i < n; i++) { b = i * 1000;
    printf "TRACK AUDIO\nFILE \"big.wav\" %d:%02d:%02d 0:13:25\n", b / 4500, (b % 4500) / 75, b % 75 } }' > "$work/big.toc"

mkdir -p "$work/config/trackfold"
for naming in default etree; do
  if [ $naming = etree ]; then
    printf '[trackfold]\nuse_etree_filename_suffix=true\n' > "$work/config/trackfold/trackfold.conf"
  fi
  for f in big.txt big.cue big.toc; do
    start=$(date +%s%N)
    XDG_CONFIG_HOME="$work/config" "$tfold" list "$work/$f" > "$work/out.txt"
    end=$(date +%s%N)
    echo "$naming $f: $(( (end - start) / 1000000 )) ms, $(wc -l < "$work/out.txt") lines"
  done
done
