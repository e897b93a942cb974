#!/usr/bin/env bash
# The benchmarks in one command: builds tfold in Release (bench/cache/build), makes the test
# recordings once (bench/cache/), then times each job in interleaved warm-cache rounds against
# its baseline (cp, cat, mpg123 -t or flac -d) and the peer tools that are installed, and prints one
# Markdown table of medians and ratios, then the peak memory of split on 6 and 60 minutes and of
# the Ogg cutter on 6 and 60 minutes.
# Peers are optional: a missing one shows as "—".
# Usage: bench/run.sh [ROUNDS] [JOB...] (default 5 rounds of every job; jobs: split_wav split_mp3
# split_mp3_gapless split_mp3vbr split_ogg cut_ogg split_flac split_flac_framecopy analyze_wav
# analyze_mp3 merge gen detect_wav detect_mp3 plot_wav plot_mp3, and split_wav_verify
# split_mp3_verify split_mp3_gapless_verify split_ogg_verify split_flac_verify
# split_flac_framecopy_verify: split --verify against decoding the source and the same split
# without --verify)
set -euo pipefail
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
rounds=${1:-5}
started=$EPOCHREALTIME

have() { command -v "$1" >/dev/null 2>&1; }
for tool in cmake sox lame oggenc flac awk; do
  have "$tool" || { echo "bench/run.sh needs $tool" >&2; exit 1; }
done

echo "Building tfold (Release) and the test recordings..." >&2
bench_build tfold
wav=$(bench_wav)
wav6=$(bench_wav6)
mp3=$(bench_mp3)
mp3_vbr=$(bench_mp3_vbr)
mp3_6=$(bench_mp3_6)
ogg=$(bench_ogg)
ogg6=$(bench_ogg6)
cut_driver=$(bench_driver cut_driver)
flac_file=$(bench_flac)
flac6=$(bench_flac6)
list=$(bench_list 60 20)
list6=$(bench_list 6 20)
HOME=$(bench_home)
export HOME XDG_CONFIG_HOME="$HOME/.config"
out="$cache/run-out"
tracks=20 track_seconds=180

# The same twenty tracks for the peers: shnsplit's split points (m:ss.ff), mp3splt's times
# (min.sec), and start seconds for the tools run once a track.
points="$cache/split-points.txt"
for k in $(seq 1 $((tracks - 1))); do echo "$((k * track_seconds / 60)):00.00"; done >"$points"
mp3splt_times=()
for k in $(seq 0 $((tracks - 1))); do mp3splt_times+=("$((k * track_seconds / 60)).00"); done
mp3splt_times+=(EOF)

# gen is compared with copying the eight files it writes.
gen_src="$cache/gen-src"
rm -rf "$gen_src" && mkdir -p "$gen_src"
(cd "$gen_src" && "$tfold" gen >/dev/null)

# Every timed command starts from an empty output folder and no writes pending from the
# one before.
fresh() { rm -rf "$out"; mkdir -p "$out"; sync; }
in_out() { (cd "$out" && "$@"); }
sox_tracks() {
  local k
  for k in $(seq 0 $((tracks - 1))); do
    sox "$1" "$out/$k.${1##*.}" trim $((k * track_seconds)) $track_seconds
  done
}
# vcut makes one cut a run: each cut writes the rest of the file again.
vcut_tracks() {
  local source=$1 rest k
  for k in $(seq 1 $((tracks - 1))); do
    rest="$out/rest$k.ogg"
    vcut "$source" "$out/$k.ogg" "$rest" +$track_seconds || return 1
    [ "$source" = "$1" ] || rm -f "$source"
    source=$rest
  done
  mv "$source" "$out/$tracks.ogg"
}
# flac_tracks SOURCE FOLDER: the flac tool once a track, decoding only the track's range.
flac_tracks() {
  local k
  for k in $(seq 0 $((tracks - 1))); do
    flac -s -f --skip=$((k * track_seconds / 60)):00 --until=$(((k + 1) * track_seconds / 60)):00 \
      -o "$2/$k.flac" "$1"
  done
}
ffmpeg_tracks() {
  local k
  for k in $(seq 0 $((tracks - 1))); do
    ffmpeg -v error -nostdin -y -ss $((k * track_seconds)) -to $(((k + 1) * track_seconds)) \
      -i "$1" -c copy "$out/$k.${1##*.}"
  done
}

