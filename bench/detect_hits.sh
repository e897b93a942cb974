#!/usr/bin/env bash
# How many of the true breaks `tfold detect` and its peers find in the recordings of
# scripts/fixtures/detect.sh (digital silence, vinyl, cassette, quiet record; three breaks
# each): ffmpeg's silencedetect and mp3splt -s, with their defaults and tuned by hand for each
# recording. A break counts as found when it lies inside its gap (50 ms tolerance); any other
# break, or a second one in the same gap, is false. A peer's break is the middle of the
# silence it reports (ffmpeg) or the start of the track it would write (mp3splt); a silence at
# the very start or end of a recording is no break. Prints a Markdown table.
# Usage: bench/detect_hits.sh
set -euo pipefail
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
bench_build tfold
fx="$cache/detect-fixtures"
[ -s "$fx/detect_gaps.txt" ] || bash "$repo_dir/scripts/fixtures/detect.sh" "$fx" 2>/dev/null
have() { command -v "$1" >/dev/null 2>&1; }
media=(cd vinyl cassette quiet)
# The threshold a user who knows each recording's noise would give (dBFS).
declare -A tuned=([cd]=-80 [vinyl]=-45 [cassette]=-35 [quiet]=-65)

# Break times in seconds, one a line, from each tool.
tfold_breaks() {
  "$tfold" detect "$fx/detect_$1.wav" 2>/dev/null | sed -n 's/^\([0-9]*\)=.*/\1/p' | awk '$1 > 0 { print $1 / 75 }'
}
ffmpeg_breaks() {  # ffmpeg_breaks MEDIUM [NOISE DURATION]
  local filter=silencedetect
  [ $# -eq 1 ] || filter="silencedetect=noise=${2}dB:d=$3"
  ffmpeg -nostdin -i "$fx/detect_$1.wav" -af "$filter" -f null - 2>&1 |
    awk '/silence_start:/ { start = $NF }
         /silence_end:/ { for (i = 1; i <= NF; i++) if ($i == "silence_end:") end = $(i + 1);
                          if (start > 0.05) print (start + end) / 2 }'
}
mp3splt_breaks() {  # mp3splt_breaks MEDIUM [PARAMETERS]
  local out
  out=$(mktemp -d)
  (cd "$out" && mp3splt -s -P ${2:+-p "$2"} -o @m:@s:@h -d "$out" "$fx/detect_$1.mp3" 2>&1) |
    grep -o 'File "[^"]*" created' | sed 's/.*\/\([0-9]*\):\([0-9]*\):\([0-9]*\)\.mp3.*/\1 \2 \3/' |
    awk '{ t = $1 * 60 + $2 + $3 / 100; if (t > 0.05) print t }'
  rm -rf "$out"
}

# score: "hits false" of the break times on standard input against the gaps.
score() {
  awk -v gaps="$fx/detect_gaps.txt" '
    BEGIN { while ((getline line < gaps) > 0) { split(line, g, " "); n++; lo[n] = g[1] - 0.05; hi[n] = g[2] + 0.05 } }
    { inside = 0
      for (k = 1; k <= n; k++) if ($1 >= lo[k] && $1 <= hi[k]) inside = k
      if (inside && !found[inside]) { found[inside] = 1; hits++ } else false_breaks++ }
    END { printf "%d %d\n", hits, false_breaks }'
}

row() {  # row LABEL COMMAND...: one line of the table, COMMAND MEDIUM giving break times
  local label=$1 medium total_hits=0 total_false=0 cells="" hits false_breaks
  shift
  for medium in "${media[@]}"; do
    read -r hits false_breaks < <("$@" "$medium" | score)
    cells+=" | $hits/3, $false_breaks false"
    total_hits=$((total_hits + hits))
    total_false=$((total_false + false_breaks))
  done
  echo "| $label$cells | $total_hits/$((3 * ${#media[@]})), $total_false false |"
}

ffmpeg_tuned() { ffmpeg_breaks "$1" "${tuned[$1]}" 1; }
mp3splt_tuned() { mp3splt_breaks "$1" "th=${tuned[$1]},min=1"; }

echo "| finder | CD (digital silence) | vinyl (hiss -55, rumble, clicks) | cassette (hiss -40, low level) | quiet record (pianissimo) | all |"
echo "|---|---|---|---|---|---|"
row "tfold detect (defaults)" tfold_breaks
if have ffmpeg; then
  row "ffmpeg silencedetect (defaults: -60 dB, 2 s)" ffmpeg_breaks
  row "ffmpeg silencedetect (tuned: per-recording dB, 1 s)" ffmpeg_tuned
fi
if have mp3splt; then
  row "mp3splt -s (defaults: -48 dB), MP3" mp3splt_breaks
  row "mp3splt -s (tuned: per-recording th, min=1), MP3" mp3splt_tuned
fi
