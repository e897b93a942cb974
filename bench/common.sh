# shellcheck shell=bash
# Shared by the benchmarks: an optimised build, the test recordings (made once into
# bench/cache/, which git ignores) and the timing helpers. Source it from bash.
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(dirname "$bench_dir")
cache="$bench_dir/cache"
build="$cache/build"
tfold="$build/tfold"
mkdir -p "$cache"

# A Release build of the given targets (default: tfold) in bench/cache/build, so that the
# figures never come from a debug or sanitizer build.
bench_build() {
  cmake -S "$repo_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTFOLD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target "${@:-tfold}" >/dev/null
}

# Compiles bench/NAME.cpp against the core library (bench_build tfold_core first) and
# prints the path of the program.
bench_driver() {
  local name=$1
  # shellcheck disable=SC2046
  g++ -std=c++20 -O2 -I "$repo_dir/src" "$bench_dir/$name.cpp" "$build/libtfold_core.a" \
    $(pkg-config --cflags --libs glib-2.0 ao libmpg123 vorbisfile vorbis ogg flac taglib cairo) -lm -pthread \
      -o "$cache/$name"
  echo "$cache/$name"
}

# 60 minutes of 44.1 kHz stereo: two tones that change every few seconds, so that the
# encoder meets varying material.
bench_wav() {
  local wav="$cache/bench60.wav"
  if [ ! -s "$wav" ]; then
    sox -n -r 44100 -c 2 -b 16 "$wav.tmp.wav" synth 3600 sine 200-2000 sine 300-3000 \
      tremolo 0.5 40 gain -6
    mv "$wav.tmp.wav" "$wav"
  fi
  echo "$wav"
}

# The first 6 minutes of the same recording: a tenth, for comparing memory use.
bench_wav6() {
  local wav="$cache/bench6.wav"
  if [ ! -s "$wav" ]; then
    sox "$(bench_wav)" "$wav.tmp.wav" trim 0 360
    mv "$wav.tmp.wav" "$wav"
  fi
  echo "$wav"
}

# bench_lame NAME WAV LAME_OPTIONS...: the MP3 encoded once into bench/cache/NAME.
bench_lame() {
  local mp3="$cache/$1" wav=$2
  shift 2
  if [ ! -s "$mp3" ]; then
    lame --quiet "$@" "$wav" "$mp3.tmp"
    mv "$mp3.tmp" "$mp3"
  fi
  echo "$mp3"
}

bench_mp3() { bench_lame bench60_128k.mp3 "$(bench_wav)" -b 128; }
# Variable bit rate, with a Xing/LAME frame.
bench_mp3_vbr() { bench_lame bench60_vbr.mp3 "$(bench_wav)" -V 2; }
# The 6-minute recording at 128 kbps, for comparing memory use.
bench_mp3_6() { bench_lame bench6_128k.mp3 "$(bench_wav6)" -b 128; }
# bench_encode NAME WAV ENCODER...: WAV encoded once into bench/cache/NAME by ENCODER -o OUT WAV.
bench_encode() {
  local out="$cache/$1" wav=$2
  shift 2
  if [ ! -s "$out" ]; then
    "$@" -o "$out.tmp" "$wav"
    mv "$out.tmp" "$out"
  fi
  echo "$out"
}

# The 60-minute recording in Ogg Vorbis at quality 4 and in FLAC at the flac tool's default
# level (5), each also as its first 6 minutes, for comparing memory use. Fixed Ogg serials.
bench_ogg() { bench_encode bench60_q4.ogg "$(bench_wav)" oggenc -Q -q 4 --serial 60; }
bench_ogg6() { bench_encode bench6_q4.ogg "$(bench_wav6)" oggenc -Q -q 4 --serial 6; }
bench_flac() { bench_encode bench60.flac "$(bench_wav)" flac -s -f; }
bench_flac6() { bench_encode bench6.flac "$(bench_wav6)" flac -s -f; }

# A TXT break list of TRACKS equal tracks over MINUTES minutes, named trackNN; prints its path.
bench_list() {
  local minutes=$1 tracks=$2 k
  local list="$cache/tracks-${minutes}min-$tracks.txt"
  local total=$((minutes * 60 * 75))
  for k in $(seq 0 $((tracks - 1))); do
    printf '%d=track%02d\n' $((total * k / tracks)) $((k + 1))
  done >"$list"
  echo "$list"
}

# A scratch home for tfold: its own settings, and the null libao driver so that the preview
# of `tfold analyze` is silent and needs no sound card. Prints its path.
bench_home() {
  local home="$cache/home"
  mkdir -p "$home/.config"
  echo "default_driver=null" >"$home/.libao"
  echo "$home"
}

# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

# Wall seconds of a command (stdin closed, output discarded), to the millisecond.
wall() {
  local t0=$EPOCHREALTIME
  "$@" </dev/null >/dev/null 2>&1
  local t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }'
}

# A / B to two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f\n", a / b }'; }

# The seconds of tfold's own timing line for the analysis of FILE ("N sample blocks analyzed
# in S seconds = ..."); the preview after it plays on the null driver of bench_home.
bench_analysis_seconds() {
  HOME=$(bench_home) "$tfold" analyze "$1" 2>/dev/null </dev/null |
    sed -n 's/.* analyzed in \([0-9.]*\) seconds.*/\1/p'
}