# One function per job and contender, printing seconds: time_JOB_WHO.
time_split_wav_tfold() { fresh; wall "$tfold" split "$wav" "$list" "$out"; }
time_split_wav_cp() { fresh; wall cp "$wav" "$out/"; }
time_split_wav_shnsplit() {
  fresh; wall shnsplit -q -O always -P none -o wav -d "$out" -f "$points" "$wav"
}
time_split_wav_sox() { fresh; wall sox_tracks "$wav"; }
time_split_wav_ffmpeg() { fresh; wall ffmpeg_tracks "$wav"; }
time_split_mp3_tfold() { fresh; wall "$tfold" split "$mp3" "$list" "$out"; }
time_split_mp3_cp() { fresh; wall cp "$mp3" "$out/"; }
# Frame mode: mp3splt walks every frame, as tfold does, and cuts exactly at frames.
time_split_mp3_mp3splt() { fresh; wall mp3splt -f -Q -d "$out" "$mp3" "${mp3splt_times[@]}"; }
time_split_mp3_ffmpeg() { fresh; wall ffmpeg_tracks "$mp3"; }
time_split_mp3vbr_tfold() { fresh; wall "$tfold" split "$mp3_vbr" "$list" "$out"; }
time_split_mp3vbr_cp() { fresh; wall cp "$mp3_vbr" "$out/"; }
time_split_mp3vbr_mp3splt() { fresh; wall mp3splt -f -Q -d "$out" "$mp3_vbr" "${mp3splt_times[@]}"; }
time_split_mp3vbr_ffmpeg() { fresh; wall ffmpeg_tracks "$mp3_vbr"; }
time_split_ogg_tfold() { fresh; wall "$tfold" split "$ogg" "$list" "$out"; }
time_split_ogg_cp() { fresh; wall cp "$ogg" "$out/"; }
time_split_ogg_mp3splt() { fresh; wall mp3splt -Q -d "$out" "$ogg" "${mp3splt_times[@]}"; }
time_split_ogg_vcut() { fresh; wall vcut_tracks "$ogg"; }
time_split_ogg_ffmpeg() { fresh; wall ffmpeg_tracks "$ogg"; }
time_cut_ogg_tfold() { fresh; wall "$cut_driver" "$ogg" "$out" $tracks; }
time_cut_ogg_cp() { fresh; wall cp "$ogg" "$out/"; }
time_split_mp3_gapless_tfold() { fresh; wall "$tfold" split --gapless "$mp3" "$list" "$out"; }
time_split_mp3_gapless_cp() { fresh; wall cp "$mp3" "$out/"; }
# mp3splt's frame mode reads every frame header (the Xing frame and the reservoir stay as
# they are), the closest it comes to exact tracks.
time_split_mp3_gapless_mp3splt() { fresh; wall mp3splt -Q -f -d "$out" "$mp3" "${mp3splt_times[@]}"; }
time_split_flac_tfold() { fresh; wall "$tfold" split "$flac_file" "$list" "$out"; }
time_split_flac_flacd() { wall flac -s -d -c "$flac_file"; }
time_split_flac_flac() { fresh; wall flac_tracks "$flac_file" "$out"; }
time_split_flac_shnsplit() {
  fresh; wall shnsplit -q -O always -P none -o flac -d "$out" -f "$points" "$flac_file"
}
time_split_flac_framecopy_tfold() { fresh; wall "$tfold" split --frame-copy "$flac_file" "$list" "$out"; }
time_split_flac_framecopy_flacd() { time_split_flac_flacd; }
time_split_flac_framecopy_flac() { time_split_flac_flac; }
time_split_flac_framecopy_shnsplit() { time_split_flac_shnsplit; }
# split --verify: held against one decoding of the source (reading it, for WAV) and shown
# beside the same split without --verify; what it adds is printed below the table.
time_split_wav_verify_tfold() { fresh; wall "$tfold" split --verify "$wav" "$list" "$out"; }
time_split_wav_verify_cat() { wall cat "$wav"; }
time_split_wav_verify_plain() { time_split_wav_tfold; }
time_split_mp3_verify_tfold() { fresh; wall "$tfold" split --verify "$mp3" "$list" "$out"; }
time_split_mp3_verify_mpg123() { wall mpg123 -q -t "$mp3"; }
time_split_mp3_verify_plain() { time_split_mp3_tfold; }
time_split_mp3_gapless_verify_tfold() { fresh; wall "$tfold" split --gapless --verify "$mp3" "$list" "$out"; }
time_split_mp3_gapless_verify_mpg123() { wall mpg123 -q -t "$mp3"; }
time_split_mp3_gapless_verify_plain() { time_split_mp3_gapless_tfold; }
time_split_ogg_verify_tfold() { fresh; wall "$tfold" split --verify "$ogg" "$list" "$out"; }
time_split_ogg_verify_oggdec() { wall oggdec -Q -o /dev/null "$ogg"; }
time_split_ogg_verify_plain() { time_split_ogg_tfold; }
time_split_flac_verify_tfold() { fresh; wall "$tfold" split --verify "$flac_file" "$list" "$out"; }
time_split_flac_verify_flacd() { time_split_flac_flacd; }
time_split_flac_verify_plain() { time_split_flac_tfold; }
time_split_flac_framecopy_verify_tfold() { fresh; wall "$tfold" split --frame-copy --verify "$flac_file" "$list" "$out"; }
time_split_flac_framecopy_verify_flacd() { time_split_flac_flacd; }
time_split_flac_framecopy_verify_plain() { time_split_flac_framecopy_tfold; }
time_analyze_wav_tfold() { bench_analysis_seconds "$wav"; }
time_analyze_wav_cat() { wall cat "$wav"; }
time_analyze_wav_sox() { wall sox "$wav" -n stat; }
time_analyze_mp3_tfold() { bench_analysis_seconds "$mp3"; }
time_analyze_mp3_mpg123() { wall mpg123 -q -t "$mp3"; }
time_merge_tfold() { fresh; wall "$tfold" merge -o "$out/merged.wav" "$wav" "$wav6"; }
time_merge_cp() { fresh; wall cp "$wav" "$wav6" "$out/"; }
time_merge_sox() { fresh; wall sox "$wav" "$wav6" "$out/merged.wav"; }
time_gen_tfold() { fresh; wall in_out "$tfold" gen; }
time_gen_cp() { fresh; wall cp "$gen_src"/*.wav "$out/"; }
time_detect_wav_tfold() { wall "$tfold" detect "$wav"; }
time_detect_wav_cat() { wall cat "$wav"; }
time_detect_wav_ffmpeg() { wall ffmpeg -v error -nostdin -i "$wav" -af silencedetect -f null -; }
time_detect_mp3_tfold() { wall "$tfold" detect "$mp3"; }
time_detect_mp3_mpg123() { wall mpg123 -q -t "$mp3"; }
time_detect_mp3_ffmpeg() { wall ffmpeg -v error -nostdin -i "$mp3" -af silencedetect -f null -; }
# plot is held against the analysis pass of analyze on the same file, and against decoding.
time_plot_wav_tfold() { fresh; wall "$tfold" plot "$wav" "$list" "$out/plot.png"; }
time_plot_wav_analysis() { bench_analysis_seconds "$wav"; }
time_plot_mp3_tfold() { fresh; wall "$tfold" plot "$mp3" "$list" "$out/plot.png"; }
time_plot_mp3_mpg123() { wall mpg123 -q -t "$mp3"; }

jobs=(split_wav split_mp3 split_mp3_gapless split_mp3vbr split_ogg cut_ogg split_flac
  split_flac_framecopy analyze_wav analyze_mp3 merge gen detect_wav detect_mp3 plot_wav plot_mp3
  split_wav_verify split_mp3_verify split_mp3_gapless_verify split_ogg_verify split_flac_verify
  split_flac_framecopy_verify)
[ $# -le 1 ] || jobs=("${@:2}")
peer_columns=(shnsplit flac mp3splt vcut ffmpeg sox plain)
declare -A label baseline baseline_label peers peer_label
peer_label=([mp3splt]="mp3splt -f" [flac]="flac per track" [plain]="tfold without --verify")
label[split_wav]="split WAV, 60 min → 20 tracks"
label[split_mp3]="split MP3 128 kbps, 60 min → 20 tracks"
label[split_mp3_gapless]="split --gapless MP3 128 kbps, 60 min → 20 tracks"
label[split_mp3vbr]="split MP3 VBR (-V 2), 60 min → 20 tracks"
label[split_ogg]="split Ogg Vorbis q4, 60 min → 20 tracks"
label[cut_ogg]="Ogg cutter alone (write_range), 60 min → 20 tracks"
label[split_flac]="split FLAC (level 5), 60 min → 20 tracks"
label[split_flac_framecopy]="split --frame-copy FLAC (level 5), 60 min → 20 tracks"
label[analyze_wav]="analysis of the 60-min WAV"
label[analyze_mp3]="analysis of the 60-min MP3"
label[merge]="merge WAVs of 60 + 6 min"
label[gen]="gen (8 example WAVs)"
label[detect_wav]="detect on the 60-min WAV (ffmpeg: silencedetect)"
label[detect_mp3]="detect on the 60-min MP3 (ffmpeg: silencedetect)"
label[plot_wav]="plot of the 60-min WAV with 20 tracks"
label[plot_mp3]="plot of the 60-min MP3 with 20 tracks"
label[split_wav_verify]="split --verify WAV, 60 min → 20 tracks"
label[split_mp3_verify]="split --verify MP3 128 kbps, 60 min → 20 tracks"
label[split_mp3_gapless_verify]="split --gapless --verify MP3 128 kbps, 60 min → 20 tracks"
label[split_ogg_verify]="split --verify Ogg Vorbis q4, 60 min → 20 tracks"
label[split_flac_verify]="split --verify FLAC (level 5), 60 min → 20 tracks"
label[split_flac_framecopy_verify]="split --frame-copy --verify FLAC (level 5), 60 min → 20 tracks"
baseline=([split_wav]=cp [split_mp3]=cp [split_mp3_gapless]=cp [split_mp3vbr]=cp [split_ogg]=cp
  [cut_ogg]=cp [split_flac]=flacd [split_flac_framecopy]=flacd [analyze_wav]=cat [analyze_mp3]=mpg123
  [merge]=cp [gen]=cp [detect_wav]=cat [detect_mp3]=mpg123 [plot_wav]=analysis [plot_mp3]=mpg123
  [split_wav_verify]=cat [split_mp3_verify]=mpg123 [split_mp3_gapless_verify]=mpg123 [split_ogg_verify]=oggdec
  [split_flac_verify]=flacd [split_flac_framecopy_verify]=flacd)
baseline_label=([split_wav]=cp [split_mp3]=cp [split_mp3_gapless]=cp [split_mp3vbr]=cp [split_ogg]=cp
  [cut_ogg]=cp [split_flac]="flac -d" [split_flac_framecopy]="flac -d" [analyze_wav]=cat
  [analyze_mp3]="mpg123 -t" [merge]=cp [gen]=cp [detect_wav]=cat [detect_mp3]="mpg123 -t"
  [plot_wav]="analyze's analysis" [plot_mp3]="mpg123 -t"
  [split_wav_verify]=cat [split_mp3_verify]="mpg123 -t" [split_mp3_gapless_verify]="mpg123 -t"
  [split_ogg_verify]="oggdec" [split_flac_verify]="flac -d" [split_flac_framecopy_verify]="flac -d")
declare -A tool_of=([flacd]=flac [analysis]=true [plain]=true)  # contenders that are one of a tool's uses
peers=([split_wav]="shnsplit sox ffmpeg" [split_mp3]="mp3splt ffmpeg" [split_mp3_gapless]=mp3splt
  [split_mp3vbr]="mp3splt ffmpeg" [split_ogg]="mp3splt vcut ffmpeg" [cut_ogg]="" [split_flac]="flac shnsplit"
  [split_flac_framecopy]="flac shnsplit"
  [analyze_wav]=sox [analyze_mp3]="" [merge]=sox [gen]="" [detect_wav]=ffmpeg [detect_mp3]=ffmpeg
  [plot_wav]="" [plot_mp3]=""
  [split_wav_verify]=plain [split_mp3_verify]=plain [split_mp3_gapless_verify]=plain [split_ogg_verify]=plain
  [split_flac_verify]=plain [split_flac_framecopy_verify]=plain)

# A wrong result would make every figure meaningless: check the tracks once, untimed.
fresh
"$tfold" split "$wav" "$list" "$out" </dev/null >/dev/null 2>&1
[ "$(find "$out" -name '*.wav' | wc -l)" -eq $tracks ] ||
  { echo "tfold split did not write $tracks WAV tracks" >&2; exit 1; }
fresh
"$cut_driver" "$ogg" "$out" $tracks >/dev/null ||
  { echo "the Ogg cutter failed" >&2; exit 1; }
[ "$(find "$out" -name '*.ogg' | wc -l)" -eq $tracks ] ||
  { echo "the Ogg cutter did not write $tracks tracks" >&2; exit 1; }
fresh
"$tfold" split --gapless "$mp3" "$list" "$out" </dev/null >/dev/null 2>&1
[ "$(find "$out" -name '*.mp3' | wc -l)" -eq $tracks ] ||
  { echo "tfold split --gapless did not write $tracks MP3 tracks" >&2; exit 1; }
# FLAC tracks are encoded anew: they must decode to what the flac tool's own cuts decode to.
fresh
"$tfold" split "$flac_file" "$list" "$out" </dev/null >/dev/null 2>&1
mkdir -p "$out/peer"
flac_tracks "$flac_file" "$out/peer" 2>/dev/null
for k in $(seq 0 $((tracks - 1))); do
  cmp -s <(flac -s -d -c --force-raw-format --endian=little --sign=signed \
             "$out/track$(printf %02d $((k + 1))).flac") \
         <(flac -s -d -c --force-raw-format --endian=little --sign=signed "$out/peer/$k.flac") ||
    { echo "FLAC track $((k + 1)) of tfold decodes differently from the flac tool's cut" >&2; exit 1; }
done
# So must the tracks of copied frames, which must also pass their own MD5 check.
mkdir -p "$out/copy"
"$tfold" split --frame-copy "$flac_file" "$list" "$out/copy" </dev/null >/dev/null 2>&1
for k in $(seq 0 $((tracks - 1))); do
  track="$out/copy/track$(printf %02d $((k + 1))).flac"
  flac -s -t "$track" && cmp -s <(flac -s -d -c --force-raw-format --endian=little --sign=signed "$track") \
    <(flac -s -d -c --force-raw-format --endian=little --sign=signed "$out/peer/$k.flac") ||
    { echo "FLAC track $((k + 1)) of tfold split --frame-copy fails its test or decodes differently" >&2; exit 1; }
done
[ -n "$(bench_analysis_seconds "$wav6")" ] ||
  { echo "tfold analyze printed no timing line" >&2; exit 1; }

times="$cache/run-times.txt"
: >"$times"
cat "$wav" "$wav6" "$mp3" "$mp3_vbr" "$ogg" "$flac_file" >/dev/null  # warm the page cache
for round in $(seq "$rounds"); do
  echo "Round $round of $rounds..." >&2
  for job in "${jobs[@]}"; do
    for who in tfold "${baseline[$job]}" ${peers[$job]}; do
      [ "$who" = tfold ] || have "${tool_of[$who]:-$who}" || continue
      echo "$job $who $("time_${job}_$who")" >>"$times"
    done
  done
done
rm -rf "$out"

seconds_of() { awk -v j="$1" -v w="$2" '$1 == j && $2 == w { print $3 }' "$times" | median; }
# A time as the table shows it: milliseconds below a tenth of a second, where hundredths of a
# second would hide the difference.
shown() { awk -v t="$1" 'BEGIN { if (t < 0.1) printf "%.1f ms", t * 1000; else printf "%.2f s", t }'; }
# "ratio (seconds s)" of tfold against WHO, or "—" when WHO was not measured.
cell() {
  local job=$1 who=$2 theirs
  theirs=$(seconds_of "$job" "$who")
  if [ -z "$theirs" ]; then echo "—"; return; fi
  printf '%s (%s)' "$(ratio "$(seconds_of "$job" tfold)" "$theirs")" "$(shown "$theirs")"
}

echo
echo "tfold $("$tfold" version | head -n 1 | awk '{ print $2 }'), medians of $rounds" \
  "interleaved warm-cache rounds. A ratio is tfold's time ÷ the other's (below 1: tfold is" \
  "faster); a peer's own time is in brackets. tfold's analysis times are its own timing line."
echo
header="| job | tfold | baseline | ÷ baseline" rule="|---|---:|---:|---:"
for peer in "${peer_columns[@]}"; do header+=" | ${peer_label[$peer]:-$peer}"; rule+="|---:"; done
echo "$header |"
echo "$rule|"
for job in "${jobs[@]}"; do
  row="| ${label[$job]} | $(shown "$(seconds_of "$job" tfold)")"
  base=$(seconds_of "$job" "${baseline[$job]}")
  if [ -n "$base" ]; then
    row+=" | ${baseline_label[$job]} $(shown "$base") | $(ratio "$(seconds_of "$job" tfold)" "$base")"
  else
    row+=" | ${baseline_label[$job]} — | —"
  fi
  for peer in "${peer_columns[@]}"; do
    if [[ " ${peers[$job]} " == *" $peer "* ]]; then row+=" | $(cell "$job" "$peer")"; else row+=" | "; fi
  done
  echo "$row |"
done

# What --verify adds to the split, against one decoding of the source (goal: at most 1.2 times).
for job in "${jobs[@]}"; do
  [[ $job == *_verify ]] || continue
  verified=$(seconds_of "$job" tfold) plain=$(seconds_of "$job" plain) base=$(seconds_of "$job" "${baseline[$job]}")
  [ -n "$verified" ] && [ -n "$plain" ] && [ -n "$base" ] || continue
  added=$(awk -v a="$verified" -v b="$plain" 'BEGIN { printf "%.4f", a - b }')
  echo "${label[$job]}: --verify adds $(shown "$added"), $(ratio "$added" "$base") × ${baseline_label[$job]}"
done

# Memory stays flat with the length: a 60-minute split needs what a 6-minute one does.
if [ -x /usr/bin/time ]; then
  peak_rss() {  # peak_rss AUDIO LIST [OPTION...]: KiB
    fresh
    /usr/bin/time -f '%M' -o "$cache/rss.txt" "$tfold" split "${@:3}" "$1" "$2" "$out" </dev/null >/dev/null 2>&1
    cat "$cache/rss.txt"
  }
  echo
  printf 'Peak RSS of tfold split into 20 tracks: 6-min WAV %d KiB, 60-min WAV %d KiB;' \
    "$(peak_rss "$wav6" "$list6")" "$(peak_rss "$wav" "$list")"
  printf ' 6-min MP3 %d KiB, 60-min MP3 %d KiB;' "$(peak_rss "$mp3_6" "$list6")" \
    "$(peak_rss "$mp3" "$list")"
  printf ' 6-min FLAC %d KiB, 60-min FLAC %d KiB.\n' "$(peak_rss "$flac6" "$list6")" \
    "$(peak_rss "$flac_file" "$list")"
  printf 'Peak RSS of tfold split --frame-copy into 20 tracks: 6-min FLAC %d KiB, 60-min FLAC %d KiB.\n' \
    "$(peak_rss "$flac6" "$list6" --frame-copy)" "$(peak_rss "$flac_file" "$list" --frame-copy)"
  cutter_rss() {  # cutter_rss OGG: KiB
    fresh
    /usr/bin/time -f '%M' -o "$cache/rss.txt" "$cut_driver" "$1" "$out" $tracks >/dev/null 2>&1
    cat "$cache/rss.txt"
  }
  printf 'Peak RSS of the Ogg cutter, 20 tracks: 6-min Ogg %d KiB, 60-min Ogg %d KiB.\n' \
    "$(cutter_rss "$ogg6")" "$(cutter_rss "$ogg")"
  detect_rss() {  # detect_rss AUDIO: KiB
    /usr/bin/time -f '%M' -o "$cache/rss.txt" "$tfold" detect "$1" </dev/null >/dev/null 2>&1
    cat "$cache/rss.txt"
  }
  printf 'Peak RSS of tfold detect: 6-min WAV %d KiB, 60-min WAV %d KiB; 6-min MP3 %d KiB, 60-min MP3 %d KiB.\n' \
    "$(detect_rss "$wav6")" "$(detect_rss "$wav")" "$(detect_rss "$mp3_6")" "$(detect_rss "$mp3")"
  rm -rf "$out"
fi
awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "\nTook %.0f s.\n", b - a }' >&2
